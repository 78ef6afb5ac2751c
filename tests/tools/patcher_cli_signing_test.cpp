// Signed releases as patcher-cli meets them: with the operator's key, a release updates only
// when its manifest is signed by that key, unexpired and not older than one verified before,
// and every list and package matches it; anything else is refused before the client changes.

#include <chrono>
#include <functional>
#include <map>

#include "formats/release_manifest.h"
#include "formats/release_signature.h"
#include "support/file_bytes.h"
#include "tools/patcher_cli_fixture.h"

namespace patcher_cli_test {
namespace {

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class PatcherCliSigning : public PatcherCliTest {
 protected:
  void SetUp() override {
    PatcherCliTest::SetUp();
    key_ = *NewKeyPair();
    otherKey_ = *NewKeyPair();
  }
  static std::string Hex(const PublicKey& key) { return HexText(key.data(), key.size()); }
  // Release `release` for a client at 5: one changed model in list_N, signed as asked.
  void PublishRelease(int32_t release, const std::string& model, const KeyPair* signer, int64_t expires) {
    tree_->PutText(u"version", std::to_string(release));
    const std::string list = "list_" + std::to_string(release - 5);
    tree_->PutChangeList(release - 5, {{u"models\\a.ski", model}});
    tree_->PutReleaseManifest(release, expires,
                              {{"version", u"version"}, {list, std::u16string(list.begin(), list.end())}},
                              signer != nullptr ? &signer->secretKey : nullptr);
  }
  // Each case from the start: a client at 5 that never verified a release, the signed release 6.
  void StartOver() {
    tree_->Clear();
    std::filesystem::remove(temp_ / "config" / "patcher" / "release.sw");
    PrepareClient(5, {{u"models\\a.ski", "old model"}});
    PublishRelease(6, genuine_, &key_, Now() + 86400);
  }
  ChildResult RunWithKey(std::vector<std::string> keys = {}) {
    if (keys.empty()) keys.push_back(Hex(key_.publicKey));
    std::vector<std::string> arguments = {"--server", Server(), "--yes"};
    for (const std::string& key : keys) arguments.insert(arguments.end(), {"--release-key", key});
    return Run(arguments);
  }
  // Every file of the client (its archives, plain files and version file) with its bytes; the
  // updater's own state in config/patcher (its lock, the release it verified) aside.
  std::map<std::string, std::string> ClientBytes() const {
    std::map<std::string, std::string> files;
    for (const char* folder : {"velkar", "config/velkar"}) {
      if (!std::filesystem::exists(temp_ / folder)) continue;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(temp_ / folder))
        if (entry.is_regular_file())
          files[entry.path().lexically_relative(temp_).generic_string()] = ReadFileText(entry.path());
    }
    return files;
  }
  void ExpectClientUntouched(const ChildResult& run, const std::map<std::string, std::string>& before) {
    const std::map<std::string, std::string> after = ClientBytes();
    for (const auto& [name, bytes] : after) {
      const auto found = before.find(name);
      EXPECT_TRUE(found != before.end() && found->second == bytes) << name << " changed or came\n" << run.out;
    }
    for (const auto& [name, bytes] : before) EXPECT_EQ(after.count(name), 1u) << name << " went";
    EXPECT_EQ(VersionOnDisk(), 5) << run.out << run.err;
    EXPECT_EQ(Archived(u"models\\a.ski"), "old model");
  }

