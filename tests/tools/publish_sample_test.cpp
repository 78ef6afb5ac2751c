// The sample client: the same bytes for the same arguments, and every kind of change
// from one release to the next.

#include <set>

#include "publish_fixture.h"
#include "support/child_process.h"
#include "support/file_bytes.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;

namespace publish_test {
namespace {

using PublishSample = PublishFixture;

bool InArchive(const std::u16string& name) {
  for (std::u16string_view archiveName : kArchiveNames)
    if (name.compare(0, archiveName.size(), archiveName) == 0) return true;
  return false;
}

TEST_F(PublishSample, SameArgumentsGiveTheSameClient) {
  PublishOk({"sample", At("a"), "2", "--files", "200", "--size-mb", "4", "--seed", "9"});
  PublishOk({"sample", At("b"), "2", "--files", "200", "--size-mb", "4", "--seed", "9"});
  PublishOk({"sample", At("c"), "2", "--files", "200", "--size-mb", "4", "--seed", "10"});
  const ClientImage a = ReadClient(PathOf("a/velkar"));
  const ClientImage b = ReadClient(PathOf("b/velkar"));
  EXPECT_TRUE(a.files == b.files);
  EXPECT_FALSE(a.files == ReadClient(PathOf("c/velkar")).files);
  // Writing into an existing client is refused.
  const ChildResult again = Publish({"sample", At("a"), "2"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("already holds a client"), std::string::npos) << again.err;
}

TEST_F(PublishSample, EachReleaseChangesDeletesAndAddsInArchivesAndPlainFiles) {
  PublishOk({"sample", At("r1"), "1", "--files", "300", "--size-mb", "8"});
  PublishOk({"sample", At("r2"), "2", "--files", "300", "--size-mb", "8"});
  const ClientImage release1 = ReadClient(PathOf("r1/velkar"));
  const ClientImage release2 = ReadClient(PathOf("r2/velkar"));

  // [0] archive entries, [1] plain files.
  int changed[2] = {}, deleted[2] = {}, added[2] = {}, large = 0, cyrillic = 0, chinese = 0;
  std::set<std::u16string> archivesUsed;
  for (const auto& [identity, file] : release1.files) {
    const int plain = InArchive(file.first) ? 0 : 1;
    const auto later = release2.files.find(identity);
    if (later == release2.files.end())
      ++deleted[plain];
    else if (later->second.second != file.second)
      ++changed[plain];
    if (file.second.size() >= (2u << 20)) ++large;
    for (char16_t unit : file.first) {
      cyrillic += unit >= 0x0400 && unit < 0x0500;
      chinese += unit >= 0x4E00 && unit < 0xA000;
    }
    for (std::u16string_view archiveName : kArchiveNames)
      if (file.first.compare(0, archiveName.size() + 1, std::u16string(archiveName) + u"\\") == 0)
        archivesUsed.insert(std::u16string(archiveName));
  }
  for (const auto& [identity, file] : release2.files)
    if (release1.files.count(identity) == 0) ++added[InArchive(file.first) ? 0 : 1];
  for (int place = 0; place < 2; ++place) {
    EXPECT_GT(changed[place], 0) << place;
    EXPECT_GT(deleted[place], 0) << place;
    EXPECT_GT(added[place], 0) << place;
  }
  EXPECT_GE(release1.files.size(), 300u);
  EXPECT_GT(large, 0);
  EXPECT_GT(cyrillic, 0);
  EXPECT_GT(chinese, 0);
  EXPECT_EQ(archivesUsed.size(), kArchiveNames.size());

  // The release is in the client version file and in every archive's version entry.
  EXPECT_EQ(ReadFileText(PathOf("r2/config/velkar/version.sw")), "2");
  for (std::u16string_view archiveName : kArchiveNames) {
    std::u16string base = PathOf("r2/velkar").u16string() + u"/";
    for (char16_t unit : archiveName) base += unit == u'\\' ? u'/' : unit;
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Open(base, std::u16string(archiveName)), PackageResult::kOk);
    std::vector<uint8_t> version;
    EXPECT_EQ(archive.GetFileData(u"version.sw", false, &version), PackageResult::kOk);
    EXPECT_EQ(std::string(version.begin(), version.end()), "2");
  }
}

}  // namespace
}  // namespace publish_test
