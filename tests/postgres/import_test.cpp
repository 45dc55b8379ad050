// The import and the export on the postgres engine: the workbooks of the
// import tests (made by xlwt) and the help document's two samples, into
// tables made in PostgreSQL's own DDL, with a scripted operator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "counting_server.h"
#include "export/exporter.h"
#include "import/existence.h"
#include "import/importer.h"
#include "import/statements.h"
#include "pg_fixture.h"
#include "sheet/file_engine.h"

namespace xb::test {
namespace {

using import::Importer;

std::string Workbook(const std::string& name) { return std::string(XB_IMPORT_DATA) + "/" + name; }

class PgImport : public PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    RunScript(std::string(XB_IMPORT_DATA) + "/../../postgres/schema.sql");
  }
  bool Load(const std::string& path) {
    op_.workbook = path;
    return importer_.LoadWorkbook() == import::ReadOutcome::Succeeded;
  }

  std::unique_ptr<sheet::Server> files_ = sheet::MakeFileServer();
  CountingServer server_{files_.get()};
  RecordingOperator op_;
  Importer importer_{session_, server_, op_};
};

TEST_F(PgImport, TheHelpSamplesImportUnchangedSequencesIncluded) {
  Exec("drop table zorvat");
  Exec("drop sequence seq_tbxh");
  RunScript(std::string(XB_EXAMPLES) + "/postgres_schema.sql");
  op_.workbook = std::string(XB_EXAMPLES) + "/sample1.xls";
  op_.yes_no_answers = {Answer::Yes};
  ASSERT_EQ(importer_.ReadWorkbook([] { FAIL() << "the connection is open"; }),
            import::ReadOutcome::Succeeded);
  importer_.OfferImport();
  ASSERT_TRUE(importer_.lastRunSucceeded());
  EXPECT_EQ(SelectCommitted("select AA, BB, to_char(CC,'yyyy-mm-dd') from ZORVAT where AA='1'"),
            (Rows{{"1", "33", "2003-08-01"}}));

  Exec("delete from ZORVAT");
  ASSERT_TRUE(Load(std::string(XB_EXAMPLES) + "/sample2.xls"));
  EXPECT_EQ(importer_.import_list()[4], "'1','33',SEQ_TBXH.nextval,SEQ_TBXH.nextval");
  importer_.Import();
  ASSERT_TRUE(importer_.lastRunSucceeded());
  // One value per row for both sequence columns, as in Oracle.
  EXPECT_EQ(SelectCommitted(
                "select AA, SEQ_NN, DD from ZORVAT where AA in ('1','2','11') order by SEQ_NN"),
            (Rows{{"1", "1", "1"}, {"2", "2", "2"}, {"11", "11", "11"}}));
}

TEST_F(PgImport, HeaderChecksFindLowerCaseTablesAndSayWhatIsMissing) {
  ASSERT_TRUE(Load(Workbook("sample2.xls")));
  EXPECT_EQ(importer_.import_list()[2], "AA,BB,SEQ_NN,DD");
  EXPECT_EQ(importer_.import_list()[3], "AA='1' ");

  EXPECT_FALSE(Load(Workbook("missing_table.xls")));
  EXPECT_EQ(op_.boxes.back().text, "\"NOSUCH\"不在数据库中,请确认EXCEL表头信息是否正确!");
  EXPECT_FALSE(Load(Workbook("missing_seq.xls")));
  EXPECT_EQ(op_.boxes.back().text,
            "当前数据中不存在\" NOSUCH \"这个序列号!\r请确认打开的EXCEL文件的表头信息是否正确");
  EXPECT_FALSE(Load(Workbook("missing_col.xls")));
  EXPECT_EQ(op_.boxes.back().text,
            "\"ZORVAT\"表中没有\"XX\"这个字段\r请确认你打开的EXCEL文件的表头信息是否正确!");
  EXPECT_FALSE(Load(Workbook("quote_table.xls")));
  EXPECT_EQ(op_.boxes.back().text, "\"O'BRIEN\"不在数据库中,请确认EXCEL表头信息是否正确!");
  // A DATE column of the DBA's table reads as DATE.
  ASSERT_TRUE(Load(Workbook("sample1.xls")));
  EXPECT_EQ(importer_.import_list()[4], "'1','33',to_date('2003-8-1','yyyy-mm-dd')");
}

