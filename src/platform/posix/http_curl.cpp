#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/http.h"
#include "platform/posix/posix_handles.h"
#include "platform/text.h"

namespace platform {
namespace {

struct HeaderList {
  posix::UniqueCurlList list;

  bool Add(const std::string& line) {
    curl_slist* longer = curl_slist_append(list.get(), line.c_str());
    if (longer == nullptr) return false;
    // The old list is part of the longer one: it changes hands without being freed.
    static_cast<void>(list.release());
    list.reset(longer);
    return true;
  }
};

// The caller pulls the body piece by piece, so a transfer runs on a multi handle of
// its own that is driven from Send and Read; no worker thread. The multi handle holds
// the connection cache, so easy and multi handle stay together and are reused.
struct CurlPair {
  // Members end in reverse order of declaration: the easy handle, the multi handle, the headers.
  // The request headers of every request, built once.
  HeaderList headers;
  posix::UniqueCurlMulti multi;
  posix::UniqueCurlEasy easy;
};

// What every request says besides its name: no accept types, and no cached copy.
bool AddCommonHeaders(HeaderList& headers) {
  return headers.Add("Accept:") && headers.Add("Cache-Control: no-cache") && headers.Add("Pragma: no-cache");
}

HttpError ErrorOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return HttpError::kNone;
    case CURLE_COULDNT_CONNECT:
      return HttpError::kRefused;
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpError::kNameNotResolved;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::kTimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return HttpError::kBrokenOff;
    default:
      return HttpError::kFailed;
  }
}

class CurlConnection;

class CurlRequest final : public HttpRequest {
 public:
  CurlRequest(CurlConnection& owner, std::unique_ptr<CurlPair> pair, std::string url, HttpGetOptions options)
      : owner_(owner), pair_(std::move(pair)), url_(std::move(url)), options_(std::move(options)) {}
  ~CurlRequest() override;

  bool Send() override;
  bool QueryStatusCode(uint32_t* code) override;
  bool QueryContentLength(uint64_t* length) override;
  bool QueryHeader(HttpHeader header, std::string* value) override;
  bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override;
  HttpError error() const override;

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* user);
  static size_t OnHeader(char* data, size_t size, size_t count, void* user);
  bool Cancelled() const { return options_.cancel != nullptr && options_.cancel->load(); }
  // Transfer work in slices until `ready` holds, the transfer ends or it is cancelled.
  template <typename Ready>
  void RunUntil(Ready ready);
  void Perform();

  CurlConnection& owner_;
  std::unique_ptr<CurlPair> pair_;
  std::string url_;
  HttpGetOptions options_;
  // The headers of a request for a range: the common ones and the range.
  HeaderList rangeHeaders_;
  bool added_ = false;
  bool headersDone_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
  CURLcode result_ = CURLE_OK;
  // Body bytes that curl delivered and the caller has not read yet.
  std::vector<char> pending_;
  size_t pendingOffset_ = 0;
};

class CurlConnection final : public HttpConnection {
 public:
  CurlConnection(std::string baseUrl, std::string userAgent, const HttpLimits& limits)
      : baseUrl_(std::move(baseUrl)), userAgent_(std::move(userAgent)), limits_(limits) {}

  std::unique_ptr<HttpRequest> OpenGet(const std::string& objectName, const HttpGetOptions& options) override {
    std::unique_ptr<CurlPair> pair = Acquire();
    if (pair == nullptr) return nullptr;
    // A package's path from its URL starts with "/" already; WinINet sends it as given.
    const std::string target = !objectName.empty() && objectName[0] == '/' ? objectName.substr(1) : objectName;
    return std::make_unique<CurlRequest>(*this, std::move(pair), baseUrl_ + target, options);
  }

  // Requests one after another share one pair and so one connection; a request that
  // overlaps another gets a pair (and a connection) of its own.
  std::unique_ptr<CurlPair> Acquire() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        std::unique_ptr<CurlPair> pair = std::move(idle_.back());
        idle_.pop_back();
        return pair;
      }
    }
    auto pair = std::make_unique<CurlPair>();
    pair->multi.reset(curl_multi_init());
    pair->easy.reset(curl_easy_init());
    // No Accept header: the request carries no accept types.
    if (pair->multi == nullptr || pair->easy == nullptr || !AddCommonHeaders(pair->headers)) return nullptr;
    CURL* easy = pair->easy.get();
    // curl counts the low-speed time in whole seconds.
    const long lowSpeedSeconds = std::max<long>(1, static_cast<long>((limits_.lowSpeedTime.count() + 999) / 1000));
    bool ok = curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent_.c_str()) == CURLE_OK &&
              // Worker threads use the client: no signals for name-resolution timeouts.
              curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connectTimeout.count())) ==
                  CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(limits_.lowSpeedBytesPerSecond)) ==
                  CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds) == CURLE_OK;
    if (!ok) return nullptr;
    return pair;
  }

  void Release(std::unique_ptr<CurlPair> pair) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(pair));
  }

 private:
  const std::string baseUrl_;
  const std::string userAgent_;
  const HttpLimits limits_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<CurlPair>> idle_;
};

class CurlSession final : public HttpSession {
 public:
  CurlSession(std::string userAgent, const HttpLimits& limits) : userAgent_(std::move(userAgent)), limits_(limits) {}

  std::unique_ptr<HttpConnection> Connect(const std::u16string& host, uint16_t port) override {
    std::string name = Utf8FromUtf16(host);
    if (name.empty()) return nullptr;
    if (name.find(':') != std::string::npos) name = "[" + name + "]";
    return std::make_unique<CurlConnection>("http://" + name + ":" + std::to_string(port) + "/", userAgent_, limits_);
  }

