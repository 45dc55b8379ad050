// What xlsbridge-cli tells the operator: settled overwrite prompts and their
// answers on stderr, every row-returning statement printed by `sql`, and
// the progress line that only a terminal gets.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/progress_line.h"
#include "cli/script.h"
#include "cli/terminal_operator.h"
#include "support/cli.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using Outcome = xb::test::CliOutcome;

class CliBoxes : public ::testing::Test {
 protected:
  void SetUp() override {
    xb::test::UsePrivateSettings(env_, dir_);
    db_ = dir_.file("db.sqlite");
    std::ofstream(db_).close();
  }

  // stdin, stdout and stderr are files: no terminal anywhere.
  Outcome Run(std::vector<std::string> args) { return xb::test::RunCli(std::move(args)); }
  Outcome Sql(const std::string& statement) {
    return Run({"sql", "--data-source", db_, statement});
  }
  Outcome Script(const std::string& text) {
    std::ofstream(dir_.file("s.sql")) << text;
    return Run({"sql", "--data-source", db_, "--file", dir_.file("s.sql")});
  }
  static std::string Fixture(const std::string& name) {
    return std::string(XB_TEST_DATA) + "/cli/" + name;
  }

  xb::test::TempDir dir_;
  xb::test::ScopedEnv env_;
  std::string db_;
};

TEST_F(CliBoxes, SettledOverwritePromptAndItsAnswerGoToStderr) {
  ASSERT_EQ(Script("create table ZORVAT (AA varchar2(10) primary key, BB number, CC date, SEQ_NN "
                   "number, DD number);\n"
                   "create sequence SEQ_TBXH;\n")
                .exit_code,
            0);
  ASSERT_EQ(Run({"import", "--data-source", db_, Fixture("zorvat3.xls")}).exit_code, 0);
  // No terminal: the default answer is Abort, and the run says why it stopped.
  const auto r = Run({"import", "--data-source", db_, Fixture("zorvat3b.xls")});
  EXPECT_EQ(r.exit_code, 1);
  const std::string prompt =
      "Confirm: "
      "数据库中已经有这条记录的信息内容如下:\n'1','33','2003-08-01'\n要更新的数据内容如下:\n";
  const auto at = r.err.find(prompt);
  ASSERT_NE(at, std::string::npos) << r.err;
  const auto answer = r.err.find("\n\u2192 Abort\n\n", at);
  EXPECT_NE(answer, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Confirm:", at + 1), std::string::npos) << "one prompt only: " << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(r.err.find('\033'), std::string::npos) << "no progress line without a terminal";
}

TEST(TerminalOperatorTest, EverySettledAnswerIsNamed) {
  const std::pair<xb::cli::ExistingPolicy, const char*> cases[] = {
      {xb::cli::ExistingPolicy::Yes, "Yes"},
      {xb::cli::ExistingPolicy::Ignore, "Ignore"},
      {xb::cli::ExistingPolicy::All, "All"},
      {xb::cli::ExistingPolicy::Abort, "Abort"}};
  for (const auto& [policy, name] : cases) {
    std::ostringstream err, out;
    std::istringstream in;
    xb::cli::TerminalOperator op(err, out, in);
    op.setExistingPolicy(policy);
    op.askOverwrite("line 1\rline 2");
    EXPECT_EQ(err.str(), std::string("Confirm: line 1\nline 2\n\u2192 ") + name + "\n\n");
    EXPECT_TRUE(out.str().empty());
  }
}

TEST_F(CliBoxes, SqlPrintsEveryStatementThatReturnsRows) {
  auto r = Sql("pragma integrity_check");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "INTEGRITY_CHECK\nok\n");
  r = Sql("values (1, 'a')");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "1\ta\n");
  // A statement opened as a query that returns no rows is still carried out.
  r = Sql("pragma user_version = 7");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Sql("pragma user_version").out, "USER_VERSION\n7\n");
  ASSERT_EQ(Sql("create table T (A number)").exit_code, 0);
  r = Sql("insert into T values (5) returning A");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "A\n5\n");
}

