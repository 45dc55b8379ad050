// The import's bound inserts run without their table's insert trigger while
// their rows pass the declared-type checks as they are: each row's outcome
// (the row stored, or the error) must be exactly the trigger's, which a twin
// table filled by the same statements sent as text shows.

#include <string>
#include <vector>

#include "db/errors.h"
#include "db_fixture.h"
#include "support/query.h"

namespace xb::db::test {
namespace {

constexpr const char* kColumns = "K,T,N,D,I,F";
constexpr const char* kTable =
    " (K varchar2(6) primary key, T varchar2(4 char), N number(5,2), D date, I integer, F float, "
    "X number)";

struct Row {
  std::vector<std::optional<std::string>> values;  // K, T, N, D, I, F; nullopt binds NULL
};

class CheckedInsert : public DbFolder {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    session_.myconnection.setConnectionString(ConnectionString(db_path_));
    Text(std::string("create table BOUND") + kTable);
    Text(std::string("create table SENT") + kTable);
  }

  void Text(const std::string& sql) {
    session_.exe.close();
    session_.exe.setSql(sql);
    session_.exe.execute();
  }
  static std::string Quoted(const std::optional<std::string>& v) {
    if (!v) return "null";
    std::string out = "'";
    for (const char c : *v) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
  }
  // The row into BOUND as the import sends it, and into SENT as text; the
  // outcome of each ("ok" or the error).
  std::pair<std::string, std::string> Insert(const Row& row) {
    std::string marked = std::string("insert into BOUND(") + kColumns + ") values(";
    std::string text = std::string("insert into SENT(") + kColumns + ") values(";
    std::vector<Value> values;
    for (size_t i = 0; i < row.values.size(); ++i) {
      const bool date = i == 3;
      marked += std::string(i ? "," : "") + (date ? "to_date(?,'yyyy-mm-dd')" : "?");
      text +=
          std::string(i ? "," : "") +
          (date ? "to_date(" + Quoted(row.values[i]) + ",'yyyy-mm-dd')" : Quoted(row.values[i]));
      // Typed as the import types them: N, I and F are numbers, D a date.
      const bool number = i == 2 || i == 4 || i == 5;
      if (!row.values[i])
        values.push_back(Value::Null());
      else
        values.push_back(number ? Value::NumberOf(*row.values[i])
                         : date ? Value::DateOf(*row.values[i])
                                : Value::Of(*row.values[i]));
    }
    marked += ")";
    text += ")";
    auto outcome = [](auto run) {
      try {
        run();
        return std::string("ok");
      } catch (const DbError& e) {
        return std::string(e.what());
      }
    };
    const std::string bound = outcome([&] {
      session_.exe.close();
      session_.exe.setStatement(text, marked, values);
      session_.exe.execute();
    });
    std::string sent = outcome([&] { Text(text); });
    // Errors name the table.
    for (size_t at; (at = sent.find("SENT")) != std::string::npos;) sent.replace(at, 4, "BOUND");
    return {bound, sent};
  }
  std::vector<std::string> Rows(const std::string& table) {
    std::vector<std::string> rows;
    for (const auto& fields : xb::test::Select(
             session_.myconnection,
             "select K,T,N,D,I,F,typeof(N),typeof(I),typeof(F) from " + table + " order by K")) {
      std::string row;
      for (const auto& field : fields) row += field + "|";
      rows.push_back(row);
    }
    return rows;
  }
  // Every row in one transaction, then the two tables compared.
  void ExpectSameOutcomes(const std::vector<Row>& rows) {
    session_.myconnection.beginTransaction();
    for (size_t i = 0; i < rows.size(); ++i) {
      const auto [bound, sent] = Insert(rows[i]);
      EXPECT_EQ(bound, sent) << "row " << i;
    }
    session_.myconnection.commitTransaction();
    EXPECT_EQ(Rows("BOUND"), Rows("SENT"));
  }

