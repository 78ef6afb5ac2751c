#pragma once
// What a run did, told twice at its end: one Russian summary line for people (stderr)
// and, with --json, one JSON object for scripts (stdout).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct RunReport {
  std::string command;  // "update", "check" or "apply"
  int exitCode = 0;
  std::optional<int32_t> clientVersionBefore;
  std::optional<int32_t> clientVersion;
  std::optional<int32_t> serverVersion;
  int64_t filesChecked = 0;
  // Downloaded, or taken from a package, because they differed.
  int64_t filesUpdated = 0;
  uint64_t bytesReceived = 0;
  double seconds = 0.0;
};

std::string SummaryLine(const RunReport& report);
std::string JsonObject(const RunReport& report);

// "512 Б", "3.4 КБ", "6.2 МБ": the units of the speed texts.
std::string ByteText(uint64_t bytes);
// "0.4 с", "12 с", "3 мин 5 с".
std::string DurationText(double seconds);

// The number of a version line ("Версия клиента: 7"); none for any other text.
std::optional<int32_t> VersionOfLine(std::u16string_view line);
