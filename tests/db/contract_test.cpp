// The connection and query contract, run against every registered engine:
// the sqlite engine on a SQLite file, the odbc engine through unixODBC and
// the SQLite ODBC driver on the same kind of file, the postgres engine on
// the run's private server. Each engine's fixture holds its quirks; an
// engine this suite has no test database for is skipped, saying so.

#include "db/errors.h"
#include "db/registry.h"
#include "db_fixture.h"
#include "pg_cluster.h"

namespace xb::db::test {
namespace {

// One engine in the suite: how a fresh, empty test database of it is had
// here, and what it cannot do. The shared test bodies ask this, never the
// engine's name.
class EngineUnderTest {
 public:
  virtual ~EngineUnderTest() = default;
  // The connection string of the test's database (the folder's SQLite file
  // db_path and its DSN XBTEST are there for engines that use them); empty,
  // with *skip saying why, when this machine has none.
  virtual std::string Prepare(const std::string& db_path, std::string* skip) = 0;
  // Why a NUMBER of more digits than a double holds is not kept whole;
  // nullopt when it is.
  virtual std::optional<std::string> LongNumbersLost() const { return std::nullopt; }
};

class SqliteUnderTest : public EngineUnderTest {
 public:
  std::string Prepare(const std::string& db_path, std::string*) override {
    return BuildConnectionString({db_path, "scott", ""});
  }
};

// The SQLite ODBC driver on a SQLite file of the folder.
class OdbcUnderTest : public EngineUnderTest {
 public:
  std::string Prepare(const std::string&, std::string* skip) override {
    if (!fs::exists(XB_SQLITE_ODBC_DRIVER)) {
      *skip = "the SQLite ODBC driver (libsqliteodbc) is not installed: odbc engine not tested";
      return {};
    }
    return BuildConnectionString({"XBTEST", "scott", ""});
  }
  std::optional<std::string> LongNumbersLost() const override {
    return "the SQLite ODBC driver stores a NUMBER as SQLite's affinity makes it (a double)";
  }
};

// A role of its own on the run's private server (tests/support/pg_cluster.h).
class PostgresUnderTest : public EngineUnderTest {
 public:
  std::string Prepare(const std::string&, std::string* skip) override {
    std::string why;
    const auto* cluster = xb::test::SharedPgCluster(&why);
    if (!cluster) {
      *skip = "*** " + why;
      return {};
    }
    database_ = std::make_unique<xb::test::PgDatabase>(*cluster);
    return BuildConnectionString({database_->Uri(), database_->user(), database_->password()});
  }

 private:
  std::unique_ptr<xb::test::PgDatabase> database_;
};

// An engine this suite has no database of its own for: $XB_TEST_<name>_SOURCE.
class ElsewhereUnderTest : public EngineUnderTest {
 public:
  explicit ElsewhereUnderTest(std::string engine) : engine_(std::move(engine)) {}
  std::string Prepare(const std::string&, std::string* skip) override {
    const char* source = std::getenv(("XB_TEST_" + engine_ + "_SOURCE").c_str());
    if (!source || !*source) {
      *skip = "no test database for the engine " + engine_;
      return {};
    }
    return BuildConnectionString({source, "scott", ""});
  }

 private:
  std::string engine_;
};

std::unique_ptr<EngineUnderTest> UnderTest(const std::string& engine) {
  if (engine == "sqlite") return std::make_unique<SqliteUnderTest>();
  if (engine == "odbc") return std::make_unique<OdbcUnderTest>();
  if (engine == "postgres") return std::make_unique<PostgresUnderTest>();
  return std::make_unique<ElsewhereUnderTest>(engine);
}

class Contract : public DbFolder, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    engine_ = UnderTest(GetParam());
    std::string skip;
    const std::string connection_string = engine_->Prepare(db_path_, &skip);
    if (connection_string.empty()) GTEST_SKIP() << skip;
    session_.myconnection.setConnectionString(connection_string);
    Run("create table T (K varchar2(10) primary key, V varchar2(200))");
  }

  void Run(const std::string& sql) {
    session_.exe.close();
    session_.exe.setSql(sql);
    session_.exe.execute();
  }
  long long Count() {
    session_.init.close();
    session_.init.setSql("select count(*) from T");
    session_.init.open();
    return session_.init.fieldInt(0);
  }

  std::unique_ptr<EngineUnderTest> engine_;  // declared first: its database outlives the session
  DbSession session_;
};

