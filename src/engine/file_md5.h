#pragma once
// Digests of contents and of whole files. An empty result means the hash could not be
// computed; it never equals a listed digest, so the file is fetched again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/file.h"
#include "platform/md5.h"

using Digest = std::optional<platform::Md5Digest>;

Digest ComputeMd5(const void* bytes, std::size_t length);

// Takes each piece of a file as it is read; false ends the reading.
using FilePieces = std::function<bool(const uint8_t* data, std::size_t size)>;

// The whole content of an open file, read in pieces; the file position is restored.
// `stopped`, when given, is asked between pieces; once it answers true the result is empty.
// `each`, when given, sees every piece before it is hashed; once it answers false the
// result is empty too.
Digest ComputeFileMd5(platform::File& file, const std::function<bool()>& stopped = nullptr,
                      const FilePieces& each = nullptr);

inline bool DigestMatches(const Digest& digest, const platform::Md5Digest& listed) {
  return digest.has_value() && *digest == listed;
}
