// The pre-flight check on the embedded engine and on a PostgreSQL server:
// one fault of each kind found at its cell and nothing else, a clean
// workbook passing and then importing, the whole check in a few statements,
// and the check's value rules agreeing with what each engine refuses.

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/connection_string.h"
#include "db/dictionary.h"
#include "db/errors.h"
#include "import/check.h"
#include "import/importer.h"
#include "pg_cluster.h"
#include "sheet/file_engine.h"
#include "support/query.h"
#include "support/recording_operator.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/ascii.h"

namespace xb::import {
namespace {

using Kind = CellFault::Kind;

std::string Data(const std::string& path) { return std::string(XB_TEST_DATA) + "/" + path; }

struct CountingLog : db::StatementLog {
  int statements = 0;
  void sent(const std::string&) override { ++statements; }
};

class PreflightCheck : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    test::UsePrivateSettings(env_, dir_);
    std::string note_type = "varchar2(4 char)";
    if (GetParam() == "postgres") {
      std::string why;
      const test::PgClusterInfo* cluster = test::SharedPgCluster(&why);
      if (!cluster) GTEST_SKIP() << "*** " << why;
      pg_ = std::make_unique<test::PgDatabase>(*cluster);
      connection_string_ = db::BuildConnectionString({pg_->Uri(), pg_->user(), pg_->password()});
      note_type = "varchar2(4)";  // PostgreSQL counts characters
    } else {
      const std::string path = dir_.file("db.sqlite");
      std::ofstream(path).close();
      connection_string_ = db::BuildConnectionString({path, "", ""});
    }
    session_.myconnection.setConnectionString(connection_string_);
    Exec(
        "create table CHECKED (K varchar2(6) primary key, NAME varchar2(10) not null, "
        "QTY number(5,2), BORN date, NOTE " +
        note_type + ")");
  }

  void Exec(const std::string& sql) { test::Execute(session_.myconnection, sql); }
  std::string One(const std::string& sql) { return test::One(session_.myconnection, sql); }

  CheckReport Check(const std::string& workbook) {
    auto server = sheet::MakeFileServer();
    auto instance = server->create();
    const sheet::InstanceGuard quit(instance.get());
    instance->openWorkbook(Data(workbook));
    return CheckWorkbook(session_, *instance);
  }

  // The facts of one column of a table made for it.
  db::Dictionary::ColumnFacts Facts(const std::string& table) {
    db::Dictionary dictionary(session_.init);
    const db::Dictionary::Read read(dictionary);
    return dictionary.columns(table).at(1);
  }

  test::TempDir dir_;
  test::ScopedEnv env_;
  std::unique_ptr<test::PgDatabase> pg_;
  std::string connection_string_;
  db::DbSession session_;
};

TEST_P(PreflightCheck, FindsOneFaultOfEachKindAtItsCellAndWritesNothing) {
  Exec("insert into CHECKED (K, NAME) values ('B9', 'before')");
  const CheckReport report = Check("check/faults.xls");
  ASSERT_EQ(report.header_fault, "");
  std::vector<std::pair<std::string, Kind>> found;
  for (const auto& f : report.faults) found.emplace_back(f.cell, f.kind);
  const std::vector<std::pair<std::string, Kind>> expected = {
      {"B5", Kind::TooLong},      {"C6", Kind::NotNumber}, {"C7", Kind::TooManyDigits},
      {"D8", Kind::NotDate},      {"B9", Kind::Empty},     {"C10", Kind::ErrorCell},
      {"A11", Kind::RepeatedKey}, {"E13", Kind::TooLong}};
  EXPECT_EQ(found, expected);
  ASSERT_EQ(report.faults.size(), expected.size());
  // Column, value and the reason with the words a database gives.
  EXPECT_EQ(report.faults[0].column_name, "NAME");
  EXPECT_EQ(report.faults[0].value, "12345678901");
  EXPECT_NE(report.faults[0].reason.find("ORA-12899"), std::string::npos)
      << report.faults[0].reason;
  EXPECT_NE(report.faults[1].reason.find("ORA-01722"), std::string::npos);
  EXPECT_NE(report.faults[2].reason.find("NUMBER(5,2)"), std::string::npos);
  EXPECT_NE(report.faults[3].reason.find("yyyy-mm-dd"), std::string::npos);
  EXPECT_EQ(report.faults[5].value, "#DIV/0!");
  // A repeated key names the row that had it first.
  EXPECT_EQ(report.faults[6].column_name, "K");
  EXPECT_EQ(report.faults[6].value, "A1");
  EXPECT_NE(report.faults[6].reason.find("第4行(A4)"), std::string::npos);

  EXPECT_EQ(report.existing_rows, std::vector<int>{12});
  EXPECT_EQ(report.rows_read, 10u);
  EXPECT_EQ(report.would_ask, 2u);  // row 12 in the table, row 11 after row 4
  EXPECT_EQ(report.would_insert, 8u);
  EXPECT_FALSE(report.clean());
  EXPECT_EQ(One("select count(*) from CHECKED"), "1");
}

