#pragma once
// What long work reports as it goes, for whoever shows its progress: the items of the step
// that runs (entries of a list, records of a package, archives), and the transfer that runs
// (a body of so many bytes, read in pieces). Every call may come from any thread; the
// default does nothing, for work nobody watches.

#include <cstdint>

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;

  // A step of `total` items starts (none done yet).
  virtual void StartItems(int32_t /*total*/) {}
  virtual void ItemDone() {}
  // The step is over: every item counts as done.
  virtual void FinishItems() {}
  // No step: nothing to count (both figures 0).
  virtual void ClearItems() {}

  // A body of `length` bytes starts, to come in about `reads` reads; again when it starts over.
  // Both 0: the server gave no length, and the body's share done is unknown until it ends.
  virtual void TransferStarted(uint32_t /*length*/, int32_t /*reads*/) {}
  // One read brought `bytes`.
  virtual void Received(uint32_t /*bytes*/) {}
  // The transfer is over, whole or not.
  virtual void TransferEnded() {}

  // Downloads beside the running transfer (several at once, each on a connection of its own):
  // the bytes one of them brought, which are no reads of the running transfer, and how many
  // downloads run at once now, the running transfer's among them.
  virtual void ReceivedBeside(uint32_t /*bytes*/) {}
  virtual void DownloadsAtOnce(int32_t /*count*/) {}

  // The sink of work nobody watches.
  static ProgressSink& None();
};

// Passes on only the bytes received, as bytes received beside the outer sink's running transfer:
// the progress of downloads on other threads while the operation shows its own.
class BytesBeside final : public ProgressSink {
 public:
  explicit BytesBeside(ProgressSink& outer) : outer_(outer) {}
  void Received(uint32_t bytes) override { outer_.ReceivedBeside(bytes); }

 private:
  ProgressSink& outer_;
};
