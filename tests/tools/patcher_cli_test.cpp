// patcher-cli as a player or an operator runs it: the built program against nginx
// serving a tree the tests write, with no terminal attached.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "app/log.h"
#include "archive/client_archive_set.h"
#include "engine/server_tree.h"
#include "platform/text.h"
#include "support/nginx_server.h"
#include "support/scripted_http_server.h"
#include "tools/child_process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;
#endif

namespace {

using testsupport::ListedFile;

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class PatcherCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    temp_ = std::filesystem::temp_directory_path() / ("patcher_cli_test_" + std::to_string(random()));
    std::filesystem::create_directories(temp_ / "patcher");
    // The program writes log.txt into its working folder.
    std::filesystem::create_directories(temp_ / "run");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(temp_ / "run");
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    tree_ = std::make_unique<testsupport::ServerTree>(std::filesystem::path(nginx_.root));
    tree_->Clear();
  }
  void TearDown() override {
    set_.reset();
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(temp_, ignored);
    if (tree_ != nullptr) tree_->Clear();
  }

  void OpenSet() {
    set_ = std::make_unique<ClientArchiveSet>((temp_ / "patcher").u16string(), u"127.0.0.1", nginx_.port);
    ASSERT_TRUE(set_->OpenArchives());
  }
  // A client at `version` holding `archived` (full archive names), saved and closed.
  void PrepareClient(int32_t version, const std::vector<ListedFile>& archived = {}) {
    OpenSet();
    for (const ListedFile& file : archived) {
      TavrinFilePackage* archive = set_->GetPackage(file.name.substr(0, file.name.find(u'\\')));
      ASSERT_NE(archive, nullptr);
      const auto size = static_cast<uint32_t>(file.content.size());
      ASSERT_EQ(archive->SetFileCompressedData(file.name, file.content.data(), size, size), PackageResult::kOk);
    }
    ASSERT_TRUE(set_->WriteLocalVersion(version));
    ASSERT_TRUE(set_->SaveArchives());
    set_.reset();
  }
  int32_t VersionOnDisk() {
    OpenSet();
    const int32_t version = set_->ReadLocalVersion();
    set_.reset();
    return version;
  }
  std::string Archived(const std::u16string& name) {
    OpenSet();
    std::vector<uint8_t> content;
    TavrinFilePackage* archive = set_->GetPackage(name.substr(0, name.find(u'\\')));
    const bool found = archive != nullptr && archive->GetFileData(name, true, &content) == PackageResult::kOk;
    set_.reset();
    return found ? std::string(content.begin(), content.end()) : "<absent>";
  }
  std::string ClientFileText(const std::string& relative) const {
    const std::filesystem::path path = temp_ / "velkar" / relative;
    return std::filesystem::exists(path) ? ReadWholeFile(path) : "<absent>";
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(nginx_.port); }
  ChildResult Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--root", temp_.string()});
    return RunChild(PATCHER_CLI_PATH, arguments, temp_ / "run");
  }
  // The program's log.txt (UTF-16LE) as UTF-8.
  std::string ProgramLog() const {
    const std::string bytes = ReadWholeFile(temp_ / "run" / "log.txt");
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
    return platform::Utf8FromUtf16(text);
  }

  std::filesystem::path temp_;
  std::filesystem::path previous_;
  std::unique_ptr<ClientArchiveSet> set_;
  testsupport::NginxServer nginx_;
  std::unique_ptr<testsupport::ServerTree> tree_;
};

TEST_F(PatcherCliTest, BringsAnOlderClientToTheNewestRelease) {
  PrepareClient(5, {{u"models\\a.ski", "old model"}});
  tree_->PutText(u"version", "7");
  const std::vector<ListedFile> files = {{u"models\\a.ski", std::string(3000, 'm')}, {u"bin\\new.dll", "new"}};
  tree_->PutChangeList(2, files);
  const ChildResult run = Run({"--server", Server(), "--yes"});
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Требуется обновление"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Обновить клиент?"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Клиент готов к запуску"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Версия клиента: 7"), std::string::npos) << run.out;
  const std::string log = ProgramLog();
  EXPECT_EQ(log.rfind("\r\n[", 0), 0u) << "an empty first line";
  EXPECT_NE(log.find("INFO: Патчер запущен\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO: Обновление завершено\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO: Патчер закрыт\r\n"), std::string::npos) << log;
  EXPECT_EQ(VersionOnDisk(), 7);
  EXPECT_EQ(Archived(u"models\\a.ski"), files[0].content);
  EXPECT_EQ(ClientFileText("bin/new.dll"), "new");
}

TEST_F(PatcherCliTest, UnattendedOfferIsAcceptedWhenItsCountDownEnds) {
  PrepareClient(5);
  tree_->PutText(u"version", "6");
  tree_->PutChangeList(1, {{u"late.txt", "late"}});
  const ChildResult run = Run({"--server", Server()});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("yes in 11 s"), std::string::npos) << run.out;
  EXPECT_EQ(VersionOnDisk(), 6);
  EXPECT_EQ(ClientFileText("late.txt"), "late");
}

