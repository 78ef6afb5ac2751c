#include "base/text_format.h"

#include <algorithm>

namespace {

// Widths and precisions come from our own format strings; the bound only keeps a
// typo from asking for gigabytes.
constexpr std::size_t kMaxWidth = 1024;

struct Directive {
  bool left = false;
  bool zero = false;
  bool plus = false;
  bool space = false;
  std::size_t width = 0;
  bool hasPrecision = false;
  std::size_t precision = 0;
};

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

std::size_t ReadNumber(std::u16string_view format, std::size_t* at) {
  std::size_t value = 0;
  while (*at < format.size() && IsDigit(format[*at])) {
    value = std::min(value * 10 + static_cast<std::size_t>(format[*at] - u'0'), kMaxWidth);
    ++*at;
  }
  return value;
}

std::u16string Digits(uint32_t value, uint32_t base, bool upper) {
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::u16string out;
  do {
    out.push_back(static_cast<char16_t>(symbols[value % base]));
    value /= base;
  } while (value != 0);
  std::reverse(out.begin(), out.end());
  return out;
}

void Pad(std::u16string* out, const Directive& directive, std::u16string_view sign, std::u16string_view body,
         bool numeric) {
  const std::size_t length = sign.size() + body.size();
  const std::size_t fill = directive.width > length ? directive.width - length : 0;
  if (directive.left) {
    out->append(sign).append(body).append(fill, u' ');
  } else if (directive.zero && numeric && !directive.hasPrecision) {
    out->append(sign).append(fill, u'0').append(body);
  } else {
    out->append(fill, u' ').append(sign).append(body);
  }
}

void Convert(std::u16string* out, const Directive& directive, char16_t conversion, const FormatArg& arg) {
  if (conversion == u's' || (arg.isText() && conversion != u'c')) {
    std::u16string_view text = arg.isText() ? arg.text() : std::u16string_view();
    std::u16string number;
    if (!arg.isText()) {
      number = (arg.isNegative() ? u"-" : u"") + Digits(arg.magnitude(), 10, false);
      text = number;
    }
    if (directive.hasPrecision) text = text.substr(0, directive.precision);
    Pad(out, directive, u"", text, false);
    return;
  }
  if (conversion == u'c') {
    const char16_t unit =
        arg.isText() ? (arg.text().empty() ? u'\0' : arg.text()[0]) : static_cast<char16_t>(arg.bits());
    Pad(out, directive, u"", std::u16string_view(&unit, 1), false);
    return;
  }
  std::u16string sign;
  std::u16string digits;
  if (conversion == u'd' || conversion == u'i') {
    if (arg.isNegative()) {
      sign = u"-";
    } else if (directive.plus) {
      sign = u"+";
    } else if (directive.space) {
      sign = u" ";
    }
    digits = Digits(arg.magnitude(), 10, false);
  } else if (conversion == u'u') {
    digits = Digits(arg.bits(), 10, false);
  } else {
    digits = Digits(arg.bits(), 16, conversion == u'X');
  }
  if (directive.hasPrecision && digits.size() < directive.precision)
    digits.insert(0, directive.precision - digits.size(), u'0');
  Pad(out, directive, sign, digits, true);
}

bool IsConversion(char16_t c) {
  return c == u'd' || c == u'i' || c == u'u' || c == u'x' || c == u'X' || c == u'c' || c == u's';
}

}  // namespace

uint32_t FormatArg::magnitude() const {
  if (kind_ == Kind::kSigned && number_ < 0) return static_cast<uint32_t>(-number_);
  return static_cast<uint32_t>(number_);
}

std::u16string FormatTextArgs(std::u16string_view format, std::initializer_list<FormatArg> args) {
  std::u16string out;
  out.reserve(format.size());
  const FormatArg* next = args.begin();
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != u'%') {
      out.push_back(format[i++]);
      continue;
    }
    const std::size_t start = i++;
    Directive directive;
    for (; i < format.size(); ++i) {
      const char16_t flag = format[i];
      if (flag == u'-') {
        directive.left = true;
      } else if (flag == u'0') {
        directive.zero = true;
      } else if (flag == u'+') {
        directive.plus = true;
      } else if (flag == u' ') {
        directive.space = true;
      } else {
        break;
      }
    }
    directive.width = ReadNumber(format, &i);
    if (i < format.size() && format[i] == u'.') {
      ++i;
      directive.hasPrecision = true;
      directive.precision = ReadNumber(format, &i);
    }
    while (i < format.size() && (format[i] == u'l' || format[i] == u'h')) ++i;
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    const char16_t conversion = format[i++];
    if (conversion == u'%') {
      out.push_back(u'%');
    } else if (!IsConversion(conversion) || next == args.end()) {
      out.append(format.substr(start, i - start));
    } else {
      Convert(&out, directive, conversion, *next++);
    }
  }
  return out;
}
