// Writes the seed corpus of archive_open_fuzzer into the folder given as its argument:
// archives made by the archive writer itself, and archives laid out byte by byte for what
// the writer never produces (uncompressed index records, "/" in names, a name listed twice,
// and the read-only formats 0x20001 and 0x20002).

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/tavrin_file_package.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

using namespace archive_format;

constexpr char16_t kArchiveName[] = u"configs";

const std::string kText =
    "[display]\r\nwidth=1024\r\nheight=768\r\n[sound]\r\nvolume=80\r\n[display]\r\nwidth=1024\r\nheight=768\r\n";
const std::string kNoise = "\x8f\x03\xe1\x5a\x77\x10\xc4\x9b\x2e\xf0";

bool Check(PackageResult result, const char* what) {
  if (result == PackageResult::kOk) return true;
  std::fprintf(stderr, "archive_open_seeds: %s failed: %s\n", what, PackageResultText(result));
  return false;
}

bool WriteWithWriter(const std::string& folder) {
  const std::u16string base = platform::Utf16FromUtf8(folder);
  TavrinFilePackage archive;
  bool ok = Check(archive.Create(base + u"/empty", kArchiveName), "create empty") && Check(archive.Close(), "close");

  ok = ok && Check(archive.Create(base + u"/mixed", kArchiveName), "create mixed");
  ok = ok && Check(archive.SetFileData(u"version.sw", "1042", 4), "store raw");
  ok = ok && Check(archive.SetFileData(u"settings\\display.ini", kText.data(), uint32_t(kText.size())), "store zlib");
  ok = ok && Check(archive.SetFileData(u"empty.txt", "", 0), "store empty");
  ok = ok && Check(archive.SetFileData(u"noise.bin", kNoise.data(), uint32_t(kNoise.size())), "store noise");
  ok = ok && Check(archive.Close(), "close mixed");

  // Replaced contents and earlier indexes left behind as dead space.
  ok = ok && Check(archive.Create(base + u"/rewritten", kArchiveName), "create rewritten");
  ok = ok && Check(archive.SetFileData(u"version.sw", "1042", 4), "store");
  ok = ok && Check(archive.Save(), "save");
  ok = ok && Check(archive.SetFileData(u"version.sw", "1043", 4), "store in place");
  ok = ok && Check(archive.SetFileData(u"version.sw", "10440", 5), "store moved");
  ok = ok && Check(archive.Save(), "save again");
  ok = ok && Check(archive.Close(), "close rewritten");
  return ok;
}

struct SeedEntry {
  std::string name;
  std::string contents;
  bool compressContents;
};

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  unsigned char bytes[4];
  StoreLeU32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

std::vector<uint8_t> Compress(const void* data, size_t size) {
  uLongf capacity = compressBound(static_cast<uLong>(size));
  std::vector<uint8_t> out(capacity);
  compress2(out.data(), &capacity, static_cast<const Bytef*>(data), static_cast<uLong>(size), Z_DEFAULT_COMPRESSION);
  out.resize(capacity);
  return out;
}

// One archive laid out by hand: header, contents, index, tail.
std::vector<uint8_t> LayOut(uint32_t format, const std::vector<SeedEntry>& entries, bool compressRecords) {
  const bool oldFormat = format != kFormat188;
  std::vector<uint8_t> bytes;
  AppendU32(&bytes, kHeaderMagic1);
  AppendU32(&bytes, 0);
  AppendU32(&bytes, kHeaderMagic2);

  std::vector<EntryRecord> records;
  for (const SeedEntry& entry : entries) {
    EntryRecord record;
    entry.name.copy(record.name, kMaxNameBytes);
    record.dataPosition = static_cast<uint32_t>(bytes.size());
    record.uncompressedLength = static_cast<uint32_t>(entry.contents.size());
    std::vector<uint8_t> stored(entry.contents.begin(), entry.contents.end());
    if (entry.compressContents) stored = Compress(entry.contents.data(), entry.contents.size());
    record.storedLength = static_cast<uint32_t>(stored.size());
    bytes.insert(bytes.end(), stored.begin(), stored.end());
    records.push_back(record);
  }

  const uint32_t indexPosition = static_cast<uint32_t>(bytes.size());
  for (const EntryRecord& record : records) {
    unsigned char raw[kRecordSize];
    EncodeRecord(record, raw);
    std::vector<uint8_t> body(raw, raw + kRecordSize);
    if (compressRecords) body = Compress(raw, kRecordSize);
    const uint32_t length = static_cast<uint32_t>(body.size());
    if (oldFormat) {
      AppendU32(&bytes, length ^ kOldIndexKeyA);
      AppendU32(&bytes, length ^ kOldIndexKeyB);
    } else {
      AppendU32(&bytes, length ^ kIndexKey);
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
  }

  const uint32_t count = static_cast<uint32_t>(records.size());
  if (oldFormat) {
    AppendU32(&bytes, kOldTailMagic1);
    AppendU32(&bytes, 0);
    AppendU32(&bytes, indexPosition ^ kOldIndexKeyA);
    bytes.insert(bytes.end(), 256, 0);
    AppendU32(&bytes, kOldTailMagic2);
  } else {
    AppendU32(&bytes, kTailMagic1);
    AppendU32(&bytes, format);
    AppendU32(&bytes, indexPosition ^ kIndexKey);
    AppendU32(&bytes, kTailMagic2);
  }
  AppendU32(&bytes, count);
  AppendU32(&bytes, format);
  StoreLeU32(bytes.data() + kArchiveLengthOffset, static_cast<uint32_t>(bytes.size()));
  return bytes;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  platform::File file;
  if (file.Open(platform::Utf16FromUtf8(path), platform::FileMode::kCreate) != 0 ||
      !file.Write(bytes.data(), bytes.size())) {
    std::fprintf(stderr, "archive_open_seeds: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool WriteLaidOut(const std::string& folder) {
  const std::vector<SeedEntry> old = {
      {"configs\\version.sw", "1042", false},
      {"configs\\settings\\display.ini", kText, true},
      {"configs\\empty.txt", "", false},
  };
  const std::vector<SeedEntry> unusual = {
      {"configs/settings/display.ini", kText, true},
      {"Configs\\Version.SW", "1041", false},
      {"configs\\version.sw", "1042", false},
  };
  return WriteFile(folder + "/format_20001.pck", LayOut(kFormatOldA, old, true)) &&
         WriteFile(folder + "/format_20002.pck", LayOut(kFormatOldB, old, false)) &&
         WriteFile(folder + "/raw_records.pck", LayOut(kFormat188, unusual, false));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: archive_open_seeds <corpus folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  if (!platform::MakeDirectories(platform::Utf16FromUtf8(folder))) {
    std::fprintf(stderr, "archive_open_seeds: cannot create %s\n", folder.c_str());
    return 1;
  }
  return WriteWithWriter(folder) && WriteLaidOut(folder) ? 0 : 1;
}
