// The postgres engine. Each connection makes the Oracle dictionary views,
// dual and to_date private to its session (temporary objects, gone with the
// session), translates each statement (translate.h) and sends it with its
// values bound: data statements are prepared once per shape and re-run, the
// first preparation and the run in one round trip (libpq's pipeline mode).
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
#include <unordered_map>

#include "db/errors.h"
#include "db/postgres/translate.h"
#include "db/registry.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

using postgres::ColumnType;
using postgres::PgStatement;

// SQLSTATEs this engine gives its own failures (those of the server come
// with the server's): the connection broke; a commit whose outcome is not
// known.
constexpr const char* kConnectionLost = "08006";
constexpr const char* kCommitUnknown = "08007";

constexpr unsigned kNumericOid = 1700, kTimestampOid = 1114, kTimestampTzOid = 1184;

// The objects that make the Oracle dialect run, private to the session.
// Names are shown the way Oracle stores them: an unquoted (lower-case) name
// upper-cased, any other as it is.
const char* const kSessionSetup = R"SQL(
set standard_conforming_strings = on;
set timezone = 'UTC';
set datestyle = 'ISO, YMD';
set client_min_messages = warning;
create temp view dual as select 'X'::varchar(1) as dummy;
create temp view user_tables as
  select (case when c.relname = lower(c.relname) then upper(c.relname) else c.relname end)::varchar(128) as table_name
  from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace
  where c.relkind in ('r', 'p') and left(n.nspname, 3) <> 'pg_' and n.nspname <> 'information_schema'
    and pg_catalog.pg_table_is_visible(c.oid);
create temp view user_tab_columns as
  select (case when c.relname = lower(c.relname) then upper(c.relname) else c.relname end)::varchar(128) as table_name,
    (case when a.attname = lower(a.attname) then upper(a.attname) else a.attname::text end)::varchar(128) as column_name,
    (case when t.typname = 'bpchar' then 'CHAR'
          when t.typcategory = 'S' then 'VARCHAR2'
          when t.typcategory = 'N' then 'NUMBER'
          when t.typname in ('date', 'timestamp', 'timestamptz') then 'DATE'
          else upper(pg_catalog.format_type(t.oid, null)) end)::varchar(128) as data_type,
    a.attnum::numeric as column_id,
    (case when a.attnotnull then 'N' else 'Y' end)::varchar(1) as nullable
  from pg_catalog.pg_class c
  join pg_catalog.pg_namespace n on n.oid = c.relnamespace
  join pg_catalog.pg_attribute a on a.attrelid = c.oid and a.attnum > 0 and not a.attisdropped
  join pg_catalog.pg_type d on d.oid = a.atttypid
  join pg_catalog.pg_type t on t.oid = (case when d.typtype = 'd' then d.typbasetype else d.oid end)
  where c.relkind in ('r', 'p', 'v', 'm', 'f') and left(n.nspname, 3) <> 'pg_' and n.nspname <> 'information_schema'
    and pg_catalog.pg_table_is_visible(c.oid);
create temp view user_sequences as
  select (case when c.relname = lower(c.relname) then upper(c.relname) else c.relname end)::varchar(128) as sequence_name,
    s.seqmin::numeric as min_value, s.seqmax::numeric as max_value, s.seqincrement::numeric as increment_by,
    s.seqcache::numeric as cache_size
  from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace
  join pg_catalog.pg_sequence s on s.seqrelid = c.oid
  where c.relkind = 'S' and left(n.nspname, 3) <> 'pg_' and pg_catalog.pg_table_is_visible(c.oid);
create function pg_temp.xb_to_date(text, text) returns timestamp(0) language sql stable as
  $$ select case when $1 is null or $1 = '' then null else pg_catalog.to_timestamp($1, $2)::timestamp(0) end $$;
create function pg_temp.xb_to_number(text) returns numeric language sql immutable as
  $$ select case when $1 = '' then null else $1::numeric end $$;
create function pg_temp.xb_to_number(text, text) returns numeric language sql stable as
  $$ select case when $1 = '' then null else pg_catalog.to_number($1, $2) end $$;
create function pg_temp.xb_to_date(text) returns timestamp(0) language sql stable as
  $$ select case when $1 is null or $1 = '' then null else $1::timestamp(0) end $$;
)SQL";

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

