// publish release on several threads: the tree, the report and the JSON are those of a
// run on one, and a file that cannot be read stops the release as it does on one.

#include <cstdlib>
#include <cstring>
#include <random>

#include "publish_fixture.h"

namespace publish_test {
namespace {

// The names under which two snapshots differ, for a readable failure.
std::string Differences(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
  std::string names;
  for (const auto& [name, bytes] : a) {
    const auto other = b.find(name);
    if (other == b.end())
      names += "  only in the first: " + name + "\n";
    else if (other->second != bytes)
      names += "  differs: " + name + "\n";
  }
  for (const auto& [name, bytes] : b)
    if (a.count(name) == 0) names += "  only in the second: " + name + "\n";
  return names;
}

// The number after "key": in a JSON object; -1 when there is none.
long long JsonNumber(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return -1;
  return std::atoll(json.c_str() + at + key.size() + 3);
}

// The stored form the updater expects: zlib at the default level when strictly shorter.
std::string StoredForm(const std::string& contents) {
  uLongf size = compressBound(static_cast<uLong>(contents.size()));
  std::string packed(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(contents.data()),
                      static_cast<uLong>(contents.size()), Z_DEFAULT_COMPRESSION),
            Z_OK);
  packed.resize(size);
  return packed.size() < contents.size() ? packed : contents;
}

// Text that compresses about threefold, the same for the same seed.
std::string Compressible(std::mt19937* random, std::size_t size) {
  static const char* const kWords[] = {"sword ", "shield ", "dragon ", "forest ", "castle ", "npc_", "0x3f ", "\n"};
  std::string text;
  while (text.size() < size) {
    text += kWords[(*random)() % 8];
    text += static_cast<char>('a' + (*random)() % 26);
  }
  text.resize(size);
  return text;
}

class PublishJobs : public PublishFixture {
 protected:
  struct Outcome {
    std::vector<ChildResult> steps;
    std::map<std::string, std::string> tree;
  };

