// "patches\list": the updater's choice of a package, and publish's reading and writing of
// the lines, which go through the same line reader.
#include "formats/patch_list.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(PatchListTest, ChoosesByTheRules) {
  const struct {
    const char* what;
    std::string text;
    int32_t client, server;
    std::u16string url;
    int32_t from, to;
  } cases[] = {
      {"exact line wins at once", "10 20 A\n17 20 C\n17 20 D\n", 17, 20, u"C", 17, 20},
      {"greatest from not above the client", "10 20 A\n15 20 B\n18 20 X\n", 17, 20, u"B", 15, 20},
      {"greatest to among equal froms", "15 19 A\r\n15 21 B\r\n15 20 C\r\n", 17, 22, u"B", 15, 21},
      {"a later line of the same pair replaces", "15 20 A\n15 20 B\n", 17, 22, u"B", 15, 20},
      {"every from above the client", "18 20 A\n19 20 B\n", 17, 20, u"", -1, -1},
      {"lines without three fields are ignored", "17\n17 20\nx 17 20 A\n16 20 B\n", 17, 20, u"B", 16, 20},
      {"carriage return ends the URL", "16 20 http://h/p.cup\r\n", 17, 20, u"http://h/p.cup", 16, 20},
      {"text ends at a zero byte", std::string("16 20 A\n", 8) + std::string(1, '\0') + "17 20 B\n", 17, 20, u"A", 16,
       20},
      {"URL of 260 characters ignored", "16 20 " + std::string(260, 'u') + "\n15 20 B\n", 17, 20, u"B", 15, 20},
      {"empty list", "", 17, 20, u"", -1, -1},
      // Taking such a line would leave the client where it was and start the update again.
      {"to-version at the client's is never taken", "1 2 A\n", 2, 3, u"", -1, -1},
      {"to-version below the client's is never taken", "1 2 A\n2 1 B\n", 2, 3, u"", -1, -1},
      {"a greater from does not win with a to-version at the client's", "10 20 A\n15 17 B\n", 17, 20, u"A", 10, 20},
      {"a stale line still serves the client below it", "1 2 A\n", 1, 3, u"A", 1, 2},
      // The client would record 3 while the server offers 2, and files of neither release.
      {"a line beyond the server's version is never taken", "1 3 A\n", 1, 2, u"", -1, -1},
      {"nor does it beat a line within it", "1 2 A\n1 3 B\n", 1, 2, u"A", 1, 2},
  };
  for (const auto& c : cases) {
    int32_t from = 99;
    int32_t to = 99;
    const auto* text = reinterpret_cast<const uint8_t*>(c.text.data());
    EXPECT_EQ(ChoosePatchPackage(text, c.text.size(), c.client, c.server, &from, &to), c.url) << c.what;
    EXPECT_EQ(from, c.from) << c.what;
    EXPECT_EQ(to, c.to) << c.what;
  }
}

TEST(PatchListTest, LinesThatCanNeverHelpAClient) {
  const struct {
    const char* what;
    std::vector<PatchPair> lines;
    int32_t server;
    std::vector<bool> canHelp;
  } cases[] = {
      {"every line of a chain", {{1, 2}, {2, 3}, {3, 4}}, 4, {true, true, true}},
      {"a line to no later version", {{2, 2}, {3, 1}}, 4, {false, false}},
      {"a shorter line of the same from-version", {{1, 2}, {1, 3}, {2, 3}}, 3, {false, true, true}},
      {"a line left from an earlier release", {{1, 2}}, 3, {true}},
      {"an earlier copy of the same pair", {{1, 3}, {1, 3}}, 3, {true, true}},
      {"a shorter line hidden also when it comes first",
       {{1, 2}, {1, 4}, {2, 3}, {3, 4}},
       4,
       {false, true, true, true}},
      {"taken once the server reaches it", {{5, 9}, {5, 7}}, 6, {true, true}},
      {"a wide line still taken in its gaps", {{1, 10}, {2, 3}, {5, 10}}, 10, {true, true, true}},
  };
  for (const auto& c : cases) {
    std::vector<bool> canHelp;
    for (std::size_t i = 0; i < c.lines.size(); ++i) canHelp.push_back(PatchLineCanHelp(c.lines, i, c.server));
    EXPECT_EQ(canHelp, c.canHelp) << c.what;
  }
}

