#include "net/update_server_client.h"

#include <algorithm>
#include <array>
#include <new>

#include "base/log.h"
#include "net/escape_request_path.h"
#include "net/update_server_address.h"

namespace {

// A body received into a byte vector, each read landing at its final offset. The vector grows
// with the bytes that arrive: a length the server only declares never sizes an allocation.
class BufferSink final : public BodySink {
 public:
  // Taken on trust before the first byte: a body declared larger first arrives in part.
  static constexpr std::size_t kFirstReserve = 1024 * 1024;

  explicit BufferSink(std::vector<uint8_t>& buffer) : buffer_(buffer) {}

  bool Begin(uint32_t length) override {
    length_ = length;
    failed_ = false;
    // A body that starts over leaves nothing of the earlier attempt.
    buffer_.clear();
    try {
      buffer_.reserve(std::min<std::size_t>(length, kFirstReserve));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  uint8_t* Target(uint32_t offset) override {
    const std::size_t needed = std::size_t{offset} + std::min(BodyTransfer::kReadSize, length_ - offset);
    if (buffer_.size() < needed) {
      try {
        if (buffer_.capacity() < needed)
          buffer_.reserve(std::min<std::size_t>(length_, std::max(needed, 2 * buffer_.capacity())));
        buffer_.resize(needed);
      } catch (const std::bad_alloc&) {
        failed_ = true;
        return scratch_.data();
      }
    }
    return buffer_.data() + offset;
  }
  bool Store(uint32_t, uint32_t) override { return !failed_; }
  // The bytes that came, and no more.
  bool End(uint32_t received, bool) override {
    buffer_.resize(std::min<std::size_t>(received, buffer_.size()));
    return !failed_;
  }

 private:
  std::vector<uint8_t>& buffer_;
  uint32_t length_ = 0;
  bool failed_ = false;
  // Where a read lands when the vector could not grow; the transfer then fails.
  std::array<uint8_t, BodyTransfer::kReadSize> scratch_{};
};

// A body appended to an open file. Reads land in a buffer that is written out in large
// pieces: one write per read would cost a system call every 4 KiB.
class FileSink final : public BodySink {
 public:
  static constexpr std::size_t kWriteSize = 256 * 1024;

  // `alreadyThere`: bytes of the body an earlier transfer put before the file's position.
  FileSink(platform::File& file, uint32_t alreadyThere) : file_(file), alreadyThere_(alreadyThere) {}

  bool Begin(uint32_t length) override {
    const bool over = started_ || alreadyThere_ > 0;
    if (!Start(length)) return false;
    // Starting over (or not taking up what is there): the bytes of the earlier attempt go.
    return !over || (file_.Seek(static_cast<int64_t>(start_), platform::SeekOrigin::kStart) && file_.SetSize(start_));
  }
  bool Resume(uint32_t length, uint32_t offset) override {
    return !started_ && offset == alreadyThere_ && Start(length);
  }
  uint8_t* Target(uint32_t) override {
    // Room for a whole read: written out first when the buffer cannot take one more.
    if (buffer_.size() - pending_ < BodyTransfer::kReadSize && !Flush()) failed_ = true;
    return buffer_.data() + pending_;
  }
  bool Store(uint32_t offset, uint32_t n) override {
    if (failed_) return false;
    pending_ += n;
    // The last bytes of the body are written before the transfer counts as complete.
    if (offset + n >= length_) return Flush();
    return true;
  }
  bool End(uint32_t, bool) override { return !failed_ && Flush(); }

 private:
  bool Flush() {
    const bool written = pending_ == 0 || file_.Write(buffer_.data(), pending_);
    pending_ = 0;
    return written;
  }

  bool Start(uint32_t length) {
    pending_ = 0;
    length_ = length;
    if (!started_) {
      if (!file_.Tell(&start_) || start_ < alreadyThere_) return false;
      start_ -= alreadyThere_;
      started_ = true;
    }
    try {
      buffer_.resize(std::max<std::size_t>(std::min<std::size_t>(length, kWriteSize), 1));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  platform::File& file_;
  const uint32_t alreadyThere_;
  bool started_ = false;
  bool failed_ = false;
  uint64_t start_ = 0;
  uint32_t length_ = 0;
  std::size_t pending_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace

UpdateServerClient::UpdateServerClient(UpdateServerAddress server, const platform::HttpLimits& limits)
    : serverHost_(std::move(server.host)), port_(server.port), limits_(limits) {
  // MinGW's winpthreads finishes setting up a statically initialised rwlock on its
  // first use, and that set-up races: two threads using a fresh lock first at the same
  // moment were seen to hold it exclusively together. Use it once while only this
  // thread knows the client.
  std::unique_lock<std::shared_mutex> firstUse(handlesMutex_);
}

UpdateServerClient::~UpdateServerClient() {
  connection_.reset();
  session_.reset();
}

bool UpdateServerClient::Connect() {
  std::unique_lock<std::shared_mutex> lock(handlesMutex_);
  return ConnectLocked();
}

void UpdateServerClient::SetLimits(const platform::HttpLimits& limits) {
  std::unique_lock<std::shared_mutex> lock(handlesMutex_);
  limits_ = limits;
  connection_.reset();
  session_.reset();
}

bool UpdateServerClient::ConnectLocked() {
  connection_.reset();
  session_.reset();
  session_ = platform::OpenHttpSession(kUserAgent, limits_);
  if (session_ == nullptr) return false;
  connection_ = session_->Connect(serverHost_, port_);
  return connection_ != nullptr;
}

FetchResult UpdateServerClient::FetchToBuffer(const std::u16string& path, std::vector<uint8_t>& buffer,
                                              const OperationContext& context, uint32_t maxLength, bool optional,
                                              std::string_view query) {
  BufferSink sink(buffer);
  return Fetch(std::u16string(), path, std::min(maxLength, kMaxBufferLength), context, sink, optional, {}, {}, query);
}

FetchResult UpdateServerClient::FetchToFile(const std::u16string& path, platform::File& file, const FileFetch& fetch,
                                            const OperationContext& context) {
  FileSink sink(file, fetch.resume.usable() ? fetch.resume.received : 0);
  return Fetch(fetch.host, path, std::min(fetch.maxLength, kMaxFileLength), context, sink, false, fetch.resume,
               fetch.started);
}

FailedRequest UpdateServerClient::FailureOf(const std::u16string& path, const FetchResult& result,
                                            const std::u16string& host) const {
  const bool otherHost = !host.empty() && host != serverHost_;
  return FailedRequest{otherHost ? host : serverHost_, port_, path, result.failure, result.status};
}

FetchResult UpdateServerClient::Fetch(const std::u16string& host, const std::u16string& path, uint32_t maxLength,
                                      const OperationContext& context, BodySink& sink, bool optional,
                                      const BodyResume& resume, const BodyTransfer::StartHook& started,
                                      std::string_view query) {
  const bool otherHost = !host.empty() && host != serverHost_;
  const std::u16string& shownHost = otherHost ? host : serverHost_;
  FetchResult result;
  std::string objectName = EscapeRequestPath(path);
  const bool plainQuery = std::all_of(query.begin(), query.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '=' || c == '&';
  });
  if (!query.empty() && plainQuery) {
    objectName.push_back('?');
    objectName.append(query.data(), query.size());
  }
  if (objectName.size() > kMaxRequestPathBytes) {
    result.failure = FetchFailure::kFailed;
    Report(shownHost, path, result, optional);
    return result;
  }
  // Held shared until the request is closed: Connect waits for running fetches.
  std::shared_lock<std::shared_mutex> lock(handlesMutex_);
  if (connection_ == nullptr) {
    // Two fetches at start-up can both find no connection: the first to get the
    // exclusive lock connects, the other finds the connection made.
    lock.unlock();
    {
      std::unique_lock<std::shared_mutex> exclusive(handlesMutex_);
      if (connection_ == nullptr) ConnectLocked();
    }
    lock.lock();
  }
  std::unique_ptr<platform::HttpConnection> ownConnection;
  platform::HttpConnection* connection = connection_.get();
  if (otherHost) {
    ownConnection = session_ != nullptr ? session_->Connect(host, port_) : nullptr;
    connection = ownConnection.get();
  }
  if (connection == nullptr) {
    result.failure = FetchFailure::kFailed;
  } else {
    BodyTransfer transfer(*connection, objectName, maxLength, context.cancelFlag(), context.progress(),
                          pace_.capped() ? &pace_ : nullptr);
    result = transfer.Run(sink, resume, started);
  }
  Report(shownHost, path, result, optional);
  return result;
}

void UpdateServerClient::Report(const std::u16string& host, const std::u16string& path, const FetchResult& result,
                                bool optional) {
  if (result.failure == FetchFailure::kNone || result.failure == FetchFailure::kCancelled) return;
  if (optional && result.failure == FetchFailure::kHttpStatus && result.status == 404) {
    Log::Info(u"%s is not on %s", path, AddressText({host, port_}));
    return;
  }
  Log::Error(u"Can't fetch %s from %s: %s", path, AddressText({host, port_}),
             FetchFailureText(result.failure, result.status));
}
