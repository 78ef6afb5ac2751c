#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/posix/posix_handles.h"
#include "platform/text.h"

namespace platform {
namespace {

// iconv conversions of whole texts between two encodings. Input that cannot be converted
// either stops the conversion (returns false) or is replaced, as `replacement` says.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(::iconv_open(to, from)) {}

  // Converts `input`; each undecodable input unit of `unitSize` bytes is replaced by
  // `replacement` when it is not empty, otherwise the conversion fails.
  bool Run(const char* input, std::size_t inputSize, std::size_t unitSize, const std::string& replacement,
           std::string* out) {
    out->clear();
    if (!handle_.valid()) return false;
    // A conversion that failed halfway leaves its state behind: every text starts afresh.
    ::iconv(handle_.get(), nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input);
    std::size_t inLeft = inputSize;
    std::vector<char> chunk(4096);
    while (true) {
      char* outPtr = chunk.data();
      std::size_t outLeft = chunk.size();
      std::size_t result = ::iconv(handle_.get(), inLeft > 0 ? &in : nullptr, &inLeft, &outPtr, &outLeft);
      int error = errno;
      out->append(chunk.data(), chunk.size() - outLeft);
      if (result != static_cast<std::size_t>(-1)) {
        if (inLeft == 0) break;
        continue;
      }
      if (error == E2BIG) continue;
      // EILSEQ or EINVAL (a sequence cut off at the end).
      if (replacement.empty()) return false;
      out->append(replacement);
      std::size_t skip = inLeft < unitSize ? inLeft : unitSize;
      in += skip;
      inLeft -= skip;
      if (inLeft == 0) break;
    }
    return true;
  }

 private:
  posix::UniqueIconv handle_;
};

const std::string kReplacementUtf16le("\xFD\xFF", 2);

std::u16string FromUtf16le(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string ToUtf16le(std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return bytes;
}

}  // namespace

// Each thread keeps its converters: opening one looks its encodings up afresh, which costs
// more than converting a path, and every file opened converts its path.
std::u16string Utf16FromUtf8(std::string_view text) {
  thread_local Converter converter("UTF-16LE", "UTF-8");
  std::string bytes;
  converter.Run(text.data(), text.size(), 1, kReplacementUtf16le, &bytes);
  return FromUtf16le(bytes);
}

std::string Utf8FromUtf16(std::u16string_view text) {
  thread_local Converter converter("UTF-8", "UTF-16LE");
  std::string bytes = ToUtf16le(text);
  std::string out;
  converter.Run(bytes.data(), bytes.size(), 2, "\xEF\xBF\xBD", &out);
  return out;
}

std::u16string Utf16FromCp936(std::string_view text) {
  thread_local Converter converter("UTF-16LE", "CP936");
  std::string bytes;
  converter.Run(text.data(), text.size(), 1, kReplacementUtf16le, &bytes);
  return FromUtf16le(bytes);
}

bool Cp936FromUtf16(std::u16string_view text, std::string* out) {
  thread_local Converter converter("CP936", "UTF-16LE");
  std::string bytes = ToUtf16le(text);
  return converter.Run(bytes.data(), bytes.size(), 2, "", out);
}

}  // namespace platform