TEST_F(PatcherCliTest, CheckRepairsTheClientOnlyOnceConfirmed) {
  PrepareClient(7, {{u"gfx\\damaged.tga", "garbage"}});
  tree_->PutText(u"version", "7");
  const std::vector<ListedFile> files = {{u"gfx\\damaged.tga", std::string(5000, 'g')}};
  tree_->PutFullList(7, files);
  const ChildResult declined = Run({"check", "--server", Server()});
  EXPECT_EQ(declined.exitCode, 2) << declined.out << declined.err;
  EXPECT_NE(declined.out.find("Вы действительно хотите выполнить проверку клиента?"), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 7);
  EXPECT_EQ(Archived(u"gfx\\damaged.tga"), "garbage");

  const ChildResult run = Run({"check", "--server", Server(), "--yes"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Проверка клиента..."), std::string::npos) << run.out;
  EXPECT_NE(ProgramLog().find("INFO: Проверка завершена"), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 7);
  EXPECT_EQ(Archived(u"gfx\\damaged.tga"), files[0].content);
}

TEST_F(PatcherCliTest, AppliesAPackageFromDisk) {
  PrepareClient(5);
  tree_->PutText(u"version", "9");
  WriteBytes(temp_ / "update.cup", testsupport::PackageBytes(0, 9, {{u"configs\\m.cfg", "from the package"}}));
  const ChildResult run = Run({"apply", (temp_ / "update.cup").string(), "--server", Server()});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(VersionOnDisk(), 9);
  EXPECT_EQ(Archived(u"configs\\m.cfg"), "from the package");
}

TEST_F(PatcherCliTest, EndsWithItsCodeWhenNothingCanBeDone) {
  PrepareClient(5);
  // Nothing listens on port 1: every question is a retry of the server version.
  const ChildResult unattended = Run({"--server", "127.0.0.1:1"});
  EXPECT_EQ(unattended.exitCode, 3) << unattended.out << unattended.err;
  EXPECT_NE(unattended.out.find("Ошибка сервера обновлений"), std::string::npos) << unattended.out;
  const ChildResult yes = Run({"--server", "127.0.0.1:1", "--yes"});
  EXPECT_EQ(yes.exitCode, 3) << yes.out << yes.err;
  EXPECT_NE(yes.out.find("answered yes 3 times already"), std::string::npos) << yes.out;
  EXPECT_NE(ProgramLog().find("ERROR: Ошибка получения версии сервера обновлений"), std::string::npos);

  std::filesystem::remove(temp_ / "velkar" / "configs.pck");
  std::filesystem::create_directories(temp_ / "velkar" / "configs.pck");
  const ChildResult damaged = Run({"--server", Server()});
  EXPECT_EQ(damaged.exitCode, 4) << damaged.out << damaged.err;
  EXPECT_NE(damaged.out.find("Папка повреждена"), std::string::npos) << damaged.out;

  EXPECT_EQ(Run({"--server", "127.0.0.1:0"}).exitCode, 1);
  EXPECT_EQ(Run({"apply"}).exitCode, 1);
  const ChildResult unknown = Run({"--frobnicate"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos) << unknown.err;
}

#ifndef _WIN32
// Ctrl+C reaches a console program as SIGINT.
TEST_F(PatcherCliTest, InterruptDuringAPassCancelsIt) {
  PrepareClient(5);
  tree_->PutText(u"version", "6");
  std::vector<ListedFile> files;
  for (int i = 0; i < 4000; ++i)
    files.push_back({u"many\\f" + platform::Utf16FromUtf8(std::to_string(i)) + u".txt", "text"});
  tree_->PutChangeList(1, files);

  const std::string out = (temp_ / "run" / "interrupted.out").string();
  std::vector<std::string> argv = {PATCHER_CLI_PATH, "--root", temp_.string(), "--server", Server(), "--yes"};
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // The pass has begun once the files step shows.
  for (int i = 0; i < 3000 && ReadWholeFile(out).find("Обновление файлов") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5) << ReadWholeFile(out);
  EXPECT_NE(ReadWholeFile(out).find("Операция отменена"), std::string::npos) << ReadWholeFile(out);
  EXPECT_NE(ProgramLog().find("INFO: Операция отменена"), std::string::npos);
  EXPECT_NE(ProgramLog().find("INFO: Патчер закрыт"), std::string::npos);
  EXPECT_EQ(VersionOnDisk(), 5);
  std::size_t written = 0;
  std::error_code ignored;
  for (auto entry = std::filesystem::directory_iterator(temp_ / "velkar" / "many", ignored);
       entry != std::filesystem::directory_iterator(); ++entry)
    ++written;
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, files.size()) << "the pass stopped early";
}

// patcher-cli started with no terminal, its output going to `out`.
pid_t SpawnPatcherCli(std::vector<std::string> argv, const std::string& out) {
  argv.insert(argv.begin(), PATCHER_CLI_PATH);
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for the program to end within `limit`; kills it and gives false when it did not.
bool EndsWithin(pid_t pid, std::chrono::seconds limit, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, status, 0);
  return false;
}

// Ctrl+C while an update package trickles in: the download stops at once and the
// program ends as cancelled, with no version recorded.
TEST_F(PatcherCliTest, InterruptDuringAPackageDownloadEndsItAtOnce) {
  PrepareClient(5, {{u"configs\\kept.cfg", "five"}});
  // Where the updater keeps its own files and the downloaded package.
  std::filesystem::create_directories(temp_ / "config" / "patcher");
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedResponse version;
  version.body = "6";
  server.Serve("/version", version);
  testsupport::ScriptedResponse list;
  list.body = "5 6 http://127.0.0.1:" + std::to_string(server.port()) + "/big.cup\n";
  server.Serve("/patches\\list", list);
  testsupport::ScriptedResponse package;
  package.body = std::string(4u << 20, 'p');
  package.trickle = std::chrono::milliseconds(20);
  server.Serve("/big.cup", package);

  const std::string out = (temp_ / "run" / "interrupted.out").string();
  const pid_t pid = SpawnPatcherCli(
      {"--root", temp_.string(), "--server", "127.0.0.1:" + std::to_string(server.port()), "--yes"}, out);
  ASSERT_GT(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (server.bodyBytesSent() < 20 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(server.bodyBytesSent(), 20u) << "the package download did not begin: " << ReadWholeFile(out);
  const auto interrupted = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  ASSERT_TRUE(EndsWithin(pid, std::chrono::seconds(60), &status)) << "Ctrl+C did not end it: " << ReadWholeFile(out);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
  // Within about a second; the download alone would take a day.
  EXPECT_LT(seconds, 5.0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5) << ReadWholeFile(out);
  EXPECT_NE(ReadWholeFile(out).find("Операция отменена"), std::string::npos) << ReadWholeFile(out);
  const std::string log = ProgramLog();
  EXPECT_NE(log.find("INFO: Операция отменена"), std::string::npos) << log;
  EXPECT_EQ(log.find("Загрузка списка"), std::string::npos) << "no file list after a cancelled package";
  EXPECT_EQ(VersionOnDisk(), 5);
  EXPECT_EQ(Archived(u"configs\\kept.cfg"), "five");
}

// A server that takes the connection and never answers: every attempt times out (30 s
// each), the retries that --yes allows are used up, and the program ends as a server error.
TEST_F(PatcherCliTest, StalledServerEndsInAServerErrorInBoundedTime) {
  PrepareClient(5);
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedResponse silent;
  silent.neverAnswer = true;
  server.Serve("/version", silent);
  const std::string out = (temp_ / "run" / "stalled.out").string();
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = SpawnPatcherCli(
      {"--root", temp_.string(), "--server", "127.0.0.1:" + std::to_string(server.port()), "--yes"}, out);
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_TRUE(EndsWithin(pid, std::chrono::seconds(400), &status)) << "still running: " << ReadWholeFile(out);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Four attempts of about 30 s.
  EXPECT_LT(seconds, 300.0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << ReadWholeFile(out);
  EXPECT_EQ(server.requestLines().size(), 4u);
  const std::string log = ProgramLog();
  EXPECT_NE(log.find("ERROR: Can't fetch version from 127.0.0.1:" + std::to_string(server.port()) + ": timed out"),
            std::string::npos)
      << log;
}

// On a terminal the questions wait for the player: a declined offer ends with its own code.
TEST_F(PatcherCliTest, DeclinedOnTheTerminalEndsWithTheDeclinedCode) {
  PrepareClient(5);
  tree_->PutText(u"version", "7");
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const std::string side = ptsname(terminal);
  // Held open here too, so the terminal never hangs up while the program has yet to open it.
  const int held = open(side.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);

  std::vector<std::string> argv = {PATCHER_CLI_PATH, "--root", temp_.string(), "--server", Server()};
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, side.c_str(), O_RDWR, 0);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Read everything the program shows (it would stop on a full terminal otherwise) and
  // answer the offer once it is asked.
  std::string shown;
  bool answered = false;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{terminal, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t got = read(terminal, buffer, sizeof buffer);
      if (got > 0) shown.append(buffer, static_cast<std::size_t>(got));
    }
    if (!answered && shown.find("[y/n] (") != std::string::npos) {
      ASSERT_EQ(write(terminal, "n\n", 2), 2);
      answered = true;
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      break;
    }
  }
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    close(held);
    close(terminal);
    FAIL() << "patcher-cli did not end: " << shown;
  }
  close(held);
  close(terminal);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_TRUE(answered) << shown;
  EXPECT_EQ(WEXITSTATUS(status), 2) << shown;
  EXPECT_NE(shown.find("Обновить клиент?"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[y/n] (10)"), std::string::npos) << "the count-down shows" << shown;
  EXPECT_EQ(VersionOnDisk(), 5);
}
#endif

}  // namespace