TEST_F(PgImport, NumericColumnsAreOverwrittenFromDual) {
  Exec("insert into ZORVAT(AA,BB) values('2','99')");
  Exec("insert into ZORVAT(AA,BB,CC) values('5','98',to_date('1999-1-1','yyyy-mm-dd'))");
  ASSERT_TRUE(Load(Workbook("sample1.xls")));
  op_.overwrite_answers = {OverwriteAnswer::Ignore, OverwriteAnswer::Yes};
  importer_.Import();
  ASSERT_EQ(op_.prompts.size(), 2u);
  EXPECT_EQ(op_.prompts[0], import::OverwritePromptText(
                                "'2','99',''", "'2','34',to_date('2003-8-2','yyyy-mm-dd')"));
  EXPECT_EQ(op_.prompts[1],
            import::OverwritePromptText("'5','98','1999-01-01'",
                                        "'5','37',to_date('2003-8-5','yyyy-mm-dd')"));
  EXPECT_EQ(SelectCommitted("select BB from ZORVAT where AA='2'"), Rows{{"99"}});
  EXPECT_EQ(SelectCommitted("select BB, to_char(CC,'yyyy-mm-dd') from ZORVAT where AA='5'"),
            (Rows{{"37", "2003-08-05"}}));
  EXPECT_EQ(SelectCommitted("select count(*) from ZORVAT"), Rows{{"11"}});
}

TEST_F(PgImport, KeysMatchUpperCaseTextAndTwoDigitDatesEmptyTextStays) {
  Exec("insert into PEOPLE(NAME,NOTE) values('O''NEIL','old')");
  ASSERT_TRUE(Load(Workbook("people.xls")));
  importer_.Import();
  ASSERT_EQ(op_.prompts.size(), 1u);
  EXPECT_EQ(Select("select NAME, NOTE, to_char(BORN,'yyyy-mm-dd') from PEOPLE order by NOTE, NAME"),
            (Rows{{"Empty", "", "2001-02-05"},
                  {"abc", "lower", "2001-02-03"},
                  {"O'Neil", "quote", "2001-02-03"}}));
  Exec("insert into EVENTS values(to_date('2003-08-01','yyyy-mm-dd'),'x')");
  ASSERT_TRUE(Load(Workbook("datekey.xls")));
  importer_.Import();
  EXPECT_EQ(op_.prompts.size(), 2u);
}

TEST_F(PgImport, AnExistingSequenceRowStopsTheRunEarlierRowsStay) {
  Exec("insert into ZORVAT(AA,BB) values('3','99')");
  ASSERT_TRUE(Load(Workbook("sample2.xls")));
  importer_.Import();
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text,
            "该次导入的表中含有序列号,不能完成更新操作!\r请先手动删除数据库中的记录!");
  EXPECT_EQ(SelectCommitted("select AA, BB from ZORVAT order by AA"),
            (Rows{{"1", "33"}, {"2", "34"}, {"3", "99"}}));
}

TEST_F(PgImport, AFailedRowRollsBackTheWholeRun) {
  ASSERT_TRUE(Load(Workbook("dupkey.xls")));
  op_.on_box = [&](const MessageBox&) {
    EXPECT_EQ(SelectCommitted("select count(*) from ZORVAT"), Rows{{"0"}});
  };
  importer_.Import();
  ASSERT_EQ(op_.boxes.size(), 2u);
  EXPECT_EQ(op_.boxes[0].text.rfind("向数据中导入EXCEL数据时出现下列错误:\rduplicate key value", 0),
            0u)
      << op_.boxes[0].text;
  EXPECT_EQ(op_.boxes[1].text,
            "错误语句的详细信息如下:\rinsert into ZORVAT(AA,BB) values('1','36')\r\n");
  EXPECT_EQ(Select("select count(*) from ZORVAT"), Rows{{"0"}});
  EXPECT_FALSE(session_.myconnection.inTransaction());
}

