#include "net/escape_request_path.h"

#include "platform/text.h"

namespace {

bool PassesUnchanged(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '\\' ||
         byte == '/' || byte == '.' || byte == '_' || byte == '-';
}

}  // namespace

std::string EscapeRequestPath(const std::u16string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string_view text(path);
  text = text.substr(0, text.find(u'\0'));
  const std::string utf8 = platform::Utf8FromUtf16(text);
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (PassesUnchanged(byte)) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}