TEST_P(Contract, RowsAreWalkedFromTheFirstAgainAndAgain) {
  Run("insert into T values ('a', 'one')");
  Run("insert into T values ('b', null)");
  Query& q = session_.init;
  q.setSql("select K, V\nfrom T\norder by K");
  q.open();
  ASSERT_EQ(q.fieldCount(), 2);
  EXPECT_EQ(q.fieldName(0), "K");
  for (int pass = 0; pass < 2; ++pass) {
    q.first();
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(q.fieldText(0), "a");
    EXPECT_EQ(q.fieldText(1), "one");
    q.next();
    EXPECT_EQ(q.fieldText(0), "b");
    EXPECT_EQ(q.fieldText(1), "");
    EXPECT_TRUE(q.fieldIsNull(1));
    q.next();
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.fieldText(0), "");  // no current row: empty text
  }

  q.close();
  q.setSql("select K from T where K = 'none'");
  q.open();
  EXPECT_TRUE(q.eof());
  EXPECT_EQ(q.fieldText(0), "");
  EXPECT_EQ(q.fieldInt(0), 0);
}

TEST_P(Contract, AClosedConnectionReopensWithTheLastString) {
  Run("insert into T values ('a', 'x')");
  session_.myconnection.close();
  EXPECT_FALSE(session_.myconnection.isOpen());
  EXPECT_EQ(Count(), 1);
  EXPECT_TRUE(session_.myconnection.isOpen());
}

TEST_P(Contract, TransactionsCommitRollBackAndCloseRollsBack) {
  auto& c = session_.myconnection;
  c.beginTransaction();
  Run("insert into T values ('a', 'kept')");
  c.commitTransaction();
  c.beginTransaction();
  Run("insert into T values ('b', 'dropped')");
  c.rollbackTransaction();
  EXPECT_EQ(Count(), 1);

  c.beginTransaction();
  Run("insert into T values ('c', 'dropped by close')");
  EXPECT_THROW(c.beginTransaction(), DbError);  // never nested
  c.close();
  EXPECT_FALSE(c.inTransaction());
  EXPECT_EQ(Count(), 1);
}

TEST_P(Contract, ASecondStatementIsRefusedAndNothingRuns) {
  Run("insert into T values ('a', 'x')");
  session_.exe.setSql("delete from T; drop table T");
  EXPECT_THROW(session_.exe.execute(), DbError);
  session_.exe.setSql("delete from T where V = ';' ; -- a comment\r\ndelete from T");
  EXPECT_THROW(session_.exe.execute(), DbError);
  EXPECT_EQ(Count(), 1);
  // Inside quotes and comments a ';' is only text.
  Run("insert into T values ('b', 'x;y')");
  EXPECT_EQ(Count(), 2);
}

TEST_P(Contract, FailuresCarryTheDatabaseMessage) {
  session_.init.setSql("select * from NO_SUCH_TABLE");
  try {
    session_.init.open();
    FAIL() << "no error";
  } catch (const DbError& e) {
    EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
  }
  // An update that touches no row is no failure.
  EXPECT_NO_THROW(Run("update T set V = 'z' where K = 'nobody'"));
  // Opening a statement without rows runs it, then fails.
  session_.init.setSql("insert into T values ('q', 'opened')");
  EXPECT_THROW(session_.init.open(), DbError);
  EXPECT_EQ(Count(), 1);
}

TEST_P(Contract, LongAndNonAsciiValuesComeBackWhole) {
  const std::string chinese = "zorvat测试";
  const std::string long_text(20000, 'x');
  Run("create table L (V text)");
  Run("insert into L values ('" + chinese + "')");
  Run("insert into L values ('" + long_text + "')");
  Run("insert into L values ('a\r\nb')");
  session_.init.setSql("select V from L");
  session_.init.open();
  EXPECT_EQ(session_.init.fieldText(0), chinese);
  session_.init.next();
  EXPECT_EQ(session_.init.fieldText(0), long_text);
  session_.init.next();
  // A line break inside a quoted value reaches the database as CR LF.
  EXPECT_EQ(session_.init.fieldText(0), "a\r\nb");
}