// Into an empty table that the run locks, the engine answers the existence
// checks itself: the same prompts and the same rows as when the server is
// asked (a table holding another row).
TEST_F(PgImport, RepeatedKeysOfOneWorkbookAnswerAsTheServerWould) {
  const std::string workbook = dir_.file("repeat.xls");
  const std::string script = dir_.file("make.py");
  std::ofstream(script)
      << "import sys, xlwt\n"
         "wb = xlwt.Workbook(encoding='utf-8')\n"
         "ws = wb.add_sheet('Sheet1')\n"
         "ws.write(0, 0, 'zorvat:aa:aa,bb')\n"
         "rows = [['K1', 1], ['K2', 2], ['K1', 3], ['k4', 4], ['K4', 5], ['K2', 6], ['', 7]]\n"
         "for i, (a, b) in enumerate(rows):\n"
         "    ws.write(i + 3, 0, a if a else 'x')\n"
         "    ws.write(i + 3, 1, b)\n"
         "wb.save(sys.argv[1])\n";
  ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + workbook).c_str()), 0);
  Rows outcome[2];
  std::vector<std::string> prompts[2];
  for (int pass = 0; pass < 2; ++pass) {
    Exec("delete from ZORVAT");
    if (pass == 1) Exec("insert into ZORVAT(AA,BB) values('OTHER','0')");
    op_.prompts.clear();
    ASSERT_TRUE(Load(workbook));
    op_.overwrite_answers = {OverwriteAnswer::Ignore, OverwriteAnswer::Yes};
    importer_.Import();
    ASSERT_TRUE(importer_.lastRunSucceeded());
    outcome[pass] = SelectCommitted("select AA, BB from ZORVAT where AA <> 'OTHER' order by AA");
    prompts[pass] = op_.prompts;
  }
  EXPECT_EQ(outcome[0], (Rows{{"K1", "1"}, {"K2", "6"}, {"K4", "5"}, {"k4", "4"}, {"x", "7"}}));
  EXPECT_EQ(outcome[0], outcome[1]);
  EXPECT_EQ(prompts[0].size(), 2u);
  EXPECT_EQ(prompts[0], prompts[1]);
}

// The statement log shows the Oracle text; what the server got was the
// marked statement and its values, the cell's text never inside SQL.
TEST_F(PgImport, CellValuesAreBoundAndTheLogShowsTheOracleText) {
  struct Log : db::StatementLog {
    std::vector<std::string> oracle, marked;
    void sent(const std::string& sql) override { oracle.push_back(sql); }
    void bound(const std::string& sql, const std::vector<db::Value>&) override {
      marked.push_back(sql);
    }
  } log;
  session_.myconnection.setStatementLog(&log);
  ASSERT_TRUE(Load(Workbook("people.xls")));
  importer_.Import();
  session_.myconnection.setStatementLog(nullptr);
  ASSERT_TRUE(importer_.lastRunSucceeded());
  bool shown = false;
  for (const auto& text : log.oracle) shown = shown || text.find("'O''Neil'") != std::string::npos;
  EXPECT_TRUE(shown);
  ASSERT_FALSE(log.marked.empty());
  for (const auto& text : log.marked) EXPECT_EQ(text.find("Neil"), std::string::npos) << text;
  EXPECT_EQ(SelectCommitted("select NOTE from PEOPLE where NAME='O''Neil'"), Rows{{"quote"}});
}

// Two runs into one table without a key constraint, at once: the second
// waits for the first and finds its rows, so no key is there twice.
TEST_F(PgImport, TwoRunsAtOnceNeverDuplicateAKey) {
  Exec("drop table zorvat");
  Exec("create table zorvat (aa varchar(10), bb numeric, cc date)");
  auto run = [this] {
    db::DbSession session;
    session.myconnection.setConnectionString(connectionString());
    RecordingOperator op;
    op.workbook = Workbook("sample1.xls");
    op.overwrite_answers = {OverwriteAnswer::All};
    auto files = sheet::MakeFileServer();
    import::Importer importer(session, *files, op);
    importer.setCheckRunningInstance(false);
    if (importer.LoadWorkbook() == import::ReadOutcome::Succeeded) importer.Import();
  };
  for (int round = 0; round < 3; ++round) {
    std::thread first(run), second(run);
    first.join();
    second.join();
    EXPECT_EQ(SelectCommitted("select count(*), count(distinct AA) from ZORVAT"),
              (Rows{{"11", "11"}}));
  }
}

