// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/http.h"
#include "platform/low_speed_check.h"
#include "platform/win32/win32_handles.h"

namespace platform {
namespace {

using win32::UniqueHandle;
using win32::UniqueInternetHandle;

// Requests to one server at once (the file pass downloads on up to eight connections).
constexpr DWORD kMaxConnectionsPerServer = 8;

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// An unnamed event, not signalled; null when it cannot be made.
HANDLE MakeEvent(bool manualReset) {
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

// Keep-connection asks WinINet to reuse the connection; need-file and no-UI are the
// flags the server's behaviour was settled with. Reload skips the cache and
// no-cache-write keeps responses out of it, so a stale copy of "version" can never
// answer for the server; pragma-no-cache asks proxies the same.
// Longest wait for WinINet to let go of a request that ended cleanly.
constexpr DWORD kCloseWaitMs = 1000;

constexpr DWORD kRequestFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NEED_FILE |
                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;

// What WinINet reports about one request's asynchronous calls. WinINet may still
// complete a call (and write `available`) after the request gave up waiting for it,
// so the state lives until WinINet announces that the request handle is closing.
struct RequestState {
  UniqueHandle completed{MakeEvent(false)};
  // Set once WinINet is done with the request.
  UniqueHandle closed{MakeEvent(true)};
  std::atomic<DWORD> error{0};
  DWORD available = 0;
};

// Requests are found by their context value, which WinINet hands to the callback.
class RequestRegistry {
 public:
  DWORD_PTR Add(std::shared_ptr<RequestState> state) {
    std::lock_guard<std::mutex> lock(mutex_);
    const DWORD_PTR context = next_++;
    states_[context] = std::move(state);
    return context;
  }
  std::shared_ptr<RequestState> Find(DWORD_PTR context) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = states_.find(context);
    return found == states_.end() ? nullptr : found->second;
  }
  void Remove(DWORD_PTR context) {
    std::shared_ptr<RequestState> last;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = states_.find(context);
    if (found == states_.end()) return;
    last = std::move(found->second);
    states_.erase(found);
  }

 private:
  std::mutex mutex_;
  // 0 would switch the callbacks off.
  DWORD_PTR next_ = 1;
  std::map<DWORD_PTR, std::shared_ptr<RequestState>> states_;
};

RequestRegistry& Registry() {
  static RequestRegistry registry;
  return registry;
}

// Runs on WinINet's threads: no exception may leave it.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) noexcept {
  try {
    if (status == INTERNET_STATUS_REQUEST_COMPLETE && info != nullptr && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
      std::shared_ptr<RequestState> state = Registry().Find(context);
      if (state == nullptr) return;
      const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      DWORD error = 0;
      if (result->dwResult == 0) error = result->dwError != 0 ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR;
      state->error = error;
      ::SetEvent(state->completed.get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
      std::shared_ptr<RequestState> state = Registry().Find(context);
      if (state != nullptr) ::SetEvent(state->closed.get());
      Registry().Remove(context);
    }
  } catch (...) {
  }
}

HttpError ErrorOf(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_CANNOT_CONNECT:
      return HttpError::kRefused;
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return HttpError::kNameNotResolved;
    case ERROR_INTERNET_TIMEOUT:
      return HttpError::kTimedOut;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return HttpError::kBrokenOff;
    case ERROR_INTERNET_OPERATION_CANCELLED:
      return HttpError::kCancelled;
    default:
      return HttpError::kFailed;
  }
}

// The session runs WinINet asynchronously: a call that would block returns at once
// and its completion comes through OnStatus, so no wait here lasts longer than one
// slice, and a cancelled or stalled request is given up by closing its handle.
class WinInetRequest final : public HttpRequest {
 public:
  WinInetRequest(std::shared_ptr<RequestState> state, const HttpGetOptions& options, const HttpLimits& limits)
      : state_(std::move(state)),
        options_(options),
        limits_(limits),
        speed_(limits.lowSpeedBytesPerSecond, limits.lowSpeedTime, LowSpeedCheck::Clock::now()) {}
  ~WinInetRequest() override {
    request_.reset();
    // A request that ended cleanly hands its connection back as WinINet lets go of it;
    // waiting for that lets the next request find the connection. One given up during
    // a pending call is not waited for: that call may take as long as the server.
    if (attached_ && !abandoned_) ::WaitForSingleObject(state_->closed.get(), kCloseWaitMs);
  }
  WinInetRequest(const WinInetRequest&) = delete;
  WinInetRequest& operator=(const WinInetRequest&) = delete;

