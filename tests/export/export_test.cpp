// The export on a real SQLite file into a real .xlsx (read back with
// openpyxl), and its failures with a scripted operator.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "counting_server.h"
#include "export/exporter.h"
#include "sheet/file_engine.h"
#include "support/recording_operator.h"
#include "test_database.h"

namespace xb::exporting {
namespace {

using test::TestDatabase;
using Cells = std::vector<std::vector<std::string>>;

// Every row of the workbook's active sheet, cells as "type:value" ("-" for an
// empty cell), read by openpyxl.
Cells ReadBack(const test::TempDir& dir, const std::string& xlsx) {
  const std::string script = dir.file("read.py");
  std::ofstream(script)
      << "import sys, openpyxl\n"
         "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
         "for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=ws.max_column):\n"
         "    out = []\n"
         "    for c in row:\n"
         "        v = c.value\n"
         "        out.append('-' if v is None else type(v).__name__ + ':' + "
         "str(v).replace('\\r', '\\\\r').replace('\\n', '\\\\n'))\n"
         "    print('\\t'.join(out))\n";
  const std::string command = "PYTHONUTF8=1 /usr/bin/python3 " + script + " " + xlsx;
  FILE* pipe = popen(command.c_str(), "r");
  Cells rows;
  if (!pipe) return rows;
  std::string line;
  int ch;
  while ((ch = fgetc(pipe)) != EOF) {
    if (ch != '\n') {
      line += static_cast<char>(ch);
      continue;
    }
    std::vector<std::string> cells;
    size_t start = 0;
    for (;;) {
      const auto tab = line.find('\t', start);
      cells.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(cells);
    line.clear();
  }
  pclose(pipe);
  return rows;
}

class ExportTest : public testing::Test {
 protected:
  void SetUp() override {
    database_.Connect(session_);
    Exec("create table T (N number, S varchar2(20), D date)");
  }
  void Exec(const std::string& sql) { test::Execute(session_.myconnection, sql); }
  std::unique_ptr<sheet::Server> FileServer(const std::string& output) {
    sheet::FileEngineOptions options;
    options.output_path = output;
    options.launch_viewer = [](const std::string&) { return true; };
    return sheet::MakeFileServer(options);
  }

  test::TempDir dir_;
  TestDatabase database_{dir_};
  db::DbSession session_;
  test::RecordingOperator op_;
};

TEST_F(ExportTest, WritesNameColumnsAndRecordsAsText) {
  Exec("insert into T values (1, 'a''b', to_date('2003-08-01','yyyy-mm-dd'))");
  Exec("insert into T values (2, null, null)");
  Exec("insert into T values (3, '007', to_date('2003-08-01 10:20:30','yyyy-mm-dd hh24:mi:ss'))");
  const std::string out = dir_.file("out.xlsx");
  auto files = FileServer(out);
  test::CountingServer server(files.get());
  ASSERT_TRUE(Export(session_, server, op_, "select N, S, D as WHEN_\r\nfrom t order by N\r\n"));
  EXPECT_TRUE(op_.boxes.empty());
  EXPECT_EQ(server.counts.shown, 1);
  EXPECT_EQ(server.counts.quits, 0);  // the shown workbook now belongs to the operator
  EXPECT_FALSE(session_.exe.isOpen());
  EXPECT_EQ(session_.exe.sql(), "select N, S, D as WHEN_\r\nfrom t order by N\r\n");
  EXPECT_EQ(op_.positions, (std::vector<int>{1, 2, 3, 0}));

  const Cells cells = ReadBack(dir_, out);
  ASSERT_EQ(cells.size(), 5u);
  EXPECT_EQ(cells[0], (std::vector<std::string>{"-", "-", "-", "str:T"}));
  EXPECT_EQ(cells[1], (std::vector<std::string>{"str:N", "str:S", "str:WHEN_", "-"}));
  EXPECT_EQ(cells[2], (std::vector<std::string>{"str:1", "str:a'b", "str:2003-08-01", "-"}));
  EXPECT_EQ(cells[3], (std::vector<std::string>{"str:2", "-", "-", "-"}));  // NULL: empty
  EXPECT_EQ(cells[4],
            (std::vector<std::string>{"str:3", "str:007", "str:2003-08-01 10:20:30", "-"}));
}

TEST_F(ExportTest, BarStopsAtItsMaximumAndReturnsToZero) {
  for (int i = 0; i < 250; ++i) Exec("insert into T(N) values (" + std::to_string(i) + ")");
  test::CountingServer server(nullptr);
  ASSERT_TRUE(Export(session_, server, op_, "select N from T"));
  ASSERT_EQ(op_.positions.size(), 101u);  // 1..100, then no further change until 0
  EXPECT_EQ(op_.positions[99], 100);
  EXPECT_EQ(op_.positions.back(), 0);

  // No record: D1 and the names only, the bar never moves.
  op_.positions.clear();
  Exec("delete from T");
  ASSERT_TRUE(Export(session_, server, op_, "select N from T"));
  EXPECT_EQ(op_.positions, std::vector<int>{0});
}

TEST_F(ExportTest, EmptyMemoDoesNothing) {
  session_.exe.setSql("select 1 from dual");
  test::CountingServer server(nullptr);
  EXPECT_FALSE(Export(session_, server, op_, ""));
  EXPECT_TRUE(op_.boxes.empty());
  EXPECT_TRUE(op_.positions.empty());
  EXPECT_EQ(server.counts.created, 0);
  EXPECT_EQ(session_.exe.sql(), "select 1 from dual\r\n");
}

TEST_F(ExportTest, StatementThatCannotOpenGivesTwoBoxes) {
  test::CountingServer server(nullptr);
  for (const std::string memo : {"select * from nosuch", "  \r\n", "delete from T"}) {
    op_.boxes.clear();
    EXPECT_FALSE(Export(session_, server, op_, memo)) << memo;
    ASSERT_EQ(op_.boxes.size(), 2u) << memo;
    EXPECT_EQ(op_.boxes[0].text.rfind("SQl语句有问题,如下:\r", 0), 0u);
    EXPECT_GT(op_.boxes[0].text.size(), std::string("SQl语句有问题,如下:\r").size()) << memo;
    EXPECT_EQ(op_.boxes[0].caption, "导出失败");
    EXPECT_EQ(op_.boxes[0].icon, Icon::Error);
    EXPECT_EQ(op_.boxes[1].caption, "错误信息");
    EXPECT_EQ(op_.boxes[1].icon, Icon::Warning);
    for (const auto& box : op_.boxes) EXPECT_EQ(box.modality, Modality::Owned);
  }
  EXPECT_EQ(op_.boxes[1].text, "错误的SQL语句如下:\rdelete from T\r\n");
  EXPECT_EQ(server.counts.created, 0);
  EXPECT_TRUE(op_.positions.empty());
}

TEST_F(ExportTest, FailureWhileFillingIsReportedOnce) {
  for (int i = 0; i < 10; ++i) Exec("insert into T(N) values (" + std::to_string(i) + ")");
  test::CountingServer server(nullptr);
  server.fail_cell = [](int row, int) {
    if (row == 6) throw sheet::SheetError("too many rows");
  };
  EXPECT_FALSE(Export(session_, server, op_, "select N from T"));
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "导出到Excel文件时出现下列错误:\rtoo many rows");
  EXPECT_EQ(op_.boxes[0].caption, "导出失败");
  EXPECT_EQ(op_.boxes[0].icon, Icon::Error);
  EXPECT_EQ(op_.boxes[0].modality, Modality::Owned);
  EXPECT_EQ(server.counts.quits, 1);
  EXPECT_EQ(server.counts.shown, 0);
  EXPECT_FALSE(session_.exe.isOpen());
  EXPECT_EQ(op_.progressPosition(), 0);
}

TEST_F(ExportTest, WorkbookThatCannotBeWrittenIsReported) {
  Exec("insert into T(N) values (1)");
  auto files = FileServer(dir_.file("no/such/folder/out.xlsx"));
  test::CountingServer server(files.get());
  EXPECT_FALSE(Export(session_, server, op_, "select N from T"));
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].caption, "导出失败");
  EXPECT_EQ(op_.boxes[0].text.rfind("导出到Excel文件时出现下列错误:\r", 0), 0u);
  EXPECT_EQ(server.counts.quits, 1);
  EXPECT_EQ(op_.progressPosition(), 0);
}

}  // namespace
}  // namespace xb::exporting
