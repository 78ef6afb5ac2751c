#include "net/body_transfer.h"

#include <algorithm>
#include <thread>

#include "base/log.h"

namespace {

FetchFailure FailureOf(platform::HttpError error) {
  switch (error) {
    case platform::HttpError::kRefused:
      return FetchFailure::kRefused;
    case platform::HttpError::kNameNotResolved:
      return FetchFailure::kNameNotResolved;
    case platform::HttpError::kTimedOut:
      return FetchFailure::kTimedOut;
    case platform::HttpError::kBrokenOff:
    // A read that failed without a reason is a body that ended.
    case platform::HttpError::kNone:
      return FetchFailure::kBrokenOff;
    case platform::HttpError::kCancelled:
      return FetchFailure::kCancelled;
    case platform::HttpError::kFailed:
      break;
  }
  return FetchFailure::kFailed;
}

bool Printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Reads a decimal number at `at`; false when there is none or it overflows.
bool ReadNumber(const std::string& text, std::size_t& at, uint64_t* value) {
  const std::size_t start = at;
  uint64_t number = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (at - start >= 19) return false;
    number = number * 10 + static_cast<uint64_t>(text[at] - '0');
  }
  *value = number;
  return at > start;
}

}  // namespace

std::string UsableValidator(const std::string& etag, const std::string& lastModified) {
  constexpr std::size_t kLongest = 200;
  // A weak ETag ("W/...") may not be used with If-Range.
  if (etag.size() >= 2 && etag.size() <= kLongest && etag.front() == '"' && etag.back() == '"' && Printable(etag))
    return etag;
  if (!lastModified.empty() && lastModified.size() <= kLongest && Printable(lastModified)) return lastModified;
  return {};
}

bool ContentRangeMatches(const std::string& contentRange, uint64_t start, uint64_t total) {
  const std::string prefix = "bytes ";
  if (total == 0 || start >= total || contentRange.compare(0, prefix.size(), prefix) != 0) return false;
  std::size_t at = prefix.size();
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t length = 0;
  if (!ReadNumber(contentRange, at, &first) || at >= contentRange.size() || contentRange[at++] != '-') return false;
  if (!ReadNumber(contentRange, at, &last) || at >= contentRange.size() || contentRange[at++] != '/') return false;
  if (!ReadNumber(contentRange, at, &length) || at != contentRange.size()) return false;
  return first == start && last == total - 1 && length == total;
}

std::unique_ptr<platform::HttpRequest> BodyTransfer::Open(uint32_t rangeStart, FetchResult& result) {
  platform::HttpGetOptions options;
  options.rangeStart = rangeStart;
  if (rangeStart > 0) options.ifRange = validator_;
  options.cancel = cancel_;
  std::unique_ptr<platform::HttpRequest> request = connection_.OpenGet(objectName_, options);
  if (request == nullptr) {
    result.failure = FetchFailure::kFailed;
    return nullptr;
  }
  if (!request->Send()) {
    result.failure = FailureOf(request->error());
    if (result.failure == FetchFailure::kBrokenOff && Cancelled()) result.failure = FetchFailure::kCancelled;
    return nullptr;
  }
  if (!request->QueryStatusCode(&result.status)) {
    result.failure = FetchFailure::kFailed;
    return nullptr;
  }
  return request;
}

bool BodyTransfer::AcceptWhole(platform::HttpRequest& request, FetchResult& result) {
  if (result.status != 200) {
    result.failure = FetchFailure::kHttpStatus;
    return false;
  }
  uint64_t length = 0;
  lengthKnown_ = request.QueryContentLength(&length);
  if (!lengthKnown_) {
    result.declared = 0;
    return true;
  }
  result.declared = length;
  if (length > maxLength_) {
    result.failure = FetchFailure::kTooLarge;
    return false;
  }
  return true;
}

