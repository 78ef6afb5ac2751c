#pragma once
// What one fetch from the update server came to: the bytes in place, the length the
// server declared, and why it failed.

#include <cstdint>
#include <string>

enum class FetchFailure : uint8_t {
  kNone,
  kRefused,          // no connection to the server could be made
  kTimedOut,         // no connection in time, or the server stalled or trickled
  kNameNotResolved,  // the host name is unknown
  kHttpStatus,       // an answer other than 200 (see FetchResult::status)
  kBrokenOff,        // the body ended early, also after its remainder was asked for again
  kCancelled,        // the operation's cancel token was set
  kTooLarge,         // the declared length is above the fetch's bound or cannot be held
  kBadRange,         // the remainder came with a range other than the one asked for
  kFailed,           // anything else: no HTTP layer, a name too long, a failed write
};

struct FetchResult {
  // Bytes received and in place (fewer than declared when the transfer broke off);
  // -1 when no body was started.
  int32_t received = -1;
  // The length the server declared for the whole resource; 0 until it is known (a body
  // without a length, chunked or ended by the connection's close, is known once it ended).
  uint64_t declared = 0;
  FetchFailure failure = FetchFailure::kNone;
  // The status of the last response; 0 when none came.
  uint32_t status = 0;

  // The whole resource arrived.
  bool complete() const {
    return failure == FetchFailure::kNone && received >= 0 && static_cast<uint64_t>(received) == declared;
  }
};

// A request that failed, for messages that name it: where it went, what it asked for and why.
struct FailedRequest {
  std::u16string host;
  uint16_t port = 0;
  std::u16string resource;
  FetchFailure failure = FetchFailure::kNone;
  uint32_t status = 0;
};

// English words for log lines: "timed out", "HTTP status 404".
std::u16string FetchFailureText(FetchFailure failure, uint32_t status);
