// The existence check of many rows at once, on a real SQLite file: the same
// answers as the row-at-a-time check, row by row, in one statement per chunk.
#include <gtest/gtest.h>

#include "db/errors.h"
#include "import/existence.h"
#include "import/statements.h"
#include "test_database.h"
#include "text/ascii.h"

namespace xb::import {
namespace {

using test::TestDatabase;

struct Log : db::StatementLog {
  std::vector<std::string> texts, marked;
  void sent(const std::string& sql) override { texts.push_back(sql); }
  void bound(const std::string& sql, const std::vector<db::Value>&) override {
    marked.push_back(sql);
  }
};

TypedRow Person(const std::string& name, const std::string& born) {
  TypedRow row;
  row.values = {{RowValue::Kind::Text, name}, {RowValue::Kind::Date, born}};
  row.keys = {{"NAME", text::UpperCased(name), false}, {"BORN", born, true}};
  return row;
}

class Existence : public testing::Test {
 protected:
  void SetUp() override {
    database_.Connect(session_);
    test::LoadSchemaFile(session_.myconnection, std::string(XB_IMPORT_DATA) + "/schema.sql");
    Exec("insert into PEOPLE(NAME,NOTE,BORN) values('ANN','a',to_date('2003-8-1','yyyy-mm-dd'))");
    Exec("insert into PEOPLE(NAME,NOTE,BORN) values('ANN','b',to_date('2003-8-1','yyyy-mm-dd'))");
    Exec("insert into PEOPLE(NAME,NOTE,BORN) values('BOB','c',to_date('1999-12-31','yyyy-mm-dd'))");
    Exec("insert into PEOPLE(NAME,NOTE,BORN) values('',NULL,to_date('2000-1-1','yyyy-mm-dd'))");
    session_.myconnection.setStatementLog(&log_);
  }
  void Exec(const std::string& sql) { test::Execute(session_.myconnection, sql); }
  // The row-at-a-time answer for row i.
  long long OneByOne(const RowStore& rows, size_t i) {
    const TypedRow row = rows.at(i);
    if (row.keys.empty()) return 0;
    db::Query q(session_.myconnection);
    q.setSql(ExistsText("PEOPLE", row));
    q.open();
    return q.fieldInt(0);
  }

  test::TempDir dir_;
  TestDatabase database_{dir_};
  db::DbSession session_;
  Log log_;
};

TEST_F(Existence, EachRowCountsAsItsOwnCheckWould) {
  RowStore rows;
  rows.add(Person("ann", "2003-08-01"));  // two rows match
  rows.add(Person("ANN", "2003-8-1"));    // to_char gives 2003-08-01: no match
  rows.add(TypedRow{});                   // no key: not asked
  rows.add(Person("Bob", "1999-12-31"));
  rows.add(Person("O'Neil", "1999-12-31"));
  rows.add(Person("", "2000-1-1"));  // an empty text key, as the engine compares it
  std::vector<long long> expected;
  for (size_t i = 0; i < rows.size(); ++i) expected.push_back(OneByOne(rows, i));
  log_.texts.clear();
  log_.marked.clear();

  EXPECT_EQ(CountExisting(session_.init, "PEOPLE", rows, 0, rows.size()), expected);
  EXPECT_EQ(expected[0], 2);
  EXPECT_EQ(expected[3], 1);
  // One statement for the five keyed rows, values bound, and its Oracle text
  // the row-at-a-time conditions joined.
  ASSERT_EQ(log_.marked.size(), 1u);
  EXPECT_EQ(log_.marked[0].find("ANN"), std::string::npos);
  const std::string start =
      "select 0 from PEOPLE where NAME='ANN' and "
      "to_char(BORN,'yyyy-mm-dd')='2003-08-01'  union all select 1 from PEOPLE "
      "where NAME='ANN' and to_char(BORN,'yyyy-mm-dd')='2003-8-1'  union all";
  EXPECT_EQ(log_.texts[0].substr(0, start.size()), start);

  // A part of the rows: counts in the order of that part.
  EXPECT_EQ(CountExisting(session_.init, "PEOPLE", rows, 2, 2),
            (std::vector<long long>{0, expected[3]}));
  // Rows without keys only: nothing is asked.
  log_.marked.clear();
  EXPECT_EQ(CountExisting(session_.init, "PEOPLE", rows, 2, 1), std::vector<long long>{0});
  EXPECT_TRUE(log_.marked.empty());
}

TEST_F(Existence, ManyRowsGoInChunks) {
  RowStore rows;
  const size_t n = 2 * kExistenceRowsPerStatement + 1;
  for (size_t i = 0; i < n; ++i)
    rows.add(Person(i % 7 == 0 ? "ANN" : "X" + std::to_string(i), "2003-08-01"));
  const auto counts = CountExisting(session_.init, "PEOPLE", rows, 0, n);
  ASSERT_EQ(counts.size(), n);
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(counts[i], i % 7 == 0 ? 2 : 0) << i;
  EXPECT_EQ(log_.marked.size(), 3u);
}

TEST_F(Existence, AFailingKeyFailsTheStatement) {
  // One row the database refuses fails its whole chunk, and nothing is
  // counted: the caller finds the row by asking row by row.
  RowStore rows;
  rows.add(Person("ANN", "2003-08-01"));
  TypedRow row = Person("ANN", "2003-08-01");
  row.keys[1].key = "NO_SUCH_COLUMN";
  rows.add(row);
  EXPECT_THROW(CountExisting(session_.init, "PEOPLE", rows, 0, 2), db::DbError);
  EXPECT_EQ(CountExisting(session_.init, "PEOPLE", rows, 0, 1), std::vector<long long>{2});
}

}  // namespace
}  // namespace xb::import