TEST_F(CliBoxes, QQuotedTextIsOneLiteral) {
  auto r = Sql("select q'[a;b]' as X, Q'{it's}' as Y, nq'!;!' as Z from dual");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "X\tY\tZ\na;b\tit's\t;\n");
  // In a script a ';' at the end of a line inside q'[...]' ends nothing.
  r = Script(
      "create table T (S varchar2(40));\ninsert into T values (q'[x;\ny']');\nselect S from T;\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "S\nx;\\r\\ny'\n");  // lines are sent with CR LF
  // A real second statement is still refused.
  r = Sql("select q'[a]' from dual; select 2 from dual");
  EXPECT_EQ(r.exit_code, 1);
}

TEST(ScriptTest, SplitsAroundQQuotedText) {
  EXPECT_EQ(xb::cli::SplitScript("select q'(a;\n)' from dual;\nselect 2 from dual;\n"),
            (std::vector<std::string>{"select q'(a;\n)' from dual", "select 2 from dual"}));
  EXPECT_EQ(xb::cli::SplitScript("select 'q' from dual;\nselect 3 from dual;"),
            (std::vector<std::string>{"select 'q' from dual", "select 3 from dual"}));
  EXPECT_TRUE(xb::cli::ReturnsRows("pragma integrity_check"));
  EXPECT_TRUE(xb::cli::ReturnsRows("delete from t returning a"));
  EXPECT_FALSE(xb::cli::ReturnsRows("delete from t where s = 'returning'"));
  EXPECT_FALSE(xb::cli::ReturnsRows("update t set returning_x = 1"));
}

// A clock the test moves by hand.
struct FakeClock {
  std::chrono::steady_clock::time_point now{};
  xb::cli::ProgressLine::Clock fn() {
    return [this] { return now; };
  }
};

TEST(ProgressLineTest, AtMostTenRedrawsASecondAndErasedWhenDone) {
  FakeClock clock;
  std::ostringstream err;
  {
    xb::cli::ProgressLine line(err, true, clock.fn());
    // 2000 rows over two seconds, one every millisecond.
    for (int i = 1; i <= 2000; ++i) {
      line.update(i, 2000);
      clock.now += std::chrono::milliseconds(1);
    }
    const std::string drawn = err.str();
    size_t redraws = 0;
    for (size_t at = drawn.find("\r\033[K"); at != std::string::npos;
         at = drawn.find("\r\033[K", at + 1))
      ++redraws;
    EXPECT_GE(redraws, 15u);
    EXPECT_LE(redraws, 20u);
    EXPECT_NE(drawn.find("/2000 行"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("2000 行  100"), std::string::npos) << drawn;  // about 1000 a second
    line.update(0, 0);                                                  // the run is over
    EXPECT_EQ(err.str().substr(err.str().size() - 4), "\r\033[K");
  }
  // Off (stderr no terminal): not a byte.
  std::ostringstream quiet;
  xb::cli::ProgressLine off(quiet, false, clock.fn());
  for (int i = 1; i <= 100; ++i) {
    off.update(i, 100);
    clock.now += std::chrono::milliseconds(50);
  }
  off.update(0, 0);
  EXPECT_TRUE(quiet.str().empty());
}

TEST(ProgressLineTest, BoxesErasePartialLineAndRowsCountAsRows) {
  FakeClock clock;
  std::ostringstream err, out;
  std::istringstream in;
  xb::cli::TerminalOperator op(err, out, in, true, clock.fn());
  // The workbook read: sheet rows 4..13 of a bound of 14 are ten data rows.
  xb::ProgressSink& progress = op.progress();
  progress.start(0, 14);
  for (int row = 4; row < 14; ++row) {
    progress.advance(row);
    clock.now += std::chrono::milliseconds(150);
  }
  EXPECT_NE(err.str().find("\r\033[K10/10 行"), std::string::npos) << err.str();
  xb::MessageBox box;
  box.caption = "提示信息";
  box.text = "done";
  op.showMessage(box);
  EXPECT_NE(err.str().find("\r\033[K提示信息: done\n\n"), std::string::npos) << err.str();
}

}  // namespace
