#pragma once
// The request object name for a server path.

#include <cstddef>
#include <string>

// Longest escaped name a request may carry; longer ones are refused.
inline constexpr std::size_t kMaxRequestPathBytes = 2000;

// UTF-8 of `path` (up to a first NUL unit) with every byte other than a-z, A-Z, 0-9
// and \ / . _ - written as "%XX". Backslashes stay backslashes and no "/" is added:
// files\models\x y.ski becomes files\models\x%20y.ski.
std::string EscapeRequestPath(const std::u16string& path);
