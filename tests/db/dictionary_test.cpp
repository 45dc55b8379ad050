// The dictionary of one read: each statement reaches the database once, and
// the answers are forgotten when the read ends and when its connection
// changes the schema. No clocks: the only signals are the read's end and
// the connection's own schema-changing statements.

#include <map>

#include "db/dictionary.h"
#include "db_fixture.h"
#include "support/query.h"

namespace xb::db::test {
namespace {

struct CountingLog : StatementLog {
  int sent_count = 0;
  void sent(const std::string&) override { ++sent_count; }
};

class DictionaryTest : public DbFolder {
 protected:
  void SetUp() override {
    DbFolder::SetUp();
    session_.myconnection.setConnectionString(ConnectionString(db_path_));
    Run(session_.myconnection, "create table ZORVAT (AA varchar2(10), BB number)");
    session_.myconnection.setStatementLog(&log_);
  }
  static void Run(Connection& connection, const std::string& sql) {
    xb::test::Execute(connection, sql);
  }
  std::string Type(Dictionary& dictionary, const std::string& column) {
    return dictionary
        .ask("select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='" +
             column + "'")
        .text();
  }

  DbSession session_;
  CountingLog log_;
};

TEST_F(DictionaryTest, EachStatementIsSentOnceARead) {
  Dictionary dictionary(session_.init);
  {
    Dictionary::Read read(dictionary);
    for (int row = 0; row < 100; ++row) {
      EXPECT_EQ(Type(dictionary, "AA"), "VARCHAR2");
      EXPECT_EQ(Type(dictionary, "BB"), "NUMBER");
      EXPECT_EQ(Type(dictionary, "CC"), "");  // no row: empty, and remembered too
    }
    EXPECT_EQ(log_.sent_count, 3);
    EXPECT_EQ(dictionary.asked(), 3);
  }
  // The next read asks again.
  Dictionary::Read read(dictionary);
  EXPECT_EQ(Type(dictionary, "AA"), "VARCHAR2");
  EXPECT_EQ(log_.sent_count, 4);
}

// Asked through slots (the loader's way), the answers and the statements
// sent are the same: once a read, again after a schema change made through
// the connection and after the read ends.
TEST_F(DictionaryTest, SlotsAnswerAsTheTextDoes) {
  Dictionary dictionary(session_.init);
  std::map<std::string, Dictionary::Slot> slots;
  auto type = [&](const std::string& column) {
    return dictionary
        .ask("select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='" +
                 column + "'",
             slots[column])
        .text();
  };
  {
    Dictionary::Read read(dictionary);
    for (int row = 0; row < 100; ++row) {
      EXPECT_EQ(type("AA"), "VARCHAR2");
      EXPECT_EQ(type("CC"), "");
    }
    EXPECT_EQ(log_.sent_count, 2);
    Run(session_.myconnection, "alter table ZORVAT add column CC date");
    EXPECT_EQ(type("CC"), "DATE");
    EXPECT_EQ(type("AA"), "VARCHAR2");
    EXPECT_EQ(Type(dictionary, "AA"), "VARCHAR2");  // the text alone finds the same answer
    EXPECT_EQ(log_.sent_count, 5);                  // the alter table, and the two types again
  }
  Dictionary::Read read(dictionary);
  EXPECT_EQ(type("AA"), "VARCHAR2");  // a slot of the last read: asked again
  EXPECT_EQ(log_.sent_count, 6);
}

TEST_F(DictionaryTest, ASchemaChangeOfItsConnectionIsSeenAtOnce) {
  Dictionary dictionary(session_.init);
  Dictionary::Read read(dictionary);
  EXPECT_EQ(Type(dictionary, "CC"), "");
  // Through the other query of the same connection: seen at once.
  session_.exe.setSql("alter table ZORVAT add column CC date");
  session_.exe.execute();
  EXPECT_EQ(Type(dictionary, "CC"), "DATE");
  // Data statements leave the answers in place.
  int sent = log_.sent_count;
  Run(session_.myconnection, "update ZORVAT set BB = 1");
  EXPECT_EQ(Type(dictionary, "CC"), "DATE");
  EXPECT_EQ(log_.sent_count, sent + 1);  // the update only
  // A failed statement other than a data statement counts too: it may have
  // changed part of the schema.
  Query q(session_.myconnection);
  q.setSql("create table ZORVAT (x)");
  EXPECT_THROW(q.execute(), DbError);
  sent = log_.sent_count;
  Type(dictionary, "CC");
  EXPECT_EQ(log_.sent_count, sent + 1);
  // So does closing: opened again, the connection may reach another database.
  session_.myconnection.close();
  Type(dictionary, "CC");
  EXPECT_EQ(log_.sent_count, sent + 2);
}

// Another connection is as another program: its change is seen from the
// next read on, and a count of its own never moves this one's.
TEST_F(DictionaryTest, AnotherConnectionsChangeIsSeenByTheNextRead) {
  Dictionary dictionary(session_.init);
  {
    Dictionary::Read read(dictionary);
    EXPECT_EQ(Type(dictionary, "CC"), "");
    Connection other;
    other.setConnectionString(ConnectionString(db_path_));
    const uint64_t before = session_.myconnection.schemaChanges();
    Run(other, "alter table ZORVAT add column CC date");
    EXPECT_EQ(session_.myconnection.schemaChanges(), before);
    EXPECT_EQ(Type(dictionary, "CC"), "");
  }
  Dictionary::Read read(dictionary);
  EXPECT_EQ(Type(dictionary, "CC"), "DATE");
}

}  // namespace
}  // namespace xb::db::test
