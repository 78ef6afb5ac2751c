#include "engine/chunked_download.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "archive/archive_names.h"
#include "base/log.h"
#include "base/paths.h"
#include "engine/chunk_fetcher.h"
#include "engine/client_archives.h"
#include "engine/client_layout.h"
#include "engine/client_path.h"
#include "engine/release_verifier.h"
#include "net/server_mirrors.h"
#include "platform/md5.h"
#include "platform/text.h"

namespace {

std::u16string Wide(const std::string& resource) {
  return platform::Utf16FromUtf8(resource);
}

}  // namespace

ChunkedDownload::ChunkedDownload(ServerMirrors& servers, const ReleaseVerifier& verifier, ClientArchives& archives,
                                 const ClientLayout& layout, int connections)
    : servers_(servers), verifier_(verifier), archives_(archives), layout_(layout), connections_(connections) {}

bool ChunkedDownload::ReadTarget(const ListEntry& entry, const StoredContent::Sink& sink) {
  const std::optional<std::size_t> archiveIndex = ArchiveOfPath(entry.name);
  if (!archiveIndex) {
    platform::File file;
    uint64_t size = 0;
    if (file.Open(layout_.PlainFilePath(entry.name), platform::FileMode::kRead) != 0 ||
        !file.Seek(0, platform::SeekOrigin::kEnd) || !file.Tell(&size) || size > UINT32_MAX ||
        !file.Seek(0, platform::SeekOrigin::kStart))
      return false;
    const StoredContent::Source read = [&file](uint8_t* buffer, std::size_t count) { return file.Read(buffer, count); };
    return content_.Read(read, size, static_cast<uint32_t>(size), sink);
  }
  TavrinFilePackage* archive = archives_.Find(kArchiveNames[*archiveIndex]);
  if (archive == nullptr) return false;
  std::mutex& mutex = archives_.LockOf(*archiveIndex);
  TavrinFilePackage::StoredPlace place;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (archive->FindStored(ArchiveEntryName(entry.name), &place) != PackageResult::kOk) return false;
  }
  uint32_t offset = 0;
  const StoredContent::Source read = [&](uint8_t* buffer, std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex);
    const bool ok = archive->ReadStored(place, offset, buffer, static_cast<uint32_t>(count)) == PackageResult::kOk;
    offset += static_cast<uint32_t>(count);
    return ok;
  };
  const uint32_t size = place.storedLength < place.uncompressedLength ? place.uncompressedLength : place.storedLength;
  return content_.Read(read, place.storedLength, size, sink);
}

bool ChunkedDownload::FetchIndex(const ListEntry& entry, const OperationContext& context, ChunkIndex* index) {
  const std::u16string resource = Wide(ChunkIndexResource(entry.info.digest));
  // Bounded by what an index of the entry's size can be: a line per chunk of the least length.
  const uint64_t bound = 128 + (uint64_t{entry.info.size} / kMinChunkSize + 1) * 72;
  const auto maxLength = static_cast<uint32_t>(std::min<uint64_t>(bound, kMaxChunkIndexSize));
  received_.clear();
  // From the server of the release: a server that publishes no chunks has none of its files'.
  const FetchResult fetched =
      servers_.at(servers_.current()).FetchToBuffer(resource, received_, context, maxLength, true);
  if (!fetched.complete()) return false;
  if (verifier_.enabled() && !verifier_.Matches(ChunkIndexResource(entry.info.digest), received_)) {
    Log::Error(u"The chunk index %s does not match the signed release manifest", resource);
    return false;
  }
  std::optional<ChunkIndex> parsed =
      ParseChunkIndex(std::string_view(reinterpret_cast<const char*>(received_.data()), received_.size()));
  if (!parsed || parsed->size != entry.info.size || parsed->md5 != entry.info.digest) {
    Log::Error(u"The chunk index %s is damaged", resource);
    return false;
  }
  *index = std::move(*parsed);
  return true;
}

bool ChunkedDownload::TakeFromTarget(const ListEntry& entry, const ChunkIndex& index) {
  aside_.clear();
  for (const IndexedChunk& chunk : index.chunks) aside_.emplace(chunk.digest, Aside{});
  platform::MakeDirectories(ParentFolder(layout_.fileChunksPart()));
  if (asideFile_.Open(layout_.fileChunksPart(), platform::FileMode::kCreate) != 0) return false;
  // The bytes of the chunk under way, and a piece that ends it and starts the next.
  std::vector<uint8_t> pending;
  std::size_t used = 0;
  uint64_t asideEnd = 0;
  bool written = true;
  ContentChunker chunker;
  const ContentChunker::ChunkEnd end = [&](uint32_t length) {
    const uint8_t* bytes = pending.data() + used;
    used += length;
    const auto wanted = aside_.find(DigestOfChunk(bytes, length));
    if (wanted == aside_.end() || wanted->second.there) return;
    written = written && asideFile_.Write(bytes, length);
    wanted->second = {true, asideEnd};
    asideEnd += length;
  };
  const StoredContent::Sink cut = [&](const uint8_t* data, std::size_t size) {
    pending.insert(pending.end(), data, data + size);
    chunker.Feed(data, size, end);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    used = 0;
    return written;
  };
  if (!ReadTarget(entry, cut)) return false;
  chunker.Finish(end);
  return written && asideFile_.Flush();
}

