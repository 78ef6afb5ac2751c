// Transfers against servers that misbehave: they never answer, stall, trickle, break
// off, or answer a request for the rest of a body well or badly; transfers that are
// cancelled; and the request headers that keep cached copies out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "net/scripted_bodies.h"
#include "net/update_server_client.h"
#include "platform/text.h"
#include "support/client_log.h"
#include "support/file_bytes.h"
#include "support/scripted_http_server.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

using testsupport::ReadWholeFile;
using testsupport::TempFolder;

namespace {

using namespace std::chrono_literals;
using testsupport::ScriptedHttpServer;
using testsupport::ScriptedResponse;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A second without progress ends a transfer, and so does a second below 100 bytes a
// second: the product waits 15 and 30 seconds.
platform::HttpLimits ShortLimits() {
  platform::HttpLimits limits;
  limits.connectTimeout = 1s;
  limits.lowSpeedBytesPerSecond = 100;
  limits.lowSpeedTime = 1s;
  return limits;
}

// The values of every header line called `name` (any case) in a request head.
std::vector<std::string> HeaderValues(const std::string& head, std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  std::vector<std::string> values;
  std::size_t at = head.find("\r\n");
  while (at != std::string::npos && at + 2 < head.size()) {
    const std::size_t end = head.find("\r\n", at + 2);
    const std::string line = head.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
    const std::size_t colon = line.find(':');
    std::string key = line.substr(0, colon);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    if (colon != std::string::npos && key == name) {
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      values.push_back(value);
    }
    at = end;
  }
  return values;
}

class TransferFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening());
    log_.Open(temp_ / "log.txt");
  }
  void TearDown() override { testsupport::ProcessLog::Close(); }

  std::string LogText() { return log_.Text(); }
  std::string FailureLine(const std::string& path, const std::string& cause) const {
    return "ERROR: Can't fetch " + path + " from 127.0.0.1:" + std::to_string(server_.port()) + ": " + cause;
  }
  // The body as FetchToBuffer or FetchToFile leaves it; the file starts with "head".
  FetchResult Fetch(UpdateServerClient& client, bool toFile, const std::u16string& path, std::string* body,
                    const CancelToken* cancel = nullptr) {
    if (!toFile) {
      std::vector<uint8_t> buffer(7, 0xAB);
      const FetchResult result = client.FetchToBuffer(path, buffer, OperationContext(cancel, ProgressSink::None()));
      body->assign(buffer.begin(), buffer.end());
      return result;
    }
    platform::File file;
    EXPECT_EQ(file.Open(temp_.U16("body.bin"), platform::FileMode::kCreate), 0);
    EXPECT_TRUE(file.Write("head", 4));
    const FetchResult result = client.FetchToFile(path, file, {}, OperationContext(cancel, ProgressSink::None()));
    file.Close();
    const std::vector<uint8_t> bytes = ReadWholeFile(temp_ / "body.bin");
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 4)), "head");
    body->assign(bytes.begin() + std::min<std::size_t>(bytes.size(), 4), bytes.end());
    return result;
  }

  ScriptedHttpServer server_;
  TempFolder temp_;
  UpdateServerClient client_{UpdateServerAddress{u"127.0.0.1", server_.port()}, ShortLimits()};
  testsupport::ProcessLog log_;
};

TEST_F(TransferFaultsTest, StalledServersFailWithinTheirBound) {
  const std::string body = Pattern(5000);
  ScriptedResponse silent;
  silent.neverAnswer = true;
  ScriptedResponse headOnly = Ok(body);
  headOnly.stallAfter = 0;
  ScriptedResponse stalledMidway = Ok(body);
  stalledMidway.stallAfter = 2000;
  // About three bytes a second, far below the hundred the client asks for.
  ScriptedResponse trickle = Ok(body);
  trickle.trickle = 300ms;
  const struct {
    const char* name;
    ScriptedResponse response;
  } cases[] = {{"never answers", silent},
               {"head and no body", headOnly},
               {"stalls midway", stalledMidway},
               {"trickles", trickle}};
  for (const auto& c : cases) {
    for (bool toFile : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (toFile ? ", to a file" : ", to memory"));
      server_.Serve("/list_3", c.response);
      const auto start = Clock::now();
      std::string received;
      const FetchResult result = Fetch(client_, toFile, u"list_3", &received);
      const double seconds = SecondsSince(start);
      EXPECT_EQ(result.failure, FetchFailure::kTimedOut);
      EXPECT_FALSE(result.complete());
      // A second per attempt, and a body that brought bytes is asked for again at most
      // three times: far below this on any machine, far above it if a wait never ends.
      EXPECT_LT(seconds, 20.0);
      EXPECT_NE(LogText().find(FailureLine("list_3", "timed out")), std::string::npos) << LogText();
    }
  }
}