// A value as text the way the program shows it: numbers without trailing
// zeros after the point, dates without a midnight time.
std::string ValueText(const char* value, int length, unsigned type) {
  std::string text(value, static_cast<size_t>(length));
  if (type == kNumericOid && text.find('.') != std::string::npos &&
      text.find_first_of("eE") == std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
  } else if ((type == kTimestampOid || type == kTimestampTzOid) && text.size() >= 19 &&
             text.compare(10, 9, " 00:00:00") == 0 &&
             (text.size() == 19 || text[19] == '+' || text[19] == '-')) {
    text.erase(10, 9);
  }
  return text;
}

// A whole result as libpq received it, walked forward.
class PgCursor : public Cursor {
 public:
  explicit PgCursor(Result result) : result_(std::move(result)) {
    const int columns = PQnfields(result_.get());
    for (int c = 0; c < columns; ++c) {
      names_.push_back(postgres::OracleName(PQfname(result_.get(), c)));
      types_.push_back(PQftype(result_.get(), c));
    }
    texts_.resize(names_.size());
  }
  int columnCount() const override { return static_cast<int>(names_.size()); }
  const std::string& columnName(int column) const override {
    return names_.at(static_cast<size_t>(column));
  }
  bool next() override {
    if (row_ + 1 >= PQntuples(result_.get())) {
      row_ = PQntuples(result_.get());
      return false;
    }
    ++row_;
    for (size_t c = 0; c < names_.size(); ++c) {
      const int column = static_cast<int>(c);
      if (PQgetisnull(result_.get(), row_, column))
        texts_[c].reset();
      else
        texts_[c] = ValueText(PQgetvalue(result_.get(), row_, column),
                              PQgetlength(result_.get(), row_, column), types_[c]);
    }
    return true;
  }
  std::optional<std::string_view> value(int column) const override {
    const auto& text = texts_.at(static_cast<size_t>(column));
    if (!text) return std::nullopt;
    return std::string_view(*text);
  }

 private:
  Result result_;
  int row_ = -1;
  std::vector<std::string> names_;
  std::vector<unsigned> types_;
  std::vector<std::optional<std::string>> texts_;
};

// The answer to a count this engine knows without asking (see FreshTable).
class CountCursor : public Cursor {
 public:
  explicit CountCursor(long long count) : text_(std::to_string(count)) {}
  int columnCount() const override { return 1; }
  const std::string& columnName(int) const override { return name_; }
  bool next() override { return !done_ && (done_ = true); }
  std::optional<std::string_view> value(int) const override { return std::string_view(text_); }

 private:
  std::string name_ = "COUNT", text_;  // as the server names count(*)
  bool done_ = false;
};

