#pragma once
// A large file's new content made of the chunks its target holds already and those of the
// server's chunk store it lacks (see formats/chunk_index.h), so a small change to a big file
// costs a small download. Nothing is held whole: the target is read and cut in pieces, the
// chunks the new content takes from it are put aside in a file of the updater's own, and the
// new content is written chunk by chunk, each fetched chunk checked by its digest and the whole
// by the list's MD5. Whatever fails (no target, no index on the server, a chunk missing or
// damaged, a mismatch) is logged, and the caller downloads the file whole instead.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/operation_context.h"
#include "engine/stored_content.h"
#include "formats/chunk_index.h"
#include "formats/file_list.h"
#include "platform/file.h"

class ClientArchives;
class ClientLayout;
class ReleaseVerifier;
class ServerMirrors;

class ChunkedDownload {
 public:
  // All must outlive it. With the verifier enabled, an index the signed manifest does not vouch
  // for is not used. The chunks the target lacks come on up to `connections` at once.
  ChunkedDownload(ServerMirrors& servers, const ReleaseVerifier& verifier, ClientArchives& archives,
                  const ClientLayout& layout, int connections);

  // Whether the new content of `entry` (above kChunkedFileSize) can be made of chunks: its
  // target is there, and the server's index of the new content is in hand.
  bool Prepare(const ListEntry& entry, const OperationContext& context);
  // After Prepare: writes the new content into `out` from its start; true when all of it is
  // there and matches the entry's size and MD5.
  bool Assemble(const ListEntry& entry, platform::File& out, const OperationContext& context);

 private:
  // Whether the entry's target is there to take chunks from.
  bool HasTarget(const ListEntry& entry);
  // The target's content handed to `sink` piece by piece; false when there is none or it
  // cannot be read to its end.
  bool ReadTarget(const ListEntry& entry, const StoredContent::Sink& sink);
  // The index of the entry's new content from the server; false when there is none that fits.
  bool FetchIndex(const ListEntry& entry, const OperationContext& context, ChunkIndex* index);
  // Puts aside the target's chunks the index names; false when the target cannot be read.
  bool TakeFromTarget(const ListEntry& entry, const ChunkIndex& index);
  // A chunk the target lacks, from the server, checked by its digest; false when it cannot be
  // had whole. Several threads at once.
  bool FetchChunk(const IndexedChunk& chunk, const OperationContext& context, std::vector<uint8_t>* content);

  ServerMirrors& servers_;
  const ReleaseVerifier& verifier_;
  ClientArchives& archives_;
  const ClientLayout& layout_;
  const int connections_;
  StoredContent content_;
  ChunkIndex index_;
  // Chunks put aside: where each lies in the aside file.
  struct Aside {
    bool there = false;
    uint64_t offset = 0;
  };
  std::map<ChunkDigest, Aside> aside_;
  platform::File asideFile_;
  std::vector<uint8_t> chunk_;
  std::vector<uint8_t> received_;
};
