#include "net/escape_request_path.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct EscapeCase {
  const char* name;
  std::u16string path;
  std::string escaped;
};

void PrintTo(const EscapeCase& c, std::ostream* out) {
  *out << c.name;
}

class EscapeRequestPathTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeRequestPathTest, EscapesEveryByteOutsideTheKeptSet) {
  EXPECT_EQ(EscapeRequestPath(GetParam().path), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapeRequestPathTest,
    ::testing::Values(EscapeCase{"KeptSet", u"AZaz09\\/._-", "AZaz09\\/._-"},
                      EscapeCase{"SpaceInName", u"files\\models\\x y.ski", "files\\models\\x%20y.ski"},
                      EscapeCase{"CyrillicLetter", u"\u0434", "%D0%B4"},
                      EscapeCase{"CyrillicFolder", u"files\\\u0434\u043E\u043C\\a.txt",
                                 "files\\%D0%B4%D0%BE%D0%BC\\a.txt"},
                      // Characters that URLs leave alone elsewhere are escaped here all the same.
                      EscapeCase{"Punctuation", u"~!*'()+,;=:@&$", "%7E%21%2A%27%28%29%2B%2C%3B%3D%3A%40%26%24"},
                      EscapeCase{"PercentAndQuery", u"a%b?c#d", "a%25b%3Fc%23d"},
                      EscapeCase{"ControlUnits", u"\t\r\n\x7F", "%09%0D%0A%7F"},
                      EscapeCase{"AstralCharacter", u"\U0001F600", "%F0%9F%98%80"},
                      EscapeCase{"LoneSurrogateBecomesReplacement", std::u16string(1, char16_t{0xD800}), "%EF%BF%BD"},
                      EscapeCase{"StopsAtNul", std::u16string(u"ab\0cd", 5), "ab"}, EscapeCase{"Empty", u"", ""}),
    [](const ::testing::TestParamInfo<EscapeCase>& param) { return std::string(param.param.name); });

}  // namespace
