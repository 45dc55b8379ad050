// The text rules every layer shares: what a blank is, which letters change
// case, where lines end, where a list splits, what a UTF-8 character is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/ascii.h"
#include "text/utf8.h"

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

using Views = std::vector<std::string_view>;
// A text and the pieces it gives.
struct PiecesCase {
  const char* name;
  std::string in;
  Views out;
};

TEST(Lines, EndAtCrLfLoneCrOrLf) {
  const PiecesCase cases[] = {
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

TEST(Split, KeepsEveryPieceEmptyOnesToo) {
  const PiecesCase cases[] = {
      {"one piece", "AA", {"AA"}},
      {"empty text is one empty piece", "", {""}},
      {"pieces as they stand, blanks kept", "AA, BB ,CC", {"AA", " BB ", "CC"}},
      {"empty pieces inside and at both ends", ",A,,B,", {"", "A", "", "B", ""}},
      {"only separators", ",,", {"", "", ""}},
      {"UTF-8 names", "表,列", {"表", "列"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.in, ','), c.out) << c.name;
}

// Every length of UTF-8 character, at both ends of its range: written,
// walked and counted back as one character.
TEST(Utf8, EachCodePointIsWrittenAndCountedAsOneCharacter) {
  struct Case {
    uint32_t code_point;
    std::string bytes;
  } cases[] = {
      {0x00, "\0"s},
      {0x7F, "\x7f"},
      {0x80, "\xc2\x80"},
      {0x7FF, "\xdf\xbf"},
      {0x800, "\xe0\xa0\x80"},
      {0x8868, "表"},
      {0xFFFF, "\xef\xbf\xbf"},
      {0x10000, "\xf0\x90\x80\x80"},
      {0x10FFFF, "\xf4\x8f\xbf\xbf"},
  };
  for (const auto& c : cases) {
    std::string out = "a";
    AppendUtf8(out, c.code_point);
    EXPECT_EQ(out, "a" + c.bytes) << std::hex << c.code_point;
    EXPECT_EQ(CharLengthAt(out, 1), c.bytes.size()) << std::hex << c.code_point;
    EXPECT_EQ(LastCharStart(out), 1u) << std::hex << c.code_point;
    EXPECT_EQ(CharCount(out), 2u) << std::hex << c.code_point;
  }
}

TEST(Utf8, BrokenTextStillCountsAndWalks) {
  // A cut-short character counts once; a walk over broken text moves on
  // and never stops.
  EXPECT_EQ(CharCount("a\xe8\xa1"), 2u);
  EXPECT_EQ(CharLengthAt("\xe8\xa1", 0), 2u);
  EXPECT_EQ(CharLengthAt("\x80\x80", 0), 1u);
  EXPECT_EQ(CharLengthAt("a", 1), 0u);
  // Four continuation bytes are more than one character holds.
  EXPECT_EQ(LastCharStart("a\x80\x80\x80\x80"), 4u);
  EXPECT_EQ(LastCharStart(""), 0u);
}

}  // namespace
}  // namespace xb::text
