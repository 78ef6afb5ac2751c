// The archive side of the client archive set: opening or recreating the fifteen
// archives, saving them, and the local version.
#include <gtest/gtest.h>

#include "engine/engine_fixture.h"
#include "engine/server_tree.h"
#include "platform/file.h"
#include "support/file_bytes.h"

using testsupport::AsText;
using testsupport::ReadWholeFile;
using testsupport::WriteWholeFile;

namespace {

// Nothing listens there; these tests make no request.
constexpr char16_t kNoServer[] = u"127.0.0.1";
constexpr uint16_t kNoPort = 9;

using ClientArchiveSetTest = ClientFixture;

TEST_F(ClientArchiveSetTest, BuildsItsPathsBesideTheProgramFolder) {
  MakeSet(kNoServer, kNoPort);
  const auto normal = [](const std::filesystem::path& p) { return p.lexically_normal().u16string(); };
  EXPECT_EQ(set_->layout().clientFolder(), normal(temp_ / "velkar"));
  EXPECT_EQ(set_->layout().clientVersionFile(), normal(temp_ / "config" / "velkar" / "version.sw"));
  EXPECT_EQ(set_->layout().patcherVersionFile(), normal(temp_ / "config" / "patcher" / "version.sw"));
  EXPECT_EQ(set_->layout().packageFile(), normal(temp_ / "config" / "patcher" / "tempfile.dat"));
  // Client paths go below the client folder with the platform's separator throughout, as the
  // log and messages show them.
  EXPECT_EQ(set_->layout().ArchiveBasePath(u"help\\script"), normal(temp_ / "velkar" / "help" / "script"));
  EXPECT_EQ(set_->layout().PlainFilePath(u"data\\sub/a.txt"), normal(temp_ / "velkar" / "data" / "sub" / "a.txt"));
  EXPECT_EQ(set_->archives().Find(u"models"), nullptr) << "nothing is opened before OpenArchives";
}

TEST_F(ClientArchiveSetTest, EmptyClientFolderGetsAllFifteenArchives) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives(Context()).allOpen());
  EXPECT_TRUE(set_->archives().allOpen());
  EXPECT_EQ(progress_.Read().itemsTotal, 15);
  EXPECT_EQ(progress_.Read().itemsDone, 15);
  EXPECT_TRUE(std::filesystem::exists(temp_ / "velkar" / "help" / "script.pck"));
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "0");
  EXPECT_NE(LogText().find("Can't open package: "), std::string::npos);
}

TEST_F(ClientArchiveSetTest, LocalVersionIsTheSmallestOfFileAndEntries) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(7).written());
  EXPECT_EQ(set_->ReadLocalVersion(), 7);
  ASSERT_TRUE(set_->SaveArchives({}).written());
  EXPECT_EQ(set_->ReadLocalVersion(), 7);
  set_->archives().Find(u"trees")->SetFileData(u"version.sw", "5\r\n", 3);
  EXPECT_EQ(set_->ReadLocalVersion(), 5);
  WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string("  3 and more"));
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
  std::filesystem::remove(temp_ / "config" / "velkar" / "version.sw");
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "0");
  set_->archives().Find(u"gfx")->SetFileData(u"version.sw", "", 0);
  WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string("9"));
  EXPECT_EQ(set_->ReadLocalVersion(), 0) << "an empty version entry";
}

// A stored version no release can have counts as missing, so the full list repairs the client.
TEST_F(ClientArchiveSetTest, VersionsOutsideTheBoundCountAsMissing) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(7).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  for (const char* stored : {"-5", "100000001", "2147483647"}) {
    WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string(stored));
    EXPECT_EQ(set_->ReadLocalVersion(), 0) << stored;
  }
  WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string("7"));
  EXPECT_EQ(set_->ReadLocalVersion(), 7);
  set_->archives().Find(u"sfx")->SetFileData(u"version.sw", "-5", 2);
  EXPECT_EQ(set_->ReadLocalVersion(), 0) << "an archive's entry";
}

