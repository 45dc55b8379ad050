// End-to-end tests of xlsbridge-cli: the built binary is spawned as a
// process against real SQLite files and real .xls workbooks.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli.h"
#include "support/schema.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using xb::test::CliOutcome;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    // No alias or DSN of the operator's own may leak into the tests.
    aliases_ = dir_.path() / "aliases.ini";
    std::ofstream(aliases_) << "[TESTDB]\nengine=sqlite\ntarget=" << dir_.file("db.sqlite") << "\n";
    xb::test::UsePrivateSettings(env_, dir_);
  }

  static CliOutcome Run(std::vector<std::string> args, const std::string& input = {}) {
    xb::test::CliOptions options;
    options.input = input;
    return xb::test::RunCli(std::move(args), options);
  }

  // A new database holding the table of the sample workbooks.
  std::string MakeDatabase() {
    const std::string db = dir_.file("db.sqlite");
    xb::test::MakeDatabase(db,
                           "create table ZORVAT (AA varchar2(10) primary key, BB number, CC date,\n"
                           "  SEQ_NN number, DD number);\n"
                           "create sequence SEQ_TBXH;\n");
    return db;
  }

  std::string Rows(const std::string& db) {
    return Run({"sql", "--data-source", db, "select AA, BB, CC from ZORVAT order by AA"}).out;
  }

  static std::string Fixture(const std::string& name) {
    return std::string(XB_TEST_DATA) + "/cli/" + name;
  }

  xb::test::TempDir dir_;
  xb::test::ScopedEnv env_;
  fs::path aliases_;
};

const std::string kQuestionBox =
    "确认信息: 数据已经成功的从Excel文件中提取,是否导入到数据库中?\n\n";
const std::string kSuccessBox = "提示信息: 数据已经成功导入到数据库中!\n\n";

