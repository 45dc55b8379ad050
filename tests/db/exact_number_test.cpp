// NUMBER values longer than a double holds (20- and 38-digit integers, long
// decimals) keep every digit on the embedded engine, compare exactly and
// still meet NUMBER(p,s); everything shorter is stored as before.

#include <sqlite3.h>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/sqlite/number_params.h"
#include "db_fixture.h"
#include "support/query.h"

namespace xb::db::test {
namespace {

using oracle::CanonicalDecimal;
using oracle::CheckColumnValue;
using oracle::ColumnValue;
using oracle::ExactDecimal;
using oracle::ExactDecimalOf;
using oracle::ParseDeclaredType;

const std::string k17 = "12345678901234567";
const std::string k20 = "12345678901234567890";
const std::string k38 = "12345678901234567890123456789012345678";
const std::string kLongDecimal = "0.1234567890123456789";

TEST(ExactNumber, CanonicalFormAndWhatNeedsIt) {
  struct Case {
    const char* text;
    std::optional<std::string> canonical, exact;
  };
  const Case cases[] = {
      {" +001500.0e0 ", "1500", std::nullopt},
      {"-0.000120", "-0.00012", std::nullopt},
      {"1.5E3", "1500", std::nullopt},
      {"-0", "0", std::nullopt},
      {".5", "0.5", std::nullopt},
      {"abc", std::nullopt, std::nullopt},
      {"1e", std::nullopt, std::nullopt},
      {"12 34", std::nullopt, std::nullopt},
      {"1e200", std::nullopt, std::nullopt},  // beyond NUMBER: left to the double path
      {"9223372036854775807", "9223372036854775807", std::nullopt},  // an int64
      {"9223372036854775808", "9223372036854775808", "9223372036854775808"},
      {"12345678901234567", "12345678901234567", std::nullopt},
      {"123456789012345.6", "123456789012345.6", "123456789012345.6"},
      {"0.30000000000000004", "0.30000000000000004", "0.30000000000000004"},
      {"-12345678901234567890", "-12345678901234567890", "-12345678901234567890"},
      {"0.1234567890123456789000", kLongDecimal, kLongDecimal},
      {"1.2345678901234567890e19", k20, k20},
      // More than 38 significant digits: rounded half away from zero.
      {"123456789012345678901234567890123456785", "123456789012345678901234567890123456790",
       "123456789012345678901234567890123456790"},
      {"9999999999999999999999999999999999999999", "10000000000000000000000000000000000000000",
       std::nullopt},
      {"12345678901234567890000", "12345678901234567890000", "12345678901234567890000"},
      {"100000000000000000000", "100000000000000000000", std::nullopt},  // one digit: 1E+20
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CanonicalDecimal(c.text), c.canonical) << c.text;
    EXPECT_EQ(ExactDecimalOf(c.text), c.exact) << c.text;
  }
}

TEST(ExactNumber, NumberTypesAreOneList) {
  for (const char* type :
       {"NUMBER", "number(10,2)", "Numeric", "DECIMAL(5)", "INTEGER", "int", "SMALLINT", "FLOAT",
        "float(126)", "REAL", "DOUBLE PRECISION", "BINARY_FLOAT", " binary_double "})
    EXPECT_TRUE(oracle::IsNumberType(type)) << type;
  for (const char* type : {"VARCHAR2(10)", "DATE", "CHAR", "", "NUMBERS", "TIMESTAMP", "CLOB"})
    EXPECT_FALSE(oracle::IsNumberType(type)) << type;
}

TEST(ExactNumber, PrecisionAndScaleOnAllDigits) {
  auto check = [](const std::string& text, const char* declared) -> ColumnValue {
    return CheckColumnValue(text, ParseDeclaredType(declared), "T", "N");
  };
  auto error = [&](const std::string& text, const char* declared) {
    try {
      check(text, declared);
    } catch (const DbError& e) {
      return std::string(e.what());
    }
    return std::string("<no error>");
  };
  EXPECT_EQ(check(k38, "number(38)"), ColumnValue(ExactDecimal{k38}));
  EXPECT_EQ(check(k38, "number"), ColumnValue(ExactDecimal{k38}));
  EXPECT_EQ(error(k38 + "9", "number(38)"),
            "ORA-01438: value larger than specified precision allowed for this column");
  EXPECT_EQ(check("123456789012345678.125", "number(20,2)"),
            ColumnValue(ExactDecimal{"123456789012345678.13"}));
  EXPECT_EQ(check("-123456789012345678.125", "number(20,2)"),
            ColumnValue(ExactDecimal{"-123456789012345678.13"}));
  EXPECT_EQ(error("1234567890123456789.125", "number(20,2)"),
            "ORA-01438: value larger than specified precision allowed for this column");
  // Rounded to fewer digits, the value goes back to the short forms.
  EXPECT_EQ(check(kLongDecimal, "number(10,3)"), ColumnValue(0.123));
  EXPECT_EQ(check("12345678901234567890.4", "number(20)"), ColumnValue(ExactDecimal{k20}));
  EXPECT_EQ(check("1234567890123456.4", "number(20)"), ColumnValue(1234567890123456LL));
  // A long number stored into a text column is its digits.
  EXPECT_EQ(CheckColumnValue(ExactDecimal{k20}, ParseDeclaredType("varchar2(20)"), "T", "S"),
            ColumnValue(k20));
  EXPECT_EQ(error(k20 + "1", "varchar2(20)").rfind("ORA-12899", 0), 0u);
}

TEST(ExactNumber, MarkerColumnsOfPlainStatements) {
  auto columns = [](const std::string& sql) { return FindMarkerColumns(sql).columns; };
  using V = std::vector<std::string>;
  EXPECT_EQ(columns("select count(*) from T where K=? and t.L >= ? and ? = \"M\""),
            (V{"K", "L", "M"}));
  EXPECT_EQ(columns("insert into T(A,B,C) values(?,to_date(?,'yyyy-mm-dd'),?)"), (V{"A", "", "C"}));
  EXPECT_EQ(columns("update T set A=?,B=? where to_char(D,'yyyy-mm-dd')=? and K=?"),
            (V{"A", "B", "", "K"}));
  EXPECT_EQ(columns("select * from T where K in (?, ?) or '?' = K"), (V{"", ""}));
  EXPECT_EQ(FindMarkerColumns("select 1 from a x, main.b where a.K = b.K").tables, (V{"a", "b"}));
  // Cut short anywhere, a statement still gives one entry per marker.
  const std::string whole = "insert into T (A, \"B\") values (?, (?), ?) -- ?";
  for (size_t n = 0; n <= whole.size(); ++n) {
    const std::string part = whole.substr(0, n);
    size_t markers = 0;
    for (size_t i = 0; i < part.size() && part.compare(i, 2, "--") != 0; ++i)
      markers += part[i] == '?';
    EXPECT_EQ(columns(part).size(), markers) << part;
  }
  EXPECT_EQ(columns(whole), (V{"A", "", ""}));
}

TEST(ExactNumber, OrderByTermsThatNameAColumn) {
  const auto found = FindOrderByColumns(
      "select a, (select 1 from x order by z) from T t order by t.A desc nulls last, 2, "
      "\"B\", lower(C), D + 1 for update");
  EXPECT_EQ(found.tables, (std::vector<std::string>{"x", "T"}));
  EXPECT_EQ(found.columns, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(FindOrderByColumns("select a from T union select b from U order by a").spans.empty());
  EXPECT_TRUE(FindOrderByColumns("select a from T order").spans.empty());
}

class ExactNumbers : public DbFolder {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    session_.myconnection.setConnectionString(ConnectionString(db_path_));
    Run("create table T (K number primary key, N number, P number(38), S number(20,2), "
        "V varchar2(40))");
  }
  void Run(const std::string& sql) { xb::test::Execute(session_.myconnection, sql); }
  std::vector<std::string> Column(const std::string& sql) {
    return xb::test::Column(session_.myconnection, sql);
  }
  std::string One(const std::string& sql) { return xb::test::One(session_.myconnection, sql); }
  // Binds its values, as the import does.
  void RunBound(const std::string& marked, std::vector<Value> values) {
    session_.exe.close();
    session_.exe.setStatement("", marked, std::move(values));
    session_.exe.execute();
  }

  DbSession session_;
};

using V = std::vector<std::string>;

TEST_F(ExactNumbers, LongNumbersKeepEveryDigit) {
  // Written into the statement, as the Parts' statements are.
  Run("insert into T (K, N, P, S, V) values ('" + k20 + "', '" + kLongDecimal + "', '" + k38 +
      "', '123456789012345678.125', '" + k20 + "')");
  EXPECT_EQ(Column("select K from T"), V{k20});
  EXPECT_EQ(Column("select N from T"), V{kLongDecimal});
  EXPECT_EQ(Column("select P from T"), V{k38});
  EXPECT_EQ(Column("select S from T"), V{"123456789012345678.13"});
  EXPECT_EQ(Column("select V from T"), V{k20});
  EXPECT_EQ(One("select typeof(V) from T"), "text");  // a text column keeps text
  // Bound, as the import binds them; a 17-digit integer stays an integer.
  RunBound(
      "insert into T (K, N, P) values (?, ?, ?)",
      {Value::NumberOf(k17), Value::NumberOf(" 0.30000000000000004 "), Value::NumberOf("-" + k38)});
  EXPECT_EQ(Column("select N from T where K = " + k17), V{"0.30000000000000004"});
  EXPECT_EQ(Column("select P from T where K = " + k17), V{"-" + k38});
  EXPECT_EQ(One("select typeof(K) from T where K = " + k17), "integer");
  EXPECT_EQ(Column("select K from T order by K"), (V{k17, k20}));
  // A long number written into a text column is its digits, as text.
  Run("insert into T (K, V) values (2, 12345678901234567890123)");
  EXPECT_EQ(Column("select V || ' ' || typeof(V) from T where K = 2"),
            V{"12345678901234567890123 text"});
  EXPECT_EQ(Column("select K from T where V = 12345678901234567890123"), V{"2"});
  // Numbers of 15 digits or fewer are stored as before.
  Run("insert into T (K, N, P) values (3, '1.5', '100000000000000000000')");
  EXPECT_EQ(Column("select typeof(K) || typeof(N) || typeof(P) from T where K = 3"),
            V{"integerrealreal"});
  EXPECT_EQ(Column("select P from T where K = 3"), V{"1E+20"});
  // Refused as Oracle refuses them.
  EXPECT_THROW(Run("insert into T (K, P) values (1, '" + k38 + "1')"), DbError);
  EXPECT_THROW(Run("update T set S = '1234567890123456789.1' where K = " + k20), DbError);
}

TEST_F(ExactNumbers, ComparisonsAndToNumberAreExact) {
  const std::string k20b = "12345678901234567891";  // the same double as k20
  Run("insert into T (K, N) values ('" + k20 + "', 1)");
  Run("insert into T (K, N) values ('" + k20b + "', 2)");
  Run("insert into T (K, N) values ('12345678901234567890123', 3)");
  Run("insert into T (K, N) values (-" + k38 + ", 4)");
  EXPECT_EQ(One("select N from T where K = " + k20), "1");
  EXPECT_EQ(One("select N from T where K = '" + k20b + "'"), "2");
  EXPECT_EQ(One("select N from T where K = 12345678901234567890123"), "3");
  EXPECT_EQ(One("select N from T where K=-" + k38), "4");
  EXPECT_EQ(One("select N from T where K = to_number('" + k20b + "')"), "2");
  EXPECT_EQ(One("select to_number(' 1.2345678901234567890e19 ') from dual"), k20);
  EXPECT_EQ(One("select to_number('12.50') from dual"), "12.5");
  // An update by a long key changes that row only.
  Run("update T set N = 9 where K = '" + k20 + "'");
  EXPECT_EQ(Column("select N from T order by N"), (V{"2", "3", "4", "9"}));
  // Bound keys, as the import looks them up.
  session_.exe.close();
  session_.exe.setStatement("", "select count(*) from T where K=?", {Value::NumberOf(k20b)});
  session_.exe.open();
  EXPECT_EQ(session_.exe.fieldText(0), "1");
  // A text column compares as text.
  Run("insert into T (K, V) values (5, '" + k20b + "')");
  EXPECT_EQ(One("select K from T where V = '" + k20b + "'"), "5");
}

// Ranges over a NUMBER column put long numbers where their value is, next
// to those SQLite holds: written numbers, quoted ones, bound ones, either side.
TEST_F(ExactNumbers, RangesOverANumberColumnAreNumeric) {
  const std::vector<std::pair<int, std::string>> rows = {
      {1, "-" + k20}, {2, "-5"}, {3, kLongDecimal}, {4, "3"}, {5, k20}, {6, k38}};
  for (const auto& [k, n] : rows)
    Run("insert into T (K, N) values (" + std::to_string(k) + ", '" + n + "')");
  EXPECT_EQ(Column("select K from T where N > 5 order by K"), (V{"5", "6"}));
  EXPECT_EQ(Column("select K from T where N < 0 order by K"), (V{"1", "2"}));
  EXPECT_EQ(Column("select K from T where N between 0 and 1 order by K"), (V{"3"}));
  EXPECT_EQ(Column("select K from T where 0.5 <= N and N <= '" + k20 + "' order by K"),
            (V{"4", "5"}));
  EXPECT_EQ(Column("select K from T where N >= -5.0 and t.N<" + k38 + " order by K"),
            (V{"2", "3", "4", "5"}));
  EXPECT_EQ(Column("select K from T where N not between -1 and " + k20 + " order by K"),
            (V{"1", "2", "6"}));
  session_.exe.close();
  session_.exe.setStatement("", "select count(*) from T where N > ?", {Value::NumberOf(k20)});
  session_.exe.open();
  EXPECT_EQ(session_.exe.fieldText(0), "1");
  // An operand that is arithmetic is left to SQLite as written.
  EXPECT_EQ(Column("select K from T where N + 0 > 2 and N < 4 order by K"), (V{"4"}));
  Run("delete from T where N < -6");
  EXPECT_EQ(One("select count(*) from T"), "5");
}

TEST_F(ExactNumbers, OrderByANumberColumnIsNumeric) {
  const std::vector<std::string> keys = {"5",
                                         "-" + k20,
                                         kLongDecimal,
                                         "0.1",
                                         k20,
                                         "99999999999999999999",
                                         "100000000000000000001",
                                         "-1",
                                         "1E+20",
                                         "-0.30000000000000004",
                                         "0"};
  for (size_t i = 0; i < keys.size(); ++i)
    Run("insert into T (K, N, V) values ('" + keys[i] + "', " + std::to_string(i) + ", 'v" +
        std::to_string(i % 3) + "')");
  Run("insert into T (K, N) values (null, 99)");
  const V ascending = {"-" + k20,
                       "-1",
                       "-0.30000000000000004",
                       "0",
                       "0.1",
                       kLongDecimal,
                       "5",
                       k20,
                       "99999999999999999999",
                       "1E+20",
                       "100000000000000000001"};
  EXPECT_EQ(Column("select K from T where K is not null order by K"), ascending);
  EXPECT_EQ(Column("select t.K from T t where K is not null order by t.K desc"),
            V(ascending.rbegin(), ascending.rend()));
  // Bound, with other terms beside it, and a compound query left as it is.
  session_.exe.close();
  session_.exe.setStatement("", "select K from T where N < ? order by V, K nulls first",
                            {Value::Of(std::int64_t{100})});
  session_.exe.open();
  std::vector<std::string> bound;
  for (session_.exe.first(); !session_.exe.eof(); session_.exe.next())
    bound.push_back(session_.exe.fieldIsNull(0) ? "<null>" : session_.exe.fieldText(0));
  // (V is v0, v1, v2 by the row's number modulo 3.)
  EXPECT_EQ(bound, (V{"<null>", "-0.30000000000000004", "0.1", "5", "100000000000000000001",
                      "-" + k20, "-1", "0", k20, kLongDecimal, "99999999999999999999", "1E+20"}));
  EXPECT_EQ(Column("select K from T where N < 2 union select K from T where N = 3 order by K"),
            (V{"0.1", "5", "-" + k20}));
}

// The value's type, not the statement, says how a long number is kept: a
// text column's value is text, a NUMBER column's its digits, whatever the
// prepared statement saw of the table before it was made again.
TEST_F(ExactNumbers, ATableMadeAgainIsSeenByItsPreparedStatement) {
  Run("create table R (N varchar2(30))");
  RunBound("insert into R (N) values (?)", {Value::Of(k20)});
  EXPECT_EQ(Column("select typeof(N) || ' ' || N from R"), V{"text " + k20});
  Run("drop table R");
  Run("create table R (N number)");
  RunBound("insert into R (N) values (?)", {Value::NumberOf(k20)});
  EXPECT_EQ(Column("select typeof(N) from R"), V{"blob"});
  EXPECT_EQ(Column("select N from R"), V{k20});
}

TEST_F(ExactNumbers, TheOdbcEngineReadsTheDigitsBack) {
  if (!HaveOdbcDriver()) GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  Run("insert into T (K, N) values (1, '" + k38 + "')");
  session_.myconnection.close();
  DbSession odbc;
  odbc.myconnection.setConnectionString(ConnectionString("XBTEST"));
  odbc.init.setSql("select N from T where K = 1");
  odbc.init.open();
  EXPECT_EQ(odbc.init.fieldText(0), k38);
}

TEST_F(ExactNumbers, RowsStoredBeforeStayAsTheyWere) {
  // A value another program stored as a double stays a double.
  Run("create table OLD (K number, N number)");
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(db_path_.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "insert into OLD values (1, 1.2345678901234567e19)", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "insert into OLD values (3, x'00ff')", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  EXPECT_EQ(Column("select N from OLD order by K"), (V{"1.23456789012346E+19", "00FF"}));
}

}  // namespace
}  // namespace xb::db::test
