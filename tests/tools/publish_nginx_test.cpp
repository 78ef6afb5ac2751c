// A published tree served by a stock nginx with tools/publish/nginx/solmere-update.conf:
// every resource reaches its bytes whether the request separates folders with "\" (as
// libcurl sends them) or "/" (as WinINet does). Natively the client sends both forms as
// written; under Wine WinINet turns every "\" into "/".

#include <chrono>

#include "net/update_server_client.h"
#include "publish_fixture.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/tcp_socket.h"

using testsupport::ReadFileText;

namespace publish_test {
namespace {

class PublishNginx : public PublishFixture {
 protected:
  void SetUp() override {
    PublishFixture::SetUp();
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    // One nginx serves every test of the program: each starts from an empty tree.
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(nginx_.root))) fs::remove_all(entry.path());
    client_ = std::make_unique<UpdateServerClient>(UpdateServerAddress{u"127.0.0.1", nginx_.port});
    ASSERT_TRUE(client_->Connect());
  }

  std::string Fetch(const std::u16string& path) {
    std::vector<uint8_t> buffer;
    const int32_t received = client_->FetchToBuffer(path, buffer).received;
    if (received < 0) return "(failed)";
    EXPECT_EQ(static_cast<std::size_t>(received), buffer.size());
    return std::string(buffer.begin(), buffer.end());
  }

  static std::u16string Slashes(std::u16string path) {
    for (char16_t& unit : path)
      if (unit == u'\\') unit = u'/';
    return path;
  }

  // The head of nginx's answer to a GET of `target`, sent as it stands; empty when none
  // came within 10 seconds.
  std::string ResponseHead(const std::string& target) const {
    testsupport::TcpSocket socket = testsupport::TcpSocket::Connect("127.0.0.1", nginx_.port);
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (!socket.isValid() || !socket.SendAll(request.data(), request.size())) return {};
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (!socket.WaitReadable(100)) continue;
      char buffer[4096];
      const int n = socket.Receive(buffer, static_cast<int>(sizeof buffer));
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t end = received.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : received.substr(0, end + 2);
  }

  testsupport::NginxServer nginx_;
  std::unique_ptr<UpdateServerClient> client_;
};

TEST_F(PublishNginx, EveryResourceReachesItsBytesWithEitherSeparator) {
  PublishOk({"sample", At("c1"), "1", "--files", "150", "--size-mb", "2"});
  PublishOk({"sample", At("c2"), "2", "--files", "150", "--size-mb", "2"});
  // Deeper than one rewrite pass turns, with spaces, "+" and Cyrillic on the way.
  std::u16string deep = u"data";
  for (int level = 0; level < 30; ++level) {
    deep += u'\\';
    deep += static_cast<char16_t>(u'a' + level % 26);
  }
  deep += u"\\\u0434\u043e\u043c \u0438 \u0441\u0430\u0434+1.txt";
  {
    const fs::path file = publish_test::Below(PathOf("c2/velkar"), deep);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << "deep file";
  }
  const std::string root = U8String(fs::path(nginx_.root));
  PublishOk({"release", root, At("c1/velkar"), "1", "--patcher-version", "1"});
  PublishOk(
      {"release", root, At("c2/velkar"), "2", "--package-from", "1", "--package-url-base", "http://127.0.0.1/patches"});
  PublishOk({"verify", root});

  EXPECT_EQ(Fetch(u"version"), "2");
  EXPECT_EQ(Fetch(u"patcher_version_new"), "1");
  EXPECT_EQ(Fetch(u"patches\\list"), "1 2 http://127.0.0.1/patches/1-2.cup\n");
  EXPECT_EQ(Fetch(u"/patches/1-2.cup"), ReadFileText(fs::path(nginx_.root) / "patches" / "1-2.cup"));
  const std::string fullList = Fetch(u"fulllist");
  EXPECT_EQ(fullList, ReadFileText(fs::path(nginx_.root) / "fulllist"));
  EXPECT_EQ(Fetch(u"list_1"), ReadFileText(fs::path(nginx_.root) / "list_1"));

  bool sawDeep = false;
  for (const Listed& entry : ParseList(fullList, 4)) {
    const std::u16string path = u"files\\" + entry.name;
    const std::string stored = Fetch(path);
    ASSERT_EQ(stored.size(), entry.storedSize) << platform::Utf8FromUtf16(path);
    EXPECT_EQ(Md5(Contents(stored, entry.size)), entry.digest) << platform::Utf8FromUtf16(path);
    EXPECT_TRUE(Fetch(Slashes(path)) == stored) << platform::Utf8FromUtf16(path);
    sawDeep = sawDeep || entry.name == deep;
  }
  EXPECT_TRUE(sawDeep);
  EXPECT_EQ(Fetch(u"files\\" + deep), "deep file");

  // Nothing outside the tree, and nothing publish keeps for itself.
  EXPECT_EQ(Fetch(u"files\\..\\..\\..\\..\\..\\..\\..\\..\\etc\\hostname"), "(failed)");
#ifndef _WIN32
  // Sent with backslashes, dot segments are refused even inside the tree; WinINet resolves
  // them itself, to "/version".
  EXPECT_EQ(Fetch(u"files\\data\\..\\..\\version"), "(failed)");
#endif
  EXPECT_EQ(Fetch(u"manifests\\1"), "(failed)");
  EXPECT_EQ(Fetch(u"manifests/2"), "(failed)");
}

// No cache or proxy may keep a copy of a resource without asking again: each changes at
// the same name from one release to the next. Missing resources included.
TEST_F(PublishNginx, EveryResourceIsAnsweredWithNoCache) {
  PublishOk({"sample", At("c1"), "1", "--files", "20", "--size-mb", "1"});
  PublishOk({"sample", At("c2"), "2", "--files", "20", "--size-mb", "1"});
  const std::string root = U8String(fs::path(nginx_.root));
  PublishOk({"release", root, At("c1/velkar"), "1", "--patcher-version", "1"});
  PublishOk({"release", root, At("c2/velkar"), "2", "--package-from", "1", "--package-url-base",
             "http://127.0.0.1/patches", "--patcher-version", "2"});
  std::vector<std::string> targets = {"/version",       "/patcher_version_new", "/fulllist",        "/list_1",
                                      "/patches\\list", "/patches/list",        "/patches/1-2.cup", "/no_such_file",
                                      "/manifests/2",   "/files\\..\\version"};
  const std::string fullList = ReadFileText(fs::path(nginx_.root) / "fulllist");
  const std::vector<Listed> entries = ParseList(fullList, 4);
  ASSERT_FALSE(entries.empty());
  std::string stored = "/files\\" + platform::Utf8FromUtf16(entries.front().name);
  targets.push_back(stored);
  for (char& c : stored)
    if (c == '\\') c = '/';
  targets.push_back(stored);
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    const std::string head = ResponseHead(target);
    ASSERT_FALSE(head.empty());
    const bool missing = target == "/no_such_file" || target.find("manifests") != std::string::npos ||
                         target.find("..") != std::string::npos;
    EXPECT_EQ(head.substr(0, 12), missing ? "HTTP/1.1 404" : "HTTP/1.1 200") << head;
    std::size_t lines = 0;
    for (std::size_t at = head.find("\r\nCache-Control: "); at != std::string::npos;
         at = head.find("\r\nCache-Control: ", at + 1))
      ++lines;
    EXPECT_EQ(lines, 1u) << head;
    EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << head;
  }
}

}  // namespace
}  // namespace publish_test
