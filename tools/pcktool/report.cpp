#include "report.h"

#include <cstdio>

#include "platform/text.h"

namespace {

void Line(std::string_view prefix, std::string_view message) {
  std::fprintf(stderr, "pcktool: %.*s%.*s\n", static_cast<int>(prefix.size()), prefix.data(),
               static_cast<int>(message.size()), message.data());
}

}  // namespace

void ReportError(std::string_view message) {
  Line("", message);
}

void ReportWarning(std::string_view message) {
  Line("warning: ", message);
}

void ReportNote(std::string_view message) {
  Line("note: ", message);
}

void ReportResult(std::string_view what, PackageResult result) {
  std::string message(what);
  message += ": ";
  message += PackageResultText(result);
  ReportError(message);
}

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}
