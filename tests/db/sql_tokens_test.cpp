// The one token stream every reader of SQL text works from.

#include "db/sql_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace xb::db {
namespace {

using Kind = SqlToken::Kind;

// "kind:text@begin-end" for each token, so a case reads as one line.
std::vector<std::string> Shown(const std::string& sql) {
  std::vector<std::string> out;
  for (const SqlToken& t : SqlTokens(sql)) {
    const char* kind = "?";
    switch (t.kind) {
      case Kind::Word: kind = "w"; break;
      case Kind::Number: kind = "n"; break;
      case Kind::Literal: kind = "l"; break;
      case Kind::QuotedName: kind = "q"; break;
      case Kind::Marker: kind = "m"; break;
      case Kind::Punct: kind = "p"; break;
    }
    out.push_back(std::string(kind) + ":" + t.text + "@" + std::to_string(t.begin) + "-" +
                  std::to_string(t.end) + (t.closed ? "" : "!"));
  }
  return out;
}

using V = std::vector<std::string>;

TEST(SqlTokens, QuotesDoubledInsideStandForOneAndSpansKeepTheQuotes) {
  EXPECT_EQ(Shown("'it''s'"), (V{"l:it's@0-7"}));
  EXPECT_EQ(Shown("\"a\"\"b\".c"), (V{"q:a\"b@0-6", "p:.@6-7", "w:c@7-8"}));
  EXPECT_EQ(Shown("''''''"), (V{"l:''@0-6"}));
  EXPECT_EQ(Shown("x''"), (V{"w:x@0-1", "l:@1-3"}));
  // Oracle's q'[...]': the letter stays a word; the value is what stands
  // between the delimiters, its quotes as written.
  EXPECT_EQ(Shown("q'[it's]'"), (V{"w:q@0-1", "l:it's@1-9"}));
  EXPECT_EQ(Shown("nQ'{a}'||q'!b!'"),
            (V{"w:nQ@0-2", "l:a@2-7", "p:|@7-8", "p:|@8-9", "w:q@9-10", "l:b@10-15"}));
  // A text that ends inside a literal or name: the rest is its value.
  EXPECT_EQ(Shown("a = 'x''y"), (V{"w:a@0-1", "p:=@2-3", "l:x'y@4-9!"}));
  EXPECT_EQ(Shown("\"ab"), (V{"q:ab@0-3!"}));
  EXPECT_EQ(Shown("q'[ab"), (V{"w:q@0-1", "l:ab@1-5!"}));
}

TEST(SqlTokens, CommentsOfBothKindsOnlyPartTokens) {
  EXPECT_EQ(Shown("sel/* ; */ect -- 'x\n?"), (V{"w:sel@0-3", "w:ect@10-13", "m:?@20-21"}));
  EXPECT_EQ(Shown("a--b\nc"), (V{"w:a@0-1", "w:c@5-6"}));
  EXPECT_EQ(Shown("1/*"), (V{"n:1@0-1"}));
  EXPECT_EQ(Shown("'--' /* ' */ \"/*\""), (V{"l:--@0-4", "q:/*@13-17"}));
  EXPECT_EQ(Shown("a/b-c"), (V{"w:a@0-1", "p:/@1-2", "w:b@2-3", "p:-@3-4", "w:c@4-5"}));
}

TEST(SqlTokens, NumbersOperatorsAndWords) {
  EXPECT_EQ(Shown("a<=1.5e-3"), (V{"w:a@0-1", "p:<=@1-3", "n:1.5e-3@3-9"}));
  // An exponent needs its digits; '=' takes no second operator character.
  EXPECT_EQ(Shown("1e x=-2 y<>z!=w"),
            (V{"n:1@0-1", "w:e@1-2", "w:x@3-4", "p:=@4-5", "p:-@5-6", "n:2@6-7", "w:y@8-9",
               "p:<>@9-11", "w:z@11-12", "p:!=@12-14", "w:w@14-15"}));
  EXPECT_EQ(Shown("t$1#.x_2 $y"),
            (V{"w:t$1#@0-4", "p:.@4-5", "w:x_2@5-8", "p:$@9-10", "w:y@10-11"}));
}

// Positions are bytes: a UTF-8 character is one token of all its bytes, and
// what follows it starts where the character ends.
TEST(SqlTokens, PositionsAfterMultibyteCharactersAreByteOffsets) {
  const std::string sql = "select '\xe4\xb8\xad' \xe5\x88\x97, n from t";
  EXPECT_EQ(Shown(sql), (V{"w:select@0-6", "l:\xe4\xb8\xad@7-12", "p:\xe5\x88\x97@13-16",
                           "p:,@16-17", "w:n@18-19", "w:from@20-24", "w:t@25-26"}));
  for (const SqlToken& t : SqlTokens(sql)) {
    if (t.kind == Kind::Literal) continue;
    EXPECT_EQ(sql.substr(t.begin, t.end - t.begin), t.text);
  }
}

TEST(SqlTokens, TheLeadingVerbIsTheFirstWordOfTheCode) {
  EXPECT_EQ(LeadingVerb("  -- note\n /* x */ ((Select 1))"), "SELECT");
  EXPECT_EQ(LeadingVerb("insert2 into t"), "INSERT2");
  EXPECT_EQ(LeadingVerb("'select'"), "");
  EXPECT_EQ(LeadingVerb("-- only a comment"), "");
  EXPECT_EQ(LeadingVerb("(("), "");
  EXPECT_EQ(LeadingVerb(""), "");
}

}  // namespace
}  // namespace xb::db
