#pragma once
// Messages of the tool. Errors, warnings and notes go to stderr as one UTF-8 line each,
// starting with "publish: "; the report of what a command did goes to stdout, or with
// --json to stderr, stdout then holding one JSON object that main prints at the end.

#include <string>
#include <string_view>

void ReportError(std::string_view message);
// Something the operator should look at; the command goes on.
void ReportWarning(std::string_view message);
// Something the command did that was not asked for (a file it skipped).
void ReportNote(std::string_view message);
// One line of the command's report.
void ReportLine(std::string_view line);

std::string Utf8(std::u16string_view text);

// --json: set by a command that takes it, before it reports anything.
void SetJsonOutput();
bool JsonOutput();
// Adds "key": value to the object; value is JSON already (a number, JsonString(...), ...).
void JsonField(std::string_view key, std::string value);
// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view text);
// The object with the fields, the warnings and errors reported, and the exit code.
std::string JsonObject(int exitCode);