class PostgresEngine;

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
      : options_{target.lock_timeout, target.connect_timeout} {
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
    try {
      SetUpSession();
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }

  ~PostgresEngine() override { PQfinish(conn_); }  // the server rolls back what is open

  std::string name() const override { return "postgres"; }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    Result result = Run(Translate(sql, false), nullptr);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) throw NoRowSetError();
    return std::make_unique<PgCursor>(std::move(result));
  }

  void execute(const std::string& sql) override { Run(Translate(sql, false), nullptr); }

  std::unique_ptr<Statement> prepare(const std::string& sql) override {
    return std::make_unique<PgPrepared>(*this, Translate(sql, true));
  }

  void lockTable(const std::string& table) override {
    if (!in_transaction_) throw DbError("a table is locked only inside a transaction");
    // Other runs into the table wait (up to the lock timeout); readers do not.
    Run(Translate("lock table " + table + " in share row exclusive mode", false), nullptr);
    // Locked and empty, with nothing on it that writes by itself: every row
    // it holds until the transaction ends comes from this session.
    const std::string check =
        "select (select count(*) from (select 1 from " + table +
        " limit 1) s) + (select count(*) from "
        "pg_catalog.pg_trigger where tgrelid = pg_catalog.to_regclass($1) and not tgisinternal) + "
        "(select count(*) "
        "from pg_catalog.pg_rewrite where ev_class = pg_catalog.to_regclass($1))";
    const char* values[] = {table.c_str()};
    Result result(PQexecParams(conn_, check.c_str(), 1, nullptr, values, nullptr, nullptr, 0));
    if (!Ok(result.get())) Fail(result.get());
    if (std::strcmp(PQgetvalue(result.get(), 0, 0), "0") == 0) {
      fresh_ = FreshTable{};
      fresh_->table = table;
    }
  }

  void begin() override {
    EnsureConnected();
    // A new run reads the column types afresh.
    columns_.clear();
    fresh_.reset();
    Simple("begin");
    in_transaction_ = true;
  }

  void commit() override {
    fresh_.reset();
    if (PQstatus(conn_) != CONNECTION_OK) {
      in_transaction_ = false;
      throw DbError(DbError::Kind::Gone,
                    "the connection to the server was lost; the transaction was rolled back", 0,
                    kConnectionLost)
          .because(Reason::ConnectionLostRolledBack);
    }
    Result result(PQexec(conn_, "commit"));
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
    fresh_.reset();
    in_transaction_ = false;
    // A lost connection has already taken its transaction with it.
    if (PQstatus(conn_) != CONNECTION_OK) return;
    Result result(PQexec(conn_, "rollback"));
    if (!Ok(result.get()) && PQstatus(conn_) == CONNECTION_OK)
      throw DbError(ServerMessage(result.get(), conn_), 0, SqlState(result.get()));
  }

  bool inTransaction() const override { return in_transaction_; }

 private:
  void SetUpSession() {
    std::string setup = kSessionSetup;
    setup += "set lock_timeout = '" + std::to_string(options_.lock_wait_seconds) + "s';\n";
    Result result(PQexec(conn_, setup.c_str()));
    if (!Ok(result.get()))
      throw DbError("cannot prepare the session: " + ServerMessage(result.get(), conn_));
    prepared_.clear();
    columns_.clear();
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
    PQreset(conn_);
    if (PQstatus(conn_) != CONNECTION_OK)
      throw DbError("cannot connect to the PostgreSQL server: " + ConnectionMessage(conn_), 0,
                    kConnectionLost)
          .because(Reason::CannotConnect, {}, 0, ConnectionMessage(conn_));
    SetUpSession();
  }

  void Simple(const char* sql) {
    Result result(PQexec(conn_, sql));
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
    Result result(PQexecParams(
        conn_,
        "select a.attname, a.atttypid, t.typcategory = 'S', t.typname in ('varchar', 'text') and "
        "coalesce((select c.collisdeterministic from pg_catalog.pg_collation c "
        "where c.oid = a.attcollation), true) from pg_catalog.pg_attribute a "
        "join pg_catalog.pg_type t on t.oid = a.atttypid "
        "where a.attrelid = pg_catalog.to_regclass($1) and a.attnum > 0 and not a.attisdropped",
        1, nullptr, values, nullptr, nullptr, 0));
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

  PgStatement Translate(const std::string& sql, bool markers) {
    EnsureConnected();
    return postgres::TranslateOracle(
        sql, [this](const std::string& table) { return Columns(table); }, markers);
  }

  // Binds and runs one statement (with the values of its markers, if any);
  // returns its result.
  Result Run(const PgStatement& statement, const std::vector<Value>* marked) {
    EnsureConnected();
    if (statement.schema_change) columns_.clear();
    if (fresh_ && statement.insert_table != fresh_->table && statement.count_table != fresh_->table)
      fresh_.reset();

    std::vector<const char*> values;
    std::vector<unsigned> types;
    std::vector<std::string> numbers;  // integer values as text, alive until sent
    numbers.reserve(statement.params.size());
    for (const auto& param : statement.params) {
      types.push_back(param.oid);
      if (param.marker < 0) {
        values.push_back(param.is_null ? nullptr : param.text.c_str());
        continue;
      }
      if (!marked || static_cast<size_t>(param.marker) >= marked->size())
        throw DbError("a value is missing for the statement's marker " +
                      std::to_string(param.marker + 1));
      const Value& v = (*marked)[static_cast<size_t>(param.marker)];
      if (v.kind == Value::Kind::Null ||
          (v.kind == Value::Kind::Text && v.text.empty() && !param.character)) {
        // As in Oracle, '' is NULL; only a text column keeps it as ''.
        values.push_back(nullptr);
      } else if (v.kind == Value::Kind::Integer) {
        numbers.push_back(std::to_string(v.integer));
        values.push_back(numbers.back().c_str());
      } else {
        values.push_back(v.text.c_str());
      }
    }
    const int count = static_cast<int>(values.size());
    std::string key;
    const std::string* name = nullptr;
    bool prepare = false;
    if (statement.data) {
      key = statement.text;
      for (const unsigned type : types) key += "\x01" + std::to_string(type);
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
      Result result(
          name ? PQexecPrepared(conn_, name->c_str(), count, values.data(), nullptr, nullptr, 0)
               : PQexecParams(conn_, statement.text.c_str(), count, count ? types.data() : nullptr,
                              values.data(), nullptr, nullptr, 0));
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
      while (PGresult* r = PQgetResult(conn_)) {
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
      Result r(PQgetResult(conn_));
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

  // A table this transaction locked while it was empty (lockTable): no
  // other session can write it until the transaction ends, so its rows are
  // exactly those this session inserted, and the import's existence check
  // of a key of plain text columns is answered here, one round trip less
  // per row. Anything else that touches the database ends it.
  struct FreshTable {
    std::string table;                     // as the statements write it
    std::vector<std::string> key_columns;  // stored names, learned from the first check
    bool learned = false;
    std::unordered_map<std::string, long long> keys;  // inserted key texts
  };

  static void AddKeyPart(std::string& key, const std::string& text) {
    key += std::to_string(text.size());
    key += ':';
    key += text;
  }

  std::optional<long long> KnownCount(const PgStatement& st, const std::vector<Value>& values) {
    if (!fresh_ || !in_transaction_ || st.count_table != fresh_->table) return std::nullopt;
    if (!fresh_->learned) {
      const auto columns = Columns(fresh_->table);
      bool plain = columns.has_value();
      for (const auto& name : st.count_columns) {
        bool found = false;
        if (columns)
          for (const auto& column : *columns)
            found = found || (column.name == name && column.plain_text);
        plain = plain && found;
      }
      if (!plain) {
        fresh_.reset();
        return std::nullopt;
      }
      fresh_->key_columns = st.count_columns;
      fresh_->learned = true;
    } else if (st.count_columns != fresh_->key_columns) {
      fresh_.reset();
      return std::nullopt;
    }
    if (values.size() != st.count_columns.size()) {
      fresh_.reset();
      return std::nullopt;
    }
    std::string key;
    for (const auto& v : values) {
      if (v.kind == Value::Kind::Null || (v.kind == Value::Kind::Text && v.text.empty()))
        return 0;  // NULL: no match
      if (v.kind != Value::Kind::Text) {
        fresh_.reset();
        return std::nullopt;
      }
      AddKeyPart(key, v.text);
    }
    const auto it = fresh_->keys.find(key);
    return it == fresh_->keys.end() ? 0 : it->second;
  }

  // After an insert ran: its key goes on the list.
  void Inserted(const PgStatement& st, const std::vector<Value>& values) {
    if (!fresh_ || st.insert_table != fresh_->table) return;
    if (!fresh_->learned) {
      fresh_.reset();
      return;
    }
    std::string key;
    for (const auto& name : fresh_->key_columns) {
      int marker = -1;
      for (const auto& [column, m] : st.insert_columns)
        if (column == name) marker = m;
      if (marker < 0 || static_cast<size_t>(marker) >= values.size()) {
        fresh_.reset();
        return;
      }
      const Value& v = values[static_cast<size_t>(marker)];
      if (v.kind == Value::Kind::Null || (v.kind == Value::Kind::Text && v.text.empty()))
        return;  // matches nothing
      // varchar drops blanks beyond its length: only trimmed texts are sure to be stored as sent.
      if (v.kind != Value::Kind::Text || v.text.back() == ' ') {
        fresh_.reset();
        return;
      }
      AddKeyPart(key, v.text);
    }
    ++fresh_->keys[key];
  }

  static constexpr size_t kMaxPrepared = 64;
  std::optional<FreshTable> fresh_;
  PGconn* conn_ = nullptr;
  PostgresOptions options_;
  bool in_transaction_ = false;
  std::unordered_map<std::string, std::string> prepared_;
  std::string next_name_;
  long long statement_number_ = 0;
  std::map<std::string, std::vector<ColumnType>> columns_;
};

void PgPrepared::execute(const std::vector<Value>& values) {
  engine_.Run(statement_, &values);
  engine_.Inserted(statement_, values);
}

std::unique_ptr<Cursor> PgPrepared::query(const std::vector<Value>& values) {
  if (auto count = engine_.KnownCount(statement_, values))
    return std::make_unique<CountCursor>(*count);
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
