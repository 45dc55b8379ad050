// The loader and the import run on real SQLite files and real .xls workbooks
// (tests/data/import, made by xlwt), with a scripted operator.
#include <gtest/gtest.h>

#include "counting_server.h"
#include "import/importer.h"
#include "import/statements.h"
#include "sheet/file_engine.h"
#include "support/recording_operator.h"
#include "test_database.h"

namespace xb::import {
namespace {

using test::TestDatabase;
using Rows = std::vector<std::vector<std::string>>;

std::string Workbook(const std::string& name) { return std::string(XB_IMPORT_DATA) + "/" + name; }

class ImportTest : public testing::Test {
 protected:
  void SetUp() override {
    database_.Connect(session_);
    test::LoadSchemaFile(session_.myconnection, Workbook("schema.sql"));
  }

  bool Load(const std::string& name) {
    op_.workbook = Workbook(name);
    return importer_.LoadWorkbook() == ReadOutcome::Succeeded;
  }
  void Exec(const std::string& sql) { test::Execute(session_.myconnection, sql); }
  Rows Select(const std::string& sql) { return test::Select(session_.myconnection, sql); }
  // What another session would see: only committed rows.
  Rows SelectCommitted(const std::string& sql) {
    db::Connection other;
    other.setConnectionString(database_.connectionString());
    other.open();
    return test::Select(other, sql);
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& box : op_.boxes) captions.push_back(box.caption);
    return captions;
  }

