#pragma once
// The update server's address: a host name and a port. The updater has one built in at
// build time (SOLMERE_UPDATE_HOST, SOLMERE_UPDATE_PORT, mirrors in SOLMERE_UPDATE_HOSTS); tests
// and patcher-cli name others.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct UpdateServerAddress {
  // A name, an IPv4 address or an IPv6 address without its brackets ("::1").
  std::u16string host;
  uint16_t port = 80;

  bool operator==(const UpdateServerAddress&) const = default;
};

UpdateServerAddress BuiltInUpdateServer();
// The built-in server followed by its mirrors (SOLMERE_UPDATE_HOSTS), in the order tried.
std::vector<UpdateServerAddress> BuiltInUpdateServers();
// `first`, then each address of a comma-separated list that is not in it yet; a server named
// without a port gets `first`'s, and anything that is no address is skipped.
std::vector<UpdateServerAddress> ServerAddressList(std::u16string_view text, const UpdateServerAddress& first);

// "HOST", "HOST:PORT", "[IPV6]" or "[IPV6]:PORT" (port 80 when none is given); none for
// anything else: a path, a scheme, a user, a port outside 1..65535, an IPv6 address
// without brackets (its last group would pass for a port).
std::optional<UpdateServerAddress> ParseServerAddress(std::u16string_view text);

// "host:port", an IPv6 host in brackets ("[::1]:80"), as a URL writes it.
std::u16string AddressText(const UpdateServerAddress& address);