TEST_F(TransferFaultsTest, ConnectionNeverTakenFailsWithinTheConnectTimeout) {
  testsupport::UnansweredPort unanswered;
  ASSERT_TRUE(unanswered.ready());
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", unanswered.port()}, ShortLimits());
  std::vector<uint8_t> buffer = Bytes("keep me");
  const auto start = Clock::now();
  const FetchResult result = client.FetchToBuffer(u"version", buffer);
  EXPECT_LT(SecondsSince(start), 15.0);
  EXPECT_EQ(result.failure, FetchFailure::kTimedOut);
  EXPECT_EQ(result.received, -1);
  EXPECT_EQ(buffer, Bytes("keep me"));
}

TEST_F(TransferFaultsTest, FailuresTellWhereAndWhy) {
  uint16_t closedPort = 0;
  {
    ScriptedHttpServer gone;
    closedPort = gone.port();
  }
  const struct {
    const char16_t* host;
    uint16_t port;
    FetchFailure failure;
    const char* cause;
  } cases[] = {
      {u"127.0.0.1", closedPort, FetchFailure::kRefused, "refused"},
      {u"no-such-host.invalid", server_.port(), FetchFailure::kNameNotResolved, "name not resolved"},
      {u"127.0.0.1", server_.port(), FetchFailure::kHttpStatus, "HTTP status 404"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cause);
    UpdateServerClient client(UpdateServerAddress{c.host, c.port}, ShortLimits());
    std::vector<uint8_t> buffer;
    const FetchResult result = client.FetchToBuffer(u"files\\gone.txt", buffer);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.received, -1);
    const FailedRequest failed = client.FailureOf(u"files\\gone.txt", result);
    EXPECT_EQ(failed.host, c.host);
    EXPECT_EQ(failed.port, c.port);
    EXPECT_EQ(failed.resource, u"files\\gone.txt");
    EXPECT_EQ(failed.failure, c.failure);
    const std::string line = "ERROR: Can't fetch files\\gone.txt from " + platform::Utf8FromUtf16(c.host) + ":" +
                             std::to_string(c.port) + ": " + c.cause;
    EXPECT_NE(LogText().find(line), std::string::npos) << LogText();
  }
}

