// The Oracle dialect module on its own: dates by mask, sequence references
// and parameter markers found only in code, data statements told apart.

#include <gtest/gtest.h>

#include <cstdio>

#include "db/oracle/dialect.h"

namespace xb::db::oracle {
namespace {

TEST(OracleDates, ParseAndFormatByMask) {
  struct Case {
    const char* text;
    const char* mask;
    const char* canonical;  // nullptr: refused
  } cases[] = {
      {"2003-8-1", "yyyy-mm-dd", "2003-08-01"},
      {" 2003-08-01 ", "yyyy-mm-dd", "2003-08-01"},
      {"2003/8/1", "yyyy-mm-dd", "2003-08-01"},  // any separator for a separator
      {"2003-8-1 7:05:09", "yyyy-mm-dd hh24:mi:ss", "2003-08-01 07:05:09"},
      {"2000-2-29", "YYYY-MM-DD", "2000-02-29"},
      {"1900-2-29", "yyyy-mm-dd", nullptr},
      {"2003-13-01", "yyyy-mm-dd", nullptr},
      {"20030801", "yyyy-mm-dd", nullptr},
      {"2003-08-01x", "yyyy-mm-dd", nullptr},
      {"", "yyyy-mm-dd", nullptr},
  };
  for (const auto& c : cases) {
    DateTime d;
    const bool ok = ParseByMask(c.text, c.mask, d);
    EXPECT_EQ(ok, c.canonical != nullptr) << c.text;
    if (ok && c.canonical) {
      EXPECT_EQ(Canonical(d), c.canonical) << c.text;
    }
  }
  // The stored spelling is printf's %04d-%02d-%02d[ %02d:%02d:%02d], whatever the fields hold.
  for (const DateTime& odd : {DateTime{7, 1, 2, 0, 0, 0}, DateTime{12345, 10, 31, 0, 0, 1},
                              DateTime{-5, 1, 1, 23, 59, 59}, DateTime{0, 0, 0, 0, 7, 0}}) {
    char expected[64];
    if (odd.hour || odd.minute || odd.second)
      std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", odd.year, odd.month,
                    odd.day, odd.hour, odd.minute, odd.second);
    else
      std::snprintf(expected, sizeof expected, "%04d-%02d-%02d", odd.year, odd.month, odd.day);
    EXPECT_EQ(Canonical(odd), expected);
  }
  DateTime d;
  ASSERT_TRUE(ParseStored("2003-12-31 23:59:58", d));
  EXPECT_EQ(FormatByMask(d, "yyyy-mm-dd"), "2003-12-31");
  EXPECT_EQ(FormatByMask(d, "dd.mm.yyyy hh:mi:ss"), "31.12.2003 11:59:58");
}

TEST(OracleSequences, FoundInCodeOnly) {
  const std::string sql =
      "insert into T(A,B,C) values(seq_a . NEXTVAL,'S.nextval',X.Y.nextval) -- Z.nextval\n/* "
      "W.currval */ "
      "returning S2.currval";
  const auto uses = FindSequenceUses(sql);
  ASSERT_EQ(uses.size(), 2u);
  EXPECT_EQ(uses[0].name, "SEQ_A");
  EXPECT_TRUE(uses[0].next);
  EXPECT_EQ(sql.substr(uses[0].begin, uses[0].end - uses[0].begin), "seq_a . NEXTVAL");
  EXPECT_EQ(uses[1].name, "S2");
  EXPECT_FALSE(uses[1].next);
  EXPECT_TRUE(FindSequenceUses("select a.b from t").empty());
}

TEST(OracleMarkers, OnlyThoseInCode) {
  const std::string sql = "select '?' , ? from t where a=? -- ?\n and \"?\"=?";
  const auto markers = FindMarkers(sql);
  ASSERT_EQ(markers.size(), 3u);
  for (size_t at : markers) EXPECT_EQ(sql[at], '?');
  EXPECT_EQ(markers[0], sql.find(", ?") + 2);
}

TEST(OracleStatements, DataStatementsLeaveTheSchemaAlone) {
  for (const char* sql :
       {"insert into t values(1)", "  Update t set a=1", "\r\nselect 1 from dual", "DELETE from t",
        "-- x\nselect 1", "(select 1 from dual) union select 2 from dual"})
    EXPECT_TRUE(IsDataStatement(sql)) << sql;
  for (const char* sql :
       {"create table t (a)", "alter table t add b", "drop sequence s", "", "'select'"})
    EXPECT_FALSE(IsDataStatement(sql)) << sql;
}

}  // namespace
}  // namespace xb::db::oracle