TEST_F(Cli, UsageErrorsExitTwoAndHelpGoesToStdout) {
  EXPECT_EQ(Run({}).exit_code, 2);
  EXPECT_EQ(Run({"frobnicate", "--data-source", "x"}).exit_code, 2);
  EXPECT_EQ(Run({"import", "--data-source", "x", "--existing", "sometimes", "a.xls"}).exit_code, 2);
  EXPECT_EQ(Run({"import", "a.xls"}).exit_code, 2);  // no data source
  EXPECT_EQ(Run({"export", "--data-source", "x", "--query", "select 1", "--query-file", "f",
                 "--output", "o"})
                .exit_code,
            2);
  const auto help = Run({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("xlsbridge-cli import --data-source DS"), std::string::npos);
  EXPECT_TRUE(help.err.empty());
}

TEST_F(Cli, SqlOnAnEmptyFileCreatesTablesAndPrintsTabSeparatedRows) {
  const fs::path db = dir_.path() / "new.db";
  std::ofstream(db).close();
  const fs::path script = dir_.path() / "s.sql";
  std::ofstream(script) << "create table T (A number, B varchar2(20));\n"
                           "insert into T values (1, 'x;y');\n"
                           "insert into T values (2, null)\n/\n"
                           "create sequence S start with 5;\n";
  auto r = Run({"sql", "--data-source", db.string(), "--file", script.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");

  r = Run({"sql", "--data-source", db.string(),
           "select A, B, 'a' || char(9) || 'b' || char(10) as C from T order by A"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "A\tB\tC\n1\tx;y\ta\\tb\\n\n2\t\ta\\tb\\n\n");

  r = Run({"sql", "--data-source", db.string(), "select S.nextval as N from dual"});
  EXPECT_EQ(r.out, "N\n5\n");
}

TEST_F(Cli, SqlStopsAtTheFirstFailingStatementKeepingEarlierOnes) {
  const std::string db = MakeDatabase();
  const fs::path script = dir_.path() / "s.sql";
  std::ofstream(script) << "insert into ZORVAT(AA) values ('k1');\n"
                           "insert into NO_SUCH_TABLE values (1);\n"
                           "insert into ZORVAT(AA) values ('k2');\n";
  const auto r = Run({"sql", "--data-source", db, "--file", script.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("NO_SUCH_TABLE"), std::string::npos) << r.err;
  EXPECT_EQ(Rows(db), "AA\tBB\tCC\nk1\t\t\n");
}

TEST_F(Cli, AFailedConnectionIsReportedAndCreatesNoFile) {
  const fs::path missing = dir_.path() / "missing.db";
  const auto r = Run({"sql", "--data-source", missing.string(), "select 1 from dual"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot connect"), std::string::npos);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(Cli, ImportWritesRowsAndReportsBothBoxes) {
  const std::string db = MakeDatabase();
  const auto r = Run({"import", "--data-source", "TESTDB", Fixture("zorvat3.xls")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, kQuestionBox + kSuccessBox);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Rows(db), "AA\tBB\tCC\n1\t33\t2003-08-01\n2\t34\t2003-08-02\n3\t35\t2003-08-03\n");
}

TEST_F(Cli, ExistingKeysWithoutAnAnswerAbortAndOverwriteNothing) {
  const std::string db = MakeDatabase();
  ASSERT_EQ(Run({"import", "--data-source", db, Fixture("zorvat3.xls")}).exit_code, 0);
  const std::string before = Rows(db);

  // stdin is not a terminal: the default is abort.
  auto r = Run({"import", "--data-source", db, Fixture("zorvat3b.xls")});
  EXPECT_EQ(r.exit_code, 1);
  // The question, then the prompt that stopped the run with its answer.
  EXPECT_EQ(r.err.rfind(kQuestionBox + "Confirm: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 11), "\u2192 Abort\n\n");
  EXPECT_EQ(Rows(db), before);

  r = Run({"import", "--data-source", db, "--existing", "ignore", Fixture("zorvat3b.xls")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Rows(db), before);

  r = Run({"import", "--data-source", db, "--existing", "all", Fixture("zorvat3b.xls")});
  EXPECT_EQ(r.exit_code, 0);
  // The first prompt shows with the answer that settled it; All asks no more.
  EXPECT_EQ(r.err.rfind(kQuestionBox, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("\n\u2192 All\n\n" + kSuccessBox), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Confirm:", r.err.find("Confirm:") + 1), std::string::npos) << r.err;
  EXPECT_EQ(Rows(db), "AA\tBB\tCC\n1\t133\t2004-01-01\n2\t134\t2004-01-02\n3\t135\t2004-01-03\n");
}

TEST_F(Cli, AskPromptsOnTheTerminalStream) {
  const std::string db = MakeDatabase();
  ASSERT_EQ(Run({"import", "--data-source", db, Fixture("zorvat3.xls")}).exit_code, 0);
  // Yes for the first row, Ignore for the second, Abort at the third.
  const auto r = Run({"import", "--data-source", db, "--existing", "ask", Fixture("zorvat3b.xls")},
                     "y\ni\na\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(
      r.out.find(
          "Confirm: "
          "数据库中已经有这条记录的信息内容如下:\n'1','33','2003-08-01'\n要更新的数据内容如下:\n"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(Rows(db), "AA\tBB\tCC\n1\t133\t2004-01-01\n2\t34\t2003-08-02\n3\t35\t2003-08-03\n");
}

TEST_F(Cli, CheckNamesExistingKeysAndWritesNothing) {
  const std::string db = MakeDatabase();
  ASSERT_EQ(
      Run({"sql", "--data-source", db, "insert into ZORVAT(AA, BB) values ('2', 0)"}).exit_code, 0);
  const auto r = Run({"import", "--data-source", db, "--check", Fixture("zorvat3.xls")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "检查完毕,没有发现问题。\n"
            "第5行: 数据库中已经有这条记录,导入时将询问是否覆盖\n"
            "共读取3行数据,将插入2行,将询问是否覆盖1行,有问题的单元格0个\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Rows(db), "AA\tBB\tCC\n2\t0\t\n");
}

// Every fault of a workbook in one report, as text and as JSON; exit 1.
TEST_F(Cli, CheckReportsEveryFaultByCell) {
  const std::string db = dir_.file("db.sqlite");
  xb::test::MakeDatabase(db,
                         "create table CHECKED (K varchar2(6) primary key, NAME varchar2(10) not "
                         "null, QTY number(5,2), BORN date, NOTE varchar2(4 char));\n"
                         "insert into CHECKED (K, NAME) values ('B9', 'before');\n");
  const std::string workbook = std::string(XB_TEST_DATA) + "/check/faults.xls";
  const auto text = Run({"import", "--data-source", db, "--check", workbook});
  EXPECT_EQ(text.exit_code, 1) << text.err;
  EXPECT_EQ(text.err, "");
  const std::vector<std::string> lines = {
      "检查完毕,发现以下问题,没有写入任何数据:",
      "B5 NAME '12345678901': 文本超过字段定义的长度VARCHAR2(10 BYTE) (ORA-12899: value too "
      "large for column \"CHECKED\".\"NAME\" (actual: 11, maximum: 10))",
      "C6 QTY 'abc': 不是数字 (ORA-01722: invalid number)",
      "C7 QTY '1000': 数字的位数超过字段定义NUMBER(5,2) (ORA-01438: value larger than specified "
      "precision allowed for this column)",
      "D8 BORN '2003-02-30': 不是日期,可接受的日期格式为 年-月-日 (yyyy-mm-dd,如2003-8-1或"
      "2003-08-01),或设置为日期格式的单元格 (ORA-01861: literal does not match format string)",
      "B9 NAME '': 该字段不允许为空 (ORA-01400: cannot insert NULL into (\"CHECKED\".\"NAME\"))",
      "C10 QTY '#DIV/0!': 单元格中是错误值 (#DIV/0!)",
      "A11 K 'A1': 键值与第4行(A4)重复",
      "E13 NOTE '数据导入x': 文本超过字段定义的长度VARCHAR2(4 CHAR) (ORA-12899: value too large "
      "for column \"CHECKED\".\"NOTE\" (actual: 5, maximum: 4))",
      "第12行: 数据库中已经有这条记录,导入时将询问是否覆盖",
      "共读取10行数据,将插入8行,将询问是否覆盖2行,有问题的单元格8个"};
  std::string expected;
  for (const auto& line : lines) expected += line + "\n";
  EXPECT_EQ(text.out, expected);

  const auto json = Run({"import", "--data-source", db, "--check", "--format", "json", workbook});
  EXPECT_EQ(json.exit_code, 1) << json.err;
  EXPECT_EQ(json.out.rfind("{\"faults\":[\n{\"cell\":\"B5\",\"column\":\"NAME\",\"value\":"
                           "\"12345678901\",\"reason\":\"文本超过",
                           0),
            0u)
      << json.out;
  EXPECT_NE(json.out.find("{\"cell\":\"B9\",\"column\":\"NAME\",\"value\":\"\",\"reason\":"
                          "\"该字段不允许为空 (ORA-01400: cannot insert NULL into "
                          "(\\\"CHECKED\\\".\\\"NAME\\\"))\"}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"existing_rows\":[12],\n\"summary\":{\"rows_read\":10,"
                          "\"would_insert\":8,\"would_ask\":2,\"cells_at_fault\":8}}\n"),
            std::string::npos)
      << json.out;
  EXPECT_EQ(Run({"sql", "--data-source", db, "select count(*) from CHECKED"}).out, "COUNT(*)\n1\n");
  // A header the database does not know: its box's words, exit 1.
  const auto missing = Run({"import", "--data-source", db, "--check",
                            std::string(XB_TEST_DATA) + "/import/missing_col.xls"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out.rfind("\"ZORVAT\"不在数据库中", 0), 0u) << missing.out;
  EXPECT_EQ(Run({"import", "--data-source", db, "--format", "json", workbook}).exit_code, 2);
  EXPECT_EQ(Run({"import", "--data-source", db, "--check", "--format", "xml", workbook}).exit_code,
            2);
}

TEST_F(Cli, ImportOfAMissingWorkbookShowsTheStartBox) {
  const std::string db = MakeDatabase();
  const auto r = Run({"import", "--data-source", db, (dir_.path() / "nothere.xls").string()});
  EXPECT_EQ(r.exit_code, 1);
  // The reader's reason follows on a line of its own.
  const std::string head =
      "系统错误: 无法连接EXCEL 自动化服务器，\n请确认您的系统已经安装EXCEL 2000 及更高版本。\n";
  EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("nothere.xls", head.size()), std::string::npos) << r.err;
}

TEST_F(Cli, ExportWritesTheWorkbookAndKeepsAnOldFileOnFailure) {
  const std::string db = MakeDatabase();
  ASSERT_EQ(Run({"import", "--data-source", db, Fixture("zorvat3.xls")}).exit_code, 0);
  const fs::path out = dir_.path() / "out.xlsx";
  auto r = Run({"export", "--data-source", db, "--query",
                "select AA, BB, CC from zorvat order by AA", "--output", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // Read back with a reader nobody here wrote.
  const fs::path dump = dir_.path() / "dump.txt";
  const std::string read_back =
      "/usr/bin/python3 -c \"import openpyxl,sys; ws=openpyxl.load_workbook(sys.argv[1]).active; "
      "print(repr([[c.value for c in row] for row in ws.iter_rows()]))\" " +
      out.string() + " > " + dump.string();
  ASSERT_EQ(std::system(read_back.c_str()), 0);
  EXPECT_EQ(
      Slurp(dump),
      "[[None, None, None, 'ZORVAT'], ['AA', 'BB', 'CC', None], ['1', '33', '2003-08-01', None], "
      "['2', '34', '2003-08-02', None], ['3', '35', '2003-08-03', None]]\n");

  const std::string before = Slurp(out);
  r = Run({"export", "--data-source", db, "--query", "select nothing from nowhere", "--output",
           out.string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("导出失败: SQl语句有问题,如下:\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("错误信息: 错误的SQL语句如下:\nselect nothing from nowhere\n\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Slurp(out), before);
}

}  // namespace
