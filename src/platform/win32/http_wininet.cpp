#include <windows.h>
#include <wininet.h>

#include "platform/http.h"

namespace platform {
namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// One WinINet handle; closing it also ends everything opened on it.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) ::InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// Keep-connection asks WinINet to reuse the connection; need-file and no-UI are the
// flags the server's behaviour was settled with.
constexpr DWORD kRequestFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NEED_FILE;
constexpr DWORD_PTR kRequestContext = 1;

class WinInetRequest final : public HttpRequest {
 public:
  explicit WinInetRequest(HINTERNET request) : request_(request) {}

  bool Send() override { return ::HttpSendRequestW(request_.get(), nullptr, 0, nullptr, 0) != FALSE; }

  bool QueryStatusCode(uint32_t* code) override { return QueryNumber(HTTP_QUERY_STATUS_CODE, code); }
  bool QueryContentLength(uint32_t* length) override { return QueryNumber(HTTP_QUERY_CONTENT_LENGTH, length); }

  bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
    DWORD got = 0;
    BOOL ok = ::InternetReadFile(request_.get(), buffer, size, &got);
    *bytesRead = got;
    return ok != FALSE;
  }

 private:
  bool QueryNumber(DWORD query, uint32_t* value) {
    DWORD number = 0;
    DWORD size = sizeof(number);
    DWORD index = 0;
    if (!::HttpQueryInfoW(request_.get(), query | HTTP_QUERY_FLAG_NUMBER, &number, &size, &index)) return false;
    *value = number;
    return true;
  }

  InternetHandle request_;
};

class WinInetConnection final : public HttpConnection {
 public:
  explicit WinInetConnection(HINTERNET connection) : connection_(connection) {}

  std::unique_ptr<HttpRequest> OpenGet(const std::string& objectName) override {
    HINTERNET request = ::HttpOpenRequestA(connection_.get(), "GET", objectName.c_str(), nullptr, nullptr, nullptr,
                                           kRequestFlags, kRequestContext);
    if (request == nullptr) return nullptr;
    return std::make_unique<WinInetRequest>(request);
  }

 private:
  InternetHandle connection_;
};

class WinInetSession final : public HttpSession {
 public:
  explicit WinInetSession(HINTERNET internet) : internet_(internet) {}

  std::unique_ptr<HttpConnection> Connect(const std::u16string& host, uint16_t port) override {
    HINTERNET connection =
        ::InternetConnectW(internet_.get(), Wide(host), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return nullptr;
    return std::make_unique<WinInetConnection>(connection);
  }

 private:
  InternetHandle internet_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::u16string& userAgent) {
  // Preconfigured access: the system's proxy and timeout settings apply.
  HINTERNET internet = ::InternetOpenW(Wide(userAgent), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (internet == nullptr) return nullptr;
  return std::make_unique<WinInetSession>(internet);
}

}  // namespace platform
