#pragma once
// Runs the real publish program on real folders, and reads what it wrote with readers of
// the tests' own (written from the formats, sharing no code with the tool).

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/archive_names.h"
#include "archive/tavrin_file_package.h"
#include "platform/md5.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/utf8_path.h"

using testsupport::ChildResult;
using testsupport::ReadFileText;
using testsupport::RunChild;
using testsupport::TempFolder;

namespace publish_test {

namespace fs = std::filesystem;

using testsupport::U8Path;
using testsupport::U8String;

inline uint32_t U32At(const std::string& bytes, std::size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes.at(at + static_cast<std::size_t>(i)));
  return value;
}

inline uint16_t U16At(const std::string& bytes, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(at)) | static_cast<uint8_t>(bytes.at(at + 1)) << 8);
}

// Every file and folder under a folder, named with "/" on every platform, with its bytes
// ("/" for a folder), but for the scratch folder where the child's output lands.
inline std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code error;
  if (!fs::exists(folder, error)) return files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    const std::u8string generic = item.path().lexically_relative(folder).generic_u8string();
    const std::string name(generic.begin(), generic.end());
    if (name.rfind("scratch", 0) != 0) files[name] = item.is_regular_file() ? ReadFileText(item.path()) : "/";
  }
  return files;
}

struct Listed {
  std::u16string name;
  std::string digest;  // 16 raw bytes
  uint32_t size = 0;
  uint32_t storedSize = 0;
  uint32_t dataOffset = 0;  // packages only
};

inline std::string Md5(const std::string& bytes) {
  platform::Md5Digest digest{};
  EXPECT_TRUE(platform::ComputeMd5(bytes.data(), bytes.size(), &digest));
  return std::string(digest.begin(), digest.end());
}

// "list_N" from byte 0, "fulllist" from byte 4: count, then entries of 26 + 2L bytes.
inline std::vector<Listed> ParseList(const std::string& bytes, std::size_t start) {
  std::vector<Listed> entries;
  const uint32_t count = U32At(bytes, start);
  std::size_t at = start + 4;
  for (uint32_t i = 0; i < count; ++i) {
    Listed entry;
    const uint16_t length = U16At(bytes, at);
    at += 2;
    for (uint16_t unit = 0; unit < length; ++unit, at += 2) entry.name += static_cast<char16_t>(U16At(bytes, at));
    entry.digest = bytes.substr(at, 16);
    entry.size = U32At(bytes, at + 16);
    entry.storedSize = U32At(bytes, at + 20);
    at += 24;
    entries.push_back(entry);
  }
  EXPECT_EQ(at, bytes.size()) << "bytes after the last entry";
  return entries;
}

struct Package {
  int32_t minimumVersion = 0;
  int32_t targetVersion = 0;
  std::vector<Listed> records;
};

inline Package ParsePackage(const std::string& bytes) {
  Package package;
  package.minimumVersion = static_cast<int32_t>(U32At(bytes, 0));
  package.targetVersion = static_cast<int32_t>(U32At(bytes, 4));
  std::size_t at = U32At(bytes, 8) ^ 0x3E7A19C5u;
  const uint32_t count = U32At(bytes, at) ^ 0x71D04B2Eu;
  at += 4;
  for (uint32_t i = 0; i < count; ++i) {
    Listed record;
    const uint16_t length = U16At(bytes, at);
    at += 2;
    for (uint16_t unit = 0; unit < length; ++unit, at += 2) record.name += static_cast<char16_t>(U16At(bytes, at));
    record.digest = bytes.substr(at, 16);
    record.size = U32At(bytes, at + 16) ^ 0x2C95E3A8u;
    record.storedSize = U32At(bytes, at + 20) ^ 0x4F6B07D1u;
    record.dataOffset = U32At(bytes, at + 24) ^ 0x19A8C65Bu;
    at += 28;
    package.records.push_back(record);
  }
  EXPECT_EQ(at, bytes.size()) << "the index ends the package";
  return package;
}

// The updater's rule: zlib when the stored form is shorter than the contents.
inline std::string Contents(const std::string& stored, uint32_t size) {
  if (stored.size() >= size) return stored;
  std::string contents(size, '\0');
  uLongf produced = size;
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(contents.data()), &produced,
                       reinterpret_cast<const Bytef*>(stored.data()), static_cast<uLong>(stored.size())),
            Z_OK);
  EXPECT_EQ(produced, size);
  return contents;
}

// The file a name with "\\" between folders ("data\\a.txt") stands for below `folder`.
inline fs::path Below(fs::path folder, const std::u16string& name) {
  for (std::size_t start = 0; start <= name.size();) {
    std::size_t end = name.find(u'\\', start);
    if (end == std::u16string::npos) end = name.size();
    folder /= fs::path(name.substr(start, end - start));
    start = end + 1;
  }
  return folder;
}

// A client as the updater would find it: archive entries and plain files by the identity
// the updater gives them (A-Z lowered), with the name and contents.
struct ClientImage {
  std::map<std::u16string, std::pair<std::u16string, std::string>> files;
  std::string Describe() const { return std::to_string(files.size()) + " files"; }
};

inline std::u16string Lowered(std::u16string name) {
  for (char16_t& unit : name)
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  return name;
}

