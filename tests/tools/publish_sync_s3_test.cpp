// publish sync into a bucket of a private s3rver (with_s3rver.sh) through the real rclone: the
// bucket holds the tree's objects, byte for byte, chunks cached for good and all else no-cache.

#include <cstdlib>
#include <fstream>

#include "publish_fixture.h"

namespace publish_test {
namespace {

class PublishSyncS3 : public PublishFixture {
 protected:
  void SetUp() override {
    PublishFixture::SetUp();
    const char* port = std::getenv("SOLMERE_S3_PORT");
    const char* key = std::getenv("SOLMERE_S3_KEY");
    ASSERT_TRUE(port && key) << "no S3 server: run under tests/support/with_s3rver.sh";
    std::ofstream(PathOf("rclone.conf")) << "[s3]\ntype = s3\nprovider = Other\naccess_key_id = " << key
                                         << "\nsecret_access_key = " << key << "\nendpoint = http://127.0.0.1:" << port
                                         << "\n";
    // One server for every test of the program: a bucket of the test's own.
    bucket_ = "s3:" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    for (char& c : bucket_)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    Rclone({"mkdir", bucket_});
  }

  ChildResult Rclone(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--config", At("rclone.conf")});
    const ChildResult result = RunChild("/usr/bin/rclone", arguments, root_ / "scratch");
    EXPECT_TRUE(result.started) << "cannot start rclone";
    EXPECT_EQ(result.exitCode, 0) << arguments[0] << ": " << result.err;
    return result;
  }

  // Each object's Cache-Control as the server keeps it, from rclone's listing (one object a line).
  std::map<std::string, std::string> CacheControls() {
    const ChildResult listing = Rclone({"lsjson", "-R", "--files-only", "--metadata", bucket_ + "/tree"});
    std::map<std::string, std::string> headers;
    std::istringstream lines(listing.out);
    for (std::string line; std::getline(lines, line);) {
      const auto field = [&](const std::string& key) {
        const std::size_t start = line.find("\"" + key + "\":\"");
        if (start == std::string::npos) return std::string("(none)");
        const std::size_t from = start + key.size() + 4;
        return line.substr(from, line.find('"', from) - from);
      };
      if (line.find("\"Path\"") != std::string::npos) headers[field("Path")] = field("cache-control");
    }
    return headers;
  }

  std::string bucket_;
};

TEST_F(PublishSyncS3, TheBucketHoldsTheTreeWithItsCachingHeaders) {
  for (int version = 1; version <= 2; ++version) {
    ReleaseSample(version, 4);
    PublishOk({"sync", At("server"), bucket_ + "/tree", "--rclone-config", At("rclone.conf")});
    std::string back = std::to_string(version);
    back.insert(0, std::string("back"));
    // --fast-list: s3rver leaves nested folders out of a folder's listing.
    Rclone({"copy", "--fast-list", bucket_ + "/tree", At(back)});
    const std::map<std::string, std::string> tree = TreeFiles("server");
    EXPECT_EQ(TreeFiles(back), tree) << "release " << version;
    const std::map<std::string, std::string> headers = CacheControls();
    EXPECT_EQ(headers.size(), tree.size());
    std::size_t chunks = 0;
    for (const auto& [name, header] : headers) {
      const bool immutable = name.rfind("chunks/", 0) == 0;
      chunks += immutable;
      EXPECT_EQ(header, immutable ? "public, max-age=31536000, immutable" : "no-cache") << name;
    }
    EXPECT_GT(chunks, 0u) << "the sample made no chunks: the immutable header went untested";
  }
}

}  // namespace
}  // namespace publish_test
