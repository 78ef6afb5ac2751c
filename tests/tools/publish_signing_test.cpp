// publish's signed releases: the key file, the manifest written before the version, signing a
// tree again, and verify judging signatures, digests and expiry.

#include <ctime>
#include <functional>

#include "formats/release_manifest.h"
#include "formats/release_signature.h"
#include "publish_fixture.h"
#include "support/child_process.h"
#include "support/file_bytes.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;

namespace publish_test {
namespace {

class PublishSigning : public PublishFixture {
 protected:
  std::string Client(const std::string& name, const std::map<std::u16string, std::string>& files, int version) {
    MakeClient(PathOf(name + "/velkar"), files, std::to_string(version));
    return At(name + "/velkar");
  }
  // A new key; its public half as publish printed it.
  std::string Keygen(const std::string& file) {
    const ChildResult result = Publish({"keygen", At(file)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.size(), 65u) << result.out;
    return result.out.substr(0, 64);
  }
  ReleaseManifest ManifestOf(const std::string& server) {
    const std::optional<ReleaseManifest> manifest =
        ParseReleaseManifest(ReadFileText(PathOf(server + "/release.manifest")));
    EXPECT_TRUE(manifest) << "no readable manifest in " << server;
    return manifest.value_or(ReleaseManifest{});
  }
};

TEST_F(PublishSigning, KeygenWritesAPrivateKeyFileOnceAndPrintsTheKey) {
  const std::string key = Keygen("k.sec");
  EXPECT_TRUE(PublicKeyOfHex(key)) << key;
#ifndef _WIN32
  EXPECT_EQ(fs::status(PathOf("k.sec")).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
#endif
  const std::string before = ReadFileText(PathOf("k.sec"));
  const ChildResult again = Publish({"keygen", At("k.sec")});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(ReadFileText(PathOf("k.sec")), before) << "a key file was overwritten";
  EXPECT_NE(Keygen("other.sec"), key);
}

TEST_F(PublishSigning, SignedReleaseListsEveryResourceTheUpdaterReads) {
  const std::string key = Keygen("k.sec");
  PublishOk({"release", At("srv"), Client("c1", {{u"configs\\a.txt", "one"}}, 1), "1", "--sign", At("k.sec")});
  PublishOk({"release", At("srv"), Client("c2", {{u"configs\\a.txt", "two"}}, 2), "2", "--sign", At("k.sec"),
             "--package-from", "1", "--package-url-base", "http://127.0.0.1/patches", "--patcher-version", "3",
             "--expires-in", "10"});
  const ReleaseManifest manifest = ManifestOf("srv");
  EXPECT_EQ(manifest.release, 2);
  std::vector<std::string> names;
  for (const ManifestResource& resource : manifest.resources) names.push_back(resource.name);
  EXPECT_EQ(names, (std::vector<std::string>{"version", "fulllist", "list_1", "patches\\list",
                                             "http://127.0.0.1/patches/1-2.cup", "patcher_version_new"}));
  const std::string fulllist = ReadFileText(PathOf("srv/fulllist"));
  EXPECT_EQ(manifest.Find("fulllist")->digest, Sha256(fulllist.data(), fulllist.size()));
  EXPECT_EQ(manifest.Find("version")->digest, Sha256("2", 1));
  const int64_t days = (manifest.expires - static_cast<int64_t>(std::time(nullptr)) + 3600) / 86400;
  EXPECT_EQ(days, 10);
  const std::string text = ReadFileText(PathOf("srv/release.manifest"));
  EXPECT_TRUE(SignatureMatches(ReadFileText(PathOf("srv/release.manifest.sig")), text, *PublicKeyOfHex(key)));
  EXPECT_EQ(Publish({"verify", At("srv"), "--key", key}).exitCode, 0);
}

TEST_F(PublishSigning, VerifyFindsEveryBreakOfTheSignedTree) {
  const std::string key = Keygen("k.sec");
  const std::string otherKey = Keygen("other.sec");
  const std::string client = Client("c1", {{u"configs\\a.txt", "one"}}, 1);
  const struct {
    const char* name;
    std::function<void(const fs::path& server)> damage;
    const char* problem;
  } cases[] = {
      {"ListRewritten", [](const fs::path& s) { testsupport::WriteWholeFile(s / "fulllist", std::string("1234xx")); },
       "fulllist does not match release.manifest"},
      {"VersionRaised", [](const fs::path& s) { testsupport::WriteWholeFile(s / "version", std::string("2")); },
       "release.manifest is of release 1, the server announces 2"},
      {"SignatureFlipped",
       [](const fs::path& s) {
         std::string signature = ReadFileText(s / "release.manifest.sig");
         signature[0] = signature[0] == '0' ? '1' : '0';
         testsupport::WriteWholeFile(s / "release.manifest.sig", signature);
       },
       "is no signature of release.manifest by that key"},
      {"SignatureGone", [](const fs::path& s) { fs::remove(s / "release.manifest.sig"); }, "the tree is not signed"},
      {"ManifestGone", [](const fs::path& s) { fs::remove(s / "release.manifest"); }, "release.manifest is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(PathOf("srv"));
    PublishOk({"release", At("srv"), client, "1", "--sign", At("k.sec")});
    c.damage(PathOf("srv"));
    const ChildResult result = Publish({"verify", At("srv"), "--key", key});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(c.problem), std::string::npos) << result.err;
  }
  // Signed by another key; re-signing with the right one mends it, and a short life warns.
  fs::remove_all(PathOf("srv"));
  PublishOk({"release", At("srv"), client, "1", "--sign", At("other.sec")});
  EXPECT_EQ(Publish({"verify", At("srv"), "--key", key}).exitCode, 1);
  EXPECT_EQ(Publish({"verify", At("srv"), "--key", otherKey}).exitCode, 0);
  PublishOk({"sign", At("srv"), At("k.sec"), "--expires-in", "3"});
  const ChildResult resigned = Publish({"verify", At("srv"), "--key", key});
  EXPECT_EQ(resigned.exitCode, 0) << resigned.err;
  EXPECT_NE(resigned.err.find("warning: release.manifest expires on"), std::string::npos) << resigned.err;
}

TEST_F(PublishSigning, UnsignedTreesStillGetAManifestAndBadOptionsAreRefused) {
  PublishOk({"release", At("srv"), Client("c1", {{u"configs\\a.txt", "one"}}, 1), "1"});
  EXPECT_EQ(ManifestOf("srv").expires, 0) << "an unsigned manifest does not expire";
  EXPECT_FALSE(fs::exists(PathOf("srv/release.manifest.sig")));
  EXPECT_EQ(Publish({"verify", At("srv")}).exitCode, 0);
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int exitCode;
  } refused[] = {
      {"ExpiryWithoutKey", {"release", At("srv2"), At("c1/velkar"), "1", "--expires-in", "5"}, 2},
      {"ExpiryTooLong", {"sign", At("srv"), At("missing.sec"), "--expires-in", "400"}, 2},
      {"MissingKeyFile", {"release", At("srv2"), At("c1/velkar"), "1", "--sign", At("missing.sec")}, 1},
      {"NoKeyFile", {"sign", At("srv"), At("srv/fulllist")}, 1},
      {"BadPublicKey", {"verify", At("srv"), "--key", "abc"}, 2},
  };
  for (const auto& c : refused) {
    const ChildResult result = Publish(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.name << "\n" << result.err;
  }
  EXPECT_FALSE(fs::exists(PathOf("srv2"))) << "a refused release wrote a tree";
}

}  // namespace
}  // namespace publish_test