// Bound values arrive as they are, whatever they hold, and one prepared
// statement serves every row.
TEST_P(Contract, BoundValuesAreStoredAsTheyAreAndStatementsAreReused) {
  const std::string nasty = "x\\'); drop table T; -- \\' \" ; /* */";
  Query& q = session_.exe;
  const std::string insert = "insert into T(K,V) values(?,?)";
  q.setStatement("insert into T(K,V) values('1','<shown>')", insert,
                 {Value::Of("1"), Value::Of(nasty)});
  q.execute();
  q.setStatement("insert into T(K,V) values('2',null)", insert, {Value::Of("2"), Value::Null()});
  q.execute();
  Statement& first = session_.myconnection.prepared(insert);
  q.setStatement("insert into T(K,V) values('3','')", insert,
                 {Value::Of("3"), Value::Of(std::string())});
  q.execute();
  EXPECT_EQ(&session_.myconnection.prepared(insert), &first);
  EXPECT_EQ(Count(), 3);
  Query& r = session_.init;
  r.setStatement("select V from T where K='1'", "select V from T where K=?", {Value::Of("1")});
  r.open();
  EXPECT_EQ(r.fieldText(0), nasty);
  r.setStatement("select V from T where K='2'", "select V from T where K=?", {Value::Of("2")});
  r.open();
  EXPECT_TRUE(r.fieldIsNull(0));
  // Too few values never run.
  q.setStatement("insert into T(K,V) values('4')", insert, {Value::Of("4")});
  EXPECT_THROW(q.execute(), DbError);
  EXPECT_EQ(Count(), 3);
}

// A NUMBER keeps every digit it is given, up to 38, written into the text
// or bound as a number value (never through a double), and compares exactly.
TEST_P(Contract, LongNumbersKeepEveryDigit) {
  if (const auto why = engine_->LongNumbersLost()) GTEST_SKIP() << *why << ": not tested";
  const std::string k20 = "12345678901234567890", k38 = "12345678901234567890123456789012345678";
  Run("create table NUM (K number primary key, V number)");
  Run("insert into NUM (K, V) values ('" + k20 + "', '0.1234567890123456789')");
  Query& q = session_.exe;
  q.setStatement("", "insert into NUM (K, V) values (?, ?)",
                 {Value::NumberOf(k38), Value::NumberOf("12345678901234567")});
  q.execute();
  q.setStatement("", "update NUM set V=? where K=?",
                 {Value::NumberOf("-" + k20), Value::NumberOf(k38)});
  q.execute();
  Query& r = session_.init;
  r.setSql("select K, V from NUM order by K");
  r.open();
  std::string rows;
  for (r.first(); !r.eof(); r.next()) rows += r.fieldText(0) + " " + r.fieldText(1) + "\n";
  EXPECT_EQ(rows, k20 + " 0.1234567890123456789\n" + k38 + " -" + k20 + "\n");
  r.setSql("select count(*) from NUM where K = " + k20 + " or K = to_number('" + k38 + "')");
  r.open();
  EXPECT_EQ(r.fieldText(0), "2");
}

// A statement whose Oracle text is made on demand: an engine that binds
// never needs it, nor does an unwatched run; shown, logged or sent as text,
// it is made once and is exactly what the maker gives.
TEST_P(Contract, StatementTextIsMadeOnlyWhenAsked) {
  struct Log : StatementLog {
    std::vector<std::string> sent_texts;
    void sent(const std::string& sql) override { sent_texts.push_back(sql); }
  } log;
  Query& q = session_.exe;
  const std::string insert = "insert into T(K,V) values(?,?)";
  int made = 0;
  auto maker = [&made](const std::string& key) {
    return [&made, key] {
      ++made;
      return "insert into T(K,V) values('" + key + "','v')";
    };
  };
  const bool binds = session_.myconnection.engine().binds();
  q.setStatement(maker("1"), insert, {Value::Of("1"), Value::Of("v")});
  q.execute();
  EXPECT_EQ(made, binds ? 0 : 1);
  EXPECT_EQ(q.sql(), "insert into T(K,V) values('1','v')\r\n");
  EXPECT_EQ(q.lines(), std::vector<std::string>{"insert into T(K,V) values('1','v')"});
  EXPECT_EQ(made, 1);

  session_.myconnection.setStatementLog(&log);
  q.setStatement(maker("2"), insert, {Value::Of("2"), Value::Of("v")});
  q.execute();
  session_.myconnection.setStatementLog(nullptr);
  EXPECT_EQ(log.sent_texts, std::vector<std::string>{"insert into T(K,V) values('2','v')\r\n"});
  EXPECT_EQ(made, 2);

  // Replaced before anything asked: never made.
  q.setStatement(maker("3"), insert, {Value::Of("3"), Value::Of("v")});
  q.setSql("select count(*) from T");
  EXPECT_EQ(q.sql(), "select count(*) from T\r\n");
  q.setStatement(maker("4"), insert, {Value::Of("4"), Value::Of("v")});
  q.setStatement("insert into T(K,V) values('5','v')", insert, {Value::Of("5"), Value::Of("v")});
  EXPECT_EQ(q.sql(), "insert into T(K,V) values('5','v')\r\n");
  EXPECT_EQ(made, 2);
  EXPECT_EQ(Count(), 2);
}

