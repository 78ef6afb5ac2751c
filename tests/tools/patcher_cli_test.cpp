// patcher-cli's main paths, and what it does with its client: apply without the server,
// which client root it works on, and one updater per client.
#include <random>

#include "engine/scripted_release.h"
#include "platform/file.h"
#include "platform/instance_marker.h"
#include "support/child_process.h"
#include "support/gate.h"
#include "support/scripted_http_server.h"
#include "support/symbolic_link.h"
#include "support/wait_until.h"
#include "tools/patcher_cli_fixture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace patcher_cli_test {
namespace {

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
  EXPECT_NE(run.out.find("да через 10 с, если не нажать Ctrl+C"), std::string::npos) << run.out;
  // The console's own words are Russian like the questions.
  const std::vector<std::string> words = LatinWords(run.out + run.err, {temp_.string(), Server()});
  EXPECT_TRUE(words.empty()) << Joined(words) << "\n" << run.out << run.err;
  EXPECT_EQ(VersionOnDisk(), 6);
  EXPECT_EQ(ClientFileText("late.txt"), "late");
}

TEST_F(PatcherCliTest, CheckRepairsTheClientOnlyOnceConfirmed) {
  PrepareClient(7, {{u"gfx\\damaged.tga", "garbage"}});
  tree_->PutText(u"version", "7");
  const std::vector<ListedFile> files = {{u"gfx\\damaged.tga", std::string(5000, 'g')}};
  tree_->PutFullList(7, files);
  const ChildResult declined = Run({"check", "--server", Server()});
  EXPECT_EQ(declined.exitCode, 1) << declined.out << declined.err;
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

TEST_F(PatcherCliTest, EndsWithItsCodeWhenNothingCanBeDone) {
  PrepareClient(5);
  // Nothing listens on port 1: the question is a retry of the server version, and
  // without a terminal nobody answers it.
  const ChildResult unattended = Run({"--server", "127.0.0.1:1"});
  EXPECT_EQ(unattended.exitCode, 3) << unattended.out << unattended.err;
  EXPECT_NE(unattended.out.find("Ошибка сервера обновлений"), std::string::npos) << unattended.out;
  EXPECT_NE(ProgramLog().find("ERROR: Ошибка получения версии сервера обновлений"), std::string::npos);

  std::filesystem::remove(temp_ / "velkar" / "configs.pck");
  std::filesystem::create_directories(temp_ / "velkar" / "configs.pck");
  const ChildResult damaged = Run({"--server", Server()});
  EXPECT_EQ(damaged.exitCode, 4) << damaged.out << damaged.err;
  EXPECT_NE(damaged.out.find("Папка повреждена"), std::string::npos) << damaged.out;
}

// A link where the updater writes its own files: the client is refused with the link named,
// and nothing outside the client is touched.
TEST_F(PatcherCliTest, ALinkInTheClientFolderIsRefusedAndNamed) {
  PrepareClient(5);
  testsupport::TempFolder outside;
  testsupport::WriteWholeFile(outside / "victim.bin", std::string("outside"));
  {
    testsupport::SymbolicLinks links;
    std::string why;
    const std::filesystem::path link = temp_ / "config" / "patcher" / "tempfile.dat";
    std::filesystem::create_directories(link.parent_path());
    ASSERT_TRUE(links.Make(outside / "victim.bin", link, &why)) << why;
    const ChildResult run = Run({"--server", Server(), "--yes"});
    EXPECT_EQ(run.exitCode, 4) << run.out << run.err;
    EXPECT_NE(run.out.find("В папке клиента есть ссылка"), std::string::npos) << run.out;
    EXPECT_NE((run.out + run.err).find("tempfile.dat"), std::string::npos) << run.out << run.err;
    EXPECT_EQ(ReadFileText(outside / "victim.bin"), "outside");
  }
  // The updater's own folders behind a link: not even a folder is made through it.
  {
    testsupport::SymbolicLinks links;
    std::string why;
    std::filesystem::remove_all(temp_ / "config");
    ASSERT_TRUE(links.Make(outside.path(), temp_ / "config", &why)) << why;
    const ChildResult run = Run({"--server", Server(), "--yes"});
    EXPECT_EQ(run.exitCode, 4) << run.out << run.err;
    EXPECT_FALSE(std::filesystem::exists(outside / "patcher")) << "a folder was made through the link";
    EXPECT_FALSE(std::filesystem::exists(outside / "velkar"));
  }
  std::filesystem::create_directories(temp_ / "config" / "velkar");
  testsupport::WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string("5"));
  EXPECT_EQ(VersionOnDisk(), 5);
}

