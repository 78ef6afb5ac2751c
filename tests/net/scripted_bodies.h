#pragma once
// Bodies and answers the HTTP client tests script on the scripted server.

#include <cstdint>
#include <string>
#include <vector>

#include "support/scripted_http_server.h"

// `size` bytes that differ from position to position (and from seed to seed).
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  uint32_t state = seed;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

inline testsupport::ScriptedResponse Ok(std::string body) {
  testsupport::ScriptedResponse response;
  response.body = std::move(body);
  return response;
}
