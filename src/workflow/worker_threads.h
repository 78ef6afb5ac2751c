#pragma once
// The workflow's worker threads: each operation runs on a thread of its own, and every
// one of them is joined before what they use goes away.

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class WorkerThreads {
 public:
  WorkerThreads() = default;
  // Joins every worker.
  ~WorkerThreads();
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;

  // Runs `work` on a new thread; false once Close was called. A worker may start another.
  bool Start(std::function<void()> work);
  // True while some worker has not ended.
  bool Running();
  // Waits until no worker runs, including workers started meanwhile by workers.
  void JoinAll();
  // Refuses new workers from now on, then joins every worker.
  void Close();

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };

  std::mutex mutex_;
  bool closed_ = false;
  std::list<Worker> workers_;
};