// A clean workbook passes, and then imports without a failed row; the whole
// check is a handful of statements, whatever the number of rows.
TEST_P(PreflightCheck, ACleanWorkbookPassesAndImports) {
  CountingLog log;
  session_.myconnection.setStatementLog(&log);
  const CheckReport report = Check("check/clean.xls");
  session_.myconnection.setStatementLog(nullptr);
  EXPECT_TRUE(report.clean()) << ReportText(report);
  EXPECT_EQ(report.rows_read, 4u);
  EXPECT_EQ(report.would_insert, 4u);
  // The table, the columns' facts, one existence query.
  EXPECT_EQ(log.statements, 3);

  test::RecordingOperator op;
  op.workbook = Data("check/clean.xls");
  auto server = sheet::MakeFileServer();
  Importer importer(session_, *server, op);
  importer.setCheckRunningInstance(false);
  ASSERT_EQ(importer.LoadWorkbook(), ReadOutcome::Succeeded);
  EXPECT_EQ(importer.Run(), RunOutcome::Completed);
  EXPECT_EQ(One("select count(*) from CHECKED"), "4");
}

TEST_P(PreflightCheck, AThousandRowsTakeAFewQueries) {
  Exec("insert into CHECKED (K, NAME) values ('M500', 'before')");
  CountingLog log;
  session_.myconnection.setStatementLog(&log);
  const CheckReport report = Check("check/many.xls");
  EXPECT_TRUE(report.faults.empty()) << ReportText(report);
  EXPECT_EQ(report.rows_read, 1000u);
  EXPECT_EQ(report.existing_rows, std::vector<int>{503});
  // The table, the columns, then the keys: 500 a statement, or on a server
  // 100 a statement, all of them sent in one round trip.
  EXPECT_LE(log.statements, 2 + 10);
}