 private:
  const std::string userAgent_;
  const HttpLimits limits_;
};

CurlRequest::~CurlRequest() {
  if (added_) {
    // A body that has fully arrived but was not noticed yet still ends cleanly, which
    // keeps the connection; an unfinished one is cut off and closes it.
    if (!finished_) Perform();
    curl_multi_remove_handle(pair_->multi.get(), pair_->easy.get());
  }
  curl_easy_setopt(pair_->easy.get(), CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(pair_->easy.get(), CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(pair_->easy.get(), CURLOPT_HTTPHEADER, nullptr);
  owner_.Release(std::move(pair_));
}

size_t CurlRequest::OnBody(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlRequest*>(user);
  size_t bytes = size * count;
  // No exception may cross back into curl; a failed append fails the transfer.
  try {
    self->pending_.insert(self->pending_.end(), data, data + bytes);
  } catch (...) {
    return 0;
  }
  return bytes;
}

size_t CurlRequest::OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlRequest*>(user);
  size_t bytes = size * count;
  bool blank = (bytes == 2 && data[0] == '\r' && data[1] == '\n') || (bytes == 1 && data[0] == '\n');
  if (blank) {
    // Interim 1xx heads are followed by the real one.
    long code = 0;
    curl_easy_getinfo(self->pair_->easy.get(), CURLINFO_RESPONSE_CODE, &code);
    if (code >= 200) self->headersDone_ = true;
  }
  return bytes;
}

void CurlRequest::Perform() {
  int running = 0;
  if (curl_multi_perform(pair_->multi.get(), &running) != CURLM_OK) {
    finished_ = true;
    result_ = CURLE_RECV_ERROR;
    return;
  }
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(pair_->multi.get(), &left)) {
    if (message->msg == CURLMSG_DONE) {
      finished_ = true;
      result_ = message->data.result;
    }
  }
}

template <typename Ready>
void CurlRequest::RunUntil(Ready ready) {
  while (true) {
    Perform();
    if (finished_ || ready()) return;
    if (Cancelled()) {
      cancelled_ = true;
      return;
    }
    // Wakes on socket activity, when curl's own timers are due, or after one slice.
    curl_multi_poll(pair_->multi.get(), nullptr, 0, static_cast<int>(kHttpWaitSlice.count()), nullptr);
  }
}

bool CurlRequest::Send() {
  if (added_) return false;
  if (Cancelled()) {
    cancelled_ = true;
    return false;
  }
  bool ok = true;
  curl_slist* headers = pair_->headers.list.get();
  if (options_.rangeStart > 0) {
    ok = AddCommonHeaders(rangeHeaders_) &&
         rangeHeaders_.Add("Range: bytes=" + std::to_string(options_.rangeStart) + "-") &&
         (options_.ifRange.empty() || rangeHeaders_.Add("If-Range: " + options_.ifRange));
    headers = rangeHeaders_.list.get();
  }
  CURL* easy = pair_->easy.get();
  ok = ok && curl_easy_setopt(easy, CURLOPT_URL, url_.c_str()) == CURLE_OK &&
       curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
       curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody) == CURLE_OK &&
       curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK &&
       curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader) == CURLE_OK &&
       curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK;
  if (!ok || curl_multi_add_handle(pair_->multi.get(), easy) != CURLM_OK) {
    result_ = CURLE_FAILED_INIT;
    finished_ = true;
    return false;
  }
  added_ = true;
  RunUntil([this] { return headersDone_; });
  return headersDone_;
}

bool CurlRequest::QueryStatusCode(uint32_t* code) {
  long value = 0;
  if (!headersDone_ || curl_easy_getinfo(pair_->easy.get(), CURLINFO_RESPONSE_CODE, &value) != CURLE_OK) return false;
  *code = static_cast<uint32_t>(value);
  return true;
}

bool CurlRequest::QueryContentLength(uint64_t* length) {
  curl_off_t value = -1;
  if (!headersDone_ || curl_easy_getinfo(pair_->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &value) != CURLE_OK) {
    return false;
  }
  if (value < 0) return false;
  *length = static_cast<uint64_t>(value);
  return true;
}

bool CurlRequest::QueryHeader(HttpHeader header, std::string* value) {
  if (!headersDone_) return false;
  const char* name = header == HttpHeader::kContentRange ? "Content-Range"
                     : header == HttpHeader::kETag       ? "ETag"
                                                         : "Last-Modified";
  curl_header* found = nullptr;
  if (curl_easy_header(pair_->easy.get(), name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK) return false;
  *value = found->value;
  return true;
}

bool CurlRequest::Read(void* buffer, uint32_t size, uint32_t* bytesRead) {
  *bytesRead = 0;
  if (!headersDone_) return false;
  auto* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < size) {
    if (pendingOffset_ < pending_.size()) {
      size_t take = std::min<size_t>(size - done, pending_.size() - pendingOffset_);
      std::memcpy(out + done, pending_.data() + pendingOffset_, take);
      pendingOffset_ += take;
      done += static_cast<uint32_t>(take);
      continue;
    }
    pending_.clear();
    pendingOffset_ = 0;
    if (finished_ || cancelled_) break;
    RunUntil([this] { return !pending_.empty(); });
  }
  *bytesRead = done;
  return done > 0 || error() == HttpError::kNone;
}

HttpError CurlRequest::error() const {
  if (cancelled_) return HttpError::kCancelled;
  return finished_ ? ErrorOf(result_) : HttpError::kNone;
}

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::u16string& userAgent, const HttpLimits& limits) {
  // curl_global_init is not thread-safe in every curl version: once per process.
  static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (!initialized) return nullptr;
  return std::make_unique<CurlSession>(Utf8FromUtf16(userAgent), limits);
}

}  // namespace platform