  test::TempDir dir_;
  TestDatabase database_{dir_};
  db::DbSession session_;
  std::unique_ptr<sheet::Server> files_ = sheet::MakeFileServer();
  test::CountingServer server_{files_.get()};
  test::RecordingOperator op_;
  Importer importer_{session_, server_, op_};
};

// ---- the loader ----

TEST_F(ImportTest, SecondHelpSampleGivesTheWorkedList) {
  ASSERT_TRUE(Load("sample2.xls"));
  const auto& list = importer_.import_list();
  ASSERT_EQ(list.size(), 3u + 2 * 11);
  EXPECT_EQ(list[0], "ZORVAT");
  EXPECT_EQ(list[1], "AA");
  EXPECT_EQ(list[2], "AA,BB,SEQ_NN,DD");
  EXPECT_EQ(list[3], "AA='1' ");
  EXPECT_EQ(list[4], "'1','33',SEQ_TBXH.nextval,SEQ_TBXH.nextval");
  EXPECT_EQ(list[23], "AA='11' ");
  EXPECT_EQ(list[24], "'11','43',SEQ_TBXH.nextval,SEQ_TBXH.nextval");
  EXPECT_EQ(op_.progressMax(), 15);
  EXPECT_EQ(op_.positions.front(), 4);
  EXPECT_EQ(op_.positions.back(), 14);
  EXPECT_TRUE(op_.boxes.empty());
  EXPECT_EQ(op_.file_paths, std::vector<std::string>{Workbook("sample2.xls")});
  EXPECT_EQ(server_.counts.created, 1);
  EXPECT_EQ(server_.counts.quits, 1);
}

TEST_F(ImportTest, RowPiecesFollowColumnKinds) {
  ASSERT_TRUE(Load("sample1.xls"));
  EXPECT_EQ(importer_.import_list()[3], "AA='1' ");
  EXPECT_EQ(importer_.import_list()[4], "'1','33',to_date('2003-8-1','yyyy-mm-dd')");

  // Keys compare upper-cased text; values keep the case; quotes doubled;
  // an empty cell is ''.
  ASSERT_TRUE(Load("people.xls"));
  const std::vector<std::string> people(importer_.import_list().begin() + 3,
                                        importer_.import_list().end());
  EXPECT_EQ(people, (std::vector<std::string>{
                        "NAME='ABC' ", "'abc','lower',to_date('2001-2-3','yyyy-mm-dd')",
                        "NAME='O''NEIL' ", "'O''Neil','quote',to_date('2001-02-03','yyyy-mm-dd')",
                        "NAME='EMPTY' ", "'Empty','',to_date('2001-2-5','yyyy-mm-dd')"}));

  // A DATE key compares the stored date's text with the cell's text.
  ASSERT_TRUE(Load("datekey.xls"));
  EXPECT_EQ(importer_.import_list()[3], "to_char(D,'yyyy-mm-dd')='2003-08-01' ");
  EXPECT_EQ(importer_.import_list()[5], "to_char(D,'yyyy-mm-dd')='2003-8-2' ");

  // A sequence column takes no sheet column; a key on it gives no term.
  ASSERT_TRUE(Load("seqmid.xls"));
  EXPECT_EQ(importer_.import_list()[1], "SEQ_NN");
  EXPECT_EQ(importer_.import_list()[3], "");
  EXPECT_EQ(importer_.import_list()[4], "'1',SEQ_TBXH.nextval,'33'");
}

TEST_F(ImportTest, DataEndsAtFirstBlankColumnA) {
  ASSERT_TRUE(Load("gap.xls"));
  EXPECT_EQ(importer_.import_list().size(), 3u + 2 * 3);
  EXPECT_EQ(importer_.import_list()[1], "");
  EXPECT_EQ(importer_.import_list()[3], "");  // no key slot: no key condition
  ASSERT_TRUE(Load("nodata.xls"));
  EXPECT_EQ(importer_.import_list().size(), 3u);
}

struct LoadFault {
  const char* name;
  std::string workbook;
  std::string text;
  std::string caption;
  Modality modality;
  size_t entries_after;
};

// Failure messages name the case and its workbook.
void PrintTo(const LoadFault& f, std::ostream* os) { *os << f.name << " (" << f.workbook << ")"; }

class LoaderFaults : public ImportTest, public testing::WithParamInterface<LoadFault> {};

TEST_P(LoaderFaults, ShowOneBoxAndQuitTheInstance) {
  const LoadFault& f = GetParam();
  EXPECT_FALSE(Load(f.workbook));
  ASSERT_EQ(op_.boxes.size(), 1u);
  // A file that cannot be opened gets the reader's reason on a line of its own.
  const std::string text = f.text,
                    reason = std::string(f.name) == "no_such_file" ? "\n无法读取文件\"" : "";
  EXPECT_EQ(op_.boxes[0].text.substr(0, text.size() + reason.size()), text + reason);
  if (reason.empty()) EXPECT_EQ(op_.boxes[0].text, text);
  EXPECT_EQ(op_.boxes[0].caption, f.caption);
  EXPECT_EQ(op_.boxes[0].icon, Icon::Error);
  EXPECT_EQ(op_.boxes[0].modality, f.modality);
  EXPECT_EQ(importer_.import_list().size(), f.entries_after);
  EXPECT_EQ(server_.counts.quits, server_.counts.created);
}

const LoadFault kLoadFaults[] = {
    {"no_colon", "bad_header.xls", "请确认您打开的EXCEL文件的表头信息是否正确!", "警告信息",
     Modality::TaskModal, 0},
    {"sixteen_columns", "too_long.xls", "请确认您打开的EXCEL文件的表头信息是否正确!", "警告信息",
     Modality::TaskModal, 0},
    {"table_missing", "missing_table.xls", "\"NOSUCH\"不在数据库中,请确认EXCEL表头信息是否正确!",
     "错误信息-导入失败", Modality::TaskModal, 0},
    {"quote_in_table_name", "quote_table.xls",
     "\"O'BRIEN\"不在数据库中,请确认EXCEL表头信息是否正确!", "错误信息-导入失败",
     Modality::TaskModal, 0},
    {"sequence_missing", "missing_seq.xls",
     "当前数据中不存在\" NOSUCH \"这个序列号!\r请确认打开的EXCEL文件的表头信息是否正确", "错误信息",
     Modality::Owned, 2},
    {"column_missing", "missing_col.xls",
     "\"ZORVAT\"表中没有\"XX\"这个字段\r请确认你打开的EXCEL文件的表头信息是否正确!", "警告信息",
     Modality::TaskModal, 3},
    {"no_such_file", "nosuch.xls",
     "无法连接EXCEL 自动化服务器，\n请确认您的系统已经安装EXCEL 2000 及更高版本。", "系统错误",
     Modality::TaskModal, 0},
};

INSTANTIATE_TEST_SUITE_P(Boxes, LoaderFaults, testing::ValuesIn(kLoadFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImportTest, FailedStartKeepsThePreviousList) {
  ASSERT_TRUE(Load("gap.xls"));
  const auto before = importer_.import_list();
  op_.workbook = Workbook("nosuch.xls");
  EXPECT_EQ(importer_.LoadWorkbook(), ReadOutcome::NotOpened);
  EXPECT_EQ(importer_.import_list(), before);

  op_.workbook.reset();  // cancelled dialog
  op_.boxes.clear();
  const int created = server_.counts.created;
  EXPECT_EQ(importer_.LoadWorkbook(), ReadOutcome::Cancelled);
  EXPECT_TRUE(op_.boxes.empty());
  EXPECT_EQ(server_.counts.created, created);
  EXPECT_EQ(importer_.import_list(), before);
  EXPECT_EQ(op_.file_paths.size(), 2u);
}

TEST_F(ImportTest, ReadFailureKeepsCompletePairsAndTheBarPosition) {
  server_.fail_cell = [](int row, int column) {
    if (row == 7 && column == 2) throw sheet::SheetError("cell unreadable");
  };
  EXPECT_FALSE(Load("sample1.xls"));
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "无法打开该文件！具体错误信息如下：\ncell unreadable");
  EXPECT_EQ(op_.boxes[0].caption, "ZQ 错误信息");
  EXPECT_EQ(op_.boxes[0].modality, Modality::TaskModal);
  EXPECT_EQ(importer_.import_list().size(), 3u + 2 * 3);  // rows 4 to 6
  EXPECT_EQ(op_.progressPosition(), 7);
  EXPECT_EQ(server_.counts.quits, 1);
}

// An error cell fails the read with the loader's read-failure box naming
// the cell; no row reaches the database and the read is a failed one.
TEST_F(ImportTest, ErrorCellFailsTheReadNamingTheCell) {
  op_.workbook = Workbook("error_cell.xls");
  op_.yes_no_answers = {Answer::Yes};
  EXPECT_EQ(importer_.ReadWorkbook([] {}), ReadOutcome::Failed);
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "无法打开该文件！具体错误信息如下：\n单元格C5中是错误值#DIV/0!。");
  EXPECT_EQ(op_.boxes[0].caption, "ZQ 错误信息");
  EXPECT_EQ(Select("select count(*) from ZORVAT"), (Rows{{"0"}}));
}

