#include "report.h"

#include <cstdio>

#include "platform/text.h"

void ReportError(std::string_view message) {
  std::fprintf(stderr, "pcktool: %.*s\n", static_cast<int>(message.size()), message.data());
}

void ReportResult(std::string_view what, PackageResult result) {
  std::string message(what);
  message += ": code " + std::to_string(static_cast<int>(result)) + " (" + PackageResultText(result) + ")";
  ReportError(message);
}

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}