  // The handle is set once the request is opened, with the state's context.
  void Attach(HINTERNET request) {
    request_.reset(request);
    attached_ = true;
  }

  bool Send() override {
    if (Cancelled()) return Fail(HttpError::kCancelled);
    // Pragma: no-cache comes with the request flags.
    std::string headers = "Cache-Control: no-cache\r\n";
    if (options_.rangeStart > 0) {
      headers += "Range: bytes=" + std::to_string(options_.rangeStart) + "-\r\n";
      if (!options_.ifRange.empty()) headers += "If-Range: " + options_.ifRange + "\r\n";
    }
    if (!::HttpAddRequestHeadersA(request_.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                  HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
      return Fail(HttpError::kFailed);
    // The head must come within the connect timeout plus the low-speed time.
    headDeadline_ = LowSpeedCheck::Clock::now() + limits_.connectTimeout + limits_.lowSpeedTime;
    ::ResetEvent(state_->completed.get());
    if (!::HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) return Fail(ErrorOf(error));
      if (!Wait()) return false;
      if (state_->error != 0) return Fail(ErrorOf(state_->error));
    }
    sent_ = true;
    speed_ = LowSpeedCheck(limits_.lowSpeedBytesPerSecond, limits_.lowSpeedTime, LowSpeedCheck::Clock::now());
    return true;
  }

  bool QueryStatusCode(uint32_t* code) override {
    DWORD number = 0;
    DWORD size = sizeof(number);
    DWORD index = 0;
    if (!sent_ ||
        !::HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number, &size, &index))
      return false;
    *code = number;
    return true;
  }

  bool QueryContentLength(uint64_t* length) override {
    // As text: a number query would stop at 32 bits.
    std::string text;
    if (!QueryText(HTTP_QUERY_CONTENT_LENGTH, &text) || text.empty() || text.size() > 19) return false;
    uint64_t value = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    *length = value;
    return true;
  }

  bool QueryHeader(HttpHeader header, std::string* value) override {
    const auto index = static_cast<std::size_t>(header);
    if (request_.get() == nullptr) {
      // Closed after a failure: what the head said was kept.
      if (!kept_[index]) return false;
      *value = keptHeaders_[index];
      return true;
    }
    return QueryText(QueryOf(header), value);
  }

  bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (!sent_ || error_ != HttpError::kNone) return false;
    auto* out = static_cast<char*>(buffer);
    while (*bytesRead < size) {
      DWORD available = 0;
      if (!QueryAvailable(&available)) return *bytesRead > 0;
      if (available == 0) break;
      // The bytes are buffered already, so this read completes at once.
      const DWORD want = std::min<DWORD>(available, size - *bytesRead);
      DWORD got = 0;
      if (!::InternetReadFile(request_.get(), out + *bytesRead, want, &got)) {
        Fail(ErrorOf(::GetLastError()));
        return *bytesRead > 0;
      }
      if (got == 0) break;
      *bytesRead += got;
      speed_.Received(got, LowSpeedCheck::Clock::now());
    }
    return true;
  }

  HttpError error() const override { return error_; }

 private:
  bool Cancelled() const { return options_.cancel != nullptr && options_.cancel->load(); }

  static DWORD QueryOf(HttpHeader header) {
    return header == HttpHeader::kContentRange ? HTTP_QUERY_CONTENT_RANGE
           : header == HttpHeader::kETag       ? HTTP_QUERY_ETAG
                                               : HTTP_QUERY_LAST_MODIFIED;
  }

  // Closing the handle ends whatever WinINet still does for the request; the head's
  // headers are kept first, as a body that broke off is asked for again with them.
  bool Fail(HttpError error) {
    if (error_ == HttpError::kNone) error_ = error == HttpError::kNone ? HttpError::kFailed : error;
    if (sent_ && request_.get() != nullptr) {
      for (HttpHeader header : {HttpHeader::kContentRange, HttpHeader::kETag, HttpHeader::kLastModified}) {
        const auto index = static_cast<std::size_t>(header);
        kept_[index] = QueryText(QueryOf(header), &keptHeaders_[index]);
      }
    }
    request_.reset();
    return false;
  }

  // Waits for the completion of the pending call, a slice at a time.
  bool Wait() {
    for (;;) {
      if (::WaitForSingleObject(state_->completed.get(), static_cast<DWORD>(kHttpWaitSlice.count())) == WAIT_OBJECT_0)
        return true;
      const bool cancelled = Cancelled();
      if (cancelled || TooSlow()) {
        abandoned_ = true;
        return Fail(cancelled ? HttpError::kCancelled : HttpError::kTimedOut);
      }
    }
  }