// A table whose name holds a quote is refused up front as missing, even
// when such a table exists: the insert could never name it unquoted.
TEST_F(ImportTest, TableNameWithAQuoteIsMissingEvenWhenItExists) {
  Exec("create table \"O'BRIEN\" (A varchar2(10), B varchar2(10))");
  EXPECT_FALSE(Load("quote_table.xls"));
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "\"O'BRIEN\"不在数据库中,请确认EXCEL表头信息是否正确!");
  EXPECT_EQ(op_.boxes[0].caption, "错误信息-导入失败");
  EXPECT_EQ(Select("select count(*) from \"O'BRIEN\""), (Rows{{"0"}}));
}

// A read that fails part-way says so even after a good read: the partial
// list is never to be imported.
TEST_F(ImportTest, FailedReadIsToldApartFromACancelledOne) {
  ASSERT_TRUE(Load("sample1.xls"));
  server_.fail_cell = [](int row, int column) {
    if (row == 7 && column == 2) throw sheet::SheetError("cell unreadable");
  };
  op_.workbook = Workbook("sample1.xls");
  EXPECT_EQ(importer_.LoadWorkbook(), ReadOutcome::Failed);
  // A header fault after the list was cleared does the same.
  server_.fail_cell = nullptr;
  op_.workbook = Workbook("missing_col.xls");
  EXPECT_EQ(importer_.LoadWorkbook(), ReadOutcome::Failed);
  // A cancelled dialog reads nothing.
  ASSERT_TRUE(Load("sample1.xls"));
  op_.workbook.reset();
  EXPECT_EQ(importer_.LoadWorkbook(), ReadOutcome::Cancelled);
}

