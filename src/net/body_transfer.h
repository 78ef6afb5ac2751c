#pragma once
// One resource fetched whole over one connection: the GET, the checks of its head,
// the body read in pieces into a sink, and the remainder asked for again (a Range
// request) when the body breaks off after some bytes arrived.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/progress_sink.h"
#include "net/fetch_result.h"
#include "net/rate_pace.h"
#include "platform/http.h"

// Where a body goes as it arrives.
class BodySink {
 public:
  virtual ~BodySink() = default;
  // The body (of `length` bytes, or at most `length` when the server gave no length) starts;
  // called again when it starts over from its first byte. False when it cannot be held.
  virtual bool Begin(uint32_t length) = 0;
  // Where the read of the bytes from `offset` on is to land: room for the rest of the
  // body, up to the read size.
  virtual uint8_t* Target(uint32_t offset) = 0;
  // The body goes on from `offset` (of `length`): the bytes before it are in place from an
  // earlier transfer. False when the sink cannot take up a body (the transfer then starts over).
  virtual bool Resume(uint32_t /*length*/, uint32_t /*offset*/) { return false; }
  // Takes the `n` bytes a read put at Target(offset); false stops the transfer.
  virtual bool Store(uint32_t offset, uint32_t n) = 0;
  // The transfer is over with `received` bytes in place; false when they could not all be
  // put in place (the transfer then fails).
  virtual bool End(uint32_t received, bool complete) = 0;
};

// A body an earlier transfer got part of: its first `received` bytes of `declared` are in
// place, and `validator` (an ETag or date, see UsableValidator) names the resource they came from.
struct BodyResume {
  uint32_t received = 0;
  uint32_t declared = 0;
  std::string validator;

  bool usable() const { return received > 0 && received < declared && !validator.empty(); }
};

class BodyTransfer {
 public:
  // Told once the body's length and validator are known, each time it starts from its first
  // byte (so that what arrives can be taken up by a later transfer).
  using StartHook = std::function<void(uint32_t length, const std::string& validator)>;

  // Bytes asked for per read.
  static constexpr uint32_t kReadSize = 4096;
  // Times a broken-off body is asked for again, each time only after the attempt before
  // brought bytes no earlier attempt had.
  static constexpr int kMaxResumes = 3;

  // The transfer's figures go to `progress`, for displays and summaries only: callers take
  // lengths from the FetchResult.
  // `pace`, when given, caps the body's pace: reads wait once they are ahead of it.
  BodyTransfer(platform::HttpConnection& connection, std::string objectName, uint32_t maxLength,
               const std::atomic<bool>* cancel, ProgressSink& progress, RatePace* pace = nullptr)
      : connection_(connection),
        objectName_(std::move(objectName)),
        maxLength_(maxLength),
        cancel_(cancel),
        progress_(progress),
        pace_(pace) {}

  // `resume`: the body is asked for from where the earlier transfer left it, on condition
  // that it is still the same resource; when it is not, it comes whole.
  FetchResult Run(BodySink& sink, const BodyResume& resume = {}, const StartHook& started = {});

 private:
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }
  // Opens and sends a GET, from `rangeStart` on when it is above 0; null with the
  // failure in `result` when no response came.
  std::unique_ptr<platform::HttpRequest> Open(uint32_t rangeStart, FetchResult& result);
  // The head of an answer with the whole body: status 200 and a length that fits, or no length
  // (chunked, or ended by the connection's close): such a body is read to its end, within the
  // bound.
  bool AcceptWhole(platform::HttpRequest& request, FetchResult& result);
  // The head of an answer with the remainder from `received` on.
  bool AcceptRemainder(platform::HttpRequest& request, uint32_t received, FetchResult& result);
  // The ETag or date of the answer in hand, for the If-Range of the next request.
  void TakeValidator(platform::HttpRequest& request);
  void StartBody(uint32_t length);
  // Reads until the body is complete or the transfer fails; kNone when complete.
  FetchFailure ReadBody(platform::HttpRequest& request, BodySink& sink, uint32_t& received);
  // The first request of a body given to take up: true with `request` reading the remainder,
  // or with the whole body when the resource changed; false when neither came (see `result`).
  bool TakeUp(const BodyResume& resume, BodySink& sink, std::unique_ptr<platform::HttpRequest>* request,
              uint32_t* received, FetchResult& result);
  // Counts `n` more bytes against the cap and waits while they are ahead of it; false when a
  // cancel came meanwhile.
  bool Pace(uint32_t n);
  // The same for a body of no declared length: complete when it ends within the bound.
  FetchFailure ReadToEnd(platform::HttpRequest& request, BodySink& sink, uint32_t& received);

  platform::HttpConnection& connection_;
  const std::string objectName_;
  const uint32_t maxLength_;
  const std::atomic<bool>* cancel_;
  ProgressSink& progress_;
  RatePace* const pace_;
  uint32_t declared_ = 0;
  // False for a body the server gave no length for.
  bool lengthKnown_ = true;
  // The validator sent with If-Range; empty when the server gave none usable.
  std::string validator_;
};

// A value the server sent that may be sent back as If-Range: a strong ETag or a
// date, printable ASCII of reasonable length. Empty when none is usable.
std::string UsableValidator(const std::string& etag, const std::string& lastModified);
// True when `contentRange` reads "bytes START-(TOTAL-1)/TOTAL".
bool ContentRangeMatches(const std::string& contentRange, uint64_t start, uint64_t total);
