#include "report.h"

#include <cstdio>
#include <vector>

#include "platform/text.h"

namespace {

struct JsonState {
  bool on = false;
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> warnings;
  std::vector<std::string> errors;
};

JsonState& Json() {
  static JsonState state;
  return state;
}

void Line(std::FILE* stream, std::string_view prefix, std::string_view message) {
  std::fprintf(stream, "%.*s%.*s\n", static_cast<int>(prefix.size()), prefix.data(), static_cast<int>(message.size()),
               message.data());
  std::fflush(stream);
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += ',';
    text += JsonString(items[i]);
  }
  text += ']';
  return text;
}

}  // namespace

void ReportError(std::string_view message) {
  Line(stderr, "publish: ", message);
  Json().errors.emplace_back(message);
}

void ReportWarning(std::string_view message) {
  Line(stderr, "publish: warning: ", message);
  Json().warnings.emplace_back(message);
}

void ReportNote(std::string_view message) {
  Line(stderr, "publish: note: ", message);
}

void ReportLine(std::string_view line) {
  Line(Json().on ? stderr : stdout, "", line);
}

std::string Utf8(std::u16string_view text) {
  return platform::Utf8FromUtf16(text);
}

void SetJsonOutput() {
  Json().on = true;
}

bool JsonOutput() {
  return Json().on;
}

void JsonField(std::string_view key, std::string value) {
  Json().fields.emplace_back(std::string(key), std::move(value));
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonObject(int exitCode) {
  std::string text = "{";
  for (const auto& [key, value] : Json().fields) {
    text += JsonString(key);
    text += ':';
    text += value;
    text += ',';
  }
  text += "\"warnings\":";
  text += JsonArray(Json().warnings);
  text += ",\"errors\":";
  text += JsonArray(Json().errors);
  text += ",\"exitCode\":";
  text += std::to_string(exitCode);
  text += "}\n";
  return text;
}
