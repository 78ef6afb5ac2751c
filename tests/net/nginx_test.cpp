// The client against a stock nginx (started by with_nginx.sh): which file a request
// name reaches, and keep-alive with an ordinary server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/progress_counters.h"
#include "net/update_server_client.h"
#include "platform/text.h"
#include "support/file_bytes.h"
#include "support/nginx_server.h"
#include "support/temp_folder.h"

using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(testsupport::NginxFromEnvironment(&nginx_, &why)) << why;
    client_ = std::make_unique<UpdateServerClient>(UpdateServerAddress{u"127.0.0.1", nginx_.port});
    ASSERT_TRUE(client_->Connect());
  }
  void TearDown() override {
    std::error_code ignored;
    for (const std::filesystem::path& made : made_) std::filesystem::remove_all(made, ignored);
  }

  // Puts a file under the document root; `name` uses "/" between folders.
  void Put(const std::u16string& name, const std::string& content) {
    const std::filesystem::path path = std::filesystem::path(nginx_.root) / std::filesystem::path(name);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    made_.push_back(std::filesystem::path(nginx_.root) / *std::filesystem::path(name).begin());
  }

  testsupport::NginxServer nginx_;
  std::unique_ptr<UpdateServerClient> client_;
  std::vector<std::filesystem::path> made_;
};

TEST_F(NginxTest, EscapedNamesReachTheirFiles) {
  const std::u16string names[] = {u"files/x y.txt", u"files/\u0434\u043E\u043C.txt", u"a-b_c.d/E9.txt",
                                  u"files/\u0434 (1)+%.txt"};
  for (const std::u16string& name : names) Put(name, "content of " + platform::Utf8FromUtf16(name));
  for (const std::u16string& name : names) {
    std::vector<uint8_t> buffer;
    const std::string expected = "content of " + platform::Utf8FromUtf16(name);
    EXPECT_EQ(client_->FetchToBuffer(name, buffer).received, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(buffer, Bytes(expected));
  }
}

// nginx on Linux takes "\" for an ordinary character of a file name. libcurl sends
// the backslashes of a name as they are, so they reach a file whose name holds them;
// WinINet sends slashes instead, so they reach the file in the folder.
TEST_F(NginxTest, BackslashesInNames) {
  Put(u"files/models/x.ski", "in a folder");
  Put(u"files/only_folder.txt", "only in a folder");
#ifndef _WIN32
  Put(u"files\\models\\x.ski", "named with backslashes");
#endif
  std::vector<uint8_t> buffer;
  const int32_t result = client_->FetchToBuffer(u"files\\models\\x.ski", buffer).received;
  const int32_t folderOnly = client_->FetchToBuffer(u"files\\only_folder.txt", buffer).received;
#ifdef _WIN32
  EXPECT_EQ(result, 11);
  EXPECT_EQ(folderOnly, 16);
#else
  EXPECT_EQ(result, 22);
  EXPECT_EQ(folderOnly, -1);
#endif
}

TEST_F(NginxTest, OneConnectionForManyRequestsAndAMissingFile) {
  Put(u"version", "42");
  const std::string list(100000, 'L');
  Put(u"list_1", list);
  const std::size_t before = testsupport::ReadAccessLog(nginx_).size();
  TempFolder folder;
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> buffer;
    EXPECT_EQ(client_->FetchToBuffer(u"version", buffer).received, 2);
    EXPECT_EQ(client_->FetchToBuffer(u"list_1", buffer).received, 100000);
    EXPECT_EQ(buffer, Bytes(list));
    platform::File file;
    ASSERT_EQ(file.Open(folder.U16("list.bin"), platform::FileMode::kCreate), 0);
    EXPECT_EQ(client_->FetchToFile(u"list_1", file).received, 100000);
  }
  const std::vector<testsupport::AccessLogLine> lines = testsupport::WaitForAccessLog(nginx_, before + 30);
  ASSERT_EQ(lines.size(), before + 30);
  // "<connection serial> <request number on it> ...": one connection, one request
  // after the other. (WinINet keeps connections in a pool of its own, so the first
  // request may continue a connection an earlier client of this process opened.)
  std::string connection;
  int first = 0;
  for (std::size_t i = before; i < lines.size(); ++i) {
    if (i == before) {
      connection = lines[i].connection;
      first = lines[i].requestOnConnection;
    }
    EXPECT_EQ(lines[i].connection, connection) << lines[i].line;
    EXPECT_EQ(lines[i].requestOnConnection, first + static_cast<int>(i - before)) << lines[i].line;
  }

  std::vector<uint8_t> buffer = Bytes("keep me");
  EXPECT_EQ(client_->FetchToBuffer(u"no_such_file", buffer).received, -1);
  EXPECT_EQ(buffer, Bytes("keep me"));
}

TEST_F(NginxTest, LargeFileStreamsToDisk) {
  std::string body(5 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);
  Put(u"patches/big.cup", body);
  TempFolder folder;
  platform::File file;
  ASSERT_EQ(file.Open(folder.U16("tempfile.dat"), platform::FileMode::kCreate), 0);
  ProgressCounters progress;
  EXPECT_EQ(client_->FetchToFile(u"patches/big.cup", file, {}, OperationContext(nullptr, progress)).received,
            static_cast<int32_t>(body.size()));
  file.Close();
  EXPECT_EQ(ReadWholeFile(folder / "tempfile.dat"), Bytes(body));
  EXPECT_EQ(progress.Read().readsTotal, 1280);
  EXPECT_EQ(progress.Read().readsDone, 1280);
}

}  // namespace
