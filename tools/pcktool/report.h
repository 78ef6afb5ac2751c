#pragma once
// Messages of the tool: every one goes to stderr as one UTF-8 line starting with "pcktool: ".

#include <string>
#include <string_view>

#include "archive/package_result.h"

void ReportError(std::string_view message);
void ReportWarning(std::string_view message);
void ReportNote(std::string_view message);
// "<what>: <the result in words>", the form every failed archive operation is reported in.
void ReportResult(std::string_view what, PackageResult result);

std::string Utf8(std::u16string_view text);