TEST_F(ImportTest, RunningSpreadsheetIsReportedAndTheReadGoesOn) {
  server_.running = true;
  ASSERT_TRUE(Load("nodata.xls"));
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "\"EXCEL\",已经打开,请先关闭已经打开的EXCEL文件");
  EXPECT_EQ(op_.boxes[0].caption, "ZQ_提示");
  EXPECT_EQ(op_.boxes[0].icon, Icon::Information);
  EXPECT_EQ(op_.boxes[0].modality, Modality::TaskModal);
}

// ---- the run ----

TEST_F(ImportTest, HelpSampleImportsFromTheButtonAndCommits) {
  op_.workbook = Workbook("sample1.xls");
  op_.yes_no_answers = {Answer::Yes};
  ASSERT_EQ(importer_.ReadWorkbook([] { FAIL() << "the connection is open"; }),
            ReadOutcome::Succeeded);
  EXPECT_EQ(importer_.OfferImport(), RunOutcome::Completed);
  ASSERT_EQ(op_.boxes.size(), 2u);
  EXPECT_EQ(op_.boxes[0].text, "数据已经成功的从Excel文件中提取,是否导入到数据库中?");
  EXPECT_EQ(op_.boxes[0].caption, "确认信息");
  EXPECT_EQ(op_.boxes[0].buttons, Buttons::YesNo);
  EXPECT_EQ(op_.boxes[0].modality, Modality::Owned);
  EXPECT_EQ(op_.boxes[1].text, "数据已经成功导入到数据库中!");
  EXPECT_EQ(op_.boxes[1].caption, "提示信息");
  EXPECT_EQ(op_.boxes[1].modality, Modality::OwnerlessModeless);
  EXPECT_TRUE(importer_.lastRunSucceeded());
  EXPECT_EQ(op_.progressPosition(), 0);
  EXPECT_FALSE(session_.myconnection.inTransaction());
  const Rows rows =
      SelectCommitted("select AA, BB, to_char(CC,'yyyy-mm-dd') from ZORVAT order by BB");
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "33", "2003-08-01"}));
  EXPECT_EQ(rows[10], (std::vector<std::string>{"11", "43", "2003-08-11"}));

  // The last row's statements, sent bound, still read as their Oracle text,
  // also once another workbook has replaced the list.
  const std::vector<std::string> list = importer_.import_list();
  ASSERT_EQ(list.size(), 3u + 2 * 11);
  const std::string insert = InsertStatement(list[0], list[2], list.back()) + "\r\n";
  // On SQLite, in this process, the run goes row by row.
  const std::string exists = ExistsQuery(list[0], list[list.size() - 2]) + "\r\n";
  EXPECT_EQ(session_.exe.sql(), insert);
  EXPECT_EQ(session_.init.sql(), exists);
  ASSERT_TRUE(Load("sample2.xls"));
  EXPECT_NE(importer_.import_list(), list);
  EXPECT_EQ(session_.exe.sql(), insert);
}

TEST_F(ImportTest, ClosedConnectionRunsTheTestFirstAndNoLeavesTheListUnrun) {
  session_.myconnection.close();
  op_.workbook = Workbook("sample1.xls");
  int tests = 0;
  EXPECT_EQ(importer_.ReadWorkbook([&] {
    ++tests;
    database_.Connect(session_);
  }),
            ReadOutcome::Succeeded);
  EXPECT_EQ(tests, 1);
  EXPECT_EQ(importer_.OfferImport(), std::nullopt);  // answered No: the list waits
  EXPECT_TRUE(Select("select * from ZORVAT").empty());
  EXPECT_EQ(importer_.Import(), RunOutcome::Completed);
  EXPECT_EQ(Select("select * from ZORVAT").size(), 11u);
}