TEST_F(ClientArchiveSetTest, WrittenVersionSurvivesSaveAndReopen) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(11).written());
  // The file follows once the archives hold the version on disk.
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "velkar" / "version.sw"));
  EXPECT_EQ(set_->ReadLocalVersion(), 11);
  ASSERT_TRUE(set_->SaveArchives(Context()).written());
  EXPECT_EQ(progress_.Read().itemsDone, 15);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "11");
  // A version stored but never saved reaches neither the file nor the archives.
  ASSERT_TRUE(set_->WriteLocalVersion(3).written());
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "11");
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_EQ(set_->ReadLocalVersion(), 11);
  EXPECT_EQ(Archived(u"models", u"models\\version.sw"), "11");
}

TEST_F(ClientArchiveSetTest, DestructionDropsUnsavedChangesAndKeepsAPackageItDidNotDownload) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  PutArchived(u"models", u"models\\a.ski", "unsaved");
  // A package the user put where downloads go, and applied by hand: it is the user's.
  const std::vector<uint8_t> package = testsupport::PackageBytes(0, 5, {{u"x.txt", "x"}});
  WriteWholeFile(temp_ / "config" / "patcher" / "tempfile.dat", package);
  EXPECT_EQ(set_->ApplyPackage({}, set_->layout().packageFile()).outcome, ApplyResult::Outcome::kApplied);
  MakeSet(kNoServer, kNoPort);
  EXPECT_EQ(ReadWholeFile(temp_ / "config" / "patcher" / "tempfile.dat"), package) << "neither deleted nor changed";
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_EQ(Archived(u"models", u"models\\a.ski"), "<absent>");
}

TEST_F(ClientArchiveSetTest, DamagedArchiveIsRecreatedAndCountsAsVersionZero) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->WriteLocalVersion(4).written());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  set_->CloseArchives();
  WriteWholeFile(temp_ / "velkar" / "sfx.pck", std::string(40, 'x'));
  WriteWholeFile(temp_ / "velkar" / "help" / "script.pck", std::string(40, 'x'));
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  for (const std::filesystem::path& damaged : {temp_ / "velkar" / "sfx", temp_ / "velkar" / "help" / "script"})
    EXPECT_NE(LogText().find("ERROR: Can't open package: " + damaged.lexically_normal().string() + "\r\n"),
              std::string::npos)
        << LogText();
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
}

TEST_F(ClientArchiveSetTest, LockedArchiveLeavesTheSetIncomplete) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  ASSERT_TRUE(set_->SaveArchives({}).written());
  set_->CloseArchives();
  platform::File holder;
  ASSERT_EQ(holder.Open((temp_ / "velkar" / "gfx.pck").u16string(), platform::FileMode::kReadWrite), 0);
  const OpenResult opened = set_->OpenArchives({});
  EXPECT_FALSE(opened.allOpen());
  ASSERT_EQ(opened.failed.size(), 1u);
  EXPECT_EQ(opened.failed[0].name, u"gfx");
  EXPECT_EQ(opened.failed[0].opened, PackageResult::kCannotOpen);
  EXPECT_EQ(opened.failed[0].created, PackageResult::kCannotCreate);
  EXPECT_NE(opened.failed[0].fileError, 0) << "the cause is the system's";
  EXPECT_EQ(set_->archives().Find(u"gfx"), nullptr);
  EXPECT_NE(set_->archives().Find(u"trees"), nullptr) << "archives after the locked one are opened";
  EXPECT_NE(LogText().find("Can't create package: "), std::string::npos);
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
}

TEST_F(ClientArchiveSetTest, GetPackageComparesNamesExactly) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives({}).allOpen());
  EXPECT_NE(set_->archives().Find(u"configs"), nullptr);
  EXPECT_EQ(set_->archives().Find(u"Configs"), nullptr);
  EXPECT_EQ(set_->archives().Find(u"help\\script")->name(), u"help\\script");
}

}  // namespace
