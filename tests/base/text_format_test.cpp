#include "base/text_format.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

struct FormatCase {
  std::u16string produced;
  std::u16string expected;
};

void ExpectAll(std::initializer_list<FormatCase> cases) {
  for (const FormatCase& c : cases) {
    EXPECT_EQ(platform::Utf8FromUtf16(c.produced), platform::Utf8FromUtf16(c.expected));
  }
}

TEST(FormatTest, Integers) {
  ExpectAll({
      {FormatText(u"%d", 0), u"0"},
      {FormatText(u"%d", -5), u"-5"},
      {FormatText(u"%d", INT32_MIN), u"-2147483648"},
      {FormatText(u"%d", INT32_MAX), u"2147483647"},
      {FormatText(u"%i", 12), u"12"},
      {FormatText(u"%u", UINT32_MAX), u"4294967295"},
      // %u and %x read the 32 bits of a negative value as printf does.
      {FormatText(u"%u", -1), u"4294967295"},
      {FormatText(u"%x", -1), u"ffffffff"},
      {FormatText(u"%02X", 10), u"0A"},
      {FormatText(u"%02X", 0xABC), u"ABC"},
      {FormatText(u"%5d|%-5d|%05d", 42, 42, -42), u"   42|42   |-0042"},
      {FormatText(u"%+d % d %.3d", 7, 7, 7), u"+7  7 007"},
      {FormatText(u"%ld %hu", 3, 4u), u"3 4"},
  });
}

TEST(FormatTest, TextsAndPercent) {
  const std::u16string name = u"files\\\u0434\u043E\u043C.txt";
  ExpectAll({
      {FormatText(u"Can't get file from server: %s", name),
       u"Can't get file from server: files\\\u0434\u043E\u043C.txt"},
      {FormatText(u"\u0427\u0442\u0435\u043D\u0438\u0435 \u0430\u0440\u0445\u0438\u0432\u043E\u0432: %d%%", 37),
       u"\u0427\u0442\u0435\u043D\u0438\u0435 \u0430\u0440\u0445\u0438\u0432\u043E\u0432: 37%"},
      {FormatText(u"[%s] %s: ", u"2024-01-31 09:05:00", u"INFO"), u"[2024-01-31 09:05:00] INFO: "},
      {FormatText(u"%s", std::u16string_view(u"view")), u"view"},
      {FormatText(u"%6s|%-6s|%.2s", u"ab", u"ab", u"abcdef"), u"    ab|ab    |ab"},
      {FormatText(u"%c%c", u'\u0416', 65), u"\u0416A"},
      {FormatText(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)"},
      // A text argument's "%" is not read as a conversion.
      {FormatText(u"%s", u"%d%s"), u"%d%s"},
      {FormatText(u"100%%"), u"100%"},
  });
}

TEST(FormatTest, MismatchesStayReadable) {
  ExpectAll({
      // Too few arguments: the conversion is copied.
      {FormatText(u"%d and %s", 1), u"1 and %s"},
      {FormatText(u"%s"), u"%s"},
      // Unknown conversions and a lone "%" at the end are copied.
      {FormatText(u"%q %f 5%", 1), u"%q %f 5%"},
      // Extra arguments are ignored.
      {FormatText(u"none", 1, u"x"), u"none"},
      // A number for %s, a text for %d.
      {FormatText(u"%s|%d", -3, u"t"), u"-3|t"},
      // A huge width is bounded instead of allocated.
      {FormatText(u"%99999999999d", 1).size() == 1024 ? std::u16string(u"ok") : std::u16string(u"unbounded"), u"ok"},
  });
}

}  // namespace
