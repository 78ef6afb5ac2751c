#include "engine/download_ahead.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "base/log.h"
#include "engine/stored_content.h"
#include "net/server_mirrors.h"

namespace {

// How often the operation, waiting for a download made ahead, looks at its cancel.
constexpr std::chrono::milliseconds kCancelPoll{20};

}  // namespace

DownloadAhead::DownloadAhead(ServerMirrors& servers, const std::vector<ListEntry>& entries, int connections,
                             const OperationContext& context)
    : servers_(servers),
      entries_(entries),
      context_(context),
      workers_(connections <= 1 ? 0 : static_cast<std::size_t>(std::min(connections, kMaxConnections))),
      bytesOnly_(context.progress()),
      workerContext_(&stop_, bytesOnly_),
      checked_(workers_ == 0 ? 0 : entries.size(), false) {
  threads_.reserve(workers_);
  for (std::size_t i = 0; i < workers_; ++i) threads_.emplace_back(&DownloadAhead::Work, this);
}

DownloadAhead::~DownloadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.Cancel();
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  if (workers_ > 0) context_.progress().DownloadsAtOnce(0);
}

void DownloadAhead::CountRunning(int change) {
  running_ += change;
  context_.progress().DownloadsAtOnce(running_);
}

void DownloadAhead::Checked(std::size_t index, TargetState state) {
  if (workers_ == 0 || index >= entries_.size()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    checked_[index] = true;
    while (firstUnchecked_ < checked_.size() && checked_[firstUnchecked_]) ++firstUnchecked_;
    // The entry's size bounds what its download holds (see Take).
    if (state == TargetState::kDiffers && index >= next_ && entries_[index].info.size <= kMaxAheadSize)
      wanted_.insert(index);
  }
  changed_.notify_all();
}

FetchResult DownloadAhead::Fetch(const ListEntry& entry, std::vector<uint8_t>& body, const OperationContext& context,
                                 FailedRequest* failure) {
  // With mirrors, a damaged body is taken from the next server; checked here, on the thread
  // that downloaded it. With one server the operation's own check tells.
  ServerMirrors::Accept accept;
  if (servers_.count() > 1)
    accept = [&entry](const std::vector<uint8_t>& stored) {
      StoredContent checker;
      return checker.Verify(stored.data(), stored.size(), entry.info.size, entry.info.digest, nullptr);
    };
  // A stored form is the content or shorter: a longer one is refused before it arrives.
  return servers_.FetchToBuffer(ResourceOf(entry), body, context, entry.info.size, accept, failure);
}

void DownloadAhead::Reach(std::size_t index, std::unique_lock<std::mutex>& lock) {
  DropBefore(index);
  next_ = std::max(next_, index + 1);
  // Wanted and not started yet: a worker starts it as soon as one is free.
  while (wanted_.count(index) != 0 && !stop_.cancelled()) {
    if (context_.cancelled()) stop_.Cancel();
    changed_.wait_for(lock, kCancelPoll);
  }
  wanted_.erase(index);
}

FetchResult DownloadAhead::FetchNow(std::unique_lock<std::mutex>& lock, const std::function<FetchResult()>& fetch) {
  CountRunning(+1);
  lock.unlock();
  changed_.notify_all();
  const FetchResult result = fetch();
  lock.lock();
  CountRunning(-1);
  return result;
}

FetchResult DownloadAhead::TakeWith(std::size_t index, const std::function<FetchResult()>& fetch) {
  std::unique_lock<std::mutex> lock(mutex_);
  Reach(index, lock);
  return FetchNow(lock, fetch);
}

FetchResult DownloadAhead::Take(std::size_t index, std::vector<uint8_t>& body, FailedRequest* failure) {
  std::unique_lock<std::mutex> lock(mutex_);
  Reach(index, lock);
  const auto ahead = started_.find(index);
  if (ahead == started_.end()) return FetchNow(lock, [&] { return Fetch(entries_[index], body, context_, failure); });
  while (!ahead->second.done) {
    if (context_.cancelled()) stop_.Cancel();
    changed_.wait_for(lock, kCancelPoll);
  }
  Download download = std::move(ahead->second);
  started_.erase(ahead);
  lock.unlock();
  changed_.notify_all();
  Log::WriteHeld(download.lines);
  body = std::move(download.body);
  *failure = download.failure;
  // Broken off by a cancel the operation passed on: a cancel, as it would have been here.
  return download.result;
}

void DownloadAhead::DropBefore(std::size_t index) {
  wanted_.erase(wanted_.begin(), wanted_.lower_bound(index));
  for (auto download = started_.begin(); download != started_.end() && download->first < index;) {
    if (download->second.done) {
      download = started_.erase(download);
    } else {
      download->second.abandoned = true;
      ++download;
    }
  }
}

void DownloadAhead::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stop_.cancelled()) return;
    // In list order: none while an entry before it may still want its download.
    if (wanted_.empty() || *wanted_.begin() >= firstUnchecked_ || started_.size() >= workers_) {
      changed_.wait(lock);
      continue;
    }
    const std::size_t index = *wanted_.begin();
    wanted_.erase(wanted_.begin());
    Download& download = started_[index];
    CountRunning(+1);
    lock.unlock();
    const ListEntry& entry = entries_[index];
    FetchResult result;
    FailedRequest failure;
    std::vector<uint8_t> body;
    std::vector<std::u16string> lines;
    {
      const Log::Holding holding(lines);
      result = Fetch(entry, body, workerContext_, &failure);
    }
    lock.lock();
    CountRunning(-1);
    if (download.abandoned) {
      started_.erase(index);
    } else {
      download.done = true;
      download.result = result;
      download.failure = failure;
      download.body = std::move(body);
      download.lines = std::move(lines);
    }
    changed_.notify_all();
  }
}