TEST_F(ImportTest, ExistingRowsAskAndEachAnswerDoesItsPart) {
  Exec("insert into ZORVAT(AA,BB) values('2','99')");
  Exec("insert into ZORVAT(AA,BB) values('5','98')");
  ASSERT_TRUE(Load("sample1.xls"));
  op_.overwrite_answers = {OverwriteAnswer::Ignore, OverwriteAnswer::Yes};
  importer_.Import();
  ASSERT_EQ(op_.prompts.size(), 2u);
  EXPECT_EQ(op_.prompts[0],
            OverwritePromptText("'2','99',''", "'2','34',to_date('2003-8-2','yyyy-mm-dd')"));
  EXPECT_EQ(Select("select BB from ZORVAT where AA='2'"), Rows{{"99"}});  // ignored
  EXPECT_EQ(Select("select BB, to_char(CC,'yyyy-mm-dd') from ZORVAT where AA='5'"),
            (Rows{{"37", "2003-08-05"}}));  // overwritten
  EXPECT_EQ(Select("select * from ZORVAT").size(), 11u);
  EXPECT_TRUE(importer_.lastRunSucceeded());
}

TEST_F(ImportTest, AllHoldsForOneRunOnly) {
  Exec("insert into ZORVAT(AA,BB) values('2','99')");
  Exec("insert into ZORVAT(AA,BB) values('5','98')");
  ASSERT_TRUE(Load("sample1.xls"));
  op_.overwrite_answers = {OverwriteAnswer::All};
  importer_.Import();
  EXPECT_EQ(op_.prompts.size(), 1u);
  EXPECT_EQ(Select("select BB from ZORVAT where AA in ('2','5') order by AA"),
            (Rows{{"34"}, {"37"}}));
  // The next run (every row exists now) asks again, from its first row.
  op_.overwrite_answers = {OverwriteAnswer::Ignore, OverwriteAnswer::Ignore};
  EXPECT_EQ(importer_.Run(), RunOutcome::Completed);
  EXPECT_EQ(op_.prompts.size(), 1u + 11);
}

TEST_F(ImportTest, AbortKeepsTheRowsBeforeIt) {
  Exec("insert into ZORVAT(AA,BB) values('5','98')");
  ASSERT_TRUE(Load("sample1.xls"));
  op_.overwrite_answers = {OverwriteAnswer::Abort};
  EXPECT_EQ(importer_.Import(), RunOutcome::Stopped);
  EXPECT_EQ(SelectCommitted("select AA from ZORVAT order by BB"),
            (Rows{{"1"}, {"2"}, {"3"}, {"4"}, {"5"}}));
  EXPECT_EQ(Select("select BB from ZORVAT where AA='5'"), Rows{{"98"}});
  EXPECT_TRUE(op_.boxes.empty());
  EXPECT_FALSE(importer_.lastRunSucceeded());
  EXPECT_EQ(op_.progressPosition(), 0);
}

TEST_F(ImportTest, KeysMatchOnlyUpperCaseTextAndTwoDigitDates) {
  Exec("insert into PEOPLE(NAME,NOTE) values('abc','old')");
  Exec("insert into PEOPLE(NAME,NOTE) values('O''NEIL','old')");
  ASSERT_TRUE(Load("people.xls"));
  importer_.Import();
  // 'abc' is never found (the key is compared upper-cased) and comes in
  // again; O'NEIL is found and overwritten with the text as written.
  ASSERT_EQ(op_.prompts.size(), 1u);
  EXPECT_EQ(Select("select NAME, NOTE from PEOPLE order by NOTE, NAME"),
            (Rows{{"Empty", ""}, {"abc", "lower"}, {"abc", "old"}, {"O'Neil", "quote"}}));

  Exec("insert into EVENTS values(to_date('2003-08-01','yyyy-mm-dd'),'x')");
  Exec("insert into EVENTS values(to_date('2003-08-02','yyyy-mm-dd'),'y')");
  ASSERT_TRUE(Load("datekey.xls"));
  importer_.Import();
  EXPECT_EQ(op_.prompts.size(), 2u);  // only the two-digit 2003-08-01 matched
  EXPECT_EQ(Select("select to_char(D,'yyyy-mm-dd'), V from EVENTS order by V"),
            (Rows{{"2003-08-01", "a"}, {"2003-08-02", "b"}, {"2003-08-02", "y"}}));
}

