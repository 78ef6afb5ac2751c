#pragma once
// The update server's address: a host name and a port. The updater has one built in at
// build time (SOLMERE_UPDATE_HOST, SOLMERE_UPDATE_PORT); tests and patcher-cli name others.

#include <cstdint>
#include <string>

struct UpdateServerAddress {
  std::u16string host;
  uint16_t port = 80;

  bool operator==(const UpdateServerAddress&) const = default;
};

UpdateServerAddress BuiltInUpdateServer();
