#pragma once
// Messages of the tool: every one goes to stderr as one UTF-8 line starting with "publish: ".

#include <string>
#include <string_view>

void ReportError(std::string_view message);

std::string Utf8(std::u16string_view text);
