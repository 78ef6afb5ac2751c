#pragma once
// Result codes of archive operations.

enum class PackageResult : int {
  kOk = 0,
  kNotOpen = 1,
  kHeaderMagicMismatch = 2,
  kUnknownFormat = 3,
  kTailMagicMismatch = 4,
  kSeekFailed = 5,
  kReadFailed = 6,
  kWriteFailed = 7,
  kLengthCopiesDiffer = 8,
  kDecompressionFailed = 9,
  kCompressionFailed = 10,
  kFileNotFound = 11,
  // 12 is not used.
  kCannotCreate = 13,
  kCannotOpen = 14,
  // A full name that the name field cannot hold as it is: longer than 259 bytes
  // in code page 936, or with characters that code page has no form for.
  kBadName = 15,
  // A write the disk refused for want of space: kWriteFailed with its cause.
  kDiskFull = 16,
  // The bytes to store could not be had from where they came from; nothing was stored.
  kSourceFailed = 17,
};

// Short English text for messages, e.g. "header magic mismatch".
const char* PackageResultText(PackageResult result);
