// <windows.h> first: the other Windows headers depend on it.
#include <windows.h>
// The cryptography API, after it.
#include <wincrypt.h>

#include "platform/md5.h"
#include "platform/win32/win32_handles.h"

namespace platform {
namespace {

// One provider for the process: acquiring it costs far more than hashing a small file.
HCRYPTPROV Provider() {
  static const HCRYPTPROV provider = [] {
    HCRYPTPROV handle = 0;
    if (!::CryptAcquireContextW(&handle, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) handle = 0;
    return handle;
  }();
  return provider;
}

// CryptHashData takes 32-bit counts.
constexpr std::size_t kMaxPiece = 1u << 30;

}  // namespace

struct Md5::State {
  win32::UniqueCryptHash hash;
  bool ok = false;
};

Md5::Md5() : state_(std::make_unique<State>()) {
  const HCRYPTPROV provider = Provider();
  state_->ok = provider != 0 && ::CryptCreateHash(provider, CALG_MD5, 0, 0, state_->hash.put());
}

Md5::~Md5() = default;

bool Md5::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const BYTE*>(data);
  while (state_->ok && size > 0) {
    const std::size_t piece = size < kMaxPiece ? size : kMaxPiece;
    state_->ok = ::CryptHashData(state_->hash.get(), bytes, static_cast<DWORD>(piece), 0) != FALSE;
    bytes += piece;
    size -= piece;
  }
  return state_->ok;
}

bool Md5::Finish(Md5Digest* digest) {
  DWORD length = static_cast<DWORD>(digest->size());
  if (state_->ok)
    state_->ok = ::CryptGetHashParam(state_->hash.get(), HP_HASHVAL, digest->data(), &length, 0) && length == 16;
  return state_->ok;
}

}  // namespace platform
