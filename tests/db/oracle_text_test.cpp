// Oracle's q'[...]' quoting: one literal for the one-statement rule, and
// plain standard literals for SQLite.
#include <gtest/gtest.h>

#include "db/errors.h"
#include "db/oracle_text.h"
#include "db/sql_text.h"

namespace xb::db {
namespace {

TEST(QQuoteTest, PlainLiteralsForEveryDelimiter) {
  const struct {
    const char* oracle;
    const char* plain;
  } cases[] = {
      {"select q'[a;b]' from dual", "select 'a;b' from dual"},
      {"select q'(it's)' from dual", "select 'it''s' from dual"},
      {"select Q'{x}', q'<y>' from dual", "select 'x', 'y' from dual"},
      {"select nq'!a'b!' from dual", "select 'a''b' from dual"},
      {"select q'[]]' from dual", "select ']' from dual"},
      {"select 'q''[x]' from dual", "select 'q''[x]' from dual"},  // inside an ordinary literal
      {"select seq'[x]' from dual", "select seq'[x]' from dual"},  // q ends a longer name
      {"select q from dual", "select q from dual"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlainQuoteLiterals(c.oracle), c.plain) << c.oracle;
}

TEST(QQuoteTest, SemicolonInsideIsNoSecondStatement) {
  EXPECT_NO_THROW(CheckSingleStatement("select q'[a; drop table t]' from dual", false));
  EXPECT_NO_THROW(CheckSingleStatement("select q'!;'!' from dual", false));
  EXPECT_THROW(CheckSingleStatement("select q'[a]' from dual; drop table t", false), DbError);
}

}  // namespace
}  // namespace xb::db