TEST_F(ImportTest, SequenceRowThatExistsStopsTheRun) {
  Exec("insert into ZORVAT(AA,BB) values('3','99')");
  ASSERT_TRUE(Load("sample2.xls"));
  importer_.Import();
  ASSERT_EQ(op_.prompts.size(), 1u);  // asked first, then stopped
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text,
            "该次导入的表中含有序列号,不能完成更新操作!\r请先手动删除数据库中的记录!");
  EXPECT_EQ(op_.boxes[0].caption, "错误提示");
  EXPECT_EQ(op_.boxes[0].modality, Modality::Owned);
  const Rows rows = SelectCommitted("select AA, BB from ZORVAT order by AA");
  EXPECT_EQ(rows, (Rows{{"1", "33"}, {"2", "34"}, {"3", "99"}}));
  EXPECT_EQ(Select("select count(*) from ZORVAT where SEQ_NN is null or DD is null"), Rows{{"1"}});
}

TEST_F(ImportTest, FailedRowAtTheEndRollsBackTheWholeRun) {
  ASSERT_TRUE(Load("dupkey.xls"));
  op_.on_box = [&](const MessageBox&) {
    // While the boxes are up, the rows of the run are still uncommitted.
    EXPECT_TRUE(SelectCommitted("select * from ZORVAT").empty());
  };
  EXPECT_EQ(importer_.Import(), RunOutcome::RolledBack);
  ASSERT_EQ(op_.boxes.size(), 2u);
  const std::string& first = op_.boxes[0].text;
  EXPECT_EQ(first.rfind("向数据中导入EXCEL数据时出现下列错误:\r", 0), 0u) << first;
  EXPECT_GT(
      first.size(),
      std::string("向数据中导入EXCEL数据时出现下列错误:\r\r该次导入失败,已经导入的数据将自动删除!")
          .size());
  EXPECT_TRUE(first.ends_with("\r该次导入失败,已经导入的数据将自动删除!")) << first;
  EXPECT_EQ(op_.boxes[0].caption, "导入失败");
  EXPECT_EQ(op_.boxes[1].text,
            "错误语句的详细信息如下:\rinsert into ZORVAT(AA,BB) values('1','36')\r\n");
  EXPECT_EQ(op_.boxes[1].caption, "SQL错误语句");
  for (const auto& box : op_.boxes) {
    EXPECT_EQ(box.icon, Icon::Error);
    EXPECT_EQ(box.modality, Modality::OwnerlessModeless);
  }
  EXPECT_TRUE(Select("select * from ZORVAT").empty());
  EXPECT_FALSE(session_.myconnection.inTransaction());
  EXPECT_FALSE(importer_.lastRunSucceeded());
  EXPECT_EQ(op_.progressPosition(), 0);
  EXPECT_FALSE(session_.exe.isOpen());
}

TEST_F(ImportTest, FailedExistenceCheckRollsBackAndEscapes) {
  ASSERT_TRUE(Load("sample1.xls"));
  importer_.setBatchRows(1);
  // Rows 1 and 2 are written; then the table goes away inside the run, so
  // the check of row 3 fails.
  op_.on_position = [&](int position) {
    if (position == 7) Exec("alter table ZORVAT rename to ZORVAT_GONE");
  };
  EXPECT_THROW(importer_.Import(), db::DbError);
  op_.on_position = nullptr;
  EXPECT_FALSE(session_.myconnection.inTransaction());
  EXPECT_TRUE(Select("select * from ZORVAT").empty());  // the rename is undone too
  EXPECT_TRUE(op_.boxes.empty());
  EXPECT_EQ(op_.progressPosition(), 0);
}

TEST_F(ImportTest, ListsWithoutRows) {
  EXPECT_EQ(importer_.Import(), RunOutcome::NothingRead);
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "导入前请先打开要导入的Excel文件!");
  EXPECT_EQ(op_.boxes[0].caption, "错误提示");
  EXPECT_EQ(op_.boxes[0].modality, Modality::Owned);

  ASSERT_TRUE(Load("nodata.xls"));
  EXPECT_EQ(importer_.Import(), RunOutcome::Completed);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"错误提示", "提示信息"}));
}

}  // namespace
}  // namespace xb::import
