#include "engine/server_tree.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "formats/chunk_index.h"
#include "formats/content_chunker.h"
#include "formats/release_manifest.h"
#include "formats/release_signature.h"
#include "platform/text.h"

namespace testsupport {
namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

// Byte by byte: gcc 12 warns falsely about vector::insert of small arrays at -O3.
void Append(std::vector<uint8_t>& out, const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out.push_back(bytes[i]);
}

void PutName(std::vector<uint8_t>& out, const std::u16string& name) {
  PutU16(out, static_cast<uint16_t>(name.size()));
  for (char16_t unit : name) PutU16(out, unit);
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

platform::Md5Digest Md5Of(const std::string& content) {
  platform::Md5Digest digest{};
  if (!platform::ComputeMd5(content.data(), content.size(), &digest)) throw std::runtime_error("md5");
  return digest;
}

std::vector<uint8_t> StoredForm(const std::string& content, bool compress) {
  std::vector<uint8_t> raw(content.begin(), content.end());
  if (!compress || content.empty()) return raw;
  uLongf length = compressBound(static_cast<uLong>(content.size()));
  std::vector<uint8_t> packed(length);
  if (compress2(packed.data(), &length, raw.data(), static_cast<uLong>(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw std::runtime_error("compress2");
  if (length >= raw.size()) return raw;
  packed.resize(length);
  return packed;
}

ListEntry EntryOf(const ListedFile& file) {
  ListEntry entry;
  entry.name = file.name;
  if (file.remove) {
    entry.size = 0xFFFFFFFF;
    return entry;
  }
  entry.digest = Md5Of(file.content);
  entry.size = static_cast<uint32_t>(file.content.size());
  entry.storedSize = static_cast<uint32_t>(StoredForm(file.content, file.compress).size());
  return entry;
}

std::vector<uint8_t> FileListBytes(const std::vector<ListEntry>& entries) {
  std::vector<uint8_t> out;
  PutU32(out, static_cast<uint32_t>(entries.size()));
  for (const ListEntry& entry : entries) {
    PutName(out, entry.name);
    Append(out, entry.digest.data(), entry.digest.size());
    PutU32(out, entry.size);
    PutU32(out, entry.storedSize);
  }
  return out;
}

std::vector<uint8_t> PackageBytes(int32_t minimumVersion, int32_t targetVersion, const std::vector<ListedFile>& files) {
  std::vector<uint8_t> out;
  PutU32(out, static_cast<uint32_t>(minimumVersion));
  PutU32(out, static_cast<uint32_t>(targetVersion));
  PutU32(out, 0);  // index offset, filled in below
  std::vector<uint32_t> offsets;
  for (const ListedFile& file : files) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    if (file.remove) continue;
    const std::vector<uint8_t> stored = StoredForm(file.content, file.compress);
    Append(out, stored.data(), stored.size());
  }
  const auto indexOffset = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>((indexOffset ^ 0x3E7A19C5u) >> (8 * i));
  PutU32(out, static_cast<uint32_t>(files.size()) ^ 0x71D04B2Eu);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ListEntry entry = EntryOf(files[i]);
    PutName(out, entry.name);
    Append(out, entry.digest.data(), entry.digest.size());
    PutU32(out, entry.size ^ 0x2C95E3A8u);
    PutU32(out, entry.storedSize ^ 0x4F6B07D1u);
    PutU32(out, offsets[i] ^ 0x19A8C65Bu);
  }
  return out;
}

uint32_t PackageIndexOffset(const std::vector<uint8_t>& package) {
  uint32_t masked = 0;
  for (int i = 0; i < 4; ++i) masked |= uint32_t{package.at(8 + static_cast<std::size_t>(i))} << (8 * i);
  return masked ^ 0x3E7A19C5u;
}

std::u16string ServerTree::PutChunks(const std::string& content) const {
  ChunkIndex index;
  index.size = static_cast<uint32_t>(content.size());
  index.md5 = Md5Of(content);
  ContentChunker chunker;
  const ContentChunker::ChunkEnd end = [&index](uint32_t length) { index.chunks.push_back({length, 0, {}}); };
  chunker.Feed(reinterpret_cast<const uint8_t*>(content.data()), content.size(), end);
  chunker.Finish(end);
  std::size_t at = 0;
  for (IndexedChunk& chunk : index.chunks) {
    const std::string bytes = content.substr(at, chunk.length);
    chunk.digest = DigestOfChunk(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const std::vector<uint8_t> stored = StoredForm(bytes, true);
    chunk.storedLength = static_cast<uint32_t>(stored.size());
    Put(platform::Utf16FromUtf8(ChunkResource(chunk.digest)), stored);
    at += chunk.length;
  }
  const std::u16string resource = platform::Utf16FromUtf8(ChunkIndexResource(index.md5));
  PutText(resource, FormatChunkIndex(index));
  return resource;
}

void ServerTree::Put(const std::u16string& serverPath, const std::vector<uint8_t>& bytes) const {
  std::u16string folders = serverPath;
  for (char16_t& unit : folders)
    if (unit == u'\\') unit = u'/';
  const std::filesystem::path inFolders = root_ / std::filesystem::path(folders);
  WriteFile(inFolders, bytes);
  // Where "\" is no separator, the literal name is a file of its own: a second name
  // for the same bytes, for clients that send the "\".
  if (std::filesystem::path::preferred_separator != '\\' && folders != serverPath) {
    const std::filesystem::path literal = root_ / std::filesystem::path(serverPath);
    std::error_code ignored;
    std::filesystem::remove(literal, ignored);
    std::filesystem::create_hard_link(inFolders, literal);
  }
}

void ServerTree::PutReleaseManifest(int32_t release, int64_t expires, const std::vector<ManifestEntry>& resources,
                                    const std::array<uint8_t, 64>* secretKey) const {
  ReleaseManifest manifest;
  manifest.release = release;
  manifest.expires = expires;
  for (const ManifestEntry& resource : resources) {
    std::u16string folders = resource.serverPath;
    for (char16_t& unit : folders)
      if (unit == u'\\') unit = u'/';
    std::ifstream in(root_ / std::filesystem::path(folders), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    manifest.resources.push_back({resource.name, bytes.size(), Sha256(bytes.data(), bytes.size())});
  }
  const std::string text = FormatReleaseManifest(manifest);
  PutText(u"release.manifest", text);
  std::error_code ignored;
  std::filesystem::remove(root_ / "release.manifest.sig", ignored);
  if (secretKey != nullptr) PutText(u"release.manifest.sig", SignatureText(text, *secretKey));
}

void ServerTree::PutText(const std::u16string& serverPath, const std::string& text) const {
  Put(serverPath, std::vector<uint8_t>(text.begin(), text.end()));
}

void ServerTree::PutVersion(int32_t version) const {
  PutText(u"version", std::to_string(version));
}

void ServerTree::PutStoredFiles(const std::vector<ListedFile>& files) const {
  for (const ListedFile& file : files)
    if (!file.remove) Put(u"files\\" + file.name, StoredForm(file.content, file.compress));
}

void ServerTree::PutChangeList(int32_t behind, const std::vector<ListedFile>& files) const {
  std::vector<ListEntry> entries;
  for (const ListedFile& file : files) entries.push_back(EntryOf(file));
  const std::string name = "list_" + std::to_string(behind);
  Put(std::u16string(name.begin(), name.end()), FileListBytes(entries));
  PutStoredFiles(files);
}

void ServerTree::PutFullList(int32_t version, const std::vector<ListedFile>& files) const {
  std::vector<ListEntry> entries;
  for (const ListedFile& file : files) entries.push_back(EntryOf(file));
  std::vector<uint8_t> bytes;
  PutU32(bytes, static_cast<uint32_t>(version));
  const std::vector<uint8_t> list = FileListBytes(entries);
  Append(bytes, list.data(), list.size());
  Put(u"fulllist", bytes);
  PutStoredFiles(files);
}

void ServerTree::Clear() const {
  std::error_code ignored;
  for (const auto& item : std::filesystem::directory_iterator(root_, ignored))
    std::filesystem::remove_all(item.path(), ignored);
}

}  // namespace testsupport