  DbSession session_;
};

Row R(std::vector<std::optional<std::string>> values) { return Row{std::move(values)}; }

// Clean rows, rows whose values the checks keep otherwise (rounded, '' made
// NULL, spaced numbers), rows refused by the checks, by to_date and by the
// key, and a row refused for both a key and a type: the key's error comes
// first, as the trigger runs after the insert.
TEST_F(CheckedInsert, EveryRowEndsAsTheTriggerEndsIt) {
  ExpectSameOutcomes({
      R({"A1", "abcd", "123.45", "2003-8-1", "7", "1.5"}),
      R({"A2", "测试测试", "-0.5", "1999-12-31", "-12", "2"}),
      R({"A3", "", "", "", "", ""}),
      R({"A4", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}),
      R({"A5", "ab", "1.005", "2003-08-01", "3.0", "1e3"}),  // rounded; 3.0 an integer
      R({"A6", "ab", " 12 ", "2003-8-1", "007", "0.1"}),
      R({"A7", "ab", "123456", "2003-8-1", "1", "1"}),  // precision
      R({"A8", "abcde", "1", "2003-8-1", "1", "1"}),    // too long
      R({"A9", "ab", "abc", "2003-8-1", "1", "1"}),     // no number
      R({"B1", "ab", "1", "2003-2-30", "1", "1"}),      // no date
      R({"A1", "abcde", "1", "2003-8-1", "1", "1"}),    // key and type
      R({"B2", "ab", "99999999999999999999", "2003-8-1", "1", "1"}),
      R({"B3", "ab", "1", "2003-8-1", "12345678901234567890123", "1"}),
      R({"B4", "ab", "0.125", "2003-8-1", "1.5", "1"}),
  });
}

// Past the rows that ran again with the trigger a transaction keeps it; the
// outcomes stay the trigger's all the same.
TEST_F(CheckedInsert, ManyRewrittenRowsKeepTheirOutcomes) {
  std::vector<Row> rows;
  for (int i = 0; i < 40; ++i)
    rows.push_back(R(
        {"R" + std::to_string(i), "x", i % 2 ? "1.005" : "2", "2003-8-1", std::to_string(i), "1"}));
  ExpectSameOutcomes(rows);
}

// The trigger is there again for every other statement: one sent between
// the bound rows, after the commit and after a rollback.
TEST_F(CheckedInsert, OtherStatementsAreCheckedByTheTrigger) {
  const std::string too_long =
      "ORA-12899: value too large for column \"BOUND\".\"T\" (actual: 5, maximum: 4)";
  auto bad_text = [&] {
    try {
      Text("insert into BOUND(K,T) values('Z','abcde')");
    } catch (const DbError& e) {
      return std::string(e.what());
    }
    return std::string("<no error>");
  };
  session_.myconnection.beginTransaction();
  EXPECT_EQ(Insert(R({"A1", "ab", "1", "2003-8-1", "1", "1"})).first, "ok");
  EXPECT_EQ(bad_text(), too_long);
  EXPECT_EQ(Insert(R({"A2", "ab", "1", "2003-8-1", "1", "1"})).first, "ok");
  session_.myconnection.commitTransaction();
  EXPECT_EQ(bad_text(), too_long);

  session_.myconnection.beginTransaction();
  EXPECT_EQ(Insert(R({"A3", "ab", "1", "2003-8-1", "1", "1"})).first, "ok");
  session_.myconnection.rollbackTransaction();
  EXPECT_EQ(bad_text(), too_long);
  EXPECT_EQ(Rows("BOUND").size(), 2u);

  // Outside a transaction the bound insert runs with the trigger.
  EXPECT_EQ(Insert(R({"A4", "abcde", "1", "2003-8-1", "1", "1"})).first, too_long);
}

// A row that runs again with the trigger keeps the sequence value it drew:
// the sequence moves once a row, refused or not.
TEST_F(CheckedInsert, ARowRunAgainDrawsItsSequenceValueOnce) {
  Text("create sequence S");
  Text("create table Q (ID number, T varchar2(2), N number(5,1))");
  session_.myconnection.beginTransaction();
  auto insert = [&](const std::string& t, const std::string& n) {
    session_.exe.close();
    session_.exe.setStatement("insert into Q(ID,T,N) values(S.nextval,'" + t + "','" + n + "')",
                              "insert into Q(ID,T,N) values(S.nextval,?,?)",
                              {Value::Of(t), Value::NumberOf(n)});
    try {
      session_.exe.execute();
    } catch (const DbError& e) {
      return std::string(e.what());
    }
    return std::string("ok");
  };
  EXPECT_EQ(insert("a", "1"), "ok");
  EXPECT_EQ(insert("b", "1.25"), "ok");  // rounded by the trigger
  EXPECT_EQ(insert("abc", "1"),
            "ORA-12899: value too large for column \"Q\".\"T\" (actual: 3, maximum: 2)");
  EXPECT_EQ(insert("d", "2"), "ok");
  session_.myconnection.commitTransaction();
  Query& q = session_.init;
  q.close();
  q.setSql("select ID, T, N from Q order by ID");
  q.open();
  std::string rows;
  for (; !q.eof(); q.next()) rows += q.fieldText(0) + q.fieldText(1) + q.fieldText(2) + ";";
  EXPECT_EQ(rows, "1a1;2b1.3;4d2;");
}

// A column left out of the insert whose default the trigger checks: such a
// table's inserts keep the trigger.
TEST_F(CheckedInsert, ADefaultLeftOutKeepsTheTrigger) {
  Text("create table DEFAULTED (K varchar2(6), T varchar2(2) default 'abc')");
  session_.myconnection.beginTransaction();
  session_.exe.close();
  session_.exe.setStatement("insert into DEFAULTED(K) values('A')",
                            "insert into DEFAULTED(K) values(?)", {Value::Of("A")});
  try {
    session_.exe.execute();
    ADD_FAILURE() << "the default was not checked";
  } catch (const DbError& e) {
    EXPECT_EQ(std::string(e.what()),
              "ORA-12899: value too large for column \"DEFAULTED\".\"T\" (actual: 3, maximum: 2)");
  }
  session_.myconnection.rollbackTransaction();
}

}  // namespace
}  // namespace xb::db::test
