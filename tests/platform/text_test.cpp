#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::Cp936FromUtf16;
using platform::Utf16FromCp936;
using platform::Utf16FromUtf8;
using platform::Utf8FromUtf16;

struct Cp936Case {
  std::u16string text;
  std::string bytes;  // the GBK form
};

TEST(TextTest, Cp936RoundTrip) {
  const Cp936Case cases[] = {
      {u"configs\\version.sw", "configs\\version.sw"},
      {u"中文", "\xD6\xD0\xCE\xC4"},
      {u"models\\模型\\a.ski", "models\\\xC4\xA3\xD0\xCD\\a.ski"},
      // Cyrillic letters do exist in GBK.
      {u"Аёя", "\xA7\xA1\xA7\xD7\xA7\xF1"},
      // Full-width Latin: a letter of its own, not an ASCII one.
      {u"Ａａ", "\xA3\xC1\xA3\xE1"},
      {u"", ""},
  };
  for (const Cp936Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    std::string bytes = "stale";
    ASSERT_TRUE(Cp936FromUtf16(c.text, &bytes));
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(Utf16FromCp936(c.bytes), c.text);
  }
}

TEST(TextTest, Cp936RefusesCharactersWithoutAForm) {
  // Hangul, Thai and a character beyond the BMP have no GBK form; a stand-in
  // such as "?" would name some other file.
  for (const std::u16string& text : {std::u16string(u"a한b"), std::u16string(u"ก"), std::u16string(u"x😀")}) {
    std::string bytes;
    EXPECT_FALSE(Cp936FromUtf16(text, &bytes));
  }
}

TEST(TextTest, Utf8AndUtf16IncludingSurrogatePairs) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"plain", u"plain"},
      {"\xD0\x9E\xD0\xB1\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xB8\xD1\x82\xD1\x8C", u"Обновить"},
      {"\xE4\xB8\xAD", u"中"},
      {"\xF0\x9F\x98\x80", std::u16string{char16_t(0xD83D), char16_t(0xDE00)}},
      {"a\xF0\xA0\x80\x80z", std::u16string{u'a', char16_t(0xD840), char16_t(0xDC00), u'z'}},
      {"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf16FromUtf8(c.utf8), c.utf16);
    EXPECT_EQ(Utf8FromUtf16(c.utf16), c.utf8);
  }
}

TEST(TextTest, InvalidUtf8BecomesReplacementCharacter) {
  const std::u16string text = Utf16FromUtf8(
      "a\xFF"
      "b");
  EXPECT_EQ(text, (std::u16string{u'a', char16_t(0xFFFD), u'b'}));
}

}  // namespace
