// Oracle's q'[...]' quoting: one literal for the one-statement rule, and
// plain standard literals for SQLite.
#include <gtest/gtest.h>

#include "db/errors.h"
#include "db/oracle/statement_text.h"
#include "db/sql_text.h"

namespace xb::db::oracle {
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

TEST(DuplicateColumnsTest, RefusedInInsertListsAndUpdateSets) {
  const char* const refused[] = {
      "insert into T (K,K) values (1,2)",
      "insert into T(K, V, k) values (1, 2, 3)",
      "update T set K='1', V='2', K='3' where K='1'",
      "update T set V = (select max(a) from x), t.V = 2",
      "insert into T (\"a\", \"a\") values (1, 2)",
  };
  for (const char* sql : refused) {
    try {
      CheckDuplicateColumns(sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const DbError& e) {
      EXPECT_STREQ(e.what(), "ORA-00957: duplicate column name") << sql;
    }
  }
  const char* const accepted[] = {
      "insert into T (K, V) values ('K', 'K')",
      "insert into T values (1, 1)",
      "insert into T (\"a\", \"A\") values (1, 2)",
      "update T set K = 'x,K=1', V = f(K, K) where K = 1 and K = 2",
      "select K, K from T",
  };
  for (const char* sql : accepted) EXPECT_NO_THROW(CheckDuplicateColumns(sql)) << sql;
}

}  // namespace
}  // namespace xb::db::oracle
