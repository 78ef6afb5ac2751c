#include "net/server_mirrors.h"

#include "base/log.h"

ServerMirrors::ServerMirrors(const std::vector<UpdateServerAddress>& servers, const platform::HttpLimits& limits)
    : addresses_(servers) {
  if (addresses_.empty()) addresses_.push_back(BuiltInUpdateServer());
  for (const UpdateServerAddress& address : addresses_)
    clients_.push_back(std::make_unique<UpdateServerClient>(address, limits));
}

void ServerMirrors::Connect() {
  for (auto& client : clients_) client->Connect();
}

void ServerMirrors::SetLimits(const platform::HttpLimits& limits) {
  for (auto& client : clients_) client->SetLimits(limits);
}

void ServerMirrors::SetRateLimit(uint64_t bytesPerSecond) {
  for (auto& client : clients_) client->SetRateLimit(bytesPerSecond);
}

FetchResult ServerMirrors::FetchToBuffer(const std::u16string& path, std::vector<uint8_t>& buffer,
                                         const OperationContext& context, uint32_t maxLength, const Accept& accept,
                                         FailedRequest* failure) {
  const std::size_t first = current();
  FetchResult result;
  for (std::size_t tried = 0; tried < clients_.size(); ++tried) {
    const std::size_t server = (first + tried) % clients_.size();
    const bool last = tried + 1 == clients_.size();
    UpdateServerClient& client = *clients_[server];
    buffer.clear();
    result = client.FetchToBuffer(path, buffer, context, maxLength);
    if (failure != nullptr) *failure = result.complete() ? FailedRequest{} : client.FailureOf(path, result);
    if (context.cancelled() || result.failure == FetchFailure::kCancelled || last) break;
    if (result.complete()) {
      if (!accept || accept(buffer)) break;
      Log::Error(u"%s from %s is damaged: taken from the next server", path, AddressText(addresses_[server]));
    }
  }
  return result;
}