// publish judges and rewrites the lines the updater would read, and no others.
TEST(PatchListTest, ParsedAsTheUpdaterReadsThem) {
  const std::string longest(kMaxPackageUrlLength, 'u');
  const struct {
    const char* what;
    std::string text;
    std::vector<PatchLine> lines;
  } cases[] = {
      {"one line", "1 2 http://h/1-2.cup\n", {{1, 2, "http://h/1-2.cup"}}},
      {"no line feed at the end", "1 2 a", {{1, 2, "a"}}},
      {"carriage returns end the URL", "1 2 a\r\n3 4 b\rc\n", {{1, 2, "a"}, {3, 4, "b"}}},
      {"white space around the numbers; the URL keeps its own", "  1\t2   a b \n", {{1, 2, "a b "}}},
      {"signs", "+1 -2 a\n", {{1, -2, "a"}}},
      {"no space needed before the URL", "1 2a\n", {{1, 2, "a"}}},
      {"lines without three fields", "1\n1 2\n1 2 \r\nx 1 2 a\n\n", {}},
      {"32-bit limits", "-2147483648 2147483647 a\n", {{INT32_MIN, INT32_MAX, "a"}}},
      {"a number beyond 32 bits leaves its line out", "2147483648 2 a\n4294967297 2 b\n1 2 c\n", {{1, 2, "c"}}},
      {"a URL of the longest length", "1 2 " + longest + "\n", {{1, 2, longest}}},
      {"a longer URL leaves its line out", "1 2 " + longest + "u\n3 4 b\n", {{3, 4, "b"}}},
      {"the text ends at a zero byte", std::string("1 2 a\n3 4 b") + '\0' + "5 6 c\n", {{1, 2, "a"}, {3, 4, "b"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePatchList(c.text), c.lines) << c.what;
}

TEST(PatchListTest, FormattedListsReadBack) {
  const std::vector<PatchLine> lines = {{1, 4, "http://h/p/1-4.cup"}, {3, 4, "http://h/p/3-4.cup"}, {-1, 0, "x"}};
  const std::string text = FormatPatchList(lines);
  EXPECT_EQ(text, "1 4 http://h/p/1-4.cup\n3 4 http://h/p/3-4.cup\n-1 0 x\n");
  EXPECT_EQ(ParsePatchList(text), lines);
  EXPECT_EQ(FormatPatchList({}), "");
}

// The updater chooses in one pass over the text; publish judges lines by the choice among
// parsed lines. Both must pick the same line for every client and server.
TEST(PatchListTest, ChoiceInOnePassMatchesChoiceAmongParsedLines) {
  const std::string texts[] = {
      "10 20 A\n15 20 B\n17 20 C\n17 20 D\n",
      "15 19 A\r\n15 21 B\r\n15 20 C\r\n15 21 D\n",
      "1 2 A\n1 4 B\n2 3 C\n3 4 D\n4 4 E\n5 3 F\n",
      "x\n3 9 A\n" + std::string(300, 'u') + "\n2 9 B\n9 12 C\n",
  };
  for (const std::string& text : texts) {
    const std::vector<PatchLine> lines = ParsePatchList(text);
    std::vector<PatchPair> pairs;
    for (const PatchLine& line : lines) pairs.push_back({line.from, line.to});
    for (int32_t client = 0; client <= 13; ++client) {
      for (int32_t server = client; server <= 13; ++server) {
        int32_t from = 0;
        int32_t to = 0;
        const std::u16string url =
            ChoosePatchPackage(reinterpret_cast<const uint8_t*>(text.data()), text.size(), client, server, &from, &to);
        const std::optional<std::size_t> chosen = ChoosePatchLine(pairs, client, server);
        const std::string where = text + " client " + std::to_string(client) + " server " + std::to_string(server);
        ASSERT_EQ(url.empty(), !chosen.has_value()) << where;
        if (!chosen) continue;
        EXPECT_EQ(std::string(url.begin(), url.end()), lines[*chosen].url) << where;
        EXPECT_EQ(from, lines[*chosen].from) << where;
        EXPECT_EQ(to, lines[*chosen].to) << where;
      }
    }
  }
}

}  // namespace