  // Three releases into "srv", the second and third with packages, and a dry run of the
  // third before it; the tree is then moved aside so that the next run starts afresh at
  // the same path (the report names it).
  Outcome PublishThreeReleases(const std::string& jobs, const std::string& keptAs) {
    const std::string url = "http://127.0.0.1/patches";
    const std::vector<std::vector<std::string>> steps = {
        {"release", At("srv"), At("c1/velkar"), "1", "--patcher-version", "7", "--jobs", jobs},
        {"release", At("srv"), At("c2/velkar"), "2", "--package-from", "1", "--package-url-base", url, "--json",
         "--jobs", jobs},
        {"release", At("srv"), At("c3/velkar"), "3", "--dry-run", "--package-from", "1", "--package-from", "2",
         "--package-url-base", url, "--jobs", jobs},
        {"release", At("srv"), At("c3/velkar"), "3", "--package-from", "1", "--package-from", "2", "--package-url-base",
         url, "--json", "--jobs=" + jobs},
    };
    Outcome outcome;
    for (const std::vector<std::string>& step : steps) {
      outcome.steps.push_back(Publish(step));
      EXPECT_EQ(outcome.steps.back().exitCode, 0) << step[3] << " --jobs " << jobs << "\n" << outcome.steps.back().err;
    }
    outcome.tree = Snapshot(PathOf("srv"));
    fs::rename(PathOf("srv"), PathOf(keptAs));
    return outcome;
  }
};

TEST_F(PublishJobs, FourJobsWriteAndReportWhatOneDoes) {
  for (const char* version : {"1", "2", "3"})
    PublishOk({"sample", At(std::string("c") + version), version, "--files", "300", "--size-mb", "8"});
  const Outcome one = PublishThreeReleases("1", "srv-one");
  const Outcome four = PublishThreeReleases("4", "srv-four");

  // The runs did what is compared: files changed, added and deleted, stored files kept
  // from the release before, packages built.
  const std::string& dryRun = one.steps[2].out;
  for (const char* mark : {"\n  + ", "\n  ~ ", "\n  - "}) EXPECT_NE(dryRun.find(mark), std::string::npos) << dryRun;
  const std::string& third = one.steps[3].out;
  EXPECT_LT(JsonNumber(third, "storedFilesWritten"), JsonNumber(third, "files")) << third;
  EXPECT_GT(JsonNumber(third, "storedFilesWritten"), 0) << third;
  for (const char* file : {"patches/1-3.cup", "patches/2-3.cup", "manifests/3", "version"})
    EXPECT_EQ(one.tree.count(file), 1u) << file;

  ASSERT_EQ(four.steps.size(), one.steps.size());
  for (std::size_t i = 0; i < one.steps.size(); ++i) {
    EXPECT_EQ(four.steps[i].out, one.steps[i].out) << "step " << i;
    EXPECT_EQ(four.steps[i].err, one.steps[i].err) << "step " << i;
  }
  EXPECT_TRUE(four.tree == one.tree) << Differences(one.tree, four.tree);
}

// Two entries that cannot be read: a large one whose zlib stream breaks off half-way, and
// right after it, in the next archive, a small one that fails at once. On several threads
// the small one fails first; the large one, first in the list, is still the one reported.
TEST_F(PublishJobs, AnUnreadableFileStopsTheReleaseAsOnOneJob) {
  std::mt19937 random(11);
  std::map<std::u16string, std::string> files;
  for (int i = 0; i < 200; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%03d", i);
    const std::u16string suffix(name, name + std::strlen(name));
    files[u"configs\\" + suffix + u".txt"] = Compressible(&random, 2000 + random() % 20000);
    if (i < 100) files[u"facedata\\" + suffix + u".fd"] = Compressible(&random, 2000 + random() % 20000);
    if (i < 50) files[u"data\\" + suffix + u".bin"] = Compressible(&random, 100 + random() % 5000);
  }
  MakeClient(PathOf("client"), files);
  const std::string large = Compressible(&random, 8 << 20);
  const std::string packed = StoredForm(large);
  ASSERT_LT(packed.size(), large.size());
  const std::pair<const char*, std::u16string> damaged[] = {{"configs", u"configs\\zz-large.bin"},
                                                            {"facedata", u"facedata\\a-bad.fd"}};
  for (const auto& [archiveName, name] : damaged) {
    TavrinFilePackage archive;
    const std::u16string archiveWide(archiveName, archiveName + std::strlen(archiveName));
    ASSERT_EQ(archive.Open(PathOf(std::string("client/") + archiveName).u16string(), archiveWide), PackageResult::kOk);
    const std::string stored =
        name == u"configs\\zz-large.bin" ? packed.substr(0, packed.size() / 2) : std::string(40, '\x5a');
    const uint32_t size = name == u"configs\\zz-large.bin" ? static_cast<uint32_t>(large.size()) : 1000;
    ASSERT_EQ(archive.SetFileCompressedData(name, stored.data(), static_cast<uint32_t>(stored.size()), size),
              PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    archive.clearIndexChanged();
  }

  std::vector<ChildResult> results;
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    const std::string server = std::string("srv") + jobs;
    results.push_back(Publish({"release", At(server), At("client"), "1", "--jobs", jobs}));
    const ChildResult& result = results.back();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("publish: cannot read configs\\zz-large.bin: decompression failed\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("a-bad"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("release 1 not published"), std::string::npos) << result.err;

    // Every stored file in the tree is whole and under its own name; every file before the
    // failing one is there; nothing of the two unreadable ones, no version.
    std::size_t stored = 0;
    for (const auto& [relative, bytes] : Snapshot(PathOf(server))) {
      EXPECT_EQ(relative.find(".publish-tmp"), std::string::npos) << relative;
      if (relative.rfind("files/", 0) != 0 || bytes == "/") continue;
      std::u16string name;
      for (char c : relative.substr(6)) name += c == '/' ? u'\\' : static_cast<char16_t>(c);
      const auto file = files.find(name);
      ASSERT_NE(file, files.end()) << relative;
      EXPECT_TRUE(bytes == StoredForm(file->second)) << relative << " is not the whole stored form";
      ++stored;
    }
    for (const auto& [name, contents] : files)
      if (name.rfind(u"configs\\", 0) == 0) {
        EXPECT_EQ(Resource(server, u"files\\" + name), StoredForm(contents)) << platform::Utf8FromUtf16(name);
      }
    if (std::string(jobs) == "1") {
      EXPECT_EQ(stored, 200u) << "one job stops at the unreadable file";
    }
    EXPECT_FALSE(fs::exists(PathOf(server + "/version")));
  }
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].err, results[0].err);
  EXPECT_EQ(results[1].out, results[0].out);
}

}  // namespace
}  // namespace publish_test