TEST_F(PgImport, ExportShowsOracleNamesAndValueTexts) {
  Exec("insert into ZORVAT(AA,BB,CC) values('1','33.50',to_date('2003-8-1','yyyy-mm-dd'))");
  Exec("insert into ZORVAT(AA) values('2')");
  const std::string out = dir_.file("out.xlsx");
  sheet::FileEngineOptions options;
  options.output_path = out;
  options.launch_viewer = [](const std::string&) { return true; };
  auto files = sheet::MakeFileServer(options);
  CountingServer server(files.get());
  ASSERT_TRUE(exporting::Export(session_, server, op_,
                                "select aa, bb, cc as \"When\" from zorvat order by aa"));
  EXPECT_TRUE(op_.boxes.empty());
  // Row 2 of the export holds the query object's names, the rows its texts.
  session_.exe.setSql("select aa, bb, cc as \"When\" from zorvat order by aa");
  session_.exe.open();
  EXPECT_EQ(session_.exe.fieldName(0), "AA");
  EXPECT_EQ(session_.exe.fieldName(2), "When");
  EXPECT_EQ(session_.exe.fieldText(1), "33.5");
  EXPECT_EQ(session_.exe.fieldText(2), "2003-08-01");
  EXPECT_EQ(server.counts.shown, 1);
}

}  // namespace
}  // namespace xb::test

namespace xb::test {
namespace {

// The rows of a batch go in one pipeline: the row the server refuses is
// still named by its own statement, and nothing of the run stays.
TEST_F(PgImport, ARefusedRowOfAPipelineIsNamedByItsStatement) {
  Exec("alter table zorvat add check (bb <> 35)");
  ASSERT_TRUE(Load(Workbook("dupkey.xls")));  // 1 33, 2 34, 3 35, 1 36
  EXPECT_EQ(importer_.Import(), import::RunOutcome::RolledBack);
  ASSERT_EQ(op_.boxes.size(), 2u);
  EXPECT_EQ(op_.boxes[1].text,
            "错误语句的详细信息如下:\rinsert into ZORVAT(AA,BB) values('3','35')\r\n");
  EXPECT_EQ(SelectCommitted("select count(*) from zorvat"), (Rows{{"0"}}));
}

// The batched existence check on the server: each row as its own check
// would answer (a date key through to_char, an empty number key being NULL
// and matching nothing), and a key the server cannot compare failing it.
TEST_F(PgImport, ExistenceOfManyRowsInOneStatement) {
  Exec("insert into zorvat(aa, bb) values('1', 5), ('2', NULL)");
  Exec("insert into people(name, born) values('ANN', to_date('2003-8-1','yyyy-mm-dd'))");
  Exec("insert into people(name, born) values('ANN', to_date('2003-8-1','yyyy-mm-dd'))");
  import::RowStore people;
  auto person = [](const std::string& name, const std::string& born) {
    import::TypedRow row;
    row.values = {{import::RowValue::Kind::Text, name}, {import::RowValue::Kind::Date, born}};
    row.keys = {{"NAME", name, false}, {"BORN", born, true}};
    return row;
  };
  people.add(person("ANN", "2003-08-01"));
  people.add(person("ANN", "2003-8-1"));
  people.add(person("BOB", "2003-08-01"));
  auto found = [](std::vector<long long> counts) {
    for (auto& count : counts) count = count > 0;
    return counts;
  };
  EXPECT_EQ(found(import::CountExisting(session_.init, "PEOPLE", people, 0, 3)),
            (std::vector<long long>{1, 0, 0}));

  import::RowStore numbers;
  import::TypedRow row;
  row.values = {{import::RowValue::Kind::Text, "", true}};
  for (const char* key : {"5", "", "05"}) {
    row.keys = {{"BB", key, false, true}};
    numbers.add(row);
  }
  EXPECT_EQ(found(import::CountExisting(session_.init, "ZORVAT", numbers, 0, 3)),
            (std::vector<long long>{1, 0, 1}));
  row.keys = {{"BB", "ABC", false, true}};
  numbers.add(row);
  EXPECT_THROW(import::CountExisting(session_.init, "ZORVAT", numbers, 0, 4), db::DbError);
}

}  // namespace
}  // namespace xb::test

