#pragma once
// The downloads of a file pass on several connections at once. As the pass's checks find
// targets that differ, worker threads download those entries ahead of the operation, each
// on a connection of its own (the client's connection takes several requests at a time),
// strictly in list order: an entry is started only once every entry before it has been
// checked, so the one the operation comes to next is never passed over. The operation takes
// each download when its entry's turn comes. So at internet distance the round trips of
// several files overlap, while the entries are still stored, logged and counted in list
// order: the log lines of a download made ahead are held and written when it is taken, and
// one the pass does not get to (it ended early) is dropped unseen.
//
// Bounded: at most `connections` downloads ahead, running or waiting to be taken. An entry
// that is not downloaded ahead (larger than kMaxAheadSize, where the bytes and not the round
// trip are the cost; one that its check left to the operation) the operation downloads
// itself when its turn comes.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/cancel_token.h"
#include "base/operation_context.h"
#include "engine/target_check.h"
#include "formats/file_list.h"
#include "net/fetch_result.h"

class ServerMirrors;

class DownloadAhead {
 public:
  // Larger files come through a file, and may be made of chunks (LargeFileDownload).
  static constexpr uint32_t kMaxAheadSize = 1024 * 1024;
  static constexpr int kMaxConnections = 8;

  // Starts `connections` workers, none for 1 (the operation downloads every entry itself).
  // All given must outlive the downloads.
  DownloadAhead(ServerMirrors& servers, const std::vector<ListEntry>& entries, int connections,
                const OperationContext& context);
  // Breaks the downloads still running off and joins the workers.
  ~DownloadAhead();
  DownloadAhead(const DownloadAhead&) = delete;
  DownloadAhead& operator=(const DownloadAhead&) = delete;

  // The resource of an entry's stored form on the server.
  static std::u16string ResourceOf(const ListEntry& entry) { return u"files\\" + entry.name; }

  // What the check ahead found of entry `index` (see EntryPass::CheckedHook). Any thread.
  void Checked(std::size_t index, TargetState state);
  // The download of entry `index` into `body`, as UpdateServerClient::FetchToBuffer gives it:
  // the one made ahead (waited for, its log lines written now) or, for an entry that is not
  // downloaded ahead, one made now. Called by the operation in list order. `failure` names
  // the server of a download that failed.
  FetchResult Take(std::size_t index, std::vector<uint8_t>& body, FailedRequest* failure);
  // The download of entry `index`, not made ahead, made now by `fetch` (a large file's, into a
  // file). Called by the operation in list order, as Take.
  FetchResult TakeWith(std::size_t index, const std::function<FetchResult()>& fetch);

 private:
  struct Download {
    bool done = false;
    // The operation has gone past it: whoever finishes it drops it.
    bool abandoned = false;
    FetchResult result;
    FailedRequest failure;
    std::vector<uint8_t> body;
    std::vector<std::u16string> lines;
  };

  void Work();
  // One entry's stored form, from the current server or, failing that, another.
  FetchResult Fetch(const ListEntry& entry, std::vector<uint8_t>& body, const OperationContext& context,
                    FailedRequest* failure);
  // The operation comes to entry `index`: the downloads of entries before it go, and one
  // wanted for it is waited for until it started; the lock is held.
  void Reach(std::size_t index, std::unique_lock<std::mutex>& lock);
  // `fetch` run now, counted among the downloads running; the lock is held, and released meanwhile.
  FetchResult FetchNow(std::unique_lock<std::mutex>& lock, const std::function<FetchResult()>& fetch);
  // Drops the downloads of entries before `index`; the lock is held.
  void DropBefore(std::size_t index);
  // One download more or fewer running, told to the progress; the lock is held.
  void CountRunning(int change);

  ServerMirrors& servers_;
  const std::vector<ListEntry>& entries_;
  const OperationContext& context_;
  const std::size_t workers_;
  // What the workers' downloads poll: set at the end, and by a cancel of the operation (which
  // the operation passes on while it waits).
  CancelToken stop_;
  // The workers' transfers count their bytes to the operation's progress, nothing else:
  // the display shows the operation's own transfer.
  BytesBeside bytesOnly_;
  OperationContext workerContext_;

  std::mutex mutex_;
  std::condition_variable changed_;
  // The entries checked ahead so far, and the first entry not yet checked.
  std::vector<bool> checked_;
  std::size_t firstUnchecked_ = 0;
  // Entries to download ahead that have not started.
  std::set<std::size_t> wanted_;
  // Downloads started ahead and not taken, by entry.
  std::map<std::size_t, Download> started_;
  // The entries before it are behind the operation.
  std::size_t next_ = 0;
  // Downloads running now, the operation's own among them.
  int32_t running_ = 0;
  std::vector<std::thread> threads_;
};
