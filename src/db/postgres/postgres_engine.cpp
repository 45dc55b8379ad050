// The postgres engine. Each statement is translated (translate.h) and sent
// with its values bound: data statements are prepared once per shape and
// re-run, batches go in one pipeline (pipeline.h), a query's rows stream
// (cursors.h), and every wait for the server has a limit (session.h). The
// dictionary views and dual are read in place (catalog.h), so read-only
// roles and standbys can export.
// A statement that fails inside a transaction spoils the whole transaction,
// as PostgreSQL has it (Oracle would undo the one statement): the import
// rolls back after any failure anyway, and a commit that the server turns
// into a rollback is reported as a failure, never taken for a success.
// Undoing single statements with a savepoint each would cost the server a
// subtransaction per statement: the import ran half again as long.

#include "db/postgres/postgres_engine.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "db/errors.h"
#include "db/postgres/catalog.h"
#include "db/postgres/cursors.h"
#include "db/postgres/pipeline.h"
#include "db/postgres/session.h"
#include "db/postgres/translate.h"
#include "db/registry.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

using postgres::ColumnType;
using postgres::kCommitUnknown;
using postgres::kConnectionLost;
using postgres::kNameRulesQuery;
using postgres::NameRules;
using postgres::Ok;
using postgres::PgCursor;
using postgres::PgPrepared;
using postgres::PgStatement;
using postgres::PgTableName;
using postgres::Pipeline;
using postgres::Result;
using postgres::ServerMessage;
using postgres::Session;
using postgres::SqlState;
using postgres::StreamRows;
using postgres::TranslateOracle;

class PostgresEngine : public Engine {
 public:
  explicit PostgresEngine(const EngineTarget& target) : session_(target) {
    session_.onNewSession([this] {
      pipeline_.Forget();
      ForgetSchema();
      names_stale_ = true;
    });
  }

