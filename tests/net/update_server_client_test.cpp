#include "net/update_server_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/progress_counters.h"
#include "net/scripted_bodies.h"
#include "platform/text.h"
#include "support/file_bytes.h"
#include "support/gate.h"
#include "support/scripted_http_server.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#include <sys/resource.h>

#define SOLMERE_CAN_LIMIT_MEMORY 1
#endif

using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

using testsupport::ScriptedHttpServer;
using testsupport::ScriptedResponse;

class UpdateServerClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.listening()); }

  ScriptedHttpServer server_;
  ProgressCounters progress_;
  const OperationContext context_{nullptr, progress_};
  UpdateServerClient client_{UpdateServerAddress{u"127.0.0.1", server_.port()}};
};

TEST_F(UpdateServerClientTest, BuiltInServerHasAName) {
  const UpdateServerAddress server = BuiltInUpdateServer();
  EXPECT_FALSE(server.host.empty());
  EXPECT_NE(server.port, 0);
}

TEST_F(UpdateServerClientTest, RequestLineCarriesTheEscapedNameAndTheUserAgent) {
  struct Case {
    std::u16string path;
    std::string requestLine;
  };
  const Case cases[] = {
      {u"version", "GET /version HTTP/1.1"},
      {u"files\\models\\x y.ski", "GET /files\\models\\x%20y.ski HTTP/1.1"},
      {u"files\\\u0434\u043E\u043C.txt", "GET /files\\%D0%B4%D0%BE%D0%BC.txt HTTP/1.1"},
      {u"patches/a-b_c.d", "GET /patches/a-b_c.d HTTP/1.1"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buffer;
    client_.FetchToBuffer(c.path, buffer, context_);
  }
  const std::vector<std::string> lines = server_.requestLines();
  ASSERT_EQ(lines.size(), std::size(cases));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string expected = cases[i].requestLine;
#ifdef _WIN32
    // WinINet canonicalizes the object name it is given: every backslash goes out as
    // a slash (so Wine's WinINet does). libcurl sends the name as it is.
    std::replace(expected.begin(), expected.end(), '\\', '/');
#endif
    EXPECT_EQ(lines[i], expected);
  }
  for (const std::string& head : server_.requestHeads()) {
    EXPECT_NE(head.find("\r\nUser-Agent: Solmere Classic client updater\r\n"), std::string::npos) << head;
  }
}

TEST_F(UpdateServerClientTest, BodyArrivesWholeInReadsOfAtMost4096Bytes) {
  const std::string body = Pattern(10000);
  ScriptedResponse response = Ok(body);
  // Holding back the last 808 bytes until the test lets them go leaves the third read
  // waiting for them: by then exactly two full reads must have been counted.
  response.pauseAfter = 9192;
  response.gate = std::make_shared<testsupport::Gate>();
  server_.Serve("/list_1", response);

  std::vector<uint8_t> buffer;
  int32_t result = 0;
  std::thread fetch([&] { result = client_.FetchToBuffer(u"list_1", buffer, context_).received; });
  const bool twoReads = testsupport::WaitUntil([&] { return progress_.Read().bytesReceived >= 8192; });
  // Nothing more may be counted while the rest is held back.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const uint64_t bytesWhilePaused = progress_.Read().bytesReceived;
  const int32_t readsWhilePaused = progress_.Read().readsDone;
  const int32_t totalWhilePaused = progress_.Read().readsTotal;
  response.gate->Open();
  fetch.join();
  ASSERT_TRUE(twoReads) << "the first 8192 bytes were not counted within 10 s";

  EXPECT_EQ(bytesWhilePaused, 8192u);
  EXPECT_EQ(readsWhilePaused, 2);
  EXPECT_EQ(totalWhilePaused, 2);
  EXPECT_EQ(result, 10000);
  EXPECT_EQ(buffer, Bytes(body));
  EXPECT_EQ(progress_.Read().bytesReceived, 10000u);
  // Three reads were made; the count is set back to the expected total at the end.
  EXPECT_EQ(progress_.Read().readsDone, 2);
  EXPECT_EQ(progress_.Read().readsTotal, 2);
}

