#pragma once
// What every operation of the updater is given by whoever runs it: the cancel token it
// polls between pieces of work, and the sink it reports its progress to.

#include "base/cancel_token.h"
#include "base/progress_sink.h"

class OperationContext {
 public:
  // Never cancelled; progress goes nowhere.
  OperationContext() : progress_(&ProgressSink::None()) {}
  // `cancel` may be null (nothing cancels); both must outlive the operation.
  OperationContext(const CancelToken* cancel, ProgressSink& progress) : cancel_(cancel), progress_(&progress) {}

  bool cancelled() const { return cancel_ != nullptr && cancel_->cancelled(); }
  // The flag itself, for code that polls a plain flag (the HTTP transport); null when nothing cancels.
  const std::atomic<bool>* cancelFlag() const { return cancel_ != nullptr ? &cancel_->flag() : nullptr; }
  const CancelToken* cancelToken() const { return cancel_; }
  ProgressSink& progress() const { return *progress_; }

 private:
  const CancelToken* cancel_ = nullptr;
  ProgressSink* progress_;
};
