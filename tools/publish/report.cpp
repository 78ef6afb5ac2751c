#include "report.h"

#include <cstdio>

#include "platform/text.h"

void ReportError(std::string_view message) {
  std::fprintf(stderr, "publish: %.*s\n", static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
}

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}
