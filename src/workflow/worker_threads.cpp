#include "workflow/worker_threads.h"

#include <exception>

#include "base/log.h"
#include "platform/text.h"

WorkerThreads::~WorkerThreads() {
  Close();
}

bool WorkerThreads::Start(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  // Workers that have ended are joined here, so the list stays short.
  for (auto worker = workers_.begin(); worker != workers_.end();) {
    if (worker->finished->load()) {
      worker->thread.join();
      worker = workers_.erase(worker);
    } else {
      ++worker;
    }
  }
  auto finished = std::make_shared<std::atomic<bool>>(false);
  workers_.push_back({std::thread([work = std::move(work), finished] {
                        // An exception that left the thread would end the process.
                        try {
                          work();
                        } catch (const std::exception& failure) {
                          Log::Error(u"Worker failed: %s", platform::Utf16FromUtf8(failure.what()));
                        } catch (...) {
                          Log::Error(u"Worker failed");
                        }
                        finished->store(true);
                      }),
                      finished});
  return true;
}

bool WorkerThreads::Running() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Worker& worker : workers_)
    if (!worker.finished->load()) return true;
  return false;
}

void WorkerThreads::JoinAll() {
  for (;;) {
    std::list<Worker> joining;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (workers_.empty()) return;
      joining.swap(workers_);
    }
    for (Worker& worker : joining) worker.thread.join();
  }
}

void WorkerThreads::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  JoinAll();
}