// apply FILE works on the disk alone: no request reaches the server, and a FILE that
// cannot be applied ends the run without asking for another one nobody could choose.
TEST_F(PatcherCliTest, ApplyWorksWithoutTheServer) {
  PrepareClient(5);
  const std::filesystem::path package = temp_ / "update.cup";
  WriteWholeFile(package,
                 testsupport::PackageBytes(0, 9, {{u"configs\\m.cfg", "from the package"}, {u"p.txt", "plain"}}));
  const std::size_t requestsBefore = ServerRequests();
  const ChildResult run = Run({"apply", package.string(), "--server", Server()});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(ServerRequests(), requestsBefore) << "apply asked the server";
  EXPECT_EQ(run.out.find("Ошибка сервера"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Версия клиента: 9"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Обновление завершено"), std::string::npos) << run.out;
  EXPECT_EQ(VersionOnDisk(), 9);
  EXPECT_EQ(Archived(u"configs\\m.cfg"), "from the package");
  EXPECT_EQ(ClientFileText("p.txt"), "plain");
  // Nobody listens there, and apply does not care.
  WriteWholeFile(package, testsupport::PackageBytes(9, 10, {{u"p.txt", "plain 10"}}));
  EXPECT_EQ(Run({"apply", package.string(), "--server", "127.0.0.1:1"}).exitCode, 0);
  EXPECT_EQ(VersionOnDisk(), 10);
  // The same package once more leads nowhere newer: refused, the client as it is.
  const ChildResult again = Run({"apply", package.string(), "--server", "127.0.0.1:1"});
  EXPECT_EQ(again.exitCode, 1) << again.out << again.err;
  EXPECT_NE(again.err.find("пакет ведёт к версии 10, а у клиента 10; пакет не применён"), std::string::npos)
      << again.err;
  EXPECT_EQ(VersionOnDisk(), 10);
}

// A package the user gives is the user's, also where the updater's own downloads go.
TEST_F(PatcherCliTest, ApplyLeavesTheGivenPackageAsItIs) {
  PrepareClient(5);
  const std::filesystem::path package = temp_ / "config" / "patcher" / "tempfile.dat";
  const std::vector<uint8_t> bytes = testsupport::PackageBytes(0, 9, {{u"p.txt", "plain"}});
  std::filesystem::create_directories(package.parent_path());
  WriteWholeFile(package, bytes);
  const ChildResult run = Run({"apply", package.string(), "--server", Server()});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(VersionOnDisk(), 9);
  ASSERT_TRUE(std::filesystem::exists(package)) << "the user's package was deleted";
  EXPECT_EQ(testsupport::ReadWholeFile(package), bytes);
}

