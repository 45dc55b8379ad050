#include <gtest/gtest.h>

#include "cli/script.h"
#include "cli/terminal_operator.h"

namespace xb::cli {
namespace {

using Statements = std::vector<std::string>;

TEST(SplitScript, EndsStatementsAtLineEndingSemicolonsAndSlashLines) {
  struct Case {
    const char* name;
    std::string script;
    Statements expected;
  } cases[] = {
      {"semicolon at line end",
       "create table t(a);\ninsert into t values(1);\n",
       {"create table t(a)", "insert into t values(1)"}},
      {"slash line",
       "create sequence s\n/\nselect 1 from dual\n",
       {"create sequence s", "select 1 from dual"}},
      {"semicolon inside a quoted text stays",
       "insert into t values('a;\nb');\n",
       {"insert into t values('a;\nb')"}},
      {"semicolon before more text is not an end", "select 1; select 2\n", {"select 1; select 2"}},
      {"semicolon in a comment is not an end",
       "select 1 -- done;\nfrom dual;\n",
       {"select 1 -- done;\nfrom dual"}},
      {"block comment across lines", "/* a;\n b; */ select 1;\n", {"/* a;\n b; */ select 1"}},
      {"comment-only pieces dropped",
       "-- header\n\nselect 1;\n-- trailer\n",
       {"-- header\n\nselect 1"}},
      {"CR LF line ends", "select 1;\r\nselect 2;\r\n", {"select 1", "select 2"}},
      {"last statement without terminator", "select 1;\nselect 2", {"select 1", "select 2"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitScript(c.script), c.expected) << c.name;
}

// A ';' or '/' ends a statement only where the database reads code.
TEST(SplitScript, ReadsQuotesAndCommentsAsTheDatabaseDoes) {
  struct Case {
    const char* name;
    std::string script;
    Statements expected;
  } cases[] = {
      {"semicolon at a line end inside q'[...]'",
       "insert into t values(q'[a;\nit's;\nb]');\nselect 1;\n",
       {"insert into t values(q'[a;\nit's;\nb]')", "select 1"}},
      {"semicolon at a line end inside '...' with a doubled quote",
       "insert into t values('it''s;\n');\n",
       {"insert into t values('it''s;\n')"}},
      {"slash line inside a quoted text",
       "select 'a\n/\nb' from dual;\n",
       {"select 'a\n/\nb' from dual"}},
      {"slash line inside a block comment",
       "select 1 /*\n/\n*/ from dual\n/\n",
       {"select 1 /*\n/\n*/ from dual"}},
      {"semicolon before a block comment ends",
       "select 1; /* a;\n*/\nselect 2;\n",
       {"select 1; /* a;\n*/\nselect 2"}},
      {"line comment after the terminator",
       "select 1; -- one\nselect 2; /* two */\n",
       {"select 1", "select 2"}},
      {"a line comment ends at a lone CR",
       "select 1 -- one;\rfrom dual;\rselect 2;\r",
       {"select 1 -- one;\nfrom dual", "select 2"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitScript(c.script), c.expected) << c.name;
}

TEST(ReturnsRows, LooksAtTheFirstWord) {
  EXPECT_TRUE(ReturnsRows("select 1"));
  EXPECT_TRUE(ReturnsRows("  -- note\n (SELECT 1)"));
  EXPECT_TRUE(ReturnsRows("with a as (select 1) select * from a"));
  EXPECT_FALSE(ReturnsRows("insert into t select 1"));
  EXPECT_FALSE(ReturnsRows("create sequence s"));
}

TEST(TerminalOutput, EscapesFieldsAndFormatsBoxes) {
  EXPECT_EQ(EscapeField("a\tb\nc\rd"), "a\\tb\\nc\\rd");
  EXPECT_EQ(FormatBox("警告信息", "a\rb\nc\r\nd"), "警告信息: a\nb\nc\nd\n\n");
}

}  // namespace
}  // namespace xb::cli
