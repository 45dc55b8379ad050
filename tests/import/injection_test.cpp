// Cell values and headers crafted to break out of their SQL context are
// stored literally or refused with a box, and no statement but the ones the
// program builds ever reaches the database.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_string.h"
#include "import/header.h"
#include "import/importer.h"
#include "sheet/file_engine.h"
#include "support/hostile_values.h"
#include "support/recording_operator.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

using xb::test::RecordingOperator;
using xb::test::TempDir;

struct Log : xb::db::StatementLog {
  std::vector<std::string> statements;
  void sent(const std::string& sql) override { statements.push_back(sql); }
};

// The statements the loader and the import run build, by their fixed start.
bool IsProgramStatement(const std::string& sql) {
  static const char* const kStarts[] = {
      "select count(*) from user_tables where table_name='",
      "select sequence_name from user_sequences where sequence_name='",
      "select COLUMN_NAME from user_tab_columns where table_name='",
      "select DATA_TYPE from user_tab_columns where table_name='",
      "select count(*) from ZORVAT where AA='",
      "select 0 from ZORVAT where AA='",
      "select AA,BB from ZORVAT where AA='",
      "insert into ZORVAT(AA,BB) values('",
      "update ZORVAT set (AA,BB)=(select '",
  };
  for (const char* start : kStarts)
    if (sql.rfind(start, 0) == 0) return true;
  return false;
}

class Injection : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string db = dir_.file("db.sqlite");
    std::ofstream(db).close();
    xb::test::UsePrivateSettings(env_, dir_);
    session_.myconnection.setConnectionString(xb::db::BuildConnectionString({db, "", ""}));
    for (const char* sql :
         {"create table ZORVAT (AA varchar2(10) primary key, BB varchar2(32767), CC date, "
          "SEQ_NN number, DD number)",
          "create sequence SEQ_TBXH"}) {
      session_.exe.setSql(sql);
      session_.exe.execute();
    }
    session_.myconnection.setStatementLog(&log_);
  }

  void Import(const std::string& workbook) {
    op_.workbook = std::string(XB_TEST_DATA) + "/cli/" + workbook;
    op_.yes_no_answers = {xb::Answer::Yes};
    op_.overwrite_answers = {xb::OverwriteAnswer::Abort};
    xb::import::Importer importer(session_, *server_, op_);
    importer.setCheckRunningInstance(false);
    if (importer.ReadWorkbook([] {}) == xb::import::ReadOutcome::Succeeded) importer.OfferImport();
  }

  TempDir dir_;
  xb::test::ScopedEnv env_;
  Log log_;
  RecordingOperator op_;
  xb::db::DbSession session_;
  std::unique_ptr<xb::sheet::Server> server_ = xb::sheet::MakeFileServer();
};

TEST_F(Injection, CraftedCellValuesAreStoredExactlyAsWritten) {
  Import("injection.xls");
  ASSERT_FALSE(op_.boxes.empty());
  EXPECT_EQ(op_.boxes.back().text, "数据已经成功导入到数据库中!");

  const std::vector<std::string> expected = xb::test::HostileValuesAsStored();
  session_.myconnection.setStatementLog(nullptr);
  xb::db::Query q(session_.myconnection);
  q.setSql("select BB from ZORVAT order by length(AA), AA");
  q.open();
  std::vector<std::string> stored;
  for (; !q.eof(); q.next()) stored.push_back(q.fieldText(0));
  ASSERT_EQ(stored.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(stored[i], expected[i]) << "row " << i;

  for (const auto& sql : log_.statements)
    EXPECT_TRUE(IsProgramStatement(sql)) << sql.substr(0, 200);
}

TEST_F(Injection, CraftedHeadersAreRefusedWithABoxAndWriteNothing) {
  const struct {
    const char* workbook;
    const char* caption;
  } cases[] = {
      {"inject_table.xls", "错误信息-导入失败"},
      {"inject_quote_table.xls", "错误信息-导入失败"},
      {"inject_sequence.xls", "错误信息"},
      {"inject_column.xls", "警告信息"},
  };
  for (const auto& c : cases) {
    op_.boxes.clear();
    Import(c.workbook);
    ASSERT_EQ(op_.boxes.size(), 1u) << c.workbook;
    EXPECT_EQ(op_.boxes[0].caption, c.caption) << c.workbook << ": " << op_.boxes[0].text;
  }
  // A key name that is no column is ignored: the row goes in unkeyed.
  op_.boxes.clear();
  Import("inject_key.xls");
  ASSERT_FALSE(op_.boxes.empty());
  EXPECT_EQ(op_.boxes.back().text, "数据已经成功导入到数据库中!");

  const std::vector<std::string> dictionary = {"select count(*) from user_tables",
                                               "select sequence_name", "select COLUMN_NAME",
                                               "select DATA_TYPE"};
  for (const auto& sql : log_.statements) {
    bool known = IsProgramStatement(sql);
    // Every dictionary lookup carries the crafted name as one quoted literal.
    for (const auto& d : dictionary) known = known || sql.rfind(d, 0) == 0;
    EXPECT_TRUE(known) << sql;
  }
}

}  // namespace
