// The postgres engine. Each connection only sets a few session settings
// (no object is made: the dictionary views and dual are read in place, see
// catalog.h, so read-only roles and standbys can export), translates each
// statement (translate.h) and sends it with its values bound: data
// statements are prepared once per shape and re-run, the first preparation
// and the run in one round trip (libpq's pipeline mode). A query's rows
// stream (libpq's single-row mode): the export of a large result holds one
// row at a time. Every wait for the server has a limit (the alias's
// response_timeout on top of the lock wait): a server that stops answering
// is given up, its connection closed, and the server rolls back when it
// sees the close.
// A statement that fails inside a transaction spoils the whole transaction,
// as PostgreSQL has it (Oracle would undo the one statement): the import
// rolls back after any failure anyway, and a commit that the server turns
// into a rollback is reported as a failure, never taken for a success.
// Undoing single statements with a savepoint each would cost the server a
// subtransaction per statement: the import ran half again as long.

#include "db/postgres/postgres_engine.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/postgres/catalog.h"
#include "db/postgres/run_arrays.h"
#include "db/postgres/translate.h"
#include "db/postgres/value_format.h"
#include "db/registry.h"
#include "db/row_cursor.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

using postgres::ColumnType;
using postgres::PgStatement;
using postgres::ValueText;

// SQLSTATEs this engine gives its own failures (those of the server come
// with the server's): the connection broke; a commit whose outcome is not
// known.
constexpr const char* kConnectionLost = "08006";
constexpr const char* kCommitUnknown = "08007";

// The session's settings; the server's own time zone stays (a date
// imported at midnight is midnight where the database is).
const char* const kSessionSetup =
    "set standard_conforming_strings = on; set datestyle = 'ISO, YMD'; "
    "set client_min_messages = warning; ";

// The connection's last message without the line break libpq ends it with.
std::string ConnectionMessage(PGconn* conn) {
  return std::string(text::Trimmed(PQerrorMessage(conn)));
}

// The server's message, with names it folded to lower case shown as the
// statement wrote them unquoted (Oracle's upper case).
std::string ServerMessage(const PGresult* result, PGconn* conn) {
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = primary ? primary : ConnectionMessage(conn);
  std::string out;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '"') {
      out += message[i];
      continue;
    }
    const size_t close = message.find('"', i + 1);
    if (close == std::string::npos) {
      out += message.substr(i);
      break;
    }
    out += '"' + postgres::OracleName(message.substr(i + 1, close - i - 1)) + '"';
    i = close;
  }
  if (const char* detail = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL) : nullptr)
    out += std::string("\n") + detail;
  return out;
}

std::string SqlState(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state ? state : "";
}

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