TEST_F(TransferFaultsTest, BrokenOffBodyIsAskedForTheRest) {
  const std::string body = Pattern(10000, 3);
  const std::string etag = "ETag: \"5f3e-2710\"";
  const auto cut = [&](std::size_t after, bool range) {
    ScriptedResponse response = Ok(body);
    response.headers = {etag};
    response.dropAfter = after;
    response.honourRange = range;
    return response;
  };
  const auto stall = [&](std::size_t after) {
    ScriptedResponse response = Ok(body);
    response.headers = {etag};
    response.stallAfter = after;
    return response;
  };
  const auto whole = [&](bool range, std::optional<std::string> contentRange = std::nullopt) {
    ScriptedResponse response = Ok(body);
    response.headers = {etag};
    response.honourRange = range;
    response.contentRange = std::move(contentRange);
    return response;
  };
  const struct {
    const char* name;
    std::vector<ScriptedResponse> once;
    ScriptedResponse standing;
    FetchFailure failure;
    int32_t received;
    // The byte each request after the first asked to start from.
    std::vector<std::string> ranges;
  } cases[] = {
      {"broken at 40 %, the rest with 206", {cut(4000, false)}, whole(true), FetchFailure::kNone, 10000, {"4000"}},
      {"stalled at 40 %, the rest with 206", {stall(4000)}, whole(true), FetchFailure::kNone, 10000, {"4000"}},
      {"range ignored: read again from the start",
       {cut(4000, false)},
       whole(false),
       FetchFailure::kNone,
       10000,
       {"4000"}},
      {"broken three times, then whole",
       {cut(2500, false), cut(2500, true), cut(2500, true)},
       whole(true),
       FetchFailure::kNone,
       10000,
       {"2500", "5000", "7500"}},
      {"broken four times: given up",
       {cut(2000, false), cut(2000, true), cut(2000, true), cut(2000, true)},
       whole(true),
       FetchFailure::kBrokenOff,
       8000,
       {"2000", "4000", "6000"}},
      {"nothing arrived: not asked again", {cut(0, false)}, whole(true), FetchFailure::kBrokenOff, 0, {}},
      {"Content-Range from another byte",
       {cut(4000, false)},
       whole(true, "bytes 4001-9999/10000"),
       FetchFailure::kBadRange,
       4000,
       {"4000"}},
      {"Content-Range ends early",
       {cut(4000, false)},
       whole(true, "bytes 4000-9998/10000"),
       FetchFailure::kBadRange,
       4000,
       {"4000"}},
      {"Content-Range of another total",
       {cut(4000, false)},
       whole(true, "bytes 4000-9999/10001"),
       FetchFailure::kBadRange,
       4000,
       {"4000"}},
      {"Content-Range unreadable",
       {cut(4000, false)},
       whole(true, "bytes 4000-x/10000"),
       FetchFailure::kBadRange,
       4000,
       {"4000"}},
      {"206 without Content-Range", {cut(4000, false)}, whole(true, ""), FetchFailure::kBadRange, 4000, {"4000"}},
  };
  for (const auto& c : cases) {
    for (bool toFile : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (toFile ? ", to a file" : ", to memory"));
      const std::size_t before = server_.requestHeads().size();
      for (const ScriptedResponse& response : c.once) server_.ServeOnce("/patches/p.cup", response);
      server_.Serve("/patches/p.cup", c.standing);
      std::string received;
      const FetchResult result = Fetch(client_, toFile, u"patches/p.cup", &received);
      EXPECT_EQ(result.failure, c.failure);
      EXPECT_EQ(result.received, c.received);
      EXPECT_EQ(result.declared, body.size());
      EXPECT_EQ(result.complete(), c.failure == FetchFailure::kNone);
      const auto got = static_cast<std::size_t>(c.received);
      // The file and the buffer alike hold what arrived, once.
      EXPECT_EQ(received, body.substr(0, got));
      const std::vector<std::string> heads = server_.requestHeads();
      ASSERT_EQ(heads.size() - before, 1 + c.ranges.size());
      EXPECT_TRUE(HeaderValues(heads[before], "Range").empty());
      for (std::size_t i = 0; i < c.ranges.size(); ++i) {
        const std::string& head = heads[before + 1 + i];
        EXPECT_EQ(HeaderValues(head, "Range"), std::vector<std::string>{"bytes=" + c.ranges[i] + "-"}) << head;
        // The rest may come only from the same resource.
        EXPECT_EQ(HeaderValues(head, "If-Range"), std::vector<std::string>{"\"5f3e-2710\""}) << head;
      }
    }
  }
}

TEST_F(TransferFaultsTest, BodyThatChangedComesWholeAgain) {
  // The first answer breaks off; the rest is asked for with the first answer's date,
  // and the server, whose resource has changed, answers with the new one whole.
  const std::string before = Pattern(6000, 5);
  const std::string after = Pattern(9000, 6);
  ScriptedResponse first = Ok(before);
  first.headers = {"Last-Modified: Tue, 02 Jan 2024 10:00:00 GMT"};
  first.dropAfter = 3000;
  server_.ServeOnce("/fulllist", first);
  ScriptedResponse changed = Ok(after);
  changed.headers = {"Last-Modified: Wed, 03 Jan 2024 10:00:00 GMT"};
  server_.Serve("/fulllist", changed);
  std::vector<uint8_t> buffer;
  const FetchResult result = client_.FetchToBuffer(u"fulllist", buffer);
  EXPECT_TRUE(result.complete());
  EXPECT_EQ(result.declared, after.size());
  EXPECT_EQ(buffer, Bytes(after));
  const std::vector<std::string> heads = server_.requestHeads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(HeaderValues(heads[1], "If-Range"), std::vector<std::string>{"Tue, 02 Jan 2024 10:00:00 GMT"});
}