  bool TooSlow() {
    const auto now = LowSpeedCheck::Clock::now();
    return sent_ ? speed_.TooSlow(now) : now >= headDeadline_;
  }

  // The number of body bytes that can be read without waiting; 0 at the end of the body.
  bool QueryAvailable(DWORD* available) {
    for (;;) {
      if (Cancelled()) return Fail(HttpError::kCancelled);
      // Checked here too: bytes that trickle in faster than a wait slice never make a wait time out.
      if (TooSlow()) return Fail(HttpError::kTimedOut);
      ::ResetEvent(state_->completed.get());
      if (::InternetQueryDataAvailable(request_.get(), &state_->available, 0, 0)) {
        *available = state_->available;
        return true;
      }
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) return Fail(ErrorOf(error));
      if (!Wait()) return false;
      if (state_->error != 0) return Fail(ErrorOf(state_->error));
      // Data has arrived: the next query tells how much without waiting.
    }
  }

  bool QueryText(DWORD query, std::string* value) {
    if (!sent_) return false;
    std::vector<char> text(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
      DWORD size = static_cast<DWORD>(text.size());
      DWORD index = 0;
      if (::HttpQueryInfoA(request_.get(), query, text.data(), &size, &index)) {
        value->assign(text.data(), size);
        return true;
      }
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 64 * 1024) return false;
      text.resize(size + 1);
    }
    return false;
  }

  std::shared_ptr<RequestState> state_;
  const HttpGetOptions options_;
  const HttpLimits limits_;
  UniqueInternetHandle request_;
  LowSpeedCheck speed_;
  LowSpeedCheck::Clock::time_point headDeadline_;
  std::string keptHeaders_[3];
  bool kept_[3] = {false, false, false};
  bool attached_ = false;
  bool abandoned_ = false;
  bool sent_ = false;
  HttpError error_ = HttpError::kNone;
};

class WinInetConnection final : public HttpConnection {
 public:
  WinInetConnection(HINTERNET connection, const HttpLimits& limits) : connection_(connection), limits_(limits) {}

  std::unique_ptr<HttpRequest> OpenGet(const std::string& objectName, const HttpGetOptions& options) override {
    auto state = std::make_shared<RequestState>();
    if (state->completed.get() == nullptr) return nullptr;
    auto request = std::make_unique<WinInetRequest>(state, options, limits_);
    const DWORD_PTR context = Registry().Add(state);
    HINTERNET handle = ::HttpOpenRequestA(connection_.get(), "GET", objectName.c_str(), nullptr, nullptr, nullptr,
                                          kRequestFlags, context);
    if (handle == nullptr) {
      Registry().Remove(context);
      return nullptr;
    }
    request->Attach(handle);
    return request;
  }

 private:
  UniqueInternetHandle connection_;
  const HttpLimits limits_;
};

class WinInetSession final : public HttpSession {
 public:
  WinInetSession(HINTERNET internet, const HttpLimits& limits) : internet_(internet), limits_(limits) {}

  std::unique_ptr<HttpConnection> Connect(const std::u16string& host, uint16_t port) override {
    HINTERNET connection =
        ::InternetConnectW(internet_.get(), Wide(host), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return nullptr;
    return std::make_unique<WinInetConnection>(connection, limits_);
  }

 private:
  UniqueInternetHandle internet_;
  const HttpLimits limits_;
};

bool SetTimeout(HINTERNET internet, DWORD option, std::chrono::milliseconds value) {
  DWORD milliseconds = static_cast<DWORD>(value.count());
  return ::InternetSetOptionW(internet, option, &milliseconds, sizeof(milliseconds)) != FALSE;
}

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::u16string& userAgent, const HttpLimits& limits) {
  // Preconfigured access: the system's proxy settings apply.
  UniqueInternetHandle internet(
      ::InternetOpenW(Wide(userAgent), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
  if (internet.get() == nullptr) return nullptr;
  // WinINet's default would hold all but two of them back. Process-wide.
  DWORD connections = kMaxConnectionsPerServer;
  ::InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof(connections));
  ::InternetSetOptionW(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof(connections));
  if (::InternetSetStatusCallbackW(internet.get(), &OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) return nullptr;
  // WinINet's own bounds back up the waits of WinInetRequest.
  if (!SetTimeout(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, limits.connectTimeout) ||
      !SetTimeout(internet.get(), INTERNET_OPTION_SEND_TIMEOUT, limits.lowSpeedTime) ||
      !SetTimeout(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, limits.lowSpeedTime))
    return nullptr;
  return std::make_unique<WinInetSession>(internet.release(), limits);
}

}  // namespace platform