// The check says a value is refused exactly when the engine refuses it, as
// the import binds it. The values: those the injection workbook keeps, and
// number and date forms.
TEST_P(PreflightCheck, AgreesWithTheEngineOnEveryValue) {
  std::vector<std::string> values;
  {
    auto server = sheet::MakeFileServer();
    auto instance = server->create();
    const sheet::InstanceGuard quit(instance.get());
    instance->openWorkbook(Data("cli/injection.xls"));
    for (int row = 4; !instance->cellText(row, 1).empty(); ++row)
      values.push_back(instance->cellText(row, 2));
  }
  ASSERT_GT(values.size(), 10u);
  for (const char* v : {"0",
                        "-0",
                        "1.5",
                        "+2",
                        "1e3",
                        "1E-3",
                        ".5",
                        "5.",
                        "999.99",
                        "999.995",
                        "-999.994",
                        "1000",
                        "1,000",
                        "1e",
                        "e1",
                        "--1",
                        "1 2",
                        "inf",
                        "NaN",
                        "1e126",
                        "0x10",
                        "0x1p4",
                        "Infinity",
                        "12345678901234567890",
                        "0.000000000000000000001",
                        "2003-8-1",
                        "2003-08-01",
                        "2004-02-29",
                        "2003-02-29",
                        "2003-13-01",
                        "2003/8/1",
                        "20030801",
                        "2003-8-1 12:00",
                        "tomorrow",
                        "中文",
                        "数据导入",
                        "数据导",
                        "abcdefghij",
                        "abcdefghijk",
                        "line\nbreak",
                        "四个汉字",
                        "五个汉字呀"})
    values.push_back(v);

  const bool postgres = GetParam() == "postgres";
  const std::vector<std::pair<std::string, std::string>> columns = {
      {"VARCHAR2(10)", "varchar2(10)"},
      {"VARCHAR2(4 CHAR)", postgres ? "varchar2(4)" : "varchar2(4 char)"},
      {"NUMBER(5,2)", "number(5,2)"},
      {"NUMBER", "number"},
      {"NUMBER(3)", "number(3)"},
      {"DATE", "date"},
  };
  int compared = 0;
  for (size_t c = 0; c < columns.size(); ++c) {
    const std::string table = "AGREE" + std::to_string(c);
    Exec("create table " + table + " (ID varchar2(5), V " + columns[c].second + ")");
    const db::Dictionary::ColumnFacts facts = Facts(table);
    ASSERT_EQ(facts.name, "V");
    for (const std::string& raw : values) {
      // The loader binds the trimmed text, a date upper-cased.
      const std::string trimmed(text::Trimmed(raw));
      TypedRow row;
      row.values.push_back(RowValue{RowValue::Kind::Text, "k", false});
      if (facts.data_type == "DATE")
        row.values.push_back(RowValue{RowValue::Kind::Date, text::UpperCased(trimmed), false});
      else
        row.values.push_back(
            RowValue{RowValue::Kind::Text, trimmed,
                     facts.declared().kind == db::oracle::DeclaredType::Kind::Number});
      const Rendered insert = MarkInsert(table, "ID,V", row);
      std::string refusal;
      session_.myconnection.beginTransaction();
      try {
        session_.exe.close();
        session_.exe.setStatement(InsertText(table, "ID,V", row), insert.marked, insert.values);
        session_.exe.execute();
      } catch (const db::DbError& e) {
        refusal = e.what();
      }
      session_.myconnection.rollbackTransaction();
      const auto fault = CheckCellValue(trimmed, facts, table);
      const std::string said = columns[c].first + " '" + raw + "': check says " +
                               (fault ? fault->reason : "taken") + "; engine says " +
                               (refusal.empty() ? "taken" : refusal);
      // A value the check passes is never refused.
      EXPECT_FALSE(!fault && !refusal.empty()) << said;
      // A value the check refuses, the engine refuses too: both keep Oracle's rules.
      EXPECT_FALSE(fault && refusal.empty()) << said;
      ++compared;
    }
  }
  EXPECT_EQ(compared, static_cast<int>(columns.size() * values.size()));
}

INSTANTIATE_TEST_SUITE_P(Engines, PreflightCheck, testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

// The rules a check knows without a database: bytes or characters as
// declared, line breaks sent as CR LF, NOT NULL, dates by the import's mask.
TEST(CheckCellValue, ReadsTheDeclaredFacts) {
  db::Dictionary::ColumnFacts bytes{"V", "VARCHAR2", 9, false, {}, {}, true};
  EXPECT_FALSE(CheckCellValue("数据导", bytes, "T"));  // nine bytes
  EXPECT_EQ(CheckCellValue("数据导x", bytes, "T")->kind, Kind::TooLong);
  EXPECT_FALSE(CheckCellValue("abcd\nefg", bytes, "T"));  // 8 + the CR
  EXPECT_EQ(CheckCellValue("abcd\nefgh", bytes, "T")->kind, Kind::TooLong);
  db::Dictionary::ColumnFacts chars = bytes;
  chars.length = 3;
  chars.length_in_chars = true;
  EXPECT_FALSE(CheckCellValue("数据导", chars, "T"));
  EXPECT_EQ(CheckCellValue("数据导入", chars, "T")->reason,
            "文本超过字段定义的长度VARCHAR2(3 CHAR) (ORA-12899: value too large for column "
            "\"T\".\"V\" (actual: 4, maximum: 3))");

  db::Dictionary::ColumnFacts required{"N", "NUMBER", 0, false, 5, 2, false};
  EXPECT_EQ(CheckCellValue("", required, "T")->kind, Kind::Empty);
  EXPECT_EQ(CheckCellValue("123.456", required, "T"), std::nullopt);  // rounded to 123.46
  EXPECT_EQ(CheckCellValue("999.999", required, "T")->kind, Kind::TooManyDigits);
  required.nullable = true;
  EXPECT_EQ(CheckCellValue("", required, "T"), std::nullopt);

  const db::Dictionary::ColumnFacts date{"D", "DATE", 7, false, {}, {}, true};
  EXPECT_FALSE(CheckCellValue("2003-8-1", date, "T"));
  EXPECT_EQ(CheckCellValue("2003-02-29", date, "T")->kind, Kind::NotDate);
  EXPECT_EQ(CheckCellValue("1-AUG-2003", date, "T")->kind, Kind::NotDate);
}

}  // namespace
}  // namespace xb::import
