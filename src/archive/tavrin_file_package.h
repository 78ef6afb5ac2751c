#pragma once
// One archive (.pck/.pkx): a header, the stored bytes of every file, and an index with a
// tail at the end. The index lives in memory; changes are appended and committed by
// rewriting the archive length in the header, so an interrupted write is cut away on
// the next open.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/archive_format.h"
#include "archive/dual_files_stream.h"
#include "archive/package_result.h"
#include "archive/zlib_codec.h"

class TavrinFilePackage : private DualFilesStream {
 public:
  using EntryRecord = archive_format::EntryRecord;
  using Index = std::unordered_map<std::u16string, EntryRecord>;

  TavrinFilePackage();
  virtual ~TavrinFilePackage();

  // Reading.
  PackageResult Open(const std::u16string& basePath, const std::u16string& archiveName);
  // Opens for inspection: the files are opened read-only and bytes after the last commit
  // are left where they are (see uncommittedBytes); every write fails.
  PackageResult OpenReadOnly(const std::u16string& basePath, const std::u16string& archiveName);
  PackageResult Close();
  // fullName uses "\" separators; letters A-Z match either case.
  EntryRecord* FindEntry(const std::u16string& fullName, bool create);
  PackageResult GetFileData(const std::u16string& fileName, bool nameIsFull, std::vector<uint8_t>* output);
  // Where an entry's stored bytes lie, for reading them in pieces: an entry is then
  // checked without being inflated whole into memory.
  struct StoredPlace {
    uint32_t position = 0;
    uint32_t storedLength = 0;
    uint32_t uncompressedLength = 0;
  };
  // kFileNotFound; kReadFailed when the stored bytes would lie beyond the archive's end.
  PackageResult FindStored(const std::u16string& fullName, StoredPlace* place);
  // `count` (at least 1) of the stored bytes, from `offset` on within them.
  PackageResult ReadStored(const StoredPlace& place, uint32_t offset, void* out, uint32_t count);

  // Writing.
  // Stored bytes go to the archive in pieces of at most this many bytes.
  static constexpr uint32_t kStorePiece = 1u << 20;
  // Hands out the stored bytes of a store in order: the next `count` (at most kStorePiece)
  // of them, valid until the next call; null when they cannot be had.
  using StoredPieces = std::function<const uint8_t*(uint32_t count)>;

  PackageResult Create(const std::u16string& basePath, const std::u16string& archiveName);
  PackageResult SetFileData(const std::u16string& fileName, const void* data, uint32_t length);
  PackageResult SetFileCompressedData(const std::u16string& fullName, const void* data, uint32_t storedLength,
                                      uint32_t uncompressedLength);
  // The same with the stored bytes taken piece by piece, so that none of a large entry's
  // size is held in memory; kSourceFailed when a piece cannot be had.
  PackageResult SetFileCompressedData(const std::u16string& fullName, const StoredPieces& pieces, uint32_t storedLength,
                                      uint32_t uncompressedLength);
  // Compared with the keys as given: pass the lower-case key form.
  PackageResult RemoveFile(const std::u16string& fullName);
  PackageResult Save();
  // Writes the index in format 188 and commits it; callers that save a changed
  // archive clear indexChanged whatever the result.
  PackageResult WriteIndex();

  bool isOpen() const { return isOpen_; }
  // The system's error (an errno value) when the last Open or Create could not open the
  // first file; 0 otherwise.
  int fileError() const { return fileError_; }
  // After kDiskFull: the bytes the refused store (its stored bytes) or save (the index and
  // tail) had to write.
  uint64_t refusedBytes() const { return refusedBytes_; }
  bool indexChanged() const { return indexChanged_; }
  void clearIndexChanged() { indexChanged_ = false; }
  const std::u16string& name() const { return name_; }
  uint32_t format() const { return format_; }
  const Index& index() const { return index_; }
  // The logical length of the open archive.
  uint64_t streamLength() const { return DualFilesStream::length; }
  // Bytes beyond the archive length of the header: what an interrupted write left. Open
  // cuts them away, so only an archive opened read-only can have any.
  uint64_t uncommittedBytes() const { return DualFilesStream::length - committedLength_; }

  // Entry key: A-Z lowered, every other unit unchanged.
  static std::u16string KeyOf(std::u16string_view fullName);
  // The record's name converted to UTF-16 (as stored, letter case kept).
  static std::u16string NameOf(const EntryRecord& record);

 private:
  PackageResult OpenWith(const std::u16string& basePath, const std::u16string& archiveName, platform::FileMode mode);
  PackageResult LoadIndex();
  PackageResult FindOrCreateEntry(const std::u16string& fullName, EntryRecord** record);
  PackageResult PlaceStoredBytes(EntryRecord* record, const StoredPieces& pieces, uint32_t stored,
                                 uint32_t uncompressed);
  // The result of a write of `needed` bytes that failed: kDiskFull when the disk had no room.
  PackageResult WriteFailure(uint64_t needed);

  bool isOpen_ = false;
  int fileError_ = 0;
  uint64_t refusedBytes_ = 0;
  bool readOnly_ = false;
  bool indexChanged_ = false;
  // The archive length of the header once the index loaded.
  uint64_t committedLength_ = 0;
  std::u16string name_;
  uint32_t format_ = archive_format::kFormat188;
  Index index_;

  // Kept between calls: zlib state and one scratch buffer, reused for every file.
  Deflater deflater_;
  Inflater inflater_;
  std::vector<uint8_t> scratch_;
};
