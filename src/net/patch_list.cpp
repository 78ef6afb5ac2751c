#include "net/patch_list.h"

#include <cstring>
#include <map>
#include <string_view>
#include <utility>

namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// "%d": white space, a sign, at least one digit; false for no number or one beyond 32 bits.
bool ScanInt(std::string_view line, std::size_t* at, int32_t* value) {
  std::size_t i = *at;
  while (i < line.size() && IsSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  const std::size_t digits = i;
  int64_t number = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    number = number * 10 + (line[i] - '0');
    if (number > int64_t{INT32_MAX} + 1) return false;
  }
  if (i == digits) return false;
  if (negative) number = -number;
  if (number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  *at = i;
  return true;
}

// One line by the pattern "%d %d %[^\r]".
bool ParseLine(std::string_view line, int32_t* a, int32_t* b, std::string_view* url) {
  std::size_t at = 0;
  if (!ScanInt(line, &at, a) || !ScanInt(line, &at, b)) return false;
  while (at < line.size() && IsSpace(line[at])) ++at;
  std::size_t end = line.find('\r', at);
  if (end == std::string_view::npos) end = line.size();
  if (end == at || end - at > kMaxPackageUrlLength) return false;
  *url = line.substr(at, end - at);
  return true;
}

std::u16string Widen(std::string_view url) {
  std::u16string wide(url.size(), u'\0');
  for (std::size_t i = 0; i < url.size(); ++i) wide[i] = static_cast<unsigned char>(url[i]);
  return wide;
}

}  // namespace

std::u16string ChoosePatchPackage(const uint8_t* text, std::size_t size, int32_t clientVersion, int32_t serverVersion,
                                  int32_t* from, int32_t* to) {
  *from = -1;
  *to = -1;
  const void* zero = size == 0 ? nullptr : std::memchr(text, 0, size);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - text) : size;
  const std::string_view all(reinterpret_cast<const char*>(text), length);

  std::map<std::pair<int32_t, int32_t>, std::string_view> remembered;
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = all.substr(start, end - start);
    start = end + 1;
    int32_t a = 0;
    int32_t b = 0;
    std::string_view url;
    if (!ParseLine(line, &a, &b, &url)) continue;
    if (a == clientVersion && b == serverVersion) {
      *from = a;
      *to = b;
      return Widen(url);
    }
    remembered[{a, b}] = url;
  }
  // The map is ordered by (from, to): the last pair with from not above the client wins.
  auto best = remembered.upper_bound({clientVersion, INT32_MAX});
  if (best == remembered.begin()) return {};
  --best;
  *from = best->first.first;
  *to = best->first.second;
  return Widen(best->second);
}
