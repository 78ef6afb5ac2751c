// Links inside the client root: nothing the updater writes, creates, renames or deletes is
// reached through one, and a client whose own files lie behind one is refused with the link
// named. Natively the links are POSIX symbolic links; under Wine, Linux links as Wine maps them.
#include <gtest/gtest.h>

#include "engine/engine_fixture.h"
#include "engine/server_tree.h"
#include "support/file_bytes.h"
#include "support/symbolic_link.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

// A path of the updater's, with either separator, as a path of the test's.
std::filesystem::path Slashed(std::u16string path) {
  for (char16_t& unit : path)
    if (unit == u'\\') unit = u'/';
  return std::filesystem::path(path).lexically_normal();
}

class ClientLinksTest : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    std::filesystem::create_directories(outside_.path() / "folder");
    WriteWholeFile(outside_ / "folder" / "victim.txt", std::string("outside"));
    WriteWholeFile(outside_ / "file.bin", std::string("outside"));
  }
  void Link(const std::filesystem::path& target, const std::filesystem::path& link) {
    std::filesystem::create_directories(link.parent_path());
    std::string why;
    ASSERT_TRUE(links_.Make(target, link, &why)) << why;
  }
  // Nothing outside the client changed.
  void ExpectOutsideUntouched() {
    EXPECT_EQ(AsText(ReadWholeFile(outside_ / "folder" / "victim.txt")), "outside");
    EXPECT_EQ(AsText(ReadWholeFile(outside_ / "file.bin")), "outside");
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(outside_.path() / "folder")) {
      (void)entry;
      ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a file was made outside the client";
  }

  testsupport::TempFolder outside_;
  // Before the folders in destruction order: links go first.
  testsupport::SymbolicLinks links_;
};

TEST_F(ClientLinksTest, AClientWhoseOwnFilesLieBehindALinkIsRefused) {
  const struct {
    const char* name;
    std::filesystem::path link;
    bool toFolder;
  } cases[] = {
      {"ClientFolder", "velkar", true},
      {"ArchiveFile", "velkar/models.pck", false},
      {"ContinuationFile", "velkar/models.pkx", false},
      {"ConfigFolder", "config", true},
      {"ClientVersion", "config/velkar/version.sw", false},
      {"ClientVersionPart", "config/velkar/version.sw.~part", false},
      {"Package", "config/patcher/tempfile.dat", false},
      {"StagingFolder", "config/patcher/staging", true},
      {"StagingFile", "config/patcher/staging/file.~part", false},
      {"Log", "patcher/log.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(temp_ / "velkar");
    std::filesystem::remove_all(temp_ / "config");
    {
      testsupport::SymbolicLinks links;
      std::filesystem::create_directories((temp_.path() / c.link).parent_path());
      std::string why;
      ASSERT_TRUE(links.Make(c.toFolder ? outside_ / "folder" : outside_ / "file.bin", temp_.path() / c.link, &why))
          << why;
      MakeSet(u"127.0.0.1", 1);
      const OpenResult opened = set_->OpenArchives(Context());
      EXPECT_FALSE(opened.allOpen());
      EXPECT_EQ(Slashed(opened.link), (temp_.path() / c.link).lexically_normal());
      EXPECT_EQ(set_->archives().Find(u"models"), nullptr) << "nothing is opened";
      EXPECT_NE(LogText().find(" is a link: the updater writes nothing through links"), std::string::npos);
      set_.reset();
      ExpectOutsideUntouched();
    }
  }
}

TEST_F(ClientLinksTest, PlainFilesAreNeitherWrittenNorDeletedThroughALink) {
  MakeSet(u"127.0.0.1", 1);
  ASSERT_TRUE(set_->OpenArchives(Context()).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(5).written());
  Link(outside_ / "folder", temp_ / "velkar" / "data");
  Link(outside_ / "file.bin", temp_ / "velkar" / "linked.bin");
  const struct {
    const char* name;
    testsupport::ListedFile record;
    std::filesystem::path link;
  } cases[] = {
      {"WriteBelowAFolderLink", {u"data\\new.txt", "new"}, temp_ / "velkar" / "data"},
      {"ReplaceAFileBelowAFolderLink", {u"data\\victim.txt", "replaced"}, temp_ / "velkar" / "data"},
      {"DeleteBelowAFolderLink", {u"data\\victim.txt", "", true, true}, temp_ / "velkar" / "data"},
      {"ReplaceAFileLink", {u"linked.bin", "replaced"}, temp_ / "velkar" / "linked.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(temp_ / "pkg.cup", testsupport::PackageBytes(5, 6, {c.record}));
    const ApplyResult applied = set_->ApplyPackage(Context(), temp_.U16("pkg.cup"));
    EXPECT_EQ(applied.outcome, ApplyResult::Outcome::kFileFailed);
    EXPECT_EQ(Slashed(applied.file), c.link.lexically_normal());
    EXPECT_EQ(set_->ReadLocalVersion(), 5) << "no version for a package not applied";
    ExpectOutsideUntouched();
  }
  EXPECT_NE(LogText().find("linked.bin is a link: the updater writes nothing through links"), std::string::npos);
}

}  // namespace