// A forward query reads its rows as it goes and cannot go back.
TEST_P(Contract, ForwardQueriesStreamOnce) {
  for (int i = 0; i < 50; ++i)
    Run("insert into T values ('k" + std::to_string(100 + i) + "', 'v')");
  Query& q = session_.init;
  q.setSql("select K from T order by K");
  q.open(Scroll::Forward);
  q.first();  // still on the first row: allowed
  int rows = 0;
  for (; !q.eof(); q.next()) {
    EXPECT_EQ(q.fieldText(0), "k" + std::to_string(100 + rows));
    ++rows;
  }
  EXPECT_EQ(rows, 50);
  EXPECT_EQ(q.fieldText(0), "");
  EXPECT_THROW(q.first(), DbError);
  // Closing the connection ends the cursor too.
  q.open(Scroll::Forward);
  session_.myconnection.close();
  EXPECT_FALSE(q.isOpen());
  EXPECT_TRUE(q.eof());
}

// A result of many rows comes back whole and in order, NULLs and values
// longer than any buffer an engine keeps for a value included, wherever
// they fall among the rows an engine fetches together; read through a
// statement's text and through a prepared statement alike.
TEST_P(Contract, ManyRowsComeBackWholeWhereverLongValuesAndNullsFall) {
  constexpr int kRows = 9000;
  auto value_of = [](int k) -> std::optional<std::string> {
    if (k % 7 == 0) return std::nullopt;
    if (k % 5 == 0 || k % 1000 == 999) {
      std::string text = std::to_string(k) + ":";
      while (text.size() < 300 + static_cast<size_t>(k % 97)) text += "测x";
      return text;
    }
    return "v" + std::to_string(k);
  };
  Run("create table B (K number primary key, V text)");
  session_.myconnection.beginTransaction();
  Query& q = session_.exe;
  for (int k = 0; k < kRows; ++k) {
    const auto v = value_of(k);
    q.setStatement("", "insert into B (K, V) values (?, ?)",
                   {Value::Of(static_cast<long long>(k)), v ? Value::Of(*v) : Value::Null()});
    q.execute();
  }
  session_.myconnection.commitTransaction();

  Query& r = session_.init;
  for (const bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "prepared" : "text");
    if (prepared)
      r.setStatement("select K, V from B where K >= 0 order by K",
                     "select K, V from B where K >= ? order by K", {Value::Of(0LL)});
    else
      r.setSql("select K, V from B order by K");
    r.open(Scroll::Forward);
    int k = 0;
    for (; !r.eof(); r.next(), ++k) {
      ASSERT_EQ(r.fieldText(0), std::to_string(k));
      const auto v = value_of(k);
      ASSERT_EQ(r.fieldIsNull(1), !v) << "row " << k;
      if (v) {
        ASSERT_EQ(r.fieldText(1), *v) << "row " << k;
      }
    }
    EXPECT_EQ(k, kRows);
    r.close();
  }
}

std::vector<std::string> RegisteredEngines() { return Registry::instance().names(); }

INSTANTIATE_TEST_SUITE_P(Engines, Contract, ::testing::ValuesIn(RegisteredEngines()),
                         [](const auto& info) { return info.param; });

TEST(QueryText, HeldAsLinesAndSentWithCrLf) {
  Connection connection;
  Query q(connection);
  q.setSql("select a\rfrom t\nwhere x = 1\r\n\r\norder by a");
  EXPECT_EQ(q.lines(),
            (std::vector<std::string>{"select a", "from t", "where x = 1", "", "order by a"}));
  EXPECT_EQ(q.sql(), "select a\r\nfrom t\r\nwhere x = 1\r\n\r\norder by a\r\n");
  q.setSql("");
  EXPECT_EQ(q.sql(), "");
  EXPECT_FALSE(q.isOpen());
}

}  // namespace
}  // namespace xb::db::test