TEST_F(UpdateServerClientTest, ExpectedReadCountRoundsToNearest) {
  struct Case {
    std::size_t size;
    int32_t chunksTotal;
  };
  const Case cases[] = {{1, 1}, {4096, 1}, {4097, 1}, {6143, 1}, {6144, 2}, {10000, 2}, {10240, 3}, {40960, 10}};
  for (const Case& c : cases) {
    server_.Serve("/r", Ok(Pattern(c.size)));
    std::vector<uint8_t> buffer;
    EXPECT_EQ(client_.FetchToBuffer(u"r", buffer, context_).received, static_cast<int32_t>(c.size));
    EXPECT_EQ(progress_.Read().readsTotal, c.chunksTotal) << c.size;
    EXPECT_EQ(progress_.Read().readsDone, c.chunksTotal) << c.size;
  }
}

TEST_F(UpdateServerClientTest, EmptyResourceGivesAnEmptyBuffer) {
  server_.Serve("/version", Ok(""));
  std::vector<uint8_t> buffer = Bytes("stale");
  EXPECT_EQ(client_.FetchToBuffer(u"version", buffer, context_).received, 0);
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(progress_.Read().readsTotal, 1);
  EXPECT_EQ(progress_.Read().readsDone, 1);
}

TEST_F(UpdateServerClientTest, RefusedResponsesLeaveBufferAndFileUntouched) {
  ScriptedResponse notFound = Ok("missing");
  notFound.status = 404;
  ScriptedResponse serverError = Ok("broken");
  serverError.status = 500;
  ScriptedResponse created = Ok("created");
  created.status = 201;
  const struct {
    const char* name;
    ScriptedResponse response;
    FetchFailure failure;
    uint32_t status;
  } cases[] = {
      {"NotFound", notFound, FetchFailure::kHttpStatus, 404},
      {"ServerError", serverError, FetchFailure::kHttpStatus, 500},
      {"Created", created, FetchFailure::kHttpStatus, 201},
  };

  TempFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Serve("/r", c.response);
    std::vector<uint8_t> buffer = Bytes("keep me");
    const FetchResult toBuffer = client_.FetchToBuffer(u"r", buffer, context_);
    EXPECT_EQ(toBuffer.received, -1);
    EXPECT_EQ(toBuffer.failure, c.failure);
    EXPECT_EQ(toBuffer.status, c.status);
    EXPECT_FALSE(toBuffer.complete());
    EXPECT_EQ(buffer, Bytes("keep me"));

    platform::File file;
    ASSERT_EQ(file.Open(folder.U16("out.bin"), platform::FileMode::kCreate), 0);
    ASSERT_TRUE(file.Write("head", 4));
    const FetchResult toFile = client_.FetchToFile(u"r", file, {}, context_);
    EXPECT_EQ(toFile.received, -1);
    EXPECT_EQ(toFile.failure, c.failure);
    file.Close();
    EXPECT_EQ(ReadWholeFile(folder / "out.bin"), Bytes("head"));
  }
}

// Proxies and CDNs send bodies chunked or ended by the connection's close: the content
// (lists, MD5 digests) is what is checked, not a declared length.
TEST_F(UpdateServerClientTest, BodiesWithoutALengthArriveWhole) {
  const struct {
    const char* name;
    std::size_t size;
    bool chunked;
  } cases[] = {
      {"ChunkedEmpty", 0, true}, {"ChunkedOneRead", 10, true},      {"ChunkedManyReads", 50000, true},
      {"ClosedEmpty", 0, false}, {"ClosedManyReads", 50000, false},
  };
  TempFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedResponse response = Ok(Pattern(c.size));
    response.sendContentLength = false;
    response.chunked = c.chunked;
    server_.Serve("/r", response);

    std::vector<uint8_t> buffer = Bytes("stale");
    const FetchResult fetched = client_.FetchToBuffer(u"r", buffer, context_);
    EXPECT_TRUE(fetched.complete());
    EXPECT_EQ(fetched.declared, c.size);
    EXPECT_EQ(buffer, Bytes(Pattern(c.size)));
    // No share of such a body can be shown while it comes.
    EXPECT_EQ(progress_.Read().readsTotal, 0);
    EXPECT_EQ(progress_.Read().transferLength, 0u);

    platform::File file;
    ASSERT_EQ(file.Open(folder.U16("out.bin"), platform::FileMode::kCreate), 0);
    ASSERT_TRUE(file.Write("head", 4));
    EXPECT_TRUE(client_.FetchToFile(u"r", file, {}, context_).complete());
    file.Close();
    EXPECT_EQ(ReadWholeFile(folder / "out.bin"), Bytes("head" + Pattern(c.size)));
  }
}

