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

// The boxes are the fronts' (checked in the window's and the command
// line's tests); here what the core does: connects, or fails and says how.
TEST_F(Connect, TheConnectionTestSaysHowItEndedAndClosesFirst) {
  DbSession session;
  EXPECT_EQ(TestConnection(session, {db_path_, "u", "p"}), ConnectionTestOutcome::Connected);
  EXPECT_TRUE(session.myconnection.isOpen());

  EXPECT_EQ(TestConnection(session, {(dir_ / "nothere").string(), "u", "p"}),
            ConnectionTestOutcome::Failed);
  EXPECT_FALSE(session.myconnection.isOpen());
  EXPECT_EQ(session.myconnection.connectionString(),
            "Provider=MSDAORA.1;password=p;user id=u;data source=" + (dir_ / "nothere").string() +
                ";Persist Security Info=True");
}

}  // namespace
}  // namespace xb::db::test