bool Ok(const PGresult* r) {
  const auto status = PQresultStatus(r);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// A result's column names as the program shows them, and their types.
std::vector<std::string> ColumnNames(const PGresult* result, std::vector<unsigned>& types) {
  std::vector<std::string> names;
  const int columns = PQnfields(result);
  for (int c = 0; c < columns; ++c) {
    names.push_back(postgres::OracleName(PQfname(result, c)));
    types.push_back(PQftype(result, c));
  }
  return names;
}

// Row r of a result as the program's texts.
void ReadRow(const PGresult* result, int r, const std::vector<unsigned>& types,
             RowCursor::Row& row) {
  for (size_t c = 0; c < row.size(); ++c) {
    const int column = static_cast<int>(c);
    if (PQgetisnull(result, r, column))
      row[c].reset();
    else
      row[c] = ValueText(PQgetvalue(result, r, column), PQgetlength(result, r, column), types[c]);
  }
}

// A whole result as libpq received it, walked forward.
class PgCursor : public RowCursor {
 public:
  explicit PgCursor(Result result) : result_(std::move(result)) {
    setColumns(ColumnNames(result_.get(), types_));
  }

 protected:
  bool fetch(Row& row) override {
    if (row_ + 1 >= PQntuples(result_.get())) return false;
    ReadRow(result_.get(), ++row_, types_, row);
    return true;
  }

 private:
  Result result_;
  int row_ = -1;
  std::vector<unsigned> types_;
};

class PostgresEngine;

// A query's rows as they arrive (libpq's single-row mode): one row held at
// a time. Should another statement need the connection before the last
// row was read, the rest is read into memory first (a cursor stays valid
// while other statements run).
class PgStream : public RowCursor {
 public:
  PgStream(PostgresEngine& engine, Result first);
  ~PgStream() override;
  void ReadRest();
  void Orphan() {
    engine_ = nullptr;
    finished_ = true;
  }
  bool finished() const { return finished_; }

 protected:
  bool fetch(Row& row) override;

 private:
  PostgresEngine* engine_;
  Result first_;             // the first row, not yet shown
  std::deque<Result> rest_;  // rows read ahead for another statement's sake
  Result error_;             // a failure met while reading ahead, raised at its place
  bool finished_ = false;    // every result of the query has been taken from libpq
  std::vector<unsigned> types_;
};

// A statement of the program's with '?' markers: translated once, prepared
// on the server at its first run, then only bound and run.
class PgPrepared : public Statement {
 public:
  PgPrepared(PostgresEngine& engine, PgStatement statement)
      : engine_(engine), statement_(std::move(statement)) {
    for (const auto& param : statement_.params)
      if (param.marker >= 0) ++markers_;
  }
  int parameterCount() const override { return markers_; }
  const PgStatement& statement() const { return statement_; }
  void execute(const std::vector<Value>& values) override;
  std::unique_ptr<Cursor> query(const std::vector<Value>& values) override;

 private:
  PostgresEngine& engine_;
  PgStatement statement_;
  int markers_ = 0;
};

class PostgresEngine : public Engine {
 public:
  explicit PostgresEngine(const EngineTarget& target)
      : options_{target.lock_timeout, target.connect_timeout, target.response_timeout} {
    // Silence beyond the lock wait is taken for a server that stopped.
    wait_seconds_ = options_.response_timeout_seconds > 0
                        ? options_.response_timeout_seconds + options_.lock_wait_seconds
                        : 0;
    const std::string& user = target.user;
    const std::string& password = target.password;
    // Keywords and values as arrays: nothing the operator typed is ever
    // parsed as part of a connection string. The target's own settings and
    // the PG* variables fill in what the window leaves empty.
    std::vector<const char*> keys, values;
    const std::string timeout = std::to_string(options_.connect_timeout_seconds);
    const char* env_timeout = std::getenv("PGCONNECT_TIMEOUT");
    if (!env_timeout || !*env_timeout) {
      keys.push_back("connect_timeout");
      values.push_back(timeout.c_str());
    }
    // Over TCP the kernel gives up on a peer that stopped answering within
    // the same time (the target's own settings, coming later, win).
    const int response = options_.response_timeout_seconds;
    const std::string idle = std::to_string(std::max(1, response / 2)),
                      interval = std::to_string(std::max(1, response / 6)),
                      user_timeout = std::to_string(response * 1000);
    if (response > 0) {
      for (const auto& [key, value] : {std::pair<const char*, const char*>{"keepalives", "1"},
                                       {"keepalives_idle", idle.c_str()},
                                       {"keepalives_interval", interval.c_str()},
                                       {"keepalives_count", "3"},
                                       {"tcp_user_timeout", user_timeout.c_str()}}) {
        keys.push_back(key);
        values.push_back(value);
      }
    }
    keys.push_back("dbname");
    values.push_back(target.where.c_str());
    if (!user.empty()) {
      keys.push_back("user");
      values.push_back(user.c_str());
    }
    if (!password.empty()) {
      keys.push_back("password");
      values.push_back(password.c_str());
    }
    keys.push_back("client_encoding");
    values.push_back("UTF8");
    keys.push_back("application_name");
    values.push_back("xlsbridge");
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!conn_)
      throw DbError("cannot connect to the PostgreSQL server: out of memory", 0, kConnectionLost)
          .because(Reason::CannotConnect);
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = ConnectionMessage(conn_);
      PQfinish(conn_);
      const bool timeout = message.find("timeout expired") != std::string::npos;
      throw DbError(timeout ? DbError::Kind::ConnectTimeout : DbError::Kind::Other,
                    "cannot connect to the PostgreSQL server: " + message, 0, kConnectionLost)
          .because(Reason::CannotConnect, {}, 0, message);
    }
    // The server's notices are no concern of the operator's.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // Every wait is the engine's own (NextResult), with its time limit.
    PQsetnonblocking(conn_, 1);
    try {
      SetUpSession();
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }

  ~PostgresEngine() override {
    if (stream_) stream_->Orphan();
    PQfinish(conn_);  // the server rolls back what is open
  }

  std::string name() const override { return "postgres"; }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    return Stream(Translate(sql, false));
  }

  void execute(const std::string& sql) override { Run(Translate(sql, false), nullptr); }

  std::unique_ptr<Statement> prepare(const std::string& sql) override {
    return std::make_unique<PgPrepared>(*this, Translate(sql, true));
  }

  void executeBatch(const std::vector<BatchItem>& items) override {
    // One sync per thousand statements: their results (a few dozen bytes
    // each) fit the socket's buffers while the rest is still being sent.
    constexpr size_t kPerSync = 1000;
    for (size_t from = 0; from < items.size(); from += kPerSync)
      RunPipelined(items, from, std::min(items.size(), from + kPerSync));
  }

  bool pipelinesQueries() const override { return true; }

  std::vector<ResultRows> queryBatch(const std::vector<BatchItem>& items) override {
    constexpr size_t kPerSync = 1000;
    std::vector<ResultRows> rows(items.size());
    std::vector<Result> results;
    for (size_t from = 0; from < items.size(); from += kPerSync) {
      const size_t to = std::min(items.size(), from + kPerSync);
      RunPipelined(items, from, to, &results);
      for (size_t k = 0; k < results.size(); ++k) {
        if (!results[k])
          throw BatchError(from + k, DbError("the statement returns no rows to open"));
        PgCursor cursor(std::move(results[k]));
        const int columns = cursor.columnCount();
        while (cursor.next()) {
          auto& row = rows[from + k].emplace_back();
          for (int c = 0; c < columns; ++c) {
            const auto value = cursor.value(c);
            row.push_back(value ? std::optional<std::string>(std::string(*value)) : std::nullopt);
          }
        }
      }
    }
    return rows;
  }

  std::optional<std::vector<bool>> returnsRows(
      Statement& statement, const std::vector<std::vector<Value>>& runs) override {
    const auto* own = dynamic_cast<const PgPrepared*>(&statement);
    if (!own || !own->statement().data || own->parameterCount() == 0) return std::nullopt;
    const PgStatement& single = own->statement();
    std::vector<bool> returned(runs.size(), false);
    if (runs.empty()) return returned;
    // Each run bound exactly as it would be alone (the same texts, the same
    // types), its values gathered into one array per marker.
    std::vector<const char*> values;
    std::vector<unsigned> types, first_types;
    std::vector<std::string> numbers;
    std::vector<std::string> arrays(single.params.size(), "{");
    for (size_t r = 0; r < runs.size(); ++r) {
      Bind(single, &runs[r], values, types, numbers);
      if (r == 0)
        first_types = types;
      else if (types != first_types)
        return std::nullopt;  // values of other types: one statement cannot take them
      for (size_t p = 0; p < single.params.size(); ++p)
        if (single.params[p].marker >= 0) postgres::AppendArrayElement(arrays[p], values[p]);
    }
    const ArrayPlan* plan = PlanOverArrays(single, first_types);
    if (!plan) return std::nullopt;
    PgStatement asked = plan->statement;
    for (size_t p = 0; p < single.params.size(); ++p)
      if (single.params[p].marker >= 0) asked.params[p].text = std::move(arrays[p] += '}');
    Result result = Run(asked, nullptr);
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      const long long run = std::strtoll(PQgetvalue(result.get(), row, 0), nullptr, 10);
      if (run < 1 || static_cast<size_t>(run) > runs.size())
        throw DbError("the database answered for a row that was not asked");
      returned[static_cast<size_t>(run - 1)] = true;
    }
    return returned;
  }

  void lockTable(const std::string& table) override {
    if (!in_transaction_) throw DbError("a table is locked only inside a transaction");
    const std::string name = postgres::PgTableName(table, &names_);
    // Runs of this program into one table take turns on a lock of the
    // table's own (an advisory lock: no right needed). A role that may
    // also update, delete or truncate keeps every other writer out too;
    // one with INSERT alone may only take the lock its inserts take anyway,
    // which still waits for such a run and makes it wait.
    {
      const char* values[] = {name.c_str()};
      Result result(ExecParams(
          "select pg_catalog.pg_advisory_xact_lock(1481393186, c::oid::int4), "
          "pg_catalog.has_table_privilege(c, 'UPDATE') or pg_catalog.has_table_privilege(c, "
          "'DELETE') or pg_catalog.has_table_privilege(c, 'TRUNCATE') "
          "from pg_catalog.to_regclass($1) c",
          1, values));
      if (!Ok(result.get())) Fail(result.get());
      const bool exclusive =
          PQntuples(result.get()) == 1 && PQgetvalue(result.get(), 0, 1)[0] == 't';
      Run(Translate("lock table " + table +
                        (exclusive ? " in share row exclusive mode" : " in row exclusive mode"),
                    false),
          nullptr);
    }
  }

  void begin() override {
    EnsureConnected();
    // A new run reads the column types afresh.
    ForgetSchema();
    Simple("begin");
    in_transaction_ = true;
  }

  void commit() override {
    if (PQstatus(conn_) != CONNECTION_OK) {
      in_transaction_ = false;
      throw DbError(DbError::Kind::Gone,
                    "the connection to the server was lost; the transaction was rolled back", 0,
                    kConnectionLost)
          .because(Reason::ConnectionLostRolledBack);
    }
    Result result;
    try {
      result = Exec("commit");
    } catch (const DbError& e) {
      // Silent while committing: nobody knows whether the server kept it.
      in_transaction_ = false;
      if (e.kind() != DbError::Kind::Gone) throw;
      throw DbError(DbError::Kind::CommitUncertain, e.what(), 0, kCommitUnknown);
    }
    in_transaction_ = false;
    if (!Ok(result.get())) {
      if (PQstatus(conn_) != CONNECTION_OK)
        throw DbError(DbError::Kind::CommitUncertain,
                      "the connection to the server broke during the commit: the data may or may "
                      "not have been saved",
                      0, kCommitUnknown)
            .because(Reason::CommitUncertain);
      throw DbError(ServerMessage(result.get(), conn_), 0, SqlState(result.get()));
    }
    if (std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
      throw DbError("the server rolled the transaction back; nothing was saved", 0, "40000")
          .because(Reason::RolledBackByServer);
  }

  void rollback() override {
    in_transaction_ = false;
    // A lost connection has already taken its transaction with it.
    if (PQstatus(conn_) != CONNECTION_OK) return;
    Result result = Exec("rollback");
    if (!Ok(result.get()) && PQstatus(conn_) == CONNECTION_OK)
      throw DbError(ServerMessage(result.get(), conn_), 0, SqlState(result.get()));
  }

  bool inTransaction() const override { return in_transaction_; }

 private:
  void SetUpSession() {
    std::string setup = kSessionSetup;
    setup += "set lock_timeout = '" + std::to_string(options_.lock_wait_seconds) + "s';\n";
    Result result = Exec(setup.c_str());
    if (!Ok(result.get()))
      throw DbError("cannot prepare the session: " + ServerMessage(result.get(), conn_));
    prepared_.clear();
    ForgetSchema();
    array_types_.clear();
    names_stale_ = true;
  }

  // ---- waiting for the server, never longer than wait_seconds_ ----

  // Whether the socket became ready for events within the wait.
  bool WaitSocket(short events, short* ready = nullptr) {
    pollfd p{PQsocket(conn_), events, 0};
    const int wait_ms = wait_seconds_ > 0 ? wait_seconds_ * 1000 : -1;
    for (;;) {
      const int n = poll(&p, 1, wait_ms);
      if (n == 0) return false;
      if (n > 0 || errno != EINTR) {
        if (ready) *ready = p.revents;
        return true;  // ready, or a failure libpq will meet and report
      }
    }
  }

  // Sends what libpq holds; false when the server took nothing in time.
  bool Flush() {
    for (;;) {
      if (PQflush(conn_) != 1) return true;  // sent, or failed: PQgetResult says which
      short ready = 0;
      if (!WaitSocket(POLLIN | POLLOUT, &ready)) return false;
      if ((ready & POLLIN) && !PQconsumeInput(conn_)) return true;
    }
  }

  // PQgetResult with the wait's limit.
  PGresult* NextResult() {
    if (!Flush()) Stalled();
    while (PQisBusy(conn_)) {
      if (!WaitSocket(POLLIN)) Stalled();
      if (!PQconsumeInput(conn_)) break;
    }
    return PQgetResult(conn_);
  }

  // The server said nothing for the whole wait. Closing this end is all
  // that can be done: the server, when it runs again, reads the close and
  // rolls the transaction back.
  [[noreturn]] void Stalled() {
    if (stream_) {
      stream_->Orphan();
      stream_ = nullptr;
    }
    shutdown(PQsocket(conn_), SHUT_RDWR);
    PQconsumeInput(conn_);  // libpq meets the close: the connection is bad from here on
    in_transaction_ = false;
    throw DbError(DbError::Kind::Gone,
                  "the server has not answered for " + std::to_string(wait_seconds_) +
                      " seconds; the connection was closed and the server rolls back what was "
                      "not committed",
                  0, kConnectionLost)
        .because(Reason::ServerSilent, {}, wait_seconds_);
  }

  // Every result of the command sent, as PQexec gives them: the first
  // failure, else the last result.
  Result Collect() {
    Result last;
    while (PGresult* r = NextResult()) {
      Result held(r);
      if (!last || PQresultStatus(last.get()) != PGRES_FATAL_ERROR) last = std::move(held);
    }
    return last;
  }

  Result Exec(const char* sql) {
    Settle();
    if (PQsendQuery(conn_, sql) != 1) return Result();
    return Collect();
  }
  Result Exec(const std::string& sql) { return Exec(sql.c_str()); }

  Result ExecParams(const char* sql, int count, const char* const* values,
                    const unsigned* types = nullptr) {
    Settle();
    if (PQsendQueryParams(conn_, sql, count, types, values, nullptr, nullptr, 0) != 1)
      return Result();
    return Collect();
  }

  Result ExecPrepared(const char* name, int count, const char* const* values) {
    Settle();
    if (PQsendQueryPrepared(conn_, name, count, values, nullptr, nullptr, 0) != 1) return Result();
    return Collect();
  }

  // Before another command: a query still streaming reads its rest now.
  void Settle() {
    if (stream_) stream_->ReadRest();
  }

  // Reads and drops what is left of the streaming query (a cursor closed
  // before its end). Outside a transaction the server is asked to stop
  // first; inside one that would spoil the transaction.
  void AbandonStream() noexcept {
    stream_ = nullptr;
    try {
      if (!in_transaction_ && PQstatus(conn_) == CONNECTION_OK) {
        if (PGcancel* cancel = PQgetCancel(conn_)) {
          char message[256];
          PQcancel(cancel, message, sizeof message);
          PQfreeCancel(cancel);
        }
      }
      while (PGresult* r = NextResult()) PQclear(r);
    } catch (...) {
    }
  }

  // After the last result of the streaming query: libpq's closing NULL.
  void EndStream() {
    stream_ = nullptr;
    while (PGresult* r = NextResult()) PQclear(r);
  }

  // A row-returning statement, its rows streamed.
  std::unique_ptr<Cursor> Stream(const PgStatement& statement) {
    EnsureConnected();
    Settle();
    if (statement.schema_change) ForgetSchema();
    std::vector<const char*> values;
    std::vector<unsigned> types;
    for (const auto& param : statement.params) {
      if (param.marker >= 0) throw DbError("a value is missing for the statement's markers");
      values.push_back(param.is_null ? nullptr : param.text.c_str());
      types.push_back(param.oid);
    }
    const int count = static_cast<int>(values.size());
    if (PQsendQueryParams(conn_, statement.text.c_str(), count, count ? types.data() : nullptr,
                          values.data(), nullptr, nullptr, 0) != 1)
      Fail(nullptr);
    PQsetSingleRowMode(conn_);
    Result first(NextResult());
    const auto status = PQresultStatus(first.get());
    if (status == PGRES_SINGLE_TUPLE) {
      auto cursor = std::make_unique<PgStream>(*this, std::move(first));
      stream_ = cursor.get();
      return cursor;
    }
    while (PGresult* r = NextResult()) PQclear(r);
    if (status == PGRES_TUPLES_OK) {
      auto cursor = std::make_unique<PgStream>(*this, std::move(first));
      return cursor;
    }
    if (!first || status == PGRES_FATAL_ERROR) Fail(first.get());
    throw NoRowSetError();
  }

  // A statement asked for many runs at once (returnsRows): its parameters
  // typed as the server types the statement's own markers, each marker's
  // as an array of that type.
  struct ArrayPlan {
    PgStatement statement;  // the markers' parameters still to be given their arrays
  };

  // The plan for a statement whose runs bind with types; null when it
  // cannot be asked so (a marker of a type without arrays). The first time:
  // the statement described by the server, in one round trip.
  const ArrayPlan* PlanOverArrays(const PgStatement& single, const std::vector<unsigned>& types) {
    const std::string key = PreparedKey(single, types);
    if (const auto it = array_plans_.find(key); it != array_plans_.end())
      return it->second ? &*it->second : nullptr;
    const std::vector<unsigned> described = DescribeParams(single, types);
    ArrayPlan plan;
    plan.statement.text = postgres::RowsReturnedText(single);
    plan.statement.data = true;
    plan.statement.params = single.params;
    bool offered = described.size() == single.params.size();
    for (size_t p = 0; offered && p < single.params.size(); ++p) {
      postgres::PgParam& param = plan.statement.params[p];
      if (param.marker < 0) continue;
      param = {};
      param.oid = ArrayTypeOf(described[p]);
      offered = param.oid != 0;
    }
    auto& slot = array_plans_[key];
    if (offered) slot = std::move(plan);
    return slot ? &*slot : nullptr;
  }

  // The types the server gives the statement's parameters when they are
  // sent with types (0: the server's choice).
  std::vector<unsigned> DescribeParams(const PgStatement& statement,
                                       const std::vector<unsigned>& types) {
    EnsureConnected();
    Settle();
    if (PQenterPipelineMode(conn_) != 1) Fail(nullptr);
    bool sent = PQsendPrepare(conn_, "", statement.text.c_str(), static_cast<int>(types.size()),
                              types.data()) == 1 &&
                PQsendDescribePrepared(conn_, "") == 1 && PQpipelineSync(conn_) == 1;
    if (!sent) {
      PQexitPipelineMode(conn_);
      Fail(nullptr);
    }
    Result failure, description;
    for (int command = 0; command < 2 && PQstatus(conn_) == CONNECTION_OK; ++command) {
      while (PGresult* r = NextResult()) {
        Result held(r);
        if (PQresultStatus(r) == PGRES_FATAL_ERROR && !failure)
          failure = std::move(held);
        else if (command == 1 && PQresultStatus(r) == PGRES_COMMAND_OK)
          description = std::move(held);
      }
    }
    while (PQstatus(conn_) == CONNECTION_OK) {
      Result r(NextResult());
      if (!r || PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
    }
    PQexitPipelineMode(conn_);
    if (failure || !description) Fail(failure.get());
    std::vector<unsigned> described;
    for (int p = 0; p < PQnparams(description.get()); ++p)
      described.push_back(PQparamtype(description.get(), p));
    return described;
  }

  // The array type of a type (the catalogue asked once for one that is
  // not built in); 0 when it has none or its arrays are not written with
  // commas.
  unsigned ArrayTypeOf(unsigned type) {
    if (const unsigned builtin = postgres::BuiltinArrayType(type)) return builtin;
    if (const auto it = array_types_.find(type); it != array_types_.end()) return it->second;
    const std::string oid = std::to_string(type);
    const char* values[] = {oid.c_str()};
    Result result(
        ExecParams("select typarray from pg_catalog.pg_type where oid = $1::oid and typdelim = ','",
                   1, values));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) Fail(result.get());
    const unsigned array =
        PQntuples(result.get()) == 1
            ? static_cast<unsigned>(std::strtoul(PQgetvalue(result.get(), 0, 0), nullptr, 10))
            : 0u;
    array_types_[type] = array;
    return array;
  }

  // What is known of the schema may be stale: the column types, and the
  // types the plans over arrays were made for.
  void ForgetSchema() {
    columns_.clear();
    array_plans_.clear();
  }

  // The names to quote, read afresh after the dictionary was read or the
  // schema changed (what the dictionary listed is what must be found).
  void LoadNames() {
    Result result = Exec(postgres::kNameRulesQuery);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) Fail(result.get());
    names_ = {};
    for (int r = 0; r < PQntuples(result.get()); ++r)
      (PQgetvalue(result.get(), r, 1)[0] == 't' ? names_.reserved : names_.upper)
          .insert(PQgetvalue(result.get(), r, 0));
    names_stale_ = false;
  }

  // A connection lost outside a transaction is made again; inside one the
  // transaction is gone and the run must fail.
  void EnsureConnected() {
    if (PQstatus(conn_) == CONNECTION_OK) return;
    if (in_transaction_) {
      in_transaction_ = false;
      throw DbError(DbError::Kind::Gone,
                    "the connection to the server was lost; the transaction was rolled back", 0,
                    kConnectionLost)
          .because(Reason::ConnectionLostRolledBack);
    }
    if (stream_) stream_->Orphan();
    stream_ = nullptr;
    PQreset(conn_);
    PQsetnonblocking(conn_, 1);
    if (PQstatus(conn_) != CONNECTION_OK)
      throw DbError("cannot connect to the PostgreSQL server: " + ConnectionMessage(conn_), 0,
                    kConnectionLost)
          .because(Reason::CannotConnect, {}, 0, ConnectionMessage(conn_));
    SetUpSession();
  }

  void Simple(const char* sql) {
    Result result = Exec(sql);
    if (!Ok(result.get())) Fail(result.get());
  }

  [[noreturn]] void Fail(const PGresult* result) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      const bool was = in_transaction_;
      in_transaction_ = false;
      throw DbError(DbError::Kind::Gone,
                    std::string("the connection to the server was lost") +
                        (was ? "; the transaction was rolled back: " : ": ") +
                        ConnectionMessage(conn_),
                    0, kConnectionLost)
          .because(was ? Reason::ConnectionLostRolledBack : Reason::ConnectionLost, {}, 0,
                   ConnectionMessage(conn_));
    }
    const std::string state = SqlState(result);
    // 55P03: lock_timeout ran out waiting for another session's lock.
    throw DbError(ServerMessage(result, conn_), 0, state,
                  state == "55P03" ? DbError::Kind::LockTimeout : DbError::Kind::Other);
  }

  std::optional<std::vector<ColumnType>> Columns(const std::string& table) {
    if (const auto it = columns_.find(table); it != columns_.end()) return it->second;
    const char* values[] = {table.c_str()};
    Result result(ExecParams(
        "select a.attname, a.atttypid, t.typcategory = 'S', t.typname in ('varchar', 'text') and "
        "coalesce((select c.collisdeterministic from pg_catalog.pg_collation c "
        "where c.oid = a.attcollation), true) from pg_catalog.pg_attribute a "
        "join pg_catalog.pg_type t on t.oid = a.atttypid "
        "where a.attrelid = pg_catalog.to_regclass($1) and a.attnum > 0 and not a.attisdropped",
        1, values));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
      if (PQstatus(conn_) != CONNECTION_OK) Fail(result.get());
      // A name that is no table: the statement itself will say so.
      if (in_transaction_) Fail(result.get());
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

  friend class PgPrepared;
  friend class PgStream;

  PgStatement Translate(const std::string& sql, bool markers) {
    EnsureConnected();
    const auto lookup = [this](const std::string& table) { return Columns(table); };
    PgStatement statement = postgres::TranslateOracle(sql, lookup, markers, &names_);
    if (statement.reads_dictionary || statement.schema_change) {
      names_stale_ = true;
    } else if (names_stale_) {
      LoadNames();
      statement = postgres::TranslateOracle(sql, lookup, markers, &names_);
    }
    return statement;
  }

  // The values of one run of a statement, as libpq takes them (pointers
  // into marked, the statement and numbers).
  static void Bind(const PgStatement& statement, const std::vector<Value>* marked,
                   std::vector<const char*>& values, std::vector<unsigned>& types,
                   std::vector<std::string>& numbers) {
    values.clear();
    types.clear();
    numbers.clear();
    numbers.reserve(statement.params.size());
    for (const auto& param : statement.params) {
      if (param.marker < 0) {
        types.push_back(param.oid);
        values.push_back(param.is_null ? nullptr : param.text.c_str());
        continue;
      }
      if (!marked || static_cast<size_t>(param.marker) >= marked->size())
        throw DbError("a value is missing for the statement's marker " +
                      std::to_string(param.marker + 1));
      const Value& v = (*marked)[static_cast<size_t>(param.marker)];
      // The value's own type: a number goes as numeric, a date read by
      // to_date as a timestamp; anything else the server types from where
      // the marker stands.
      types.push_back(!param.date_mask.empty()        ? param.oid
                      : v.kind == Value::Kind::Number ? postgres::kNumericOid
                                                      : 0u);
      if (v.kind == Value::Kind::Null ||
          (v.text.empty() && ((v.kind != Value::Kind::Text && v.kind != Value::Kind::Integer) ||
                              !param.date_mask.empty()))) {
        // As in Oracle, '' is NULL, to_date('') too; a text value keeps it as ''.
        values.push_back(nullptr);
      } else if (v.kind == Value::Kind::Integer) {
        numbers.push_back(std::to_string(v.integer));
        values.push_back(numbers.back().c_str());
      } else if (v.kind == Value::Kind::Number && param.date_mask.empty()) {
        // Oracle's number forms only: PostgreSQL's numeric also takes NaN,
        // Infinity and numbers beyond NUMBER's range.
        numbers.push_back(oracle::OracleNumberText(v.text));
        values.push_back(numbers.back().c_str());
      } else if (!param.date_mask.empty()) {
        // Read as strictly as Oracle's to_date reads it, here: PostgreSQL's
        // to_timestamp takes "2024-2" or "2024-2-29xyz" without a word.
        numbers.emplace_back();
        if (!postgres::DateByMask(v.text, param.date_mask, param.keeps_time, numbers.back()))
          throw DbError("to_date: '" + v.text + "' is not a valid date for the format '" +
                        param.date_mask + "'");
        values.push_back(numbers.back().c_str());
      } else {
        values.push_back(v.text.c_str());
      }
    }
  }

  // A data statement's name on the server, by its text and parameter types.
  static std::string PreparedKey(const PgStatement& statement, const std::vector<unsigned>& types) {
    std::string key = statement.text;
    for (const unsigned type : types) key += "\x01" + std::to_string(type);
    return key;
  }

  // The statements of a batch sent in one pipeline with one sync: a shape
  // new to the server is prepared on the way. The first failure is the one
  // reported (the server skips the rest of the pipeline after it).
  void RunPipelined(const std::vector<BatchItem>& items, size_t from, size_t to,
                    std::vector<Result>* results = nullptr) {
    EnsureConnected();
    Settle();
    if (results) results->resize(to - from);
    std::vector<const PgStatement*> statements;
    for (size_t i = from; i < to; ++i) {
      const auto* prepared = dynamic_cast<const PgPrepared*>(items[i].statement);
      if (!prepared || !prepared->statement().data) {
        // Not a data statement of this engine's: one by one.
        for (size_t k = from; k < to; ++k) {
          try {
            if (!results) {
              items[k].statement->execute(*items[k].values);
              continue;
            }
            const auto* own = dynamic_cast<const PgPrepared*>(items[k].statement);
            if (!own) throw DbError("a statement of another engine");
            (*results)[k - from] = Run(own->statement(), items[k].values);
          } catch (const DbError& e) {
            throw BatchError(k, e);
          }
        }
        return;
      }
      statements.push_back(&prepared->statement());
    }
    if (prepared_.size() + statements.size() > kMaxPrepared) {
      // Rarely more shapes than this: start again rather than keep them all.
      std::set<std::string> fresh;
      for (const auto* st : statements) fresh.insert(st->text);
      if (prepared_.size() + fresh.size() > kMaxPrepared) {
        Simple("deallocate all");
        prepared_.clear();
      }
    }

    struct Command {
      size_t item;
      bool prepare;
      std::string key, name;
    };
    std::vector<Command> commands;
    commands.reserve(statements.size() + 4);
    std::map<std::string, std::string> new_names;
    std::vector<const char*> values;
    std::vector<unsigned> types;
    std::vector<std::string> numbers;
    if (PQenterPipelineMode(conn_) != 1) Fail(nullptr);
    bool sent = true;
    for (size_t k = 0; k < statements.size() && sent; ++k) {
      const PgStatement& statement = *statements[k];
      if (statement.schema_change) ForgetSchema();
      try {
        Bind(statement, items[from + k].values, values, types, numbers);
      } catch (const DbError& e) {
        PQexitPipelineMode(conn_);
        throw BatchError(from + k, e);
      }
      std::string key = PreparedKey(statement, types);
      const std::string* name = nullptr;
      if (const auto it = prepared_.find(key); it != prepared_.end()) {
        name = &it->second;
      } else if (const auto fresh = new_names.find(key); fresh != new_names.end()) {
        name = &fresh->second;
      } else {
        const std::string made = "xb" + std::to_string(++statement_number_);
        name = &new_names.emplace(key, made).first->second;
        sent = PQsendPrepare(conn_, name->c_str(), statement.text.c_str(),
                             static_cast<int>(types.size()), types.data()) == 1;
        commands.push_back({from + k, true, key, *name});
      }
      sent = sent && PQsendQueryPrepared(conn_, name->c_str(), static_cast<int>(values.size()),
                                         values.data(), nullptr, nullptr, 0) == 1;
      commands.push_back({from + k, false, {}, {}});
    }
    sent = sent && PQpipelineSync(conn_) == 1;
    if (!sent) {
      PQexitPipelineMode(conn_);
      try {
        Fail(nullptr);
      } catch (const DbError& e) {
        throw BatchError(from, e);
      }
    }

    Result failure;
    size_t failed_item = from;
    bool lost = false;
    for (const Command& command : commands) {
      if (PQstatus(conn_) != CONNECTION_OK) {
        if (!failure) failed_item = command.item;
        lost = true;
        break;
      }
      while (PGresult* r = NextResult()) {
        Result held(r);
        const auto status = PQresultStatus(r);
        // A statement prepared on the server stays known even when its run fails.
        if (command.prepare && status == PGRES_COMMAND_OK)
          prepared_.emplace(command.key, command.name);
        if (status == PGRES_FATAL_ERROR && !failure) {
          failure = std::move(held);
          failed_item = command.item;
        } else if (results && !command.prepare && status == PGRES_TUPLES_OK) {
          (*results)[command.item - from] = std::move(held);
        }
      }
    }
    while (PQstatus(conn_) == CONNECTION_OK) {
      Result r(NextResult());
      if (!r || PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
    }
    PQexitPipelineMode(conn_);
    if (failure || lost) {
      try {
        Fail(failure.get());
      } catch (const DbError& e) {
        throw BatchError(failed_item, e);
      }
    }
  }

  // Binds and runs one statement (with the values of its markers, if any);
  // returns its result.
  Result Run(const PgStatement& statement, const std::vector<Value>* marked) {
    EnsureConnected();
    Settle();
    if (statement.schema_change) ForgetSchema();

    std::vector<const char*> values;
    std::vector<unsigned> types;
    std::vector<std::string> numbers;  // integer values as text, alive until sent
    Bind(statement, marked, values, types, numbers);
    const int count = static_cast<int>(values.size());
    std::string key;
    const std::string* name = nullptr;
    bool prepare = false;
    if (statement.data) {
      key = PreparedKey(statement, types);
      if (auto it = prepared_.find(key); it != prepared_.end()) {
        name = &it->second;
      } else {
        if (prepared_.size() >= kMaxPrepared) {
          Simple("deallocate all");
          prepared_.clear();
        }
        next_name_ = "xb" + std::to_string(++statement_number_);
        name = &next_name_;
        prepare = true;
      }
    }

    if (!prepare) {
      // One round trip either way: a shape prepared before, or a statement
      // that is not worth keeping (the schema's, say).
      Result result(name ? ExecPrepared(name->c_str(), count, values.data())
                         : ExecParams(statement.text.c_str(), count, values.data(),
                                      count ? types.data() : nullptr));
      if (!Ok(result.get())) Fail(result.get());
      return result;
    }

    // A new shape: prepared and run in one round trip.
    if (PQenterPipelineMode(conn_) != 1) Fail(nullptr);
    bool sent = true;
    int commands = 0;
    const int prepare_command = prepare ? commands : -1;
    if (prepare) {
      sent = sent &&
             PQsendPrepare(conn_, name->c_str(), statement.text.c_str(), count, types.data()) == 1;
      ++commands;
    }
    const int main_command = commands++;
    if (name)
      sent = sent && PQsendQueryPrepared(conn_, name->c_str(), count, values.data(), nullptr,
                                         nullptr, 0) == 1;
    else
      sent = sent &&
             PQsendQueryParams(conn_, statement.text.c_str(), count, count ? types.data() : nullptr,
                               values.data(), nullptr, nullptr, 0) == 1;
    sent = sent && PQpipelineSync(conn_) == 1;
    if (!sent) {
      PQexitPipelineMode(conn_);
      Fail(nullptr);
    }

    // Every command's result, then the sync; the first failure is the one
    // to report (later commands of the pipeline were skipped because of it).
    Result main, failure;
    bool prepared = false;
    for (int c = 0; c < commands && PQstatus(conn_) == CONNECTION_OK; ++c) {
      while (PGresult* r = NextResult()) {
        Result held(r);
        const auto status = PQresultStatus(r);
        if (c == prepare_command && status == PGRES_COMMAND_OK) prepared = true;
        if (status == PGRES_FATAL_ERROR && !failure)
          failure = std::move(held);
        else if (c == main_command && !main && status != PGRES_PIPELINE_ABORTED)
          main = std::move(held);
      }
    }
    while (PQstatus(conn_) == CONNECTION_OK) {
      Result r(NextResult());
      if (!r || PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
    }
    PQexitPipelineMode(conn_);
    // A statement prepared on the server stays known even when its first run fails.
    if (prepared) prepared_.emplace(key, *name);

    if (failure || !main) {
      Fail(failure.get());
    }
    return main;
  }

  static constexpr size_t kMaxPrepared = 64;
  PgStream* stream_ = nullptr;  // the query whose rows are still arriving
  postgres::NameRules names_;
  bool names_stale_ = true;
  int wait_seconds_ = 0;  // 0: wait forever
  PGconn* conn_ = nullptr;
  PostgresOptions options_;
  bool in_transaction_ = false;
  std::unordered_map<std::string, std::string> prepared_;
  std::string next_name_;
  long long statement_number_ = 0;
  std::map<std::string, std::vector<ColumnType>> columns_;
  // By the statement's PreparedKey; nullopt: not to be asked over arrays.
  std::unordered_map<std::string, std::optional<ArrayPlan>> array_plans_;
  std::unordered_map<unsigned, unsigned> array_types_;  // beyond the built-in types
};

PgStream::PgStream(PostgresEngine& engine, Result first)
    : engine_(&engine), first_(std::move(first)) {
  setColumns(ColumnNames(first_.get(), types_));
  if (PQresultStatus(first_.get()) != PGRES_SINGLE_TUPLE) {
    first_.reset();
    finished_ = true;
  }
}

PgStream::~PgStream() {
  if (engine_ && !finished_) engine_->AbandonStream();
}

bool PgStream::fetch(Row& row) {
  Result r;
  bool live = false;  // taken from the connection now
  if (first_) {
    r = std::move(first_);
  } else if (!rest_.empty()) {
    r = std::move(rest_.front());
    rest_.pop_front();
  } else if (error_) {
    r = std::move(error_);
  } else if (finished_ || !engine_) {
    return false;
  } else {
    r.reset(engine_->NextResult());
    live = true;
  }
  const auto status = PQresultStatus(r.get());
  if (status == PGRES_SINGLE_TUPLE) {
    ReadRow(r.get(), 0, types_, row);
    return true;
  }
  if (live) {
    finished_ = true;
    engine_->EndStream();
  }
  if (status == PGRES_TUPLES_OK) return false;
  finished_ = true;
  if (!engine_) throw DbError(ServerMessage(r.get(), nullptr), 0, SqlState(r.get()));
  engine_->Fail(r.get());
}

void PgStream::ReadRest() {
  while (!finished_ && engine_) {
    Result r(engine_->NextResult());
    if (!r) break;
    const auto status = PQresultStatus(r.get());
    if (status == PGRES_SINGLE_TUPLE)
      rest_.push_back(std::move(r));
    else if (status != PGRES_TUPLES_OK && !error_)
      error_ = std::move(r);
  }
  finished_ = true;
  if (engine_) engine_->stream_ = nullptr;
}

void PgPrepared::execute(const std::vector<Value>& values) { engine_.Run(statement_, &values); }

std::unique_ptr<Cursor> PgPrepared::query(const std::vector<Value>& values) {
  Result result = engine_.Run(statement_, &values);
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) throw NoRowSetError();
  return std::make_unique<PgCursor>(std::move(result));
}

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