TEST_F(TransferFaultsTest, CancelEndsATransferWithinAMoment) {
  // Bounds far longer than the test: only the cancel can end these transfers.
  platform::HttpLimits patient = ShortLimits();
  patient.lowSpeedTime = 60s;
  patient.connectTimeout = 60s;
  UpdateServerClient client(UpdateServerAddress{u"127.0.0.1", server_.port()}, patient);
  ScriptedResponse silent;
  silent.neverAnswer = true;
  ScriptedResponse trickle = Ok(Pattern(100000));
  trickle.trickle = 50ms;
  enum class When { kBeforeItStarts, kWaitingForTheAnswer, kDuringTheBody };
  const struct {
    const char* name;
    When when;
    ScriptedResponse response;
  } cases[] = {{"before it starts", When::kBeforeItStarts, trickle},
               {"waiting for the answer", When::kWaitingForTheAnswer, silent},
               {"during the body", When::kDuringTheBody, trickle}};
  for (const auto& c : cases) {
    for (bool toFile : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (toFile ? ", to a file" : ", to memory"));
      server_.Serve("/patches/big.cup", c.response);
      const std::size_t requests = server_.requestLines().size();
      const uint64_t sent = server_.bodyBytesSent();
      CancelToken token;
      if (c.when == When::kBeforeItStarts) token.Cancel();
      FetchResult result;
      std::string received;
      auto cancelled = Clock::now();
      std::thread fetch([&] { result = Fetch(client, toFile, u"patches/big.cup", &received, &token); });
      if (c.when == When::kWaitingForTheAnswer) {
        EXPECT_TRUE(testsupport::WaitUntil([&] { return server_.requestLines().size() > requests; }))
            << "no request came";
      } else if (c.when == When::kDuringTheBody) {
        EXPECT_TRUE(testsupport::WaitUntil([&] { return server_.bodyBytesSent() > sent + 3; })) << "no body came";
      }
      cancelled = Clock::now();
      token.Cancel();
      fetch.join();
      EXPECT_LT(SecondsSince(cancelled), 3.0) << "a cancel ends a transfer within about half a second";
      EXPECT_EQ(result.failure, FetchFailure::kCancelled);
      EXPECT_FALSE(result.complete());
      if (c.when == When::kBeforeItStarts) {
        EXPECT_EQ(server_.requestLines().size(), requests) << "nothing was asked for";
      }
    }
  }
  EXPECT_EQ(LogText().find("ERROR"), std::string::npos) << "a cancel is no failure: " << LogText();
}

TEST_F(TransferFaultsTest, EveryRequestAsksForNoCachedCopy) {
  const std::string body = Pattern(3000);
  ScriptedResponse cutShort = Ok(body);
  cutShort.dropAfter = 1000;
  ScriptedResponse rest = Ok(body);
  rest.honourRange = true;
  server_.Serve("/version", Ok("12"));
  server_.ServeOnce("/list_1", cutShort);
  server_.Serve("/list_1", rest);
  std::vector<uint8_t> buffer;
  ASSERT_TRUE(client_.FetchToBuffer(u"version", buffer).complete());
  ASSERT_TRUE(client_.FetchToBuffer(u"list_1", buffer).complete());
  const std::vector<std::string> heads = server_.requestHeads();
  ASSERT_EQ(heads.size(), 3u);
  for (const std::string& head : heads) {
    EXPECT_EQ(HeaderValues(head, "Cache-Control"), std::vector<std::string>{"no-cache"}) << head;
    EXPECT_EQ(HeaderValues(head, "Pragma"), std::vector<std::string>{"no-cache"}) << head;
  }
  EXPECT_EQ(HeaderValues(heads[2], "Range"), std::vector<std::string>{"bytes=1000-"});
}

TEST_F(TransferFaultsTest, FileFetchAboveItsBoundIsRefused) {
  server_.Serve("/patches/p.cup", Ok(Pattern(5000)));
  platform::File file;
  ASSERT_EQ(file.Open(temp_.U16("p.cup"), platform::FileMode::kCreate), 0);
  UpdateServerClient::FileFetch fetch;
  fetch.maxLength = 4999;
  const FetchResult result = client_.FetchToFile(u"patches/p.cup", file, fetch);
  file.Close();
  EXPECT_EQ(result.failure, FetchFailure::kTooLarge);
  EXPECT_EQ(result.declared, 5000u);
  EXPECT_EQ(result.received, -1);
  EXPECT_TRUE(ReadWholeFile(temp_ / "p.cup").empty());
  EXPECT_NE(LogText().find(FailureLine("patches/p.cup", "too large")), std::string::npos) << LogText();
}

}  // namespace
