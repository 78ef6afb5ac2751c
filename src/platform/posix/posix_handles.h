#pragma once
// RAII owners for the POSIX side's library handles: curl easy and multi handles and header
// lists, OpenSSL digest contexts, iconv conversions and file descriptors.

#include <curl/curl.h>
#include <iconv.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <memory>

namespace platform::posix {

struct CurlEasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using UniqueCurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

struct CurlMultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using UniqueCurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;

// A header list; curl_slist_append grows it in place and returns its first item.
struct CurlListFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using UniqueCurlList = std::unique_ptr<curl_slist, CurlListFree>;

struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using UniqueMdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

// An iconv conversion; iconv_open fails with (iconv_t)-1, which is never closed.
class UniqueIconv {
 public:
  explicit UniqueIconv(iconv_t handle) : handle_(handle) {}
  ~UniqueIconv() {
    if (valid()) ::iconv_close(handle_);
  }
  UniqueIconv(const UniqueIconv&) = delete;
  UniqueIconv& operator=(const UniqueIconv&) = delete;
  iconv_t get() const { return handle_; }
  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

 private:
  iconv_t handle_;
};

// A file descriptor; a negative one (a failed open) is never closed.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace platform::posix