TEST_F(PatcherCliTest, ApplyRefusesWhatItCannotApply) {
  PrepareClient(5);
  WriteWholeFile(temp_ / "text.txt", std::vector<uint8_t>{'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't', '\n'});
  WriteWholeFile(temp_ / "later.cup", testsupport::PackageBytes(9, 12, {{u"configs\\m.cfg", "for 9 and later"}}));
  std::vector<uint8_t> cut = testsupport::PackageBytes(0, 9, {{u"configs\\m.cfg", std::string(400, 'c')}});
  cut.resize(cut.size() - 10);
  WriteWholeFile(temp_ / "cut.cup", cut);
  struct Case {
    std::string file;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {(temp_ / "missing.cup").string(), 2, "missing.cup: нет такого файла"},
      {(temp_ / "text.txt").string(), 2, "text.txt: это не пакет обновления"},
      {(temp_ / "cut.cup").string(), 2, "cut.cup: это не пакет обновления"},
      {(temp_ / "later.cup").string(), 1, "later.cup: пакет для клиента версии 9 и выше, а у клиента 5"},
  };
  for (const Case& c : cases) {
    const ChildResult run = Run({"apply", c.file, "--server", "127.0.0.1:1"});
    EXPECT_EQ(run.exitCode, c.exitCode) << c.file << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Выбрать другой файл?"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("Ошибка сервера"), std::string::npos) << run.err;
  }
  EXPECT_EQ(VersionOnDisk(), 5);
  EXPECT_EQ(Archived(u"configs\\m.cfg"), "<absent>");
}

// A client root is never made up: --root must be a folder, and the default is the
// working folder or its parent, whichever holds velkar.
TEST_F(PatcherCliTest, WorksOnlyOnAClientRootThatIsThere) {
  PrepareClient(5);
  const std::filesystem::path missing = temp_ / "no" / "such" / "root";
  for (const std::string& form : {std::string("--root=") + missing.string(), std::string("--root")}) {
    std::vector<std::string> arguments = {form};
    if (form == "--root") arguments.push_back(missing.string());
    arguments.insert(arguments.end(), {"--server", Server(), "--yes"});
    const ChildResult run = RunBare(arguments);
    EXPECT_EQ(run.exitCode, 2) << form << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find("нет папки клиента " + missing.string()), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(temp_ / "no")) << "a missing root was made";

  // From the root itself and from its patcher folder: the client at 5 is found.
  for (const std::filesystem::path& working : {temp_, temp_ / "patcher"}) {
    std::filesystem::current_path(working);
    const ChildResult run = RunBare({"--server", "127.0.0.1:1"});
    EXPECT_EQ(run.exitCode, 3) << working << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find("Версия клиента: 5"), std::string::npos) << working << "\n" << run.out;
  }
  // Elsewhere nothing is found, and nothing is made.
  std::filesystem::create_directories(temp_ / "run" / "elsewhere");
  std::filesystem::current_path(temp_ / "run" / "elsewhere");
  const ChildResult lost = RunBare({"--server", Server()});
  EXPECT_EQ(lost.exitCode, 2) << lost.out << lost.err;
  EXPECT_NE(lost.err.find("нет папки клиента"), std::string::npos) << lost.err;
  EXPECT_NE(lost.err.find("--root"), std::string::npos) << lost.err;
  EXPECT_FALSE(std::filesystem::exists(temp_ / "run" / "velkar"));
  EXPECT_FALSE(std::filesystem::exists(temp_ / "run" / "elsewhere" / "velkar"));
  std::filesystem::current_path(temp_ / "run");
}

// The game folder given for the root: no second client is made inside it, and the message
// names the root to give.
TEST_F(PatcherCliTest, TheGameFolderGivenForTheRootIsRefused) {
  PrepareClient(5);
  const ChildResult run = RunBare({"--root", (temp_ / "velkar").string(), "--server", Server(), "--yes"});
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_NE(run.err.find("это папка игры"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--root " + temp_.lexically_normal().string()), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(temp_ / "velkar" / "velkar"));
  EXPECT_FALSE(std::filesystem::exists(temp_ / "velkar" / "config"));
  // Nor is the updater's folder beside it.
  const ChildResult inside = RunBare({"--root", (temp_ / "patcher").string(), "--server", Server(), "--yes"});
  EXPECT_EQ(inside.exitCode, 2) << inside.out << inside.err;
  EXPECT_NE(inside.err.find("это папка внутри клиента"), std::string::npos) << inside.err;
  EXPECT_FALSE(std::filesystem::exists(temp_ / "patcher" / "velkar"));
  // The root itself works as before.
  tree_->PutText(u"version", "5");
  EXPECT_EQ(RunBare({"--root", temp_.string(), "--server", Server(), "--yes"}).exitCode, 0);
}

TEST_F(PatcherCliTest, EmptyRootIsInstalledFromTheFullList) {
  const std::filesystem::path fresh = temp_ / "fresh";
  std::filesystem::create_directories(fresh);
  tree_->PutText(u"version", "3");
  tree_->PutFullList(3, {{u"models\\a.ski", std::string(2000, 'a')}, {u"velkarclient.exe", "program"}});
  const ChildResult run = RunBare({"--root", fresh.string(), "--server", Server(), "--yes"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Версия клиента: 3"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFileText(fresh / "velkar" / "velkarclient.exe"), "program");
  EXPECT_TRUE(std::filesystem::exists(fresh / "velkar" / "models.pck"));
}

// A second updater on the same client says so and ends with its own code; it neither
// touches the archives nor empties the log of the one that runs.
TEST_F(PatcherCliTest, SecondUpdaterOnTheClientEndsWithItsOwnCode) {
  PrepareClient(5);
  WriteWholeFile(temp_ / "run" / "log.txt", std::string("f\0i\0r\0s\0t\0", 10));
  {
    // What a running updater holds.
    platform::File held;
    std::filesystem::create_directories(temp_ / "config" / "patcher");
    ASSERT_EQ(held.Open((temp_ / "config" / "patcher" / "updater.lock").u16string(), platform::FileMode::kCreate), 0);
    const ChildResult second = Run({"--server", Server(), "--yes"});
    EXPECT_EQ(second.exitCode, 6) << second.out << second.err;
    EXPECT_NE(second.err.find("уже использует другая программа обновления"), std::string::npos) << second.err;
    EXPECT_EQ(second.out.find("Папка повреждена"), std::string::npos) << second.out;
    EXPECT_EQ(second.out.find("Повторить попытку?"), std::string::npos) << second.out;
    EXPECT_EQ(ProgramLog(), "first");
  }
  // Once it is gone, the next one runs.
  EXPECT_EQ(Run({"--server", "127.0.0.1:1"}).exitCode, 3);
}

#ifdef _WIN32
// On Windows the updater's named mutex says that some updater runs, whatever its client.
TEST_F(PatcherCliTest, SingleInstanceMarkerOfTheUpdaterIsHonoured) {
  PrepareClient(5);
  platform::InstanceMarker marker;
  ASSERT_TRUE(marker.Acquire(u"Solmere Classic Updater"));
  const ChildResult second = Run({"--server", Server(), "--yes"});
  EXPECT_EQ(second.exitCode, 6) << second.out << second.err;
  EXPECT_NE(second.err.find("Программа уже запущена"), std::string::npos) << second.err;
  EXPECT_EQ(second.out.find("Папка повреждена"), std::string::npos) << second.out;
}
#endif

// --limit-rate holds the downloads to its pace, those on several connections at once together:
// 600 KiB at 200 KiB a second take three seconds (nginx here sends as fast as it can).
TEST_F(PatcherCliTest, LimitRateHoldsTheDownloadsToItsPace) {
  PrepareClient(5);
  std::mt19937 random(3);
  std::vector<ListedFile> files;
  for (int i = 0; i < 4; ++i) {
    std::string content((i == 0 ? 300 : 100) * 1024, '\0');
    for (char& c : content) c = static_cast<char>(random());
    files.push_back({u"big" + platform::Utf16FromUtf8(std::to_string(i)) + u".bin", content, false});
  }
  tree_->PutVersion(6);
  tree_->PutChangeList(1, files);
  double seconds = 0;
  const ChildResult run =
      RunTimed({"--server", Server(), "--yes", "--connections", "4", "--limit-rate", "200k"}, &seconds);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  for (const ListedFile& file : files) EXPECT_EQ(ClientFileText(platform::Utf8FromUtf16(file.name)), file.content);
  EXPECT_GE(seconds, 2.5) << "the cap was not kept";
}

// Runs the updater `kills` times and kills it (kill -9, TerminateProcess on Windows) each time
// `partial` has grown to the next of as many points spread over `total` bytes, before it holds
// them all.
void KillAsItGrows(const std::filesystem::path& partial, uintmax_t total, int kills, const std::filesystem::path& root,
                   const std::string& server) {
  const auto sizeOf = [&partial] {
    std::error_code ignored;
    const uintmax_t size = std::filesystem::file_size(partial, ignored);
    return ignored ? uintmax_t{0} : size;
  };
  for (int kill = 1; kill <= kills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    const uintmax_t target = total * static_cast<uintmax_t>(kill) / static_cast<uintmax_t>(kills + 2);
    testsupport::ChildProcess cli;
    ASSERT_TRUE(cli.Start(PATCHER_CLI_PATH, {"--root", root.string(), "--server", server, "--yes"},
                          {.output = root / "run" / "killed.out", .error = root / "run" / "killed.err"}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sizeOf() < target && std::chrono::steady_clock::now() < deadline && !cli.Wait(std::chrono::milliseconds(5)))
      ;
    ASSERT_GE(sizeOf(), target) << "the download did not reach " << target
                                << " bytes within 30 s: " << ReadFileText(root / "run" / "killed.out");
    cli.Kill();
    EXPECT_LT(sizeOf(), total) << "killed after the download was over";
  }
}

// Requests for `path` that nginx answered with `status`.
std::size_t Answered(const testsupport::NginxServer& nginx, const std::string& path, int status) {
  std::size_t count = 0;
  for (const testsupport::AccessLogLine& line : testsupport::ReadAccessLog(nginx))
    if (testsupport::ServedPath(line.target) == path && line.status == status) ++count;
  return count;
}

constexpr int kKills = 20;

// A package download killed again and again is taken up each time from what the package file
// holds: every run after the first asks only for the rest (HTTP 206), and the package the last
// run completes applies, so its bytes are the server's.
TEST_F(PatcherCliTest, APackageDownloadKilledAtTwentyPointsIsTakenUpEachTime) {
  PrepareClient(1);
  std::mt19937 random(7);
  std::vector<ListedFile> files;
  for (int i = 0; i < 6; ++i) {
    std::string content(1u << 20, '\0');
    for (char& c : content) c = static_cast<char>(random());
    files.push_back({u"video\\part" + platform::Utf16FromUtf8(std::to_string(i)) + u".bin", content, false});
  }
  const std::vector<uint8_t> package = testsupport::PackageBytes(1, 2, files);
  tree_->Put(u"slow\\1-2.cup", package);
  tree_->PutVersion(2);
  tree_->PutText(u"patches\\list", "1 2 http://127.0.0.1/slow/1-2.cup\r\n");
  const std::filesystem::path partial = temp_ / "config" / "patcher" / "tempfile.dat";
  KillAsItGrows(partial, package.size(), kKills, temp_, Server());
  const ChildResult last = Run({"--server", Server(), "--yes"});
  EXPECT_EQ(last.exitCode, 0) << last.out << last.err;
  EXPECT_EQ(VersionOnDisk(), 2);
  for (std::size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(ClientFileText("video/part" + std::to_string(i) + ".bin"), files[i].content) << "part " << i;
  EXPECT_EQ(Answered(nginx_, "/slow/1-2.cup", 206), static_cast<std::size_t>(kKills))
      << "every run after the first takes up what is there";
  EXPECT_FALSE(std::filesystem::exists(partial)) << "the package goes once it is applied";
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "patcher" / "tempfile.dat.resume"));
}

// The same for a large file of the file pass (above 8 MiB), through its download file: each
// run after the first asks only for the rest, and the last stores it whole.
TEST_F(PatcherCliTest, ALargeFileKilledAtTwentyPointsIsTakenUpEachTime) {
  PrepareClient(1);
  std::mt19937 random(9);
  std::string content(9u << 20, '\0');
  for (char& c : content) c = static_cast<char>(random());
  tree_->PutVersion(2);
  tree_->PutChangeList(1, {{u"slow\\big.bin", content, false}});
  const std::filesystem::path partial = temp_ / "config" / "patcher" / "staging" / "download.~part";
  KillAsItGrows(partial, content.size(), kKills, temp_, Server());
  const ChildResult last = Run({"--server", Server(), "--yes"});
  EXPECT_EQ(last.exitCode, 0) << last.out << last.err;
  EXPECT_EQ(VersionOnDisk(), 2);
  EXPECT_TRUE(ClientFileText("slow/big.bin") == content) << "the file is not the server's";
  EXPECT_EQ(Answered(nginx_, "/files/slow/big.bin", 206), static_cast<std::size_t>(kKills))
      << "every run after the first takes up what is there";
  EXPECT_FALSE(std::filesystem::exists(partial)) << "the download goes once the file is stored";
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "patcher" / "staging" / "download.~part.resume"));
}

#ifndef _WIN32
using testsupport::ChildExit;
using testsupport::ChildProcess;

constexpr std::chrono::seconds kEndAfterInterrupt{60};

// Servers given one after the other: one that is down is passed over, named in the log, and
// the update comes from the next.
TEST_F(PatcherCliTest, AServerThatIsDownIsPassedOverForTheNextGiven) {
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedRelease release(server);
  release.Version(6);
  release.ChangeList(1, {{u"mirrored.txt", "from the second server"}});
  uint16_t gonePort = 0;
  {
    testsupport::ScriptedHttpServer gone;
    gonePort = gone.port();
  }
  PrepareClient(5);
  const std::string down = "127.0.0.1:" + std::to_string(gonePort);
  const ChildResult run = Run({"--server", down, "--server", "127.0.0.1:" + std::to_string(server.port()), "--yes"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(VersionOnDisk(), 6);
  EXPECT_EQ(ClientFileText("mirrored.txt"), "from the second server");
  EXPECT_NE(ProgramLog().find("ERROR: Can't fetch version from " + down), std::string::npos) << ProgramLog();
}

// Ctrl+C reaches a console program as SIGINT. The pass is held at its fourth file, so
// the interrupt comes in its middle however fast the machine is.
TEST_F(PatcherCliTest, InterruptDuringAPassCancelsIt) {
  PrepareClient(5);
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  testsupport::ScriptedRelease release(server);
  release.Version(6);
  std::vector<ListedFile> files;
  for (int i = 0; i < 40; ++i)
    files.push_back({u"many\\f" + platform::Utf16FromUtf8(std::to_string(i)) + u".txt", "text"});
  const auto fourthFile = std::make_shared<testsupport::Gate>(3);
  release.ChangeList(1, files, fourthFile);

  const std::filesystem::path out = temp_ / "run" / "interrupted.out";
  ChildProcess cli;
  // One download at a time: the fourth request is the fourth file's.
  ASSERT_TRUE(cli.Start(PATCHER_CLI_PATH,
                        {"--root", temp_.string(), "--server", "127.0.0.1:" + std::to_string(server.port()), "--yes",
                         "--connections", "1"},
                        {.output = out, .error = temp_ / "run" / "interrupted.err"}));
  ASSERT_TRUE(fourthFile->WaitHolding(std::chrono::seconds(30)))
      << "the pass never asked for a fourth file: " << ReadFileText(out);
  cli.Signal(SIGINT);
  const std::optional<ChildExit> exit = cli.Wait(kEndAfterInterrupt);
  ASSERT_TRUE(exit) << "patcher-cli did not end within 60 s of Ctrl+C: " << ReadFileText(out);
  const std::string shown = ReadFileText(out);
  EXPECT_EQ(exit->exitCode, 5) << shown;
  EXPECT_EQ(CountOf(shown, "Операция отменена"), 1u) << shown;
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

// Runs patcher-cli on a terminal of its own and answers its first question with `answer`.
struct TerminalRun {
  std::optional<ChildExit> exit;  // nothing when it did not end in time
  bool answered = false;
  std::string shown;
};

TerminalRun RunOnTerminal(const std::vector<std::string>& arguments, const std::string& answer) {
  TerminalRun run;
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return run;
  const std::string side = ptsname(terminal);
  // Held open here too, so the terminal never hangs up while the program has yet to open it.
  const int held = open(side.c_str(), O_RDWR | O_NOCTTY);
  ChildProcess cli;
  if (cli.Start(PATCHER_CLI_PATH, arguments, {.terminal = side})) {
    // Read everything the program shows (it would stop on a full terminal otherwise) and
    // answer the question once it is asked.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!run.exit && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{terminal, POLLIN, 0};
      if (poll(&ready, 1, 100) > 0) {
        char buffer[4096];
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got > 0) run.shown.append(buffer, static_cast<std::size_t>(got));
      }
      if (!run.answered && run.shown.find("[д/н] (") != std::string::npos) {
        run.answered = write(terminal, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
      }
      run.exit = cli.Wait(std::chrono::milliseconds(0));
    }
  }
  close(held);
  close(terminal);
  return run;
}

// On a terminal the questions wait for the player, who answers in either alphabet.
TEST_F(PatcherCliTest, DeclinedOnTheTerminalEndsWithTheDeclinedCode) {
  PrepareClient(5);
  tree_->PutText(u"version", "7");
  for (const std::string answer : {"n\n", "н\n", "Нет\n"}) {
    const TerminalRun run = RunOnTerminal({"--root", temp_.string(), "--server", Server()}, answer);
    ASSERT_TRUE(run.exit) << "patcher-cli did not end: " << run.shown;
    EXPECT_TRUE(run.answered) << run.shown;
    EXPECT_EQ(run.exit->exitCode, 1) << answer << run.shown;
    EXPECT_NE(run.shown.find("Обновить клиент?"), std::string::npos) << run.shown;
    EXPECT_NE(run.shown.find("[д/н] (10)"), std::string::npos) << "the count-down shows" << run.shown;
    EXPECT_EQ(run.shown.find("[y/n]"), std::string::npos) << run.shown;
  }
  EXPECT_EQ(VersionOnDisk(), 5);

  tree_->PutChangeList(2, {{u"fresh.txt", "fresh"}});
  const TerminalRun accepted = RunOnTerminal({"--root", temp_.string(), "--server", Server()}, "д\n");
  ASSERT_TRUE(accepted.exit) << "patcher-cli did not end: " << accepted.shown;
  EXPECT_EQ(accepted.exit->exitCode, 0) << accepted.shown;
  EXPECT_EQ(VersionOnDisk(), 7);
  EXPECT_EQ(ClientFileText("fresh.txt"), "fresh");
}

// A folder where the version file belongs is named as the cause, not the package's files or the disk.
TEST_F(PatcherCliTest, VersionFileThatIsAFolderIsNamedAsTheCause) {
  PrepareClient(5);
  const std::filesystem::path versionFile = temp_ / "config" / "velkar" / "version.sw";
  std::filesystem::remove(versionFile);
  std::filesystem::create_directories(versionFile);
  // Without its version file the client counts as version 0.
  WriteWholeFile(temp_ / "p.cup", testsupport::PackageBytes(0, 6, {{u"configs\\c.cfg", "c"}}));
  const TerminalRun run = RunOnTerminal({"--root", temp_.string(), "apply", (temp_ / "p.cup").string()}, "н\n");
  ASSERT_TRUE(run.exit) << "patcher-cli did not end: " << run.shown;
  EXPECT_TRUE(run.answered) << run.shown;
  EXPECT_EQ(run.exit->exitCode, 1) << run.shown;
  EXPECT_NE(run.shown.find("patcher-cli: не удалось записать версию клиента в " + versionFile.string() +
                           ": на месте файла папка"),
            std::string::npos)
      << run.shown;
  EXPECT_EQ(run.shown.find("файлы пакета"), std::string::npos) << run.shown;
  EXPECT_NE(ProgramLog().find("ERROR: Can't create file " + versionFile.string() + " (a folder is in its place)"),
            std::string::npos)
      << ProgramLog();
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

  const std::filesystem::path out = temp_ / "run" / "interrupted.out";
  ChildProcess cli;
  ASSERT_TRUE(cli.Start(PATCHER_CLI_PATH,
                        {"--root", temp_.string(), "--server", "127.0.0.1:" + std::to_string(server.port()), "--yes"},
                        {.output = out, .error = temp_ / "run" / "interrupted.err"}));
  ASSERT_TRUE(testsupport::WaitUntil([&] { return server.bodyBytesSent() >= 20; }, std::chrono::seconds(30)))
      << "the package download did not begin: " << ReadFileText(out);
  const auto interrupted = std::chrono::steady_clock::now();
  cli.Signal(SIGINT);
  const std::optional<ChildExit> exit = cli.Wait(kEndAfterInterrupt);
  ASSERT_TRUE(exit) << "Ctrl+C did not end it: " << ReadFileText(out);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
  // Within about a second; the download alone would take a day.
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(exit->exitCode, 5) << ReadFileText(out);
  EXPECT_NE(ReadFileText(out).find("Операция отменена"), std::string::npos) << ReadFileText(out);
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
  const std::filesystem::path out = temp_ / "run" / "stalled.out";
  const auto start = std::chrono::steady_clock::now();
  ChildProcess cli;
  ASSERT_TRUE(cli.Start(PATCHER_CLI_PATH,
                        {"--root", temp_.string(), "--server", "127.0.0.1:" + std::to_string(server.port()), "--yes"},
                        {.output = out, .error = temp_ / "run" / "stalled.err"}));
  const std::optional<ChildExit> exit = cli.Wait(std::chrono::seconds(400));
  ASSERT_TRUE(exit) << "still running: " << ReadFileText(out);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Four attempts of about 30 s.
  EXPECT_LT(seconds, 300.0);
  EXPECT_EQ(exit->exitCode, 3) << ReadFileText(out);
  EXPECT_EQ(server.requestLines().size(), 4u);
  const std::string log = ProgramLog();
  EXPECT_NE(log.find("ERROR: Can't fetch version from 127.0.0.1:" + std::to_string(server.port()) + ": timed out"),
            std::string::npos)
      << log;
  // The console names the cause too, on stderr.
  const std::string shown = ReadFileText(temp_ / "run" / "stalled.err");
  EXPECT_NE(shown.find("не удалось получить версию (version): сервер не ответил вовремя"), std::string::npos) << shown;
}
#endif

}  // namespace
}  // namespace patcher_cli_test
