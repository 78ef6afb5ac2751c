// patcher-cli on a disk that has filled up: a small tmpfs that with_small_disk.sh mounts
// around this program holds the client; the package, the log and the output lie elsewhere.
// The user learns that the disk is full, with the bytes free and needed, in the question,
// in the cause on stderr and in the log; a retry once there is room goes on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/client_archive_set.h"
#include "engine/server_tree.h"
#include "platform/file.h"
#include "support/child_process.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kPage = 4096;

// Writes whole pages into `path` until the disk takes no more; false when it took none.
bool FillDisk(const fs::path& path) {
  platform::File filler;
  if (filler.Open(path.u16string(), platform::FileMode::kCreate) != 0) return false;
  const std::string page(kPage, 'f');
  uint64_t written = 0;
  while (filler.Write(page.data(), page.size()) && filler.Flush()) written += kPage;
  return written > 0;
}

TEST(PatcherCliDiskTest, FullDiskIsToldWithItsBytesAndTheRetryGoesOnOnceThereIsRoom) {
  const char* disk = std::getenv("SOLMERE_SMALL_DISK");
  ASSERT_NE(disk, nullptr) << "no small disk: run this program through tests/support/with_small_disk.sh";
  const fs::path root = fs::path(disk) / "client";
  fs::remove_all(root);
  fs::create_directories(root / "patcher");
  // Where a plain file is written before it takes its place.
  fs::create_directories(root / "config" / "patcher" / "staging");
  {
    ClientArchiveSet set(ClientLayout((root / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", 9});
    ASSERT_TRUE(set.OpenArchives({}).allOpen());
    ASSERT_TRUE(set.WriteLocalVersion(5).written());
    ASSERT_TRUE(set.SaveArchives({}).written());
  }
  testsupport::TempFolder work;
  const std::string content(64 * 1024, 'b');
  const fs::path package = work.path() / "update.cup";
  testsupport::WriteWholeFile(
      package, testsupport::PackageBytes(5, 6, {{.name = u"data\\big.bin", .content = content, .compress = false}}));
  ASSERT_TRUE(FillDisk(root / "filler")) << "the disk was full before the test filled it";

  // log.txt goes into the working folder, which the child takes from here.
  const fs::path previous = fs::current_path();
  fs::current_path(work.path());
  testsupport::ChildProcess cli;
  const bool started = cli.Start(PATCHER_CLI_PATH, {"--root", root.string(), "apply", package.string()},
                                 {.error = work.path() / "err.txt", .outputToPipe = true});
  fs::current_path(previous);
  ASSERT_TRUE(started) << "cannot start " << PATCHER_CLI_PATH;

  // The question counts down; room is made while it does, and its yes tries again.
  std::string out;
  bool asked = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!asked && std::chrono::steady_clock::now() < deadline) {
    const std::optional<std::string> line = cli.ReadLine(std::chrono::seconds(1));
    if (!line) continue;
    out += *line + "\n";
    asked = *line == "  Повторить попытку?";
  }
  ASSERT_TRUE(asked) << "no question to retry came: " << out;
  fs::remove(root / "filler");
  const std::optional<testsupport::ChildExit> exit = cli.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(exit.has_value()) << "patcher-cli did not end once there was room";
  EXPECT_EQ(exit->exitCode, 0) << out;
  EXPECT_EQ(testsupport::ReadFileText(root / "velkar" / "data" / "big.bin"), content) << "the retry wrote it";

  const std::string err = testsupport::ReadFileText(work.path() / "err.txt");
  const std::string log = testsupport::ReadLogUtf8(work.path() / "log.txt");
  const std::string shortage = "на диске нет места (свободно 0 Б, нужно 65536 Б)";
  EXPECT_NE(out.find("? Ошибка обновления\n  Ошибка обновления файла: " + shortage + ".\n"), std::string::npos) << out;
  EXPECT_NE(err.find("patcher-cli: не удалось записать файл пакета " + (root / "velkar" / "data" / "big.bin").string() +
                     ": " + shortage + "\n"),
            std::string::npos)
      << err;
  EXPECT_NE(log.find("ERROR: Ошибка обновления файла: " + shortage + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" (disk full: 0 bytes free, 65536 needed)\r\n"), std::string::npos) << log;
}

}  // namespace