void BodyTransfer::TakeValidator(platform::HttpRequest& request) {
  std::string etag;
  std::string lastModified;
  request.QueryHeader(platform::HttpHeader::kETag, &etag);
  request.QueryHeader(platform::HttpHeader::kLastModified, &lastModified);
  const std::string validator = UsableValidator(etag, lastModified);
  // A remainder that names no validator came from the resource named before.
  if (!validator.empty()) validator_ = validator;
}

bool BodyTransfer::AcceptRemainder(platform::HttpRequest& request, uint32_t received, FetchResult& result) {
  if (result.status != 206) {
    result.failure = FetchFailure::kHttpStatus;
    return false;
  }
  uint64_t length = 0;
  std::string contentRange;
  if (!request.QueryContentLength(&length) || length != declared_ - received ||
      !request.QueryHeader(platform::HttpHeader::kContentRange, &contentRange) ||
      !ContentRangeMatches(contentRange, received, declared_)) {
    result.failure = FetchFailure::kBadRange;
    return false;
  }
  return true;
}

void BodyTransfer::StartBody(uint32_t length) {
  declared_ = length;
  if (!lengthKnown_) {
    progress_.TransferStarted(0, 0);
    return;
  }
  const uint32_t chunk = std::min(length, kReadSize);
  progress_.TransferStarted(length, chunk == 0 ? 1 : static_cast<int32_t>(static_cast<double>(length) / chunk + 0.5));
}

bool BodyTransfer::TakeUp(const BodyResume& resume, BodySink& sink, std::unique_ptr<platform::HttpRequest>* request,
                          uint32_t* received, FetchResult& result) {
  declared_ = resume.declared;
  validator_ = resume.validator;
  *request = Open(resume.received, result);
  if (*request == nullptr) return false;
  if (result.status == 206 && AcceptRemainder(**request, resume.received, result) &&
      sink.Resume(resume.declared, resume.received)) {
    Log::Info(u"Taking up %s from byte %u of %u", std::u16string(objectName_.begin(), objectName_.end()),
              resume.received, resume.declared);
    result.declared = resume.declared;
    StartBody(resume.declared);
    progress_.Received(resume.received);
    *received = resume.received;
    return true;
  }
  // A remainder that cannot be taken up: the body comes whole.
  validator_.clear();
  result.failure = FetchFailure::kNone;
  if (result.status != 200) {
    request->reset();
    *request = Open(0, result);
    if (*request == nullptr) return false;
  }
  *received = 0;
  return false;
}

bool BodyTransfer::Pace(uint32_t n) {
  if (pace_ == nullptr) return true;
  const auto due = pace_->Take(n);
  for (auto now = std::chrono::steady_clock::now(); now < due; now = std::chrono::steady_clock::now()) {
    if (Cancelled()) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, platform::kHttpWaitSlice));
  }
  return true;
}