inline ClientImage ReadClient(const fs::path& clientFolder) {
  ClientImage image;
  for (std::u16string_view archiveName : kArchiveNames) {
    std::u16string base = clientFolder.u16string();
    base += u'/';
    for (char16_t unit : archiveName) base += unit == u'\\' ? u'/' : unit;
    TavrinFilePackage archive;
    EXPECT_EQ(archive.Open(base, std::u16string(archiveName)), PackageResult::kOk);
    for (const auto& [key, record] : archive.index()) {
      const std::u16string name = TavrinFilePackage::NameOf(record);
      if (key == Lowered(std::u16string(archiveName) + u"\\version.sw")) continue;
      std::vector<uint8_t> bytes;
      EXPECT_EQ(archive.GetFileData(name, true, &bytes), PackageResult::kOk);
      image.files[Lowered(name)] = {name, std::string(bytes.begin(), bytes.end())};
    }
  }
  for (const auto& item : fs::recursive_directory_iterator(clientFolder)) {
    if (!item.is_regular_file()) continue;
    std::u16string name;
    for (const fs::path& part : item.path().lexically_relative(clientFolder)) {
      if (!name.empty()) name += u'\\';
      name += part.u16string();
    }
    const std::u16string extension = name.size() > 4 ? name.substr(name.size() - 4) : u"";
    if (extension == u".pck" || extension == u".pkx") continue;
    image.files[Lowered(name)] = {name, ReadFileText(item.path())};
  }
  return image;
}

// A client folder with exactly these files: names that begin with an archive's name go
// into that archive, the rest are plain files. Every archive holds version.sw.
inline void MakeClient(const fs::path& folder, const std::map<std::u16string, std::string>& files,
                       const std::string& version = "1") {
  for (std::u16string_view archiveName : kArchiveNames) {
    const std::u16string name(archiveName);
    fs::path base = folder;
    for (std::size_t start = 0;;) {
      const std::size_t end = name.find(u'\\', start);
      base /= fs::path(name.substr(start, end - start));
      if (end == std::u16string::npos) break;
      start = end + 1;
    }
    fs::create_directories(base.parent_path());
    TavrinFilePackage archive;
    ASSERT_EQ(archive.Create(base.u16string(), name), PackageResult::kOk);
    for (const auto& [path, contents] : files)
      if (path.compare(0, name.size() + 1, name + u"\\") == 0) {
        ASSERT_EQ(archive.SetFileCompressedData(path, contents.data(), static_cast<uint32_t>(contents.size()),
                                                static_cast<uint32_t>(contents.size())),
                  PackageResult::kOk);
      }
    ASSERT_EQ(archive.SetFileData(u"version.sw", version.data(), static_cast<uint32_t>(version.size())),
              PackageResult::kOk);
    ASSERT_EQ(archive.Save(), PackageResult::kOk);
    archive.clearIndexChanged();
  }
  for (const auto& [path, contents] : files) {
    bool inArchive = false;
    for (std::u16string_view archiveName : kArchiveNames)
      inArchive = inArchive || path.compare(0, archiveName.size() + 1, std::u16string(archiveName) + u"\\") == 0;
    if (inArchive) continue;
    const fs::path file = Below(folder, path);
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(contents.data(), static_cast<std::streamsize>(contents.size()));
  }
}

class PublishFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.made()) << "no temporary folder";
    fs::create_directories(root_ / "scratch");
  }

  ChildResult Publish(const std::vector<std::string>& arguments) {
    ChildResult result = RunChild(PUBLISH_PATH, arguments, root_ / "scratch");
    EXPECT_TRUE(result.started) << "cannot start " << PUBLISH_PATH;
    return result;
  }

  void PublishOk(const std::vector<std::string>& arguments) {
    const ChildResult result = Publish(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  }

  // A path under the test's folder, as publish gets it on its command line.
  std::string At(std::string_view relative) const { return U8String(root_ / U8Path(relative)); }
  fs::path PathOf(std::string_view relative) const { return root_ / U8Path(relative); }

  std::string Resource(std::string_view server, const std::u16string& name) const {
    return ReadFileText(Below(PathOf(server), name));
  }

  // Sample client `version` (150 files, `sizeMb` MB) published into "server".
  void ReleaseSample(int version, int sizeMb) {
    // Built by insert: GCC 12 warns wrongly (-Wrestrict) on "c" + std::to_string(...).
    std::string client = std::to_string(version);
    client.insert(client.begin(), 'c');
    PublishOk({"sample", At(client), std::to_string(version), "--files", "150", "--size-mb", std::to_string(sizeMb)});
    PublishOk({"release", At("server"), At(client + "/velkar"), std::to_string(version)});
  }

  // The files of a folder with their bytes; folders and the lock file left out.
  std::map<std::string, std::string> TreeFiles(std::string_view folder) const {
    std::map<std::string, std::string> files;
    for (const auto& [name, bytes] : Snapshot(PathOf(folder)))
      if (bytes != "/" && name != ".publish-lock") files[name] = bytes;
    return files;
  }

  TempFolder folder_;
  const fs::path root_ = folder_.path();
};

}  // namespace publish_test
