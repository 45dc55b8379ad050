// The text rules every layer shares: what a blank is, which letters change
// case, where lines end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/ascii.h"

namespace xb::text {
namespace {

using namespace std::string_literals;

TEST(Trimmed, RemovesEveryCharacterUpToCode32AtBothEnds) {
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"tab, space, line breaks", " \t\r\na b\t\r\n ", "a b"},
      {"NUL and other controls", "\0\x01\x1f a\0"s, "a"},
      {"0x20 goes, 0x21 stays", " ! ", "!"},
      {"inner blanks stay", "\x01 a b\t\r\n ", "a b"},
      {"a byte above 127 stays", "\xa0x\xa0", "\xa0x\xa0"},
      {"UTF-8 text stays", " 表 ", "表"},
      {"only blanks", " \t ", ""},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Trimmed(c.in), c.out) << c.name;
}

TEST(CaseFold, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCased("abz_é表xyz@[`{"), "ABZ_é表XYZ@[`{");
  EXPECT_EQ(LowerCased("ÀÉ ABZ"), "ÀÉ abz");
  // Latin-1 letters are bytes of UTF-8 text here, never letters.
  EXPECT_EQ(UpperCased("\xe0\xe9\xff"), "\xe0\xe9\xff");
  EXPECT_TRUE(EqualsIgnoringCase("PostgreSQL://h", "postgresql://H"));
  EXPECT_FALSE(EqualsIgnoringCase("é", "É"));
  EXPECT_FALSE(EqualsIgnoringCase("ab", "abc"));
  EXPECT_TRUE(StartsWithIgnoringCase("Postgres://x", "postgres://"));
  EXPECT_FALSE(StartsWithIgnoringCase("post", "postgres://"));
}

TEST(Lines, EndAtCrLfLoneCrOrLf) {
  using Views = std::vector<std::string_view>;
  struct Case {
    const char* name;
    std::string in;
    Views out;
  } cases[] = {
      {"LF", "a\nb", {"a", "b"}},
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"lone CR", "a\rb\r", {"a", "b"}},
      {"mixed", "a\nb\r\nc\rd", {"a", "b", "c", "d"}},
      {"empty lines: CR, CR LF, LF", "\r\r\n\n", {"", "", ""}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"no break", "a", {"a"}},
      {"a break at the end starts no line", "\n", {""}},
      {"empty text", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Lines(c.in), c.out) << c.name;
}

TEST(Lines, BreaksRewrittenOneForOne) {
  EXPECT_EQ(WithLineBreaks("a\rb\nc\r\nd\r", "\r\n"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(WithLineBreaks("\r\n\n\r", "\n"), "\n\n\n");
  EXPECT_EQ(WithLineBreaks("表\t", "\n"), "表\t");
}

}  // namespace
}  // namespace xb::text