FetchResult BodyTransfer::Run(BodySink& sink, const BodyResume& resume, const StartHook& started) {
  FetchResult result;
  std::unique_ptr<platform::HttpRequest> request;
  uint32_t received = 0;
  const bool takenUp = resume.usable() && TakeUp(resume, sink, &request, &received, result);
  if (!takenUp) {
    if (request == nullptr && !resume.usable()) request = Open(0, result);
    if (request == nullptr || !AcceptWhole(*request, result)) return result;
    StartBody(static_cast<uint32_t>(result.declared));
    if (!sink.Begin(lengthKnown_ ? declared_ : maxLength_)) {
      result.failure = FetchFailure::kTooLarge;
      return result;
    }
    if (started && lengthKnown_) {
      TakeValidator(*request);
      started(declared_, validator_);
    }
  }
  // The most bytes any attempt had in place: an attempt that does not pass it brought
  // nothing new (a body read again from its start must get further than before), and
  // asking again would only repeat it.
  uint32_t best = 0;
  int resumes = 0;
  FetchFailure failure = FetchFailure::kNone;
  for (;;) {
    failure = ReadBody(*request, sink, received);
    if (failure != FetchFailure::kBrokenOff && failure != FetchFailure::kTimedOut) break;
    const bool progressed = received > best;
    best = std::max(best, received);
    // A remainder is checked against the whole length: a body of no length is not asked for again.
    if (!lengthKnown_ || !progressed || resumes == kMaxResumes || Cancelled()) break;
    ++resumes;
    // Asked for only now, from the answer that broke off: most bodies never do.
    TakeValidator(*request);
    // Closed before the next request, so that it may take the connection.
    request.reset();
    Log::Info(u"Asking again for the rest of %s from byte %u of %u",
              std::u16string(objectName_.begin(), objectName_.end()), received, declared_);
    FetchResult again;
    request = Open(received, again);
    result.status = again.status;
    if (request == nullptr) {
      failure = again.failure;
      break;
    }
    if (again.status == 200) {
      // The server ignored the range, or the resource changed: it comes whole again.
      if (!AcceptWhole(*request, again)) {
        failure = again.failure;
        break;
      }
      result.declared = again.declared;
      StartBody(static_cast<uint32_t>(again.declared));
      if (!sink.Begin(lengthKnown_ ? declared_ : maxLength_)) {
        failure = FetchFailure::kTooLarge;
        break;
      }
      validator_.clear();
      if (started && lengthKnown_) {
        TakeValidator(*request);
        started(declared_, validator_);
      }
      received = 0;
      continue;
    }
    if (!AcceptRemainder(*request, received, again)) {
      failure = again.failure;
      break;
    }
  }
  if (failure == FetchFailure::kBrokenOff && Cancelled()) failure = FetchFailure::kCancelled;
  if (!sink.End(received, failure == FetchFailure::kNone) && failure == FetchFailure::kNone)
    failure = FetchFailure::kFailed;
  progress_.TransferEnded();
  if (!lengthKnown_ && failure == FetchFailure::kNone) result.declared = received;
  result.received = static_cast<int32_t>(received);
  result.failure = failure;
  return result;
}

FetchFailure BodyTransfer::ReadBody(platform::HttpRequest& request, BodySink& sink, uint32_t& received) {
  if (!lengthKnown_) return ReadToEnd(request, sink, received);
  while (received < declared_) {
    if (Cancelled()) return FetchFailure::kCancelled;
    const uint32_t want = std::min(declared_ - received, kReadSize);
    uint32_t n = 0;
    if (!request.Read(sink.Target(received), want, &n)) return FailureOf(request.error());
    // The body ended before its declared length.
    if (n == 0 || n > want) return FetchFailure::kBrokenOff;
    if (!sink.Store(received, n)) return FetchFailure::kFailed;
    received += n;
    progress_.Received(n);
    if (!Pace(n)) return FetchFailure::kCancelled;
  }
  return FetchFailure::kNone;
}

FetchFailure BodyTransfer::ReadToEnd(platform::HttpRequest& request, BodySink& sink, uint32_t& received) {
  for (;;) {
    if (Cancelled()) return FetchFailure::kCancelled;
    if (received == maxLength_) {
      // At the bound the body must end: one byte more makes it too large.
      uint8_t probe = 0;
      uint32_t n = 0;
      if (!request.Read(&probe, 1, &n)) return FailureOf(request.error());
      return n == 0 ? FetchFailure::kNone : FetchFailure::kTooLarge;
    }
    const uint32_t want = std::min(maxLength_ - received, kReadSize);
    uint32_t n = 0;
    if (!request.Read(sink.Target(received), want, &n)) return FailureOf(request.error());
    if (n == 0) return FetchFailure::kNone;
    if (n > want) return FetchFailure::kFailed;
    if (!sink.Store(received, n)) return FetchFailure::kFailed;
    received += n;
    progress_.Received(n);
    if (!Pace(n)) return FetchFailure::kCancelled;
  }
}