namespace xb::test {
namespace {

// The existence check asked over arrays of a batch's keys: every row
// answered as its own "select count(*) from T where K" answers it, for
// values the arrays must carry unchanged and types the server must give
// them as it gives a lone row's markers.
TEST_F(PgImport, ExistenceOverArraysAnswersAsEachRowAlone) {
  Exec(
      "create table keyed (name varchar(20), code char(6), amount numeric, whole integer, "
      "born date)");
  Exec(
      "insert into keyed values ('ANN', 'AB', 1, 7, to_date('2003-08-01','yyyy-mm-dd')), "
      "('ÜMIT \"Q\" it''s', 'X', 2.5, 8, to_date('2004-02-29','yyyy-mm-dd')), "
      "('{a,b} \\ NULL', null, null, null, null), ('NULL', 'C ', 10, 9, null), "
      "('', '', 0, 0, null)");
  using Key = import::KeyValue;
  struct Case {
    std::vector<Key> keys;
    bool found;
  };
  // One group per key condition: its rows go in one statement.
  const std::vector<std::vector<Case>> groups = {
      // Text: case, quotes, unicode, the characters of an array's literal,
      // the word NULL; '' (stored as NULL, as Oracle stores it) matches nothing.
      {{{{"NAME", "ANN"}}, true},
       {{{"NAME", "ann"}}, false},
       {{{"NAME", "ÜMIT \"Q\" it's"}}, true},
       {{{"NAME", "{a,b} \\ NULL"}}, true},
       {{{"NAME", "NULL"}}, true},
       {{{"NAME", ""}}, false},
       {{{"NAME", "ANN"}}, true}},
      // char(n): trailing blanks do not count.
      {{{{"CODE", "AB"}}, true},
       {{{"CODE", "X  "}}, true},
       {{{"CODE", "C"}}, true},
       {{{"CODE", "x"}}, false}},
      // A NUMBER key: by value, an empty one NULL.
      {{{{"AMOUNT", "1.0", false, true}}, true},
       {{{"AMOUNT", "2.50", false, true}}, true},
       {{{"AMOUNT", "", false, true}}, false},
       {{{"AMOUNT", "3", false, true}}, false},
       {{{"AMOUNT", "0", false, true}}, true}},
      // A number against an integer column, and text against it.
      {{{{"WHOLE", "7.0", false, true}}, true}, {{{"WHOLE", "7.5", false, true}}, false}},
      {{{{"WHOLE", "8"}}, true}, {{{"WHOLE", "6"}}, false}},
      // A date key: its to_char text.
      {{{{"BORN", "2003-08-01", true}}, true},
       {{{"BORN", "2004-02-29", true}}, true},
       {{{"BORN", "2003-8-1", true}}, false},
       {{{"BORN", "", true}}, false}},
      // Composite keys, one row twice.
      {{{{"NAME", "ANN"}, {"AMOUNT", "1", false, true}}, true},
       {{{"NAME", "ANN"}, {"AMOUNT", "1", false, true}}, true},
       {{{"NAME", "ANN"}, {"AMOUNT", "2.5", false, true}}, false},
       {{{"NAME", "ÜMIT \"Q\" it's"}, {"AMOUNT", "2.5", false, true}}, true}},
  };
  for (size_t g = 0; g < groups.size(); ++g) {
    SCOPED_TRACE("group " + std::to_string(g));
    import::RowStore rows;
    std::vector<std::vector<db::Value>> runs;
    std::vector<bool> expected, alone;
    std::vector<long long> counted;
    for (const Case& c : groups[g]) {
      import::TypedRow row;
      row.keys = c.keys;
      rows.add(row);
      runs.emplace_back();
      rows.keyValues(rows.size() - 1, runs.back());
      expected.push_back(c.found);
      const import::Rendered exists = import::MarkExists("KEYED", row);
      session_.exe.setStatement(import::ExistsText("KEYED", row), exists.marked, exists.values);
      session_.exe.open();
      alone.push_back(session_.exe.fieldInt(0) > 0);
      counted.push_back(c.found ? 1 : 0);
    }
    EXPECT_EQ(alone, expected);
    const std::string single =
        "select 0 from KEYED where " + import::MarkedKeyCondition(rows.at(0));
    EXPECT_EQ(session_.myconnection.returnsRows(single, runs, {}), expected);
    std::vector<long long> counts =
        import::CountExisting(session_.init, "KEYED", rows, 0, rows.size());
    for (auto& count : counts) count = count > 0 ? 1 : 0;
    EXPECT_EQ(counts, counted);
  }

  // A value the column's type cannot read fails as the row alone fails.
  import::RowStore bad;
  import::TypedRow row;
  row.keys = {{"WHOLE", "7"}};
  bad.add(row);
  row.keys = {{"WHOLE", "x"}};
  bad.add(row);
  EXPECT_THROW(import::CountExisting(session_.init, "KEYED", bad, 0, 2), db::BatchError);
}

}  // namespace
}  // namespace xb::test