  std::string name() const override { return "postgres"; }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    const PgStatement statement = Translate(sql, false);
    session_.EnsureConnected();
    session_.Settle();
    if (statement.schema_change) ForgetSchema();
    return StreamRows(session_, statement);
  }

  void execute(const std::string& sql) override { pipeline_.Run(Translate(sql, false), nullptr); }

  std::unique_ptr<Statement> prepare(const std::string& sql) override {
    return std::make_unique<PgPrepared>(pipeline_, Translate(sql, true));
  }

  void executeBatch(const std::vector<BatchItem>& items) override {
    // One sync per thousand statements: their results (a few dozen bytes
    // each) fit the socket's buffers while the rest is still being sent.
    constexpr size_t kPerSync = 1000;
    for (size_t from = 0; from < items.size(); from += kPerSync)
      pipeline_.RunPipelined(items, from, std::min(items.size(), from + kPerSync));
  }

  bool pipelinesQueries() const override { return true; }

  std::vector<ResultRows> queryBatch(const std::vector<BatchItem>& items) override {
    constexpr size_t kPerSync = 1000;
    std::vector<ResultRows> rows(items.size());
    std::vector<Result> results;
    for (size_t from = 0; from < items.size(); from += kPerSync) {
      const size_t to = std::min(items.size(), from + kPerSync);
      pipeline_.RunPipelined(items, from, to, &results);
      for (size_t k = 0; k < results.size(); ++k) {
        if (!results[k])
          throw BatchError(from + k, DbError("the statement returns no rows to open"));
        PgCursor cursor(std::move(results[k]));
        rows[from + k] = AllRows(cursor);
      }
    }
    return rows;
  }

  std::optional<std::vector<bool>> returnsRows(
      Statement& statement, const std::vector<std::vector<Value>>& runs) override {
    const auto* own = dynamic_cast<const PgPrepared*>(&statement);
    if (!own || !own->statement().data || own->parameterCount() == 0) return std::nullopt;
    return pipeline_.RowsReturned(own->statement(), runs);
  }

  void lockTable(const std::string& table) override {
    if (!session_.inTransaction()) throw DbError("a table is locked only inside a transaction");
    const std::string name = PgTableName(table, &names_);
    // Runs of this program into one table take turns on a lock of the
    // table's own (an advisory lock: no right needed). A role that may
    // also update, delete or truncate keeps every other writer out too;
    // one with INSERT alone may only take the lock its inserts take anyway,
    // which still waits for such a run and makes it wait.
    {
      const char* values[] = {name.c_str()};
      Result result(session_.ExecParams(
          "select pg_catalog.pg_advisory_xact_lock(1481393186, c::oid::int4), "
          "pg_catalog.has_table_privilege(c, 'UPDATE') or pg_catalog.has_table_privilege(c, "
          "'DELETE') or pg_catalog.has_table_privilege(c, 'TRUNCATE') "
          "from pg_catalog.to_regclass($1) c",
          1, values));
      if (!Ok(result.get())) session_.Fail(result.get());
      const bool exclusive =
          PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 1)[0] == 't';
      pipeline_.Run(
          Translate("lock table " + table +
                        (exclusive ? " in share row exclusive mode" : " in row exclusive mode"),
                    false),
          nullptr);
    }
  }

  void begin() override {
    session_.EnsureConnected();
    // A new run reads the column types afresh.
    ForgetSchema();
    session_.Simple("begin");
    session_.setInTransaction(true);
  }

  void commit() override {
    if (PQstatus(session_.conn()) != CONNECTION_OK) {
      session_.setInTransaction(false);
      throw DbError(DbError::Kind::Gone,
                    "the connection to the server was lost; the transaction was rolled back", 0,
                    kConnectionLost)
          .because(Reason::ConnectionLostRolledBack);
    }
    Result result;
    try {
      result = session_.Exec("commit");
    } catch (const DbError& e) {
      // Silent while committing: nobody knows whether the server kept it.
      session_.setInTransaction(false);
      if (e.kind() != DbError::Kind::Gone) throw;
      throw DbError(DbError::Kind::CommitUncertain, e.what(), 0, kCommitUnknown);
    }
    session_.setInTransaction(false);
    if (!Ok(result.get())) {
      if (PQstatus(session_.conn()) != CONNECTION_OK)
        throw DbError(DbError::Kind::CommitUncertain,
                      "the connection to the server broke during the commit: the data may or may "
                      "not have been saved",
                      0, kCommitUnknown)
            .because(Reason::CommitUncertain);
      throw DbError(ServerMessage(result.get(), session_.conn()), 0, SqlState(result.get()));
    }
    if (std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
      throw DbError("the server rolled the transaction back; nothing was saved", 0, "40000")
          .because(Reason::RolledBackByServer);
  }

  void rollback() override {
    session_.setInTransaction(false);
    // A lost connection has already taken its transaction with it.
    if (PQstatus(session_.conn()) != CONNECTION_OK) return;
    Result result = session_.Exec("rollback");
    if (!Ok(result.get()) && PQstatus(session_.conn()) == CONNECTION_OK)
      throw DbError(ServerMessage(result.get(), session_.conn()), 0, SqlState(result.get()));
  }

  bool inTransaction() const override { return session_.inTransaction(); }

 private:
  // What is known of the schema may be stale: the column types, and the
  // types the plans over arrays were made for.
  void ForgetSchema() {
    columns_.clear();
    pipeline_.ForgetPlans();
  }

  // The names to quote, read afresh after the dictionary was read or the
  // schema changed (what the dictionary listed is what must be found).
  void LoadNames() {
    Result result = session_.Exec(kNameRulesQuery);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) session_.Fail(result.get());
    names_ = {};
    for (int r = 0; r < PQntuples(result.get()); ++r)
      (PQgetvalue(result.get(), r, 1)[0] == 't' ? names_.reserved : names_.upper)
          .insert(PQgetvalue(result.get(), r, 0));
    names_stale_ = false;
  }

  std::optional<std::vector<ColumnType>> Columns(const std::string& table) {
    if (const auto it = columns_.find(table); it != columns_.end()) return it->second;
    const char* values[] = {table.c_str()};
    Result result(session_.ExecParams(
        "select a.attname, a.atttypid, t.typcategory = 'S', t.typname in ('varchar', 'text') and "
        "coalesce((select c.collisdeterministic from pg_catalog.pg_collation c "
        "where c.oid = a.attcollation), true) from pg_catalog.pg_attribute a "
        "join pg_catalog.pg_type t on t.oid = a.atttypid "
        "where a.attrelid = pg_catalog.to_regclass($1) and a.attnum > 0 and not a.attisdropped",
        1, values));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      if (PQstatus(session_.conn()) != CONNECTION_OK) session_.Fail(result.get());
      // A name that is no table: the statement itself will say so.
      if (session_.inTransaction()) session_.Fail(result.get());
      return std::nullopt;
    }
    std::vector<ColumnType> columns;
    columns.reserve(PQntuples(result.get()));
    for (int r = 0; r < PQntuples(result.get()); ++r)
      columns.push_back(
          {PQgetvalue(result.get(), r, 0),
           static_cast<unsigned>(std::strtoul(PQgetvalue(result.get(), r, 1), nullptr, 10)),
           PQgetvalue(result.get(), r, 2)[0] == 't', PQgetvalue(result.get(), r, 3)[0] == 't'});
    if (columns.empty()) return std::nullopt;
    if (columns_.size() > 256) columns_.clear();
    columns_[table] = columns;
    return columns;
  }

  PgStatement Translate(const std::string& sql, bool markers) {
    session_.EnsureConnected();
    const auto lookup = [this](const std::string& table) { return Columns(table); };
    PgStatement statement = TranslateOracle(sql, lookup, markers, &names_);
    if (statement.reads_dictionary || statement.schema_change) {
      names_stale_ = true;
    } else if (names_stale_) {
      LoadNames();
      statement = TranslateOracle(sql, lookup, markers, &names_);
    }
    return statement;
  }

  Session session_;
  Pipeline pipeline_{session_, [this] { ForgetSchema(); }};
  NameRules names_;
  bool names_stale_ = true;
  std::map<std::string, std::vector<ColumnType>> columns_;
};

}  // namespace

std::unique_ptr<Engine> OpenPostgres(const EngineTarget& target) {
  return std::make_unique<PostgresEngine>(target);
}

void RegisterPostgresEngine(Registry& registry) {
  EngineEntry entry;
  entry.name = "postgres";
  entry.open = [](const EngineTarget& target) { return OpenPostgres(target); };
  // A data source typed as a postgresql:// URI needs no alias.
  entry.claims = [](const std::string& data_source) { return IsPostgresUri(data_source); };
  entry.order = 10;
  registry.add(std::move(entry));
}

bool IsPostgresUri(const std::string& data_source) {
  return text::StartsWithIgnoringCase(data_source, "postgresql://") ||
         text::StartsWithIgnoringCase(data_source, "postgres://");
}

}  // namespace xb::db
