// A run in batches against the same run row at a time (batches of one row):
// the statements that write or read rows, the prompts and boxes, in order,
// the progress, the outcome and what is committed are the same. Only the
// existence checks differ (one per batch instead of one per row).
#include <gtest/gtest.h>

#include "import/importer.h"
#include "sheet/file_engine.h"
#include "support/recording_operator.h"
#include "test_database.h"

namespace xb::import {
namespace {

using test::TestDatabase;
using Rows = std::vector<std::vector<std::string>>;

// Everything the operator and the database see, in one sequence.
struct Events : db::StatementLog {
  std::vector<std::string> seen;
  test::RecordingOperator op;
  Events() {
    op.on_prompt = [this](const std::string& text) { seen.push_back("prompt: " + text); };
    op.on_box = [this](const MessageBox& box) {
      seen.push_back("box: " + box.caption + ": " + box.text);
    };
  }
  void sent(const std::string& sql) override {
    if (sql.rfind("select count(*) from ZORVAT", 0) != 0 &&
        sql.rfind("select 0 from ZORVAT", 0) != 0)
      seen.push_back(sql);
  }
};

struct Scenario {
  const char* name;
  const char* workbook;
  std::vector<std::string> setup;  // statements before the run
  std::deque<OverwriteAnswer> answers;
};

struct Outcome {
  RunOutcome outcome;
  std::vector<std::string> seen;
  std::vector<int> positions;
  Rows committed;
  std::vector<std::string> prompts;
};

Outcome RunWith(const Scenario& scenario, size_t batch_rows) {
  test::TempDir dir;
  TestDatabase database(dir);
  db::DbSession session;
  database.Connect(session);
  test::LoadSchemaFile(session.myconnection, std::string(XB_IMPORT_DATA) + "/schema.sql");
  for (const auto& sql : scenario.setup) test::Execute(session.myconnection, sql);
  auto files = sheet::MakeFileServer();
  Events events;
  events.op.workbook = std::string(XB_IMPORT_DATA) + "/" + scenario.workbook;
  events.op.overwrite_answers = scenario.answers;
  Importer importer(session, *files, events.op);
  importer.setCheckRunningInstance(false);
  importer.setBatchRows(batch_rows);
  EXPECT_EQ(importer.LoadWorkbook(), ReadOutcome::Succeeded);
  events.op.positions.clear();
  session.myconnection.setStatementLog(&events);
  Outcome out;
  out.outcome = importer.Import();
  session.myconnection.setStatementLog(nullptr);
  out.seen = events.seen;
  out.positions = events.op.positions;
  out.prompts = events.op.prompts;
  db::Connection other;
  other.setConnectionString(database.connectionString());
  out.committed = test::Select(other, "select AA, BB, SEQ_NN from ZORVAT order by AA");
  return out;
}

const Scenario kScenarios[] = {
    // The repeated key "2" finds the row the same run wrote; "02" does not.
    {"keys of the run and of the table, every prompt answered Yes",
     "batch_order.xls",
     {"insert into ZORVAT(AA,BB) values('6','0')", "insert into ZORVAT(AA,BB) values('8','0')"},
     {}},
    {"Ignore then All",
     "batch_order.xls",
     {"insert into ZORVAT(AA,BB) values('4','0')", "insert into ZORVAT(AA,BB) values('6','0')",
      "insert into ZORVAT(AA,BB) values('9','0')"},
     {OverwriteAnswer::Ignore, OverwriteAnswer::All}},
    {"Abort at the third prompt keeps the rows before it",
     "batch_order.xls",
     {"insert into ZORVAT(AA,BB) values('6','0')", "insert into ZORVAT(AA,BB) values('8','0')"},
     {OverwriteAnswer::Yes, OverwriteAnswer::Yes, OverwriteAnswer::Abort}},
    // Row 3 is refused: the run ends before the prompt of row 5.
    {"a failing row before a prompt",
     "batch_order.xls",
     {"drop table ZORVAT",
      "create table ZORVAT (AA varchar2(10) primary key, BB number check (BB <> 33), SEQ_NN "
      "number, DD number)",
      "insert into ZORVAT(AA,BB) values('4','0')"},
     {}},
    {"a failing row at the end of a batch",
     "batch_order.xls",
     {"drop table ZORVAT",
      "create table ZORVAT (AA varchar2(10) primary key, BB number check (BB <> 40), SEQ_NN "
      "number, DD number)"},
     {}},
    // An existing row with sequence values: the sequence stop, rows before kept.
    {"the sequence stop", "sample2.xls", {"insert into ZORVAT(AA,BB) values('5','0')"}, {}},
    {"the sequence stop after All",
     "sample2.xls",
     {"insert into ZORVAT(AA,BB) values('2','0')", "insert into ZORVAT(AA,BB) values('5','0')"},
     {OverwriteAnswer::All}},
};

TEST(BatchOrder, BatchesChangeNothingTheOperatorOrTheTableSees) {
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    const Outcome one = RunWith(scenario, 1);
    EXPECT_FALSE(one.seen.empty());
    for (const size_t batch : {size_t{2}, size_t{3}, kBatchRows}) {
      SCOPED_TRACE("batches of " + std::to_string(batch));
      const Outcome many = RunWith(scenario, batch);
      EXPECT_EQ(many.outcome, one.outcome);
      EXPECT_EQ(many.seen, one.seen);
      if (one.outcome != RunOutcome::RolledBack) {
        EXPECT_EQ(many.positions, one.positions);
      } else {
        // A batch has moved past the failing row before it is sent: the
        // bar goes back to that row while the boxes are shown.
        ASSERT_GE(many.positions.size(), 2u);
        EXPECT_EQ(many.positions[many.positions.size() - 2],
                  one.positions[one.positions.size() - 2]);
      }
      EXPECT_EQ(many.committed, one.committed);
    }
  }
}

// What the row-at-a-time order gives for the scenarios, so that the
// comparison above compares runs that do something.
TEST(BatchOrder, TheReferenceRunsDoWhatTheScenariosSay) {
  const Outcome yes = RunWith(kScenarios[0], kBatchRows);
  EXPECT_EQ(yes.outcome, RunOutcome::Completed);
  ASSERT_EQ(yes.prompts.size(), 3u);  // the second "2", 6 and 8
  EXPECT_NE(yes.prompts[0].find("'2','32'"), std::string::npos);
  EXPECT_EQ(yes.committed.size(), 9u);  // 1..9 and 02, "2" written twice

  const Outcome abort = RunWith(kScenarios[2], kBatchRows);
  EXPECT_EQ(abort.outcome, RunOutcome::Stopped);
  EXPECT_EQ(abort.committed, (Rows{{"02", "36", "<null>"},
                                   {"1", "31", "<null>"},
                                   {"2", "34", "<null>"},
                                   {"3", "33", "<null>"},
                                   {"4", "35", "<null>"},
                                   {"6", "37", "<null>"},
                                   {"7", "38", "<null>"},
                                   {"8", "0", "<null>"}}));

  const Outcome failed = RunWith(kScenarios[3], kBatchRows);
  EXPECT_EQ(failed.outcome, RunOutcome::RolledBack);
  EXPECT_TRUE(failed.prompts.empty());
  ASSERT_GE(failed.seen.size(), 2u);
  EXPECT_EQ(failed.seen.back(),
            "box: SQL错误语句: 错误语句的详细信息如下:\rinsert into ZORVAT(AA,BB) "
            "values('3','33')\r\n");
  EXPECT_EQ(failed.committed, (Rows{{"4", "0", "<null>"}}));
}

}  // namespace
}  // namespace xb::import
