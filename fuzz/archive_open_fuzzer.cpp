// Opens untrusted bytes as an archive (header, tail, index), reads every entry it
// lists, then stores one file, commits, and reopens: a damaged archive that happens to
// load must take a write as safely as a sound one.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/tavrin_file_package.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/temp_folder.h"

namespace {

constexpr char16_t kArchiveName[] = u"configs";
constexpr char16_t kProbeName[] = u"fuzz\\probe.txt";
constexpr char kProbeContents[] = "probe contents, probe contents, probe contents";

struct EntryRead {
  PackageResult result;
  std::vector<uint8_t> contents;
};

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "archive_open_fuzzer: %s\n", what);
  std::abort();
}

const std::u16string& BasePath() {
  static const testsupport::TempFolder folder("fuzz", testsupport::TempFolder::InMemoryParent());
  Require(folder.made(), "cannot make a folder for the input file");
  static const std::u16string base = folder.U16("archive");
  return base;
}

// The target writes the ".pck" only; a ".pkx" left by an earlier input would join the stream.
void WriteInput(const uint8_t* data, size_t size) {
  const std::u16string& base = BasePath();
  if (platform::FileExists(base + u".pkx")) platform::RemoveFile(base + u".pkx");
  platform::File file;
  Require(file.Open(base + u".pck", platform::FileMode::kCreate) == 0, "cannot write the input file");
  if (size > 0) Require(file.Write(data, size), "cannot write the input file");
}

// What GetFileData returns for a record: the stored bytes as they are unless they are shorter
// than the contents (then the inflated contents); nothing for an empty entry.
size_t ExpectedSize(const TavrinFilePackage::EntryRecord& record) {
  if (record.storedLength == 0) return 0;
  return record.storedLength < record.uncompressedLength ? record.uncompressedLength : record.storedLength;
}

std::map<std::u16string, EntryRead> ReadEveryEntry(TavrinFilePackage& archive) {
  std::map<std::u16string, EntryRead> reads;
  for (const auto& [key, record] : archive.index()) {
    EntryRead read;
    read.result = archive.GetFileData(TavrinFilePackage::NameOf(record), true, &read.contents);
    Require(read.result != PackageResult::kFileNotFound, "an indexed entry is not found by its own name");
    if (read.result == PackageResult::kOk)
      Require(read.contents.size() == ExpectedSize(record), "an entry read back with the wrong length");
    reads.emplace(key, std::move(read));
  }
  return reads;
}

// Bytes that lie between the header and the committed end stay as they are when a file is
// appended and the index committed, so such entries must read the same after reopening.
bool UntouchedByAppend(const TavrinFilePackage::EntryRecord& record, uint64_t committedLength) {
  if (record.storedLength == 0) return true;
  return record.dataPosition >= archive_format::kHeaderSize &&
         uint64_t{record.dataPosition} + record.storedLength <= committedLength;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  const std::u16string& base = BasePath();
  const std::u16string probeFullName = std::u16string(kArchiveName) + u"\\" + kProbeName;

  TavrinFilePackage archive;
  if (archive.Open(base, kArchiveName) != PackageResult::kOk) return 0;
  const std::map<std::u16string, EntryRead> before = ReadEveryEntry(archive);
  const TavrinFilePackage::Index indexBefore = archive.index();
  const uint64_t committedLength = archive.streamLength();
  const bool probeIsNew = archive.FindEntry(probeFullName, false) == nullptr;

  const PackageResult stored = archive.SetFileData(kProbeName, kProbeContents, sizeof kProbeContents);
  const PackageResult saved = archive.Save();
  const PackageResult closed = archive.Close();
  // An existing entry of that name may be overwritten in place wherever its record points,
  // even over the header: only a new entry has to leave the archive readable.
  if (!probeIsNew) {
    archive.Open(base, kArchiveName);
    ReadEveryEntry(archive);
    return 0;
  }
  Require(stored == PackageResult::kOk && saved == PackageResult::kOk && closed == PackageResult::kOk,
          "storing a new file in a loaded archive failed");

  Require(archive.Open(base, kArchiveName) == PackageResult::kOk, "the archive does not reopen after a commit");
  Require(archive.index().size() == indexBefore.size() + 1, "the reopened index lost or gained entries");
  const std::map<std::u16string, EntryRead> after = ReadEveryEntry(archive);

  std::vector<uint8_t> probe;
  Require(archive.GetFileData(kProbeName, false, &probe) == PackageResult::kOk, "the stored file does not read back");
  Require(probe == std::vector<uint8_t>(kProbeContents, kProbeContents + sizeof kProbeContents),
          "the stored file reads back different");

  for (const auto& [key, record] : indexBefore) {
    auto found = after.find(key);
    Require(found != after.end(), "an entry is missing after the commit");
    if (!UntouchedByAppend(record, committedLength)) continue;
    const EntryRead& old = before.at(key);
    Require(found->second.result == old.result && found->second.contents == old.contents,
            "an entry reads differently after the commit");
  }
  return 0;
}