TEST_F(UpdateServerClientTest, BodiesWithoutALengthKeepTheirBound) {
  const uint32_t bound = 10000;
  const struct {
    const char* name;
    std::size_t size;
    bool chunked;
    FetchFailure failure;
  } cases[] = {
      {"ChunkedAtTheBound", bound, true, FetchFailure::kNone},
      {"ChunkedOneByteMore", bound + 1, true, FetchFailure::kTooLarge},
      {"ClosedOneByteMore", bound + 1, false, FetchFailure::kTooLarge},
      {"ChunkedFarMore", 20 * bound, true, FetchFailure::kTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedResponse response = Ok(Pattern(c.size));
    response.sendContentLength = false;
    response.chunked = c.chunked;
    server_.Serve("/r", response);
    std::vector<uint8_t> buffer;
    const FetchResult fetched = client_.FetchToBuffer(u"r", buffer, context_, bound);
    EXPECT_EQ(fetched.failure, c.failure);
    EXPECT_LE(buffer.size(), bound);
    if (c.failure == FetchFailure::kNone) {
      EXPECT_EQ(buffer, Bytes(Pattern(c.size)));
    }
  }
}

TEST_F(UpdateServerClientTest, BrokenChunkedBodyFailsWithTheBytesThatCame) {
  ScriptedResponse response = Ok(Pattern(10000));
  response.chunked = true;
  response.dropAfter = 5000;
  server_.Serve("/r", response);
  std::vector<uint8_t> buffer;
  const FetchResult fetched = client_.FetchToBuffer(u"r", buffer, context_);
#ifdef _WIN32
  // WinINet (under Wine at least) takes a chunked body cut off for one that ended: what is
  // missing is then caught by the content's own checks (the lists, the MD5s, a package's index).
  EXPECT_TRUE(fetched.failure == FetchFailure::kBrokenOff || fetched.failure == FetchFailure::kNone);
#else
  EXPECT_EQ(fetched.failure, FetchFailure::kBrokenOff);
  EXPECT_FALSE(fetched.complete());
#endif
  EXPECT_EQ(buffer, Bytes(Pattern(5000)));
  // A remainder could not be checked against a whole length: not asked for.
  EXPECT_EQ(server_.requestLines().size(), 1u);
}

TEST_F(UpdateServerClientTest, DroppedConnectionLeavesTheBytesThatCame) {
  const std::string body = Pattern(10000);
  ScriptedResponse response = Ok(body);
  response.dropAfter = 5000;
  server_.Serve("/files/big.bin", response);

  // Old contents do not survive either.
  std::vector<uint8_t> buffer(12000, 0xAB);
  EXPECT_EQ(client_.FetchToBuffer(u"files/big.bin", buffer, context_).received, 5000);
  EXPECT_EQ(buffer, Bytes(body.substr(0, 5000)));
  EXPECT_EQ(progress_.Read().readsDone, progress_.Read().readsTotal);

  TempFolder folder;
  platform::File file;
  ASSERT_EQ(file.Open(folder.U16("package.bin"), platform::FileMode::kCreate), 0);
  EXPECT_EQ(client_.FetchToFile(u"files/big.bin", file, {}, context_).received, 5000);
  file.Close();
  EXPECT_EQ(ReadWholeFile(folder / "package.bin"), Bytes(body.substr(0, 5000)));
}

TEST_F(UpdateServerClientTest, FetchToFileAppendsTheBody) {
  const std::string body = Pattern(123457);
  server_.Serve("/patches/p.cup", Ok(body));
  TempFolder folder;
  platform::File file;
  ASSERT_EQ(file.Open(folder.U16("tempfile.dat"), platform::FileMode::kCreate), 0);
  ASSERT_TRUE(file.Write("head", 4));
  EXPECT_EQ(client_.FetchToFile(u"patches/p.cup", file, {}, context_).received, 123457);
  file.Close();
  EXPECT_EQ(ReadWholeFile(folder / "tempfile.dat"), Bytes("head" + body));
  EXPECT_EQ(progress_.Read().readsTotal, 30);
  EXPECT_EQ(progress_.Read().readsDone, 30);
}

TEST_F(UpdateServerClientTest, OneConnectionCarriesManyRequests) {
  server_.Serve("/version", Ok("1234"));
  server_.Serve("/list_5", Ok(Pattern(20000)));
  ASSERT_TRUE(client_.Connect());
  TempFolder folder;
  for (int i = 0; i < 20; ++i) {
    std::vector<uint8_t> buffer;
    EXPECT_EQ(client_.FetchToBuffer(u"version", buffer, context_).received, 4);
    EXPECT_EQ(client_.FetchToBuffer(u"list_5", buffer, context_).received, 20000);
    platform::File file;
    ASSERT_EQ(file.Open(folder.U16("f.bin"), platform::FileMode::kCreate), 0);
    EXPECT_EQ(client_.FetchToFile(u"list_5", file, {}, context_).received, 20000);
  }
  EXPECT_EQ(server_.requestLines().size(), 60u);
  EXPECT_EQ(server_.connections(), 1);
}

TEST_F(UpdateServerClientTest, PackageFromAnotherHostLeavesTheServerConnectionAlone) {
  // The other host listens on the same port at another loopback address.
  ScriptedHttpServer other("127.0.0.2", server_.port());
  ASSERT_TRUE(other.listening());
  server_.Serve("/version", Ok("update server"));
  other.Serve("/version", Ok("package host"));
  ASSERT_TRUE(client_.Connect());

  std::vector<uint8_t> buffer;
  ASSERT_EQ(client_.FetchToBuffer(u"version", buffer, context_).received, 13);
  EXPECT_EQ(buffer, Bytes("update server"));

  TempFolder folder;
  for (const std::u16string host : {u"127.0.0.2", u"127.0.0.1", u""}) {
    SCOPED_TRACE(platform::Utf8FromUtf16(host));
    platform::File file;
    ASSERT_EQ(file.Open(folder.U16("p.cup"), platform::FileMode::kCreate), 0);
    UpdateServerClient::FileFetch fetch;
    fetch.host = host;
    EXPECT_TRUE(client_.FetchToFile(u"version", file, fetch).complete());
    file.Close();
    EXPECT_EQ(ReadWholeFile(folder / "p.cup"), Bytes(host == u"127.0.0.2" ? "package host" : "update server"));
  }

  ASSERT_EQ(client_.FetchToBuffer(u"version", buffer, context_).received, 13);
  EXPECT_EQ(buffer, Bytes("update server"));
  EXPECT_EQ(server_.requestLines().size(), 4u);
  EXPECT_EQ(other.requestLines().size(), 1u);
  EXPECT_EQ(server_.connections(), 1) << "the update server's connection was kept throughout";
}

TEST_F(UpdateServerClientTest, UnreachableServerFailsAndALaterFetchSucceeds) {
  uint16_t port = 0;
  {
    ScriptedHttpServer gone;
    port = gone.port();
  }
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", port});
  client.Connect();
  std::vector<uint8_t> buffer = Bytes("keep me");
  EXPECT_EQ(client.FetchToBuffer(u"version", buffer).received, -1);
  EXPECT_EQ(buffer, Bytes("keep me"));

  ScriptedHttpServer back("127.0.0.1", port);
  ASSERT_TRUE(back.listening());
  back.Serve("/version", Ok("7"));
  EXPECT_EQ(client.FetchToBuffer(u"version", buffer).received, 1);
  EXPECT_EQ(buffer, Bytes("7"));
}

TEST_F(UpdateServerClientTest, OverlongNamesAreNotRequested) {
  server_.Serve("/" + std::string(2000, 'a'), Ok("longest"));
  struct Case {
    std::u16string path;
    int32_t result;
  };
  const Case cases[] = {
      {std::u16string(2000, u'a'), 7},
      {std::u16string(2001, u'a'), -1},
      // 667 units of 2 UTF-8 bytes, 6 escaped bytes each.
      {std::u16string(334, u'\u0434'), -1},
      {std::u16string(1999, u'a') + u" ", -1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> buffer = Bytes("keep me");
    EXPECT_EQ(client_.FetchToBuffer(c.path, buffer, context_).received, c.result);
    if (c.result < 0) {
      EXPECT_EQ(buffer, Bytes("keep me"));
    }
  }
  EXPECT_EQ(server_.requestLines().size(), 1u);
}

TEST_F(UpdateServerClientTest, DeclaredLengthAboveTheCapIsRefused) {
  // A resource's own bound, below the cap.
  ScriptedResponse tooLong = Ok("12345678");
  server_.Serve("/version", tooLong);
  std::vector<uint8_t> small = Bytes("keep me");
  const FetchResult bounded = client_.FetchToBuffer(u"version", small, context_, 7);
  EXPECT_EQ(bounded.received, -1);
  EXPECT_EQ(bounded.failure, FetchFailure::kTooLarge);
  EXPECT_EQ(small, Bytes("keep me"));
  EXPECT_EQ(client_.FetchToBuffer(u"version", small, context_, 8).received, 8);

  ScriptedResponse response;
  response.declaredLength = uint64_t{UpdateServerClient::kMaxBufferLength} + 1;
  server_.Serve("/fulllist", response);
  std::vector<uint8_t> buffer = Bytes("keep me");
  EXPECT_EQ(client_.FetchToBuffer(u"fulllist", buffer, context_).received, -1);
  EXPECT_EQ(buffer, Bytes("keep me"));

  // A length above 4 GiB does not fit the 32-bit length at all.
  response.declaredLength = uint64_t{5} << 30;
  server_.Serve("/fulllist", response);
  EXPECT_EQ(client_.FetchToBuffer(u"fulllist", buffer, context_).received, -1);
  EXPECT_EQ(buffer, Bytes("keep me"));
}

#ifdef SOLMERE_CAN_LIMIT_MEMORY
// Runs in the death test's child, a fresh run of this test with its own server: under an
// address-space limit far below the declared length (itself below the cap), the body that
// does arrive is received, since nothing is allocated for what was only declared.
[[noreturn]] void FetchUnderMemoryLimit(const ScriptedHttpServer& server) {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  statm >> pages;
  const auto limit = static_cast<rlim_t>(pages * 4096 + (200u << 20));
  const rlimit bound{limit, limit};
  setrlimit(RLIMIT_AS, &bound);
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", server.port()});
  std::vector<uint8_t> buffer = Bytes("keep me");
  const FetchResult result = client.FetchToBuffer(u"fulllist", buffer);
  const bool asked = server.requestLines().size() >= 1 && server.requestLines()[0] == "GET /fulllist HTTP/1.1";
  std::exit(result.received == 10 && !result.complete() && buffer == Bytes("ten bytes!") && asked ? 0 : 1);
}

TEST_F(UpdateServerClientTest, DeclaredLengthSizesNoAllocation) {
  ScriptedResponse response;
  response.declaredLength = 500u * 1024 * 1024;
  response.body = "ten bytes!";
  response.dropAfter = 10;
  server_.Serve("/fulllist", response);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FetchUnderMemoryLimit(server_), ::testing::ExitedWithCode(0), "");
}
#endif

// Fetches on several threads while another thread reconnects: every fetch sees a
// whole, correct body, and nothing is used after Connect replaced it.
TEST_F(UpdateServerClientTest, ConnectWaitsForRunningFetches) {
  const std::string body = Pattern(50000, 7);
  ScriptedResponse response = Ok(body);
  response.delayBeforeBody = std::chrono::milliseconds(5);
  server_.Serve("/files/a.bin", response);

  std::atomic<int> good{0};
  std::atomic<int> bad{0};
  std::vector<std::thread> fetchers;
  for (int t = 0; t < 3; ++t) {
    fetchers.emplace_back([&] {
      for (int i = 0; i < 15; ++i) {
        std::vector<uint8_t> buffer;
        const int32_t result = client_.FetchToBuffer(u"files/a.bin", buffer, context_).received;
        (result == 50000 && buffer == Bytes(body) ? good : bad)++;
      }
    });
  }
  std::thread reconnecter([&] {
    for (int i = 0; i < 15; ++i) {
      EXPECT_TRUE(client_.Connect());
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  for (std::thread& t : fetchers) t.join();
  reconnecter.join();
  EXPECT_EQ(good.load(), 45);
  EXPECT_EQ(bad.load(), 0);
}

// At start-up two fetches can both find no connection.
TEST_F(UpdateServerClientTest, OverlappingFirstFetchesBothSucceed) {
  server_.Serve("/version", Ok("5"));
  server_.Serve("/patcher_version_new", Ok("3"));
  for (int round = 0; round < 10; ++round) {
    UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", server_.port()});
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
    int32_t firstResult = 0;
    std::thread worker([&] { firstResult = client.FetchToBuffer(u"version", first).received; });
    const int32_t secondResult = client.FetchToBuffer(u"patcher_version_new", second).received;
    worker.join();
    EXPECT_EQ(firstResult, 1);
    EXPECT_EQ(secondResult, 1);
    EXPECT_EQ(first, Bytes("5"));
    EXPECT_EQ(second, Bytes("3"));
  }
}

}  // namespace
