// The memory of a file check against nginx, measured in a child process of its own: a
// listed size never sizes a buffer, so a check stays within about 64 MiB above what the
// process held before, plus the largest stored form it downloads.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "engine/client_archive_set.h"
#include "engine/server_tree.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"

using testsupport::ChildResult;
using testsupport::RunChild;

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kAllowance = 64 * kMiB;

// A zlib stream of `size` bytes from `next` (which fills a piece), made piece by piece.
template <typename Fill>
std::vector<uint8_t> Deflated(uint64_t size, Fill next) {
  z_stream stream{};
  EXPECT_EQ(deflateInit(&stream, Z_DEFAULT_COMPRESSION), Z_OK);
  std::vector<uint8_t> out;
  std::vector<uint8_t> piece(kMiB);
  std::vector<uint8_t> buffer(kMiB);
  for (uint64_t done = 0;;) {
    const auto count = static_cast<uInt>(std::min<uint64_t>(kMiB, size - done));
    next(piece.data(), count);
    done += count;
    stream.next_in = piece.data();
    stream.avail_in = count;
    const int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
    int status = Z_OK;
    do {
      stream.next_out = buffer.data();
      stream.avail_out = static_cast<uInt>(buffer.size());
      status = deflate(&stream, flush);
      out.insert(out.end(), buffer.data(), stream.next_out);
    } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    if (flush == Z_FINISH) break;
  }
  deflateEnd(&stream);
  return out;
}

platform::Md5Digest ZerosMd5(uint64_t size) {
  platform::Md5 md5;
  const std::vector<uint8_t> zeros(kMiB, 0);
  for (uint64_t done = 0; done < size; done += kMiB)
    EXPECT_TRUE(md5.Update(zeros.data(), static_cast<std::size_t>(std::min<uint64_t>(kMiB, size - done))));
  platform::Md5Digest digest{};
  EXPECT_TRUE(md5.Finish(&digest));
  return digest;
}

// A client folder tree of its own (no log: the child writes none either).
class MemoryBoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.made()) << "no temporary folder";
    fs::create_directories(root_ / "patcher");
    fs::create_directories(root_ / "config" / "patcher");
    fs::create_directories(root_ / "scratch");
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    tree_ = std::make_unique<testsupport::ServerTree>(fs::path(nginx_.root));
    tree_->Clear();
    // Saved and let go: the child takes the archives for its own.
    ClientArchiveSet set(ClientLayout((root_ / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", nginx_.port});
    ASSERT_TRUE(set.OpenArchives({}).allOpen());
    ASSERT_TRUE(set.WriteLocalVersion(1).written());
    ASSERT_TRUE(set.SaveArchives({}).written());
  }
  void TearDown() override {
    if (tree_ != nullptr) tree_->Clear();
  }

  fs::path ClientFile(const std::string& name) const { return root_ / "velkar" / name; }

  // list_1 with these entries, their stored forms under files\.
  void Serve(const std::vector<std::pair<testsupport::ListEntry, std::vector<uint8_t>>>& files) {
    std::vector<testsupport::ListEntry> entries;
    for (const auto& [entry, stored] : files) {
      entries.push_back(entry);
      tree_->Put(u"files\\" + entry.name, stored);
    }
    tree_->Put(u"list_1", testsupport::FileListBytes(entries));
  }
  struct Checked {
    int result = 99;
    uint64_t growth = 0;
  };
  // One check in the child; false with the child's output when it did not report.
  bool Check(Checked* checked, std::string* output) {
    const ChildResult child =
        RunChild(MEMORY_CHECK_CHILD_PATH,
                 {platform::Utf8FromUtf16((root_ / "patcher").u16string()), std::to_string(nginx_.port), "1"},
                 root_ / "scratch");
    *output = child.out + child.err;
    unsigned long long growth = 0;
    if (!child.started || child.exitCode != 0 ||
        std::sscanf(child.out.c_str(), "result %d growth %llu", &checked->result, &growth) != 2)
      return false;
    checked->growth = growth;
    std::printf("check: result %d, memory %.1f MiB above the use before it\n", checked->result,
                static_cast<double>(growth) / kMiB);
    return true;
  }

  testsupport::TempFolder folder_;
  const fs::path root_ = folder_.path();
  testsupport::NginxServer nginx_;
  std::unique_ptr<testsupport::ServerTree> tree_;
};

TEST_F(MemoryBoundTest, SizeTheListClaimsSizesNoBuffer) {
  // 4 MiB of stored bytes that the list declares as nearly 4 GiB of content.
  std::mt19937 random(5);
  const std::vector<uint8_t> stored = Deflated(4 * kMiB, [&](uint8_t* piece, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) piece[i] = static_cast<uint8_t>(random());
  });
  Serve({{{u"huge.bin", testsupport::Md5Of("x"), 0xF0000000u, static_cast<uint32_t>(stored.size())}, stored}});
  Checked checked;
  std::string output;
  ASSERT_TRUE(Check(&checked, &output)) << output;
  EXPECT_EQ(checked.result, static_cast<int>(CheckResult::Outcome::kDownloadFailed))
      << "the content is not what the list says";
  EXPECT_LT(checked.growth, kAllowance + stored.size()) << checked.growth / kMiB << " MiB";
  EXPECT_FALSE(fs::exists(ClientFile("huge.bin")));
  EXPECT_FALSE(fs::exists(root_ / "config" / "patcher" / "staging" / "file.~part")) << "no temporary file stays";
}

TEST_F(MemoryBoundTest, LargeFilesAreCheckedAndWrittenInPieces) {
  // 160 MiB of content each, as a plain file and inside an archive.
  constexpr uint64_t kSize = 160 * kMiB;
  const std::vector<uint8_t> stored =
      Deflated(kSize, [](uint8_t* piece, std::size_t count) { std::fill_n(piece, count, uint8_t{0}); });
  const platform::Md5Digest digest = ZerosMd5(kSize);
  const auto storedSize = static_cast<uint32_t>(stored.size());
  Serve({{{u"big.bin", digest, static_cast<uint32_t>(kSize), storedSize}, stored},
         {{u"models\\big.ski", digest, static_cast<uint32_t>(kSize), storedSize}, stored}});
  Checked checked;
  std::string output;
  ASSERT_TRUE(Check(&checked, &output)) << output;
  EXPECT_EQ(checked.result, static_cast<int>(CheckResult::Outcome::kDone)) << output;
  EXPECT_LT(checked.growth, kAllowance + stored.size()) << checked.growth / kMiB << " MiB for the update";
  EXPECT_EQ(fs::file_size(ClientFile("big.bin")), kSize);

  // Checked again, now that both are in place: read back and hashed in pieces too.
  ASSERT_TRUE(Check(&checked, &output)) << output;
  EXPECT_EQ(checked.result, static_cast<int>(CheckResult::Outcome::kDone)) << output;
  EXPECT_LT(checked.growth, kAllowance + stored.size()) << checked.growth / kMiB << " MiB for the check";
  ClientArchiveSet set(ClientLayout((root_ / "patcher").u16string()), UpdateServerAddress{u"127.0.0.1", nginx_.port});
  ASSERT_TRUE(set.OpenArchives({}).allOpen());
  const TavrinFilePackage::EntryRecord* entry = set.archives().Find(u"models")->FindEntry(u"models\\big.ski", false);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->uncompressedLength, kSize);
  EXPECT_EQ(entry->storedLength, storedSize) << "stored as downloaded";
}

}  // namespace
