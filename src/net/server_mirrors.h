#pragma once
// The update server and its mirrors, in the order they are tried: one client each. The
// release (its "version" and lists) of an operation comes from one of them; the files and
// packages it names may come from any, so a fetch that fails on one is tried on the next.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/operation_context.h"
#include "net/fetch_result.h"
#include "net/update_server_address.h"
#include "net/update_server_client.h"
#include "platform/http.h"

class ServerMirrors {
 public:
  // Whether a body that came whole is what was asked for (its digest); any thread.
  using Accept = std::function<bool(const std::vector<uint8_t>& body)>;

  // At least one server; does not connect (a fetch connects when needed).
  explicit ServerMirrors(const std::vector<UpdateServerAddress>& servers, const platform::HttpLimits& limits = {});

  std::size_t count() const { return clients_.size(); }
  UpdateServerClient& at(std::size_t server) { return *clients_[server]; }
  const UpdateServerAddress& address(std::size_t server) const { return addresses_[server]; }

  // The server the current release came from; the first until one is chosen.
  std::size_t current() const { return current_.load(); }
  void SetCurrent(std::size_t server) { current_.store(server); }

  // For every server (see UpdateServerClient).
  void Connect();
  void SetLimits(const platform::HttpLimits& limits);
  void SetRateLimit(uint64_t bytesPerSecond);

  // `path` from the current server, then from the others in order while it fails (any
  // failure but a cancel or an optional resource's absence) or `accept` refuses the body.
  // The last answer stands; `failure` names where it came from when it failed.
  FetchResult FetchToBuffer(const std::u16string& path, std::vector<uint8_t>& buffer, const OperationContext& context,
                            uint32_t maxLength, const Accept& accept, FailedRequest* failure);

 private:
  std::vector<UpdateServerAddress> addresses_;
  std::vector<std::unique_ptr<UpdateServerClient>> clients_;
  std::atomic<std::size_t> current_{0};
};
