#include "db/connection_test.h"
#include "db/errors.h"
#include "db_fixture.h"

namespace xb::db::test {
namespace {

TEST(ConnectionString, PlainValuesStandAsTyped) {
  EXPECT_EQ(BuildConnectionString({"ORCL", "scott", "tiger"}),
            "Provider=MSDAORA.1;password=tiger;user id=scott;data source=ORCL;Persist Security "
            "Info=True");
  EXPECT_EQ(BuildConnectionString({"", "", ""}),
            "Provider=MSDAORA.1;password=;user id=;data source=;Persist Security Info=True");
}

TEST(ConnectionString, ValuesThatCouldChangeItsMeaningParseBackExactly) {
  const char* values[] = {"ti;ger}=x", "a=b",    "\"quoted\"", "it's", "{braced}",
                          " lead",     "trail ", "密码;",      ""};
  for (const char* v : values) {
    const auto parsed = ParseConnectionString(BuildConnectionString({v, v, v}));
    EXPECT_EQ(parsed.at("password"), v);
    EXPECT_EQ(parsed.at("user id"), v);
    EXPECT_EQ(parsed.at("data source"), v);
    EXPECT_EQ(parsed.at("provider"), "MSDAORA.1");
    EXPECT_EQ(parsed.size(), 5u) << v;
  }
  EXPECT_THROW(ParseConnectionString("password=\"open"), DbError);
}

TEST(ConnectionString, OdbcValuesGoInBracesWithBracesDoubled) {
  EXPECT_EQ(BuildOdbcConnectString("XBTEST", "scott", "tiger"), "DSN=XBTEST;UID=scott;PWD=tiger;");
  EXPECT_EQ(BuildOdbcConnectString("XBTEST", "scott", "ti;ger}=x"),
            "DSN=XBTEST;UID=scott;PWD={ti;ger}}=x};");
}

class Connect : public DbFolder {};

TEST_F(Connect, AnOdbcPasswordWithSeparatorsStillLogsIn) {
  if (!HaveOdbcDriver()) GTEST_SKIP() << "the SQLite ODBC driver (libsqliteodbc) is not installed";
  Connection c;
  c.setConnectionString(ConnectionString("XBTEST", "ti;ger}=x"));
  EXPECT_NO_THROW(c.open());
  EXPECT_TRUE(c.isOpen());
}

TEST_F(Connect, AMissingFileIsAFailureAndIsNeverCreated) {
  const std::string missing = (dir_ / "typo.sqlite").string();
  Connection c;
  c.setConnectionString(ConnectionString(missing));
  EXPECT_THROW(c.open(), DbError);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(c.isOpen());
}

TEST_F(Connect, AliasesLeadToTheirTargetRelativeToTheAliasFile) {
  std::ofstream(dir_ / "aliases.ini")
      << "; test aliases\n[Demo]\nengine=sqlite\ntarget=db.sqlite\n";
  Connection c;
  c.setConnectionString(ConnectionString("DEMO"));
  c.open();
  Query q(c);
  q.setSql("select count(*) from user_tables");
  q.open();
  EXPECT_EQ(q.fieldInt(0), 0);
  EXPECT_THROW(c.setConnectionString("x"), DbError);  // only while closed
}

// The operator side of the test is checked in the window's tests; here only
// what the core does: a silent false on failure, one box on success.
struct CountingOperator : Operator {
  std::vector<MessageBox> boxes;
  Answer showMessage(const MessageBox& box) override {
    boxes.push_back(box);
    return Answer::Ok;
  }
  OverwriteAnswer askOverwrite(const std::string&) override { return OverwriteAnswer::Abort; }
  std::optional<std::string> chooseWorkbook() override { return std::nullopt; }
  SilentProgress no_progress;
  ProgressSink& progress() override { return no_progress; }
  void letPendingMessagesRun() override {}
};

TEST_F(Connect, TheConnectionTestReportsSuccessOnlyAndClosesFirst) {
  DbSession session;
  CountingOperator op;
  EXPECT_TRUE(TestConnection(session, op, {db_path_, "u", "p"}));
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].text, "当前数据库联系成功!");
  EXPECT_EQ(op.boxes[0].caption, "提示信息");
  EXPECT_EQ(op.boxes[0].icon, Icon::Information);
  EXPECT_EQ(op.boxes[0].modality, Modality::Owned);

  EXPECT_FALSE(TestConnection(session, op, {(dir_ / "nothere").string(), "u", "p"}));
  EXPECT_EQ(op.boxes.size(), 1u);
  EXPECT_FALSE(session.myconnection.isOpen());
  EXPECT_EQ(session.myconnection.connectionString(),
            "Provider=MSDAORA.1;password=p;user id=u;data source=" + (dir_ / "nothere").string() +
                ";Persist Security Info=True");
}

}  // namespace
}  // namespace xb::db::test