bool ChunkedDownload::FetchChunk(const IndexedChunk& chunk, const OperationContext& context,
                                 std::vector<uint8_t>* content) {
  FailedRequest failure;
  std::vector<uint8_t> received;
  StoredContent checker;
  // A body the mirrors accepted ends their loop, so it is the one in hand; the last server's
  // body is handed back unchecked.
  bool accepted = false;
  const ServerMirrors::Accept accept = [&](const std::vector<uint8_t>& stored) {
    content->clear();
    accepted = stored.size() == chunk.storedLength &&
               checker.Read(stored.data(), stored.size(), chunk.length,
                            [content](const uint8_t* data, std::size_t size) {
                              content->insert(content->end(), data, data + size);
                              return true;
                            }) &&
               DigestOfChunk(content->data(), content->size()) == chunk.digest;
    return accepted;
  };
  const FetchResult fetched = servers_.FetchToBuffer(Wide(ChunkResource(chunk.digest)), received, context,
                                                     chunk.storedLength, accept, &failure);
  return fetched.complete() && (accepted || accept(received));
}

bool ChunkedDownload::HasTarget(const ListEntry& entry) {
  const std::optional<std::size_t> archiveIndex = ArchiveOfPath(entry.name);
  if (!archiveIndex) return platform::FileExists(layout_.PlainFilePath(entry.name));
  TavrinFilePackage* archive = archives_.Find(kArchiveNames[*archiveIndex]);
  TavrinFilePackage::StoredPlace place;
  std::lock_guard<std::mutex> lock(archives_.LockOf(*archiveIndex));
  return archive != nullptr && archive->FindStored(ArchiveEntryName(entry.name), &place) == PackageResult::kOk;
}

bool ChunkedDownload::Prepare(const ListEntry& entry, const OperationContext& context) {
  // Without a target every chunk would be a request of its own: the whole file is one.
  return HasTarget(entry) && FetchIndex(entry, context, &index_);
}

bool ChunkedDownload::Assemble(const ListEntry& entry, platform::File& out, const OperationContext& context) {
  const ChunkIndex& index = index_;
  const std::u16string resource = Wide(ChunkIndexResource(entry.info.digest));
  if (!TakeFromTarget(entry, index)) {
    asideFile_.Close();
    platform::RemoveFile(layout_.fileChunksPart());
    Log::Info(u"%s: the file there cannot be read", resource);
    return false;
  }
  std::vector<IndexedChunk> lacked;
  for (const IndexedChunk& chunk : index.chunks)
    if (!aside_[chunk.digest].there) lacked.push_back(chunk);
  ChunkFetcher fetcher(lacked, connections_, context,
                       [this](const IndexedChunk& chunk, const OperationContext& on, std::vector<uint8_t>* content) {
                         return FetchChunk(chunk, on, content);
                       });
  platform::Md5 md5;
  uint32_t reused = 0;
  std::size_t fetched = 0;
  uint64_t downloaded = 0;
  bool made = true;
  for (const IndexedChunk& chunk : index.chunks) {
    if (context.cancelled()) {
      made = false;
      break;
    }
    const Aside& aside = aside_[chunk.digest];
    if (aside.there) {
      chunk_.resize(chunk.length);
      made = asideFile_.Seek(static_cast<int64_t>(aside.offset), platform::SeekOrigin::kStart) &&
             asideFile_.Read(chunk_.data(), chunk.length);
      ++reused;
    } else {
      made = fetcher.Take(fetched++, &chunk_);
      if (!made && !context.cancelled())
        Log::Error(u"%s: chunk %s cannot be had", resource, Wide(ChunkResource(chunk.digest)));
      downloaded += chunk.storedLength;
    }
    made = made && out.Write(chunk_.data(), chunk_.size()) && md5.Update(chunk_.data(), chunk_.size());
    if (!made) break;
  }
  asideFile_.Close();
  platform::RemoveFile(layout_.fileChunksPart());
  platform::Md5Digest digest{};
  if (!made || !out.Flush() || !md5.Finish(&digest) || digest != entry.info.digest) {
    if (made) Log::Error(u"%s: the content made of chunks does not match the list", resource);
    return false;
  }
  Log::Info(u"%s: %u of %u chunks taken from the file there, %s bytes downloaded", resource, reused,
            static_cast<uint32_t>(index.chunks.size()), platform::Utf16FromUtf8(std::to_string(downloaded)));
  return true;
}
