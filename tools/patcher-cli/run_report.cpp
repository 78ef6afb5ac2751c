#include "run_report.h"

#include <cmath>
#include <cstdio>

#include "exit_codes.h"
#include "workflow/string_table.h"

namespace {

std::string Fixed1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string JsonNumber(const std::optional<int32_t>& value) {
  return value ? std::to_string(*value) : "null";
}

}  // namespace

std::string ByteText(uint64_t bytes) {
  const auto value = static_cast<double>(bytes);
  if (value >= 1048576.0) return Fixed1(value / 1048576.0) + " МБ";
  if (value >= 1024.0) return Fixed1(value / 1024.0) + " КБ";
  return std::to_string(bytes) + " Б";
}

std::string DurationText(double seconds) {
  if (seconds < 10.0) return Fixed1(seconds) + " с";
  const auto whole = static_cast<long long>(std::llround(seconds));
  if (whole < 60) return std::to_string(whole) + " с";
  return std::to_string(whole / 60) + " мин " + std::to_string(whole % 60) + " с";
}

std::string SummaryLine(const RunReport& report) {
  std::string line = "Итог: проверено файлов: " + std::to_string(report.filesChecked) +
                     ", обновлено: " + std::to_string(report.filesUpdated) + ", получено " +
                     ByteText(report.bytesReceived);
  if (report.bytesReceived >= 1024) line += " (" + std::to_string(report.bytesReceived) + " Б)";
  line += ", время " + DurationText(report.seconds);
  if (report.clientVersion) line += "; версия клиента " + std::to_string(*report.clientVersion);
  return line + "\n";
}

std::string JsonObject(const RunReport& report) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", report.seconds);
  return "{\"command\":\"" + report.command + "\",\"outcome\":\"" + OutcomeOf(report.exitCode) +
         "\",\"exitCode\":" + std::to_string(report.exitCode) +
         ",\"clientVersionBefore\":" + JsonNumber(report.clientVersionBefore) +
         ",\"clientVersion\":" + JsonNumber(report.clientVersion) +
         ",\"serverVersion\":" + JsonNumber(report.serverVersion) +
         ",\"filesChecked\":" + std::to_string(report.filesChecked) +
         ",\"filesUpdated\":" + std::to_string(report.filesUpdated) +
         ",\"bytesReceived\":" + std::to_string(report.bytesReceived) + ",\"seconds\":" + seconds + "}\n";
}

std::optional<int32_t> VersionOfLine(std::u16string_view line) {
  const std::u16string_view prefix = Text(TextId::kClientVersion);
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::u16string_view digits = line.substr(prefix.size());
  const bool negative = !digits.empty() && digits[0] == u'-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char16_t unit : digits) {
    if (unit < u'0' || unit > u'9') return std::nullopt;
    value = value * 10 + (unit - u'0');
  }
  value = negative ? -value : value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}
