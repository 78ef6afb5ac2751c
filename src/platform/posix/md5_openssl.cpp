#include <openssl/evp.h>

#include "platform/md5.h"
#include "platform/posix/posix_handles.h"

namespace platform {

struct Md5::State {
  posix::UniqueMdContext context;
  bool ok = false;
};

Md5::Md5() : state_(std::make_unique<State>()) {
  state_->context.reset(EVP_MD_CTX_new());
  state_->ok = state_->context != nullptr && EVP_DigestInit_ex(state_->context.get(), EVP_md5(), nullptr) == 1;
}

Md5::~Md5() = default;

bool Md5::Update(const void* data, std::size_t size) {
  if (state_->ok && size > 0) state_->ok = EVP_DigestUpdate(state_->context.get(), data, size) == 1;
  return state_->ok;
}

bool Md5::Finish(Md5Digest* digest) {
  unsigned int length = 0;
  if (state_->ok) state_->ok = EVP_DigestFinal_ex(state_->context.get(), digest->data(), &length) == 1 && length == 16;
  return state_->ok;
}

}  // namespace platform
