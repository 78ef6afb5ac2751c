#include "archive/package_result.h"

const char* PackageResultText(PackageResult result) {
  switch (result) {
    case PackageResult::kOk:
      return "success";
    case PackageResult::kNotOpen:
      return "no archive is open";
    case PackageResult::kHeaderMagicMismatch:
      return "header magic mismatch";
    case PackageResult::kUnknownFormat:
      return "unrecognised format word in the tail";
    case PackageResult::kTailMagicMismatch:
      return "tail magic mismatch";
    case PackageResult::kSeekFailed:
      return "seek failed";
    case PackageResult::kReadFailed:
      return "read failed";
    case PackageResult::kWriteFailed:
      return "write failed";
    case PackageResult::kLengthCopiesDiffer:
      return "the two length copies of an index record differ";
    case PackageResult::kDecompressionFailed:
      return "decompression failed";
    case PackageResult::kCompressionFailed:
      return "compression failed";
    case PackageResult::kFileNotFound:
      return "file not found";
    case PackageResult::kCannotCreate:
      return "the .pck file cannot be created";
    case PackageResult::kCannotOpen:
      return "the .pck file cannot be opened";
    case PackageResult::kDiskFull:
      return "write failed: the disk is full";
    case PackageResult::kSourceFailed:
      return "the bytes to store could not be had";
    case PackageResult::kBadName:
      return "the name cannot be stored (too long or not representable in code page 936)";
  }
  return "unknown result";
}
