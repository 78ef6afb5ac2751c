#pragma once
// Reading the log back for the tests: its raw bytes and its UTF-16LE text.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

inline std::u16string DecodeUtf16le(const std::vector<uint8_t>& bytes) {
  EXPECT_EQ(bytes.size() % 2, 0u) << "a UTF-16 unit was cut";
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return text;
}

inline std::vector<uint8_t> EncodeUtf16le(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}
