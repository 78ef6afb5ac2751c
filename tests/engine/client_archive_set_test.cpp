// The archive side of the client archive set: opening or recreating the fifteen
// archives, saving them, and the local version.
#include <gtest/gtest.h>

#include "engine/engine_fixture.h"
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
  EXPECT_EQ(set_->clientFolder, normal(temp_ / "velkar"));
  EXPECT_EQ(set_->clientVersionPath, normal(temp_ / "config" / "velkar" / "version.sw"));
  EXPECT_EQ(set_->patcherVersionPath, normal(temp_ / "config" / "patcher" / "version.sw"));
  EXPECT_EQ(set_->tempFilePath, normal(temp_ / "config" / "patcher" / "tempfile.dat"));
  EXPECT_TRUE(set_->archives.empty());
}

TEST_F(ClientArchiveSetTest, EmptyClientFolderGetsAllFifteenArchives) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  EXPECT_EQ(set_->archives.size(), 15u);
  EXPECT_EQ(set_->itemsTotal, 15);
  EXPECT_EQ(set_->itemsDone, 15);
  EXPECT_TRUE(std::filesystem::exists(temp_ / "velkar" / "help" / "script.pck"));
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "0");
  EXPECT_NE(LogText().find("Can't open package: "), std::string::npos);
}

TEST_F(ClientArchiveSetTest, LocalVersionIsTheSmallestOfFileAndEntries) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  ASSERT_TRUE(set_->WriteLocalVersion(7));
  EXPECT_EQ(set_->ReadLocalVersion(), 7);
  ASSERT_TRUE(set_->SaveArchives());
  EXPECT_EQ(set_->ReadLocalVersion(), 7);
  set_->GetPackage(u"trees")->SetFileData(u"version.sw", "5\r\n", 3);
  EXPECT_EQ(set_->ReadLocalVersion(), 5);
  WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string("  3 and more"));
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
  std::filesystem::remove(temp_ / "config" / "velkar" / "version.sw");
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "0");
  set_->GetPackage(u"gfx")->SetFileData(u"version.sw", "", 0);
  WriteWholeFile(temp_ / "config" / "velkar" / "version.sw", std::string("9"));
  EXPECT_EQ(set_->ReadLocalVersion(), 0) << "an empty version entry";
}

TEST_F(ClientArchiveSetTest, WrittenVersionSurvivesSaveAndReopen) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  ASSERT_TRUE(set_->WriteLocalVersion(-1));
  // The file follows once the archives hold the version on disk.
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "velkar" / "version.sw"));
  EXPECT_EQ(set_->ReadLocalVersion(), -1);
  ASSERT_TRUE(set_->SaveArchives());
  EXPECT_EQ(set_->itemsDone, 15);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "-1");
  // A version stored but never saved reaches neither the file nor the archives.
  ASSERT_TRUE(set_->WriteLocalVersion(3));
  EXPECT_EQ(set_->ReadLocalVersion(), 3);
  EXPECT_EQ(AsText(ReadWholeFile(temp_ / "config" / "velkar" / "version.sw")), "-1");
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  EXPECT_EQ(set_->ReadLocalVersion(), -1);
  EXPECT_EQ(Archived(u"models", u"models\\version.sw"), "-1");
}

TEST_F(ClientArchiveSetTest, DestructionDropsUnsavedChangesAndTheTemporaryFile) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  ASSERT_TRUE(set_->SaveArchives());
  PutArchived(u"models", u"models\\a.ski", "unsaved");
  WriteWholeFile(temp_ / "config" / "patcher" / "tempfile.dat", std::string("package"));
  MakeSet(kNoServer, kNoPort);
  EXPECT_FALSE(std::filesystem::exists(temp_ / "config" / "patcher" / "tempfile.dat"));
  ASSERT_TRUE(set_->OpenArchives());
  EXPECT_EQ(Archived(u"models", u"models\\a.ski"), "<absent>");
}

TEST_F(ClientArchiveSetTest, DamagedArchiveIsRecreatedAndCountsAsVersionZero) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  ASSERT_TRUE(set_->WriteLocalVersion(4));
  ASSERT_TRUE(set_->SaveArchives());
  set_->archives.clear();
  WriteWholeFile(temp_ / "velkar" / "sfx.pck", std::string(40, 'x'));
  ASSERT_TRUE(set_->OpenArchives());
  EXPECT_NE(LogText().find("Can't open package: " + (temp_ / "velkar").lexically_normal().string()), std::string::npos);
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
}

TEST_F(ClientArchiveSetTest, LockedArchiveLeavesTheSetIncomplete) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  ASSERT_TRUE(set_->SaveArchives());
  set_->archives.clear();
  platform::File holder;
  ASSERT_EQ(holder.Open((temp_ / "velkar" / "gfx.pck").u16string(), platform::FileMode::kReadWrite), 0);
  EXPECT_FALSE(set_->OpenArchives());
  EXPECT_EQ(set_->archives.size(), 14u);
  EXPECT_EQ(set_->GetPackage(u"gfx"), nullptr);
  EXPECT_NE(set_->GetPackage(u"trees"), nullptr) << "archives after the locked one are opened";
  EXPECT_NE(LogText().find("Can't create package: "), std::string::npos);
  EXPECT_EQ(set_->ReadLocalVersion(), 0);
}

TEST_F(ClientArchiveSetTest, GetPackageComparesNamesExactly) {
  MakeSet(kNoServer, kNoPort);
  ASSERT_TRUE(set_->OpenArchives());
  EXPECT_NE(set_->GetPackage(u"configs"), nullptr);
  EXPECT_EQ(set_->GetPackage(u"Configs"), nullptr);
  EXPECT_EQ(set_->GetPackage(u"help\\script")->name(), u"help\\script");
}

}  // namespace
