// What patcher-cli tells its user: errors that name what failed, retries that wait, one
// language, pipe output with whole steps and downloads, the closing summary and JSON, and
// the command-line conventions of GNU tools.
#include <cerrno>
#include <cstring>
#include <set>

#include "platform/file.h"
#include "support/child_process.h"
#include "support/scripted_http_server.h"
#include "tools/patcher_cli_fixture.h"

using testsupport::ChildResult;

namespace patcher_cli_test {
namespace {

// The value of "key": in a flat JSON object, as its text.
std::string JsonValue(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const std::size_t at = json.find(marker);
  if (at == std::string::npos) return "<missing>";
  const std::size_t start = at + marker.size();
  const std::size_t end = json.find_first_of(",}", start);
  return json.substr(start, end - start);
}

testsupport::ScriptedResponse Answer(const std::string& body, std::chrono::milliseconds delay = {}) {
  testsupport::ScriptedResponse response;
  response.body = body;
  response.delayBeforeBody = delay;
  return response;
}

// A damaged folder names the archive and its cause; a server error the host and port.
TEST_F(PatcherCliTest, ErrorsNameWhatFailed) {
  PrepareClient(5);
  {
    // Another program holds one archive: it can be neither opened nor made afresh.
    platform::File held;
    ASSERT_EQ(held.Open((temp_ / "velkar" / "models.pck").u16string(), platform::FileMode::kRead), 0);
    const ChildResult damaged = Run({"--server", Server()});
    EXPECT_EQ(damaged.exitCode, 4) << damaged.out << damaged.err;
    EXPECT_NE(damaged.out.find("Папка повреждена"), std::string::npos) << damaged.out;
    EXPECT_NE(damaged.err.find("models.pck: архив занят другой программой"), std::string::npos) << damaged.err;
    EXPECT_EQ(CountOf(damaged.err, "patcher-cli: архив "), 1u) << "only the archive that failed: " << damaged.err;
  }
  const ChildResult server = Run({"--server", "127.0.0.1:1"});
  EXPECT_EQ(server.exitCode, 3) << server.out << server.err;
  EXPECT_NE(server.err.find("patcher-cli: сервер обновлений 127.0.0.1:1: не удалось получить версию (version): "
                            "соединение отклонено"),
            std::string::npos)
      << server.err;
  EXPECT_EQ(server.out.find("сервер обновлений 127.0.0.1"), std::string::npos) << "errors go to stderr";

  // A server version below the client's cannot be right either, and the run says why.
  tree_->PutText(u"version", "3");
  const ChildResult behind = Run({"--server", Server()});
  EXPECT_EQ(behind.exitCode, 3) << behind.out << behind.err;
  EXPECT_NE(behind.err.find("сообщает версию 3, а у клиента 5"), std::string::npos) << behind.err;
}

// A version that is no release number (a hotel's captive portal) is a server error that says
// what came, for an empty client too.
TEST_F(PatcherCliTest, AVersionThatIsNoNumberIsAServerError) {
  const std::filesystem::path fresh = temp_ / "fresh";
  std::filesystem::create_directories(fresh);
  tree_->PutText(u"version", "<html><body>Please log in to the hotel network</body></html>\n");
  const ChildResult run = RunBare({"--root", fresh.string(), "--server", Server()});
  EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
  EXPECT_NE(run.err.find("вместо версии (version) пришло не число выпуска: «<html><body>Please log in"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("Клиент готов к запуску"), std::string::npos) << run.out;
}

// Unattended, --yes retries a failed step only after a pause: the count-down's seconds,
// or 1, 2, 4 s for a question without one. The failed file is named.
TEST_F(PatcherCliTest, UnattendedRetriesWait) {
  PrepareClient(5);
  double seconds = 0;
  const ChildResult server = RunTimed({"--server", "127.0.0.1:1", "--yes"}, &seconds);
  EXPECT_EQ(server.exitCode, 3) << server.out << server.err;
  for (const char* pause : {"да через 1 с", "да через 2 с", "да через 4 с"})
    EXPECT_NE(server.out.find(pause), std::string::npos) << pause << "\n" << server.out;
  EXPECT_NE(server.out.find("на этот вопрос уже 3 раза ответили «да»"), std::string::npos) << server.out;
  EXPECT_GE(seconds, 7.0) << "the retries did not wait";

  tree_->PutText(u"version", "6");
  tree_->PutChangeList(1, {{u"lost.txt", "never served"}});
  std::filesystem::remove(std::filesystem::path(nginx_.root) / "files" / "lost.txt");
  std::filesystem::remove(std::filesystem::path(nginx_.root) / "files\\lost.txt");
  const ChildResult file = RunTimed({"--server", Server(), "--yes"}, &seconds);
  // The server's fault, as for the version: 3, not the 1 of a client the user left behind.
  EXPECT_EQ(file.exitCode, 3) << file.out << file.err;
  EXPECT_NE(file.err.find("с обратной косой чертой как пути к папкам"), std::string::npos) << file.err;
  EXPECT_NE(file.out.find("Ошибка обновления файла."), std::string::npos) << file.out;
  EXPECT_NE(file.out.find("да через 3 с"), std::string::npos) << file.out;
  EXPECT_NE(file.err.find("файл lost.txt: не удалось получить его (сервер обновлений " + Server() +
                          ": сервер ответил кодом 404 (нет такого файла))"),
            std::string::npos)
      << file.err;
  EXPECT_GE(seconds, 9.0) << "the file retries did not wait";
  EXPECT_EQ(VersionOnDisk(), 5);
  for (const ChildResult* run : {&server, &file}) {
    const std::vector<std::string> words =
        LatinWords(run->out + run->err, {temp_.string(), Server(), "127.0.0.1:1", "lost.txt"});
    EXPECT_TRUE(words.empty()) << Joined(words) << "\n" << run->out << run->err;
  }
}

#ifndef _WIN32
// The system's own words, English, stand apart from the Russian sentence that gives them.
TEST_F(PatcherCliTest, SystemErrorsStandApartFromTheRussianText) {
  PrepareClient(5);
  // A file where the folder of help\script belongs: that archive can be neither opened nor made.
  std::filesystem::remove_all(temp_ / "velkar" / "help");
  WriteWholeFile(temp_ / "velkar" / "help", "not a folder");
  const ChildResult damaged = Run({"--server", Server()});
  EXPECT_EQ(damaged.exitCode, 4) << damaged.out << damaged.err;
  EXPECT_NE(damaged.err.find("help/script.pck: архив не открывается (" + std::string(std::strerror(ENOTDIR)) + ")\n"),
            std::string::npos)
      << damaged.err;
}
#endif

// Statuses are the product's Russian texts, and so is everything the console adds (the
// count-down and the retries are looked at where they are tested).
TEST_F(PatcherCliTest, ConsoleSpeaksOneLanguage) {
  PrepareClient(5);
  WriteWholeFile(temp_ / "text.txt", "text");
  // Names the user typed or will type: the program's own commands and options.
  const std::vector<std::string> allowed = {temp_.string(), Server(), "127.0.0.1:1", "--frobnicate", "check",
                                            "apply",        "--help", "text.txt",    "none"};
  const std::vector<std::vector<std::string>> runs = {
      {"--server", "127.0.0.1:1"},                       // no terminal to answer
      {"--frobnicate"},                                  // a usage error
      {"apply", (temp_ / "text.txt").string()},          // a FILE that is no package
      {"--root", (temp_ / "velkar" / "none").string()},  // no client
  };
  for (const auto& arguments : runs) {
    const ChildResult run = Run(arguments);
    const std::vector<std::string> words = LatinWords(run.out + run.err, allowed);
    EXPECT_TRUE(words.empty()) << arguments[0] << ": " << Joined(words) << "\n" << run.out << run.err;
  }
}

// A pipe gets one line per tenth of a step and a line of its own where the step ends;
// a step that downloads tells the bytes, the speed and the time left, and the next step
// says nothing of them.
TEST_F(PatcherCliTest, PipeOutputEndsEveryStepAndShowsTheDownload) {
  PrepareClient(5);
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  server.Serve("/version", Answer("6"));
  std::vector<testsupport::ListEntry> entries;
  for (int i = 0; i < 10; ++i) {
    std::string name = "slow";
    name += std::to_string(i);
    name += ".bin";
    const ListedFile file{platform::Utf16FromUtf8(name), std::string(20000 + i, static_cast<char>('a' + i)), false};
    entries.push_back(testsupport::EntryOf(file));
    // Ten files, 0.3 s each: long enough for a speed sample and an estimate.
    const testsupport::ScriptedResponse response = Answer(file.content, std::chrono::milliseconds(300));
    // libcurl sends the "\" as it is, WinINet as "/".
    for (std::string target : {"/files\\", "/files/"}) {
      target += name;
      server.Serve(target, response);
    }
  }
  const std::vector<uint8_t> list = testsupport::FileListBytes(entries);
  server.Serve("/list_1", Answer(std::string(list.begin(), list.end())));

  // One download at a time, each long enough to be shown.
  const ChildResult run =
      Run({"--server", "127.0.0.1:" + std::to_string(server.port()), "--yes", "--connections", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  // Each step with a percentage ends on its own line at 100 %.
  for (const std::string step :
       {"Чтение архивов: ", "Загрузка списка файлов: ", "Обновление файлов: ", "Сохранение архивов: "}) {
    std::string last;
    for (const std::string& line : lines)
      if (line.rfind(step, 0) == 0) last = line;
    EXPECT_EQ(last.substr(step.size(), 4), "100%") << step << "\n" << run.out;
  }
  bool estimated = false;
  std::string finished;
  for (const std::string& line : lines) {
    if (line.rfind("Обновление файлов: ", 0) != 0) continue;
    if (line.find("Скорость загрузки: ") != std::string::npos && line.find("осталось около ") != std::string::npos &&
        line.find("получено ") != std::string::npos)
      estimated = true;
    finished = line;
  }
  EXPECT_TRUE(estimated) << "no line with the bytes, speed and time left:\n" << run.out;
  EXPECT_NE(finished.find("получено 195.4 КБ за "), std::string::npos) << finished;
  for (const std::string& line : lines)
    if (line.rfind("Сохранение архивов", 0) == 0 || line.rfind("Версия клиента", 0) == 0 ||
        line.rfind("Клиент готов", 0) == 0) {
      EXPECT_EQ(line.find("Скорость"), std::string::npos) << line;
      EXPECT_EQ(line.find("получено"), std::string::npos) << line;
    }
  EXPECT_EQ(VersionOnDisk(), 6);
}

// With several downloads at once, the lines of the file step tell how many are at work.
TEST_F(PatcherCliTest, ThePipeTellsTheConnectionsAtWork) {
  PrepareClient(5);
  testsupport::ScriptedHttpServer server;
  ASSERT_TRUE(server.listening());
  server.Serve("/version", Answer("6"));
  std::vector<testsupport::ListEntry> entries;
  for (int i = 0; i < 24; ++i) {
    const std::string name = "slow" + std::to_string(i) + ".bin";
    const ListedFile file{platform::Utf16FromUtf8(name), std::string(20000 + i, static_cast<char>('a' + i)), false};
    entries.push_back(testsupport::EntryOf(file));
    const testsupport::ScriptedResponse response = Answer(file.content, std::chrono::milliseconds(300));
    for (std::string target : {"/files\\", "/files/"}) server.Serve(target + name, response);
  }
  const std::vector<uint8_t> list = testsupport::FileListBytes(entries);
  server.Serve("/list_1", Answer(std::string(list.begin(), list.end())));

  const ChildResult run =
      Run({"--server", "127.0.0.1:" + std::to_string(server.port()), "--yes", "--connections", "3"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  std::set<std::string> told;
  for (const std::string& line : Lines(run.out)) {
    const std::size_t at = line.find(", соединений: ");
    if (at == std::string::npos) continue;
    EXPECT_EQ(line.rfind("Обновление файлов: ", 0), 0u) << line;
    told.insert(line.substr(at + std::string(", соединений: ").size(), 1));
  }
  EXPECT_FALSE(told.empty()) << "no line told the connections:\n" << run.out;
  for (const std::string& count : told) EXPECT_TRUE(count == "2" || count == "3") << count << "\n" << run.out;
  EXPECT_EQ(VersionOnDisk(), 6);
}

// Every run closes with a summary on stderr; --json adds one object on stdout, alone.
TEST_F(PatcherCliTest, SummaryAndJsonTellWhatTheRunDid) {
  PrepareClient(5, {{u"models\\a.ski", "old"}});
  tree_->PutText(u"version", "7");
  const std::vector<ListedFile> files = {
      {u"models\\a.ski", std::string(3000, 'm')}, {u"same.txt", "same"}, {u"new.txt", "new"}};
  tree_->PutChangeList(2, files);
  WriteWholeFile(temp_ / "velkar" / "same.txt", "same");
  const ChildResult update = Run({"--server", Server(), "--yes", "--json"});
  ASSERT_EQ(update.exitCode, 0) << update.out << update.err;
  // stdout is the object alone; the run's lines went to stderr.
  ASSERT_EQ(Lines(update.out).size(), 1u) << update.out;
  const std::string json = update.out;
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.substr(json.size() - 2), "}\n");
  const std::pair<const char*, std::string> expected[] = {
      {"command", "\"update\""}, {"outcome", "\"ready\""}, {"exitCode", "0"},     {"clientVersionBefore", "5"},
      {"clientVersion", "7"},    {"serverVersion", "7"},   {"filesChecked", "3"}, {"filesUpdated", "2"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(JsonValue(json, key), value) << key << " in " << json;
  EXPECT_GT(std::stoll(JsonValue(json, "bytesReceived")), 0) << json;
  EXPECT_NE(update.err.find("Клиент готов к запуску"), std::string::npos) << update.err;
  EXPECT_NE(update.err.find("Итог: проверено файлов: 3, обновлено: 2, получено "), std::string::npos) << update.err;

  // Without --json the summary is there all the same, and nothing else is on stdout but the run.
  const ChildResult again = Run({"--server", Server(), "--yes"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_NE(again.err.find("Итог: проверено файлов: 0, обновлено: 0, получено "), std::string::npos) << again.err;
  EXPECT_EQ(again.out.find("Итог"), std::string::npos) << again.out;

  // apply, and a run that ends early, tell theirs too.
  WriteWholeFile(temp_ / "p.cup", testsupport::PackageBytes(7, 8, {{u"configs\\c.cfg", "c"}}));
  const ChildResult apply = Run({"apply", (temp_ / "p.cup").string(), "--json"});
  EXPECT_EQ(apply.exitCode, 0) << apply.err;
  EXPECT_EQ(JsonValue(apply.out, "command"), "\"apply\"");
  EXPECT_EQ(JsonValue(apply.out, "clientVersionBefore"), "7");
  EXPECT_EQ(JsonValue(apply.out, "clientVersion"), "8");
  EXPECT_EQ(JsonValue(apply.out, "serverVersion"), "null");
  EXPECT_EQ(JsonValue(apply.out, "filesUpdated"), "1");
  EXPECT_NE(apply.err.find("Итог: проверено файлов: 1, обновлено: 1, получено 0 Б"), std::string::npos) << apply.err;
  const ChildResult missing = Run({"apply", (temp_ / "none.cup").string(), "--json"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(JsonValue(missing.out, "outcome"), "\"usage-error\"") << missing.out;
  EXPECT_EQ(JsonValue(missing.out, "exitCode"), "2") << missing.out;
}

// --version, --opt=value, "--", a short usage line on stderr for a usage error, and the
// usage code that every tool of the project shares.
TEST_F(PatcherCliTest, CommandLineFollowsGnuConventions) {
  PrepareClient(5);
  const ChildResult version = RunBare({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("patcher-cli (Solmere Classic Updater) ", 0), 0u) << version.out;
  EXPECT_EQ(version.err, "");
  const ChildResult help = RunBare({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Коды выхода"), std::string::npos) << help.out;

  struct Misuse {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Misuse misuses[] = {
      {{"--frobnicate"}, "неизвестный параметр --frobnicate"},
      {{"--yes=1"}, "--yes не принимает значения"},
      {{"--server"}, "--server: нужно значение"},
      {{"--server=127.0.0.1:0"}, "--server: нужен УЗЕЛ"},
      {{"--server=127.0.0.1/x"}, "--server: нужен УЗЕЛ"},
      {{"--limit-rate=0"}, "--limit-rate: нужна скорость"},
      {{"--limit-rate=fast"}, "--limit-rate: нужна скорость"},
      {{"--limit-rate", "10x"}, "--limit-rate: нужна скорость"},
      {{"--connections=0"}, "--connections: нужно число соединений от 1 до 8"},
      {{"--connections", "9"}, "--connections: нужно число соединений от 1 до 8"},
      {{"--connections=four"}, "--connections: нужно число соединений от 1 до 8"},
      {{"apply"}, "apply: нужен ровно один ФАЙЛ"},
      {{"check", "extra"}, "check не принимает аргументов"},
      {{"launch"}, "неизвестная команда launch"},
  };
  for (const Misuse& misuse : misuses) {
    const ChildResult run = RunBare(misuse.arguments);
    EXPECT_EQ(run.exitCode, 2) << misuse.arguments[0];
    EXPECT_EQ(run.out, "") << misuse.arguments[0];
    EXPECT_EQ(run.err.rfind("patcher-cli: " + misuse.message, 0), 0u) << run.err;
    EXPECT_NE(run.err.find("Подробнее: patcher-cli --help"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Коды выхода"), std::string::npos) << "the whole help on a usage error";
    EXPECT_LE(Lines(run.err).size(), 3u) << run.err;
  }

  // --opt=value works as --opt value does, and after "--" a "-" begins a FILE, not an option.
  tree_->PutText(u"version", "5");
  EXPECT_EQ(RunBare({"--root=" + temp_.string(), "--server=" + Server()}).exitCode, 0);
  std::filesystem::current_path(temp_);
  WriteWholeFile(temp_ / "-dash.cup", testsupport::PackageBytes(0, 6, {{u"dash.txt", "dash"}}));
  const ChildResult dashed = RunBare({"apply", "--", "-dash.cup"});
  EXPECT_EQ(dashed.exitCode, 0) << dashed.out << dashed.err;
  EXPECT_EQ(ClientFileText("dash.txt"), "dash");
  std::filesystem::current_path(temp_ / "run");
}

}  // namespace
}  // namespace patcher_cli_test