  KeyPair key_;
  KeyPair otherKey_;
  const std::string genuine_ = std::string(2000, 'g');
};

TEST_F(PatcherCliSigning, SignedReleasesUpdateAndKeysRotate) {
  PrepareClient(5, {{u"models\\a.ski", "old model"}});
  PublishRelease(6, genuine_, &key_, Now() + 86400);
  const ChildResult run = RunWithKey();
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(VersionOnDisk(), 6);
  EXPECT_EQ(Archived(u"models\\a.ski"), genuine_);
  EXPECT_NE(ProgramLog().find("INFO: Release 6 verified by its signed manifest"), std::string::npos);
  EXPECT_EQ(ReadFileText(temp_ / "config" / "patcher" / "release.sw"), "6");

  // The operator rotates: release 7 signed by the new key, the updater knowing both.
  tree_->PutText(u"version", "7");
  tree_->PutChangeList(1, {{u"models\\a.ski", genuine_ + "7"}});
  tree_->PutReleaseManifest(7, Now() + 86400, {{"version", u"version"}, {"list_1", u"list_1"}}, &otherKey_.secretKey);
  const ChildResult rotated = RunWithKey({Hex(key_.publicKey), Hex(otherKey_.publicKey)});
  EXPECT_EQ(rotated.exitCode, 0) << rotated.out << rotated.err;
  EXPECT_EQ(VersionOnDisk(), 7);

  // Without a key a server of the original format (no manifest at all) updates as ever.
  std::filesystem::remove(std::filesystem::path(nginx_.root) / "release.manifest");
  std::filesystem::remove(std::filesystem::path(nginx_.root) / "release.manifest.sig");
  tree_->PutText(u"version", "8");
  tree_->PutChangeList(1, {{u"models\\a.ski", "eight"}});
  const ChildResult plain = Run({"--server", Server(), "--yes"});
  EXPECT_EQ(plain.exitCode, 0) << plain.out << plain.err;
  EXPECT_EQ(Archived(u"models\\a.ski"), "eight");
}

TEST_F(PatcherCliSigning, TamperedReleasesAreRefusedBeforeTheClientChanges) {
  const struct {
    const char* name;
    std::function<void()> tamper;
    const char* said;
  } cases[] = {
      {"FileRewrittenWithItsListRecomputed",
       [&] {
         tree_->PutChangeList(1, {{u"models\\a.ski", "evil model"}});
       },
       "не прошёл проверку подписи"},
      {"VersionRaisedOverAnOldList",
       [&] {
         tree_->PutText(u"version", "7");
         tree_->PutChangeList(2, {{u"models\\a.ski", "evil model"}});
       },
       "проверку подписи"},
      {"SignedByAnotherKey",
       [&] {
         tree_->PutReleaseManifest(6, Now() + 86400, {{"version", u"version"}, {"list_1", u"list_1"}},
                                   &otherKey_.secretKey);
       },
       "не ключом владельца"},
      {"SignatureFlipped",
       [&] {
         std::string signature = ReadFileText(std::filesystem::path(nginx_.root) / "release.manifest.sig");
         signature[5] = signature[5] == 'a' ? 'b' : 'a';
         tree_->PutText(u"release.manifest.sig", signature);
       },
       "не ключом владельца"},
      {"SignatureTruncated",
       [&] {
         const std::string signature = ReadFileText(std::filesystem::path(nginx_.root) / "release.manifest.sig");
         tree_->PutText(u"release.manifest.sig", signature.substr(0, 100));
       },
       "не ключом владельца"},
      {"Expired",
       [&] {
         tree_->PutReleaseManifest(6, Now() - 60, {{"version", u"version"}, {"list_1", u"list_1"}}, &key_.secretKey);
       },
       "срок подписи"},
      {"OlderThanOneVerifiedBefore",
       [&] {
         // Release 9 verified first (the client was at 9 then), and the server goes back to 6.
         PrepareClient(9, {{u"models\\a.ski", "old model"}});
         tree_->PutText(u"version", "9");
         tree_->PutReleaseManifest(9, Now() + 86400, {{"version", u"version"}}, &key_.secretKey);
         const ChildResult first = RunWithKey();
         EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
         EXPECT_EQ(ReadFileText(temp_ / "config" / "patcher" / "release.sw"), "9");
         PrepareClient(5, {{u"models\\a.ski", "old model"}});
         PublishRelease(6, genuine_, &key_, Now() + 86400);
       },
       "старше уже проверенного"},
      {"Unsigned", [&] { std::filesystem::remove(std::filesystem::path(nginx_.root) / "release.manifest.sig"); },
       "нет подписанного описания"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartOver();
    c.tamper();
    const std::map<std::string, std::string> before = ClientBytes();
    const ChildResult run = RunWithKey();
    EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
    ExpectClientUntouched(run, before);
  }
}

// A package rebuilt with right inner digests is not the one the manifest names: it is never
// applied, and the verified file route brings the genuine release.
TEST_F(PatcherCliSigning, ARebuiltPackageIsNeverApplied) {
  PrepareClient(5, {{u"models\\a.ski", "old model"}});
  PublishRelease(6, genuine_, &key_, Now() + 86400);
  const std::string url = "http://127.0.0.1:" + std::to_string(nginx_.port) + "/packs/5-6.cup";
  tree_->Put(u"packs\\5-6.cup", testsupport::PackageBytes(5, 6, {{u"models\\a.ski", genuine_}}));
  tree_->PutText(u"patches\\list", "5 6 " + url + "\n");
  tree_->PutReleaseManifest(
      6, Now() + 86400,
      {{"version", u"version"}, {"list_1", u"list_1"}, {"patches\\list", u"patches\\list"}, {url, u"packs\\5-6.cup"}},
      &key_.secretKey);
  tree_->Put(u"packs\\5-6.cup", testsupport::PackageBytes(5, 6, {{u"models\\a.ski", "evil model"}}));
  const ChildResult run = RunWithKey();
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(VersionOnDisk(), 6);
  EXPECT_EQ(Archived(u"models\\a.ski"), genuine_);
  EXPECT_NE(ProgramLog().find("5-6.cup: the resource does not match the signed release manifest"), std::string::npos)
      << ProgramLog();
}

// A package picked from disk: taken when the server's signed manifest names it, refused when it
// does not, and taken unchecked only when asked to (--yes) when no signed manifest can be had.
TEST_F(PatcherCliSigning, APackageFromDiskIsCheckedAgainstTheSignedRelease) {
  const std::filesystem::path package = temp_ / "pkg.cup";
  const std::vector<uint8_t> genuine = testsupport::PackageBytes(5, 6, {{u"models\\a.ski", genuine_}});
  const struct {
    const char* name;
    bool named;
    bool serverUp;
    bool yes;
    int exitCode;
  } cases[] = {
      {"NamedBySignedRelease", true, true, false, 0},
      {"NamedByNone", false, true, true, 1},
      {"NoManifestNotAsked", true, false, false, 1},
      {"NoManifestTakenWithYes", true, false, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartOver();
    tree_->Put(u"packs\\5-6.cup", c.named ? genuine : testsupport::PackageBytes(5, 6, {{u"models\\a.ski", "other"}}));
    tree_->PutReleaseManifest(6, Now() + 86400,
                              {{"version", u"version"}, {"list_1", u"list_1"}, {"http://x/5-6.cup", u"packs\\5-6.cup"}},
                              &key_.secretKey);
    testsupport::WriteWholeFile(package, genuine);
    std::vector<std::string> arguments = {"apply",         package.string(),
                                          "--server",      c.serverUp ? Server() : "127.0.0.1:1",
                                          "--release-key", Hex(key_.publicKey)};
    if (c.yes) arguments.push_back("--yes");
    const ChildResult run = Run(arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_EQ(VersionOnDisk(), c.exitCode == 0 ? 6 : 5);
    EXPECT_EQ(Archived(u"models\\a.ski"), c.exitCode == 0 ? genuine_ : "old model");
  }
}

}  // namespace
}  // namespace patcher_cli_test
