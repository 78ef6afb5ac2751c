#pragma once
// The update server, fixed at build time (SOLMERE_UPDATE_HOST, SOLMERE_UPDATE_PORT).

#include <cstdint>

extern const char16_t kUpdateServerHost[];
extern const uint16_t kUpdateServerPort;
