// The odbc engine: unixODBC, SQL passed unchanged. Outside a transaction
// every statement commits on its own; begin switches autocommit off until
// SQLEndTran ends the transaction. Statements with '?' markers are prepared
// once (SQLPrepare) and run again with their values bound
// (SQLBindParameter); results are fetched in blocks of rows.

#include "db/odbc/odbc_engine.h"

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "db/connection_string.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/registry.h"
#include "db/row_cursor.h"
#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

DbError Diagnostic(SQLSMALLINT type, SQLHANDLE handle, const std::string& what,
                   DbError::Kind kind = DbError::Kind::Other) {
  std::string message, state;
  SQLINTEGER native = 0;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR sqlstate[6] = {0};
    SQLCHAR text[SQL_MAX_MESSAGE_LENGTH + 1] = {0};
    SQLINTEGER code = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLGetDiagRec(type, handle, record, sqlstate, &code, text, sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (record == 1) {
      state = reinterpret_cast<char*>(sqlstate);
      native = code;
    } else {
      message += "\n";
    }
    message += reinterpret_cast<char*>(text);
  }
  if (message.empty()) message = what + " failed";
  // Waits that ran out: a lock not granted in time (PostgreSQL 55P03, the
  // lock_timeout; Oracle ORA-30006 and ORA-00054), a timeout of the driver.
  if (state == "55P03" || state == "HYT00" || state == "HYT01" || native == 30006 || native == 54)
    kind = kind == DbError::Kind::Other ? DbError::Kind::LockTimeout : kind;
  // A connection that broke or was never made.
  if (kind == DbError::Kind::Other &&
      (state == "08S01" || state == "08003" || state == "08006" || state.rfind("57P0", 0) == 0))
    kind = DbError::Kind::Gone;
  return DbError(message, native, state, kind);
}

// What SQLBindParameter points at for one value: it must live until the
// statement ran.
struct Binding {
  SQLLEN indicator = 0;
  long long integer = 0;
};

// How a number value is declared to the driver: SQL_DECIMAL with room for
// its digits, so a driver that converts on the client keeps every one.
struct DecimalRoom {
  SQLULEN whole = 0;      // digits before the point
  SQLSMALLINT scale = 0;  // digits after it
  SQLULEN precision() const { return std::max<SQLULEN>(1, whole + static_cast<SQLULEN>(scale)); }
  // Widened to hold text's number too; false when text is no number (it is
  // then sent as text, for the database to refuse in its own words).
  bool Fit(const std::string& text) {
    const auto canonical = oracle::CanonicalDecimal(text);
    if (!canonical) return false;
    std::string_view digits = *canonical;
    if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
    const size_t point = digits.find('.');
    const size_t whole_digits = point == std::string_view::npos ? digits.size() : point;
    const size_t scale_digits = point == std::string_view::npos ? 0 : digits.size() - point - 1;
    whole = std::max<SQLULEN>(whole, whole_digits);
    scale = std::max<SQLSMALLINT>(scale, static_cast<SQLSMALLINT>(scale_digits));
    return true;
  }
};

// An array failed and the driver did not say which row: the failure as the
// array's status would name it.
struct AmbiguousArrayFailure {
  BatchError error;
};

class OdbcEngine : public Engine {
 public:
  explicit OdbcEngine(const EngineTarget& target) : lock_timeout_(target.lock_timeout) {
    // The DSN as the driver manager spells it: names are found whatever their case.
    std::string dsn = target.where;
    for (const auto& known : OdbcDataSources())
      if (text::EqualsIgnoringCase(known, dsn)) dsn = known;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
      throw DbError("cannot start the ODBC driver manager");
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      throw DbError("cannot allocate an ODBC connection");
    }
    // A server that does not answer is given up after the connect timeout.
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(target.connect_timeout)),
                      0);
    std::string connect = BuildOdbcConnectString(dsn, target.user, target.password);
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    const auto started = std::chrono::steady_clock::now();
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(connect.data()),
                                          static_cast<SQLSMALLINT>(connect.size()), out, sizeof out,
                                          &out_length, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      DbError error = Diagnostic(SQL_HANDLE_DBC, dbc_, "connecting to " + dsn);
      // Drivers say a timeout in their own words (psqlODBC: 08001 "timeout
      // expired"); a failure that came only after the whole wait is one.
      const bool waited_out =
          target.connect_timeout > 0 &&
          std::chrono::steady_clock::now() - started >=
              std::chrono::seconds(target.connect_timeout) - std::chrono::milliseconds(100);
      if (error.sqlState() == "HYT00" || error.sqlState() == "HYT01" || waited_out)
        error = DbError(DbError::Kind::ConnectTimeout, error.what(), error.nativeCode(),
                        error.sqlState());
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      throw error;
    }
    SQLCHAR dbms[128] = {0};
    SQLSMALLINT dbms_length = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_DBMS_NAME, dbms, sizeof dbms, &dbms_length)))
      dbms_ = text::UpperCased(reinterpret_cast<char*>(dbms));
    // Blocks of rows need SQLGetData on a bound column of any row of a
    // block, for the values longer than their room.
    SQLUINTEGER getdata = 0;
    SQLUSMALLINT setpos = SQL_FALSE;
    block_fetch_ = SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_GETDATA_EXTENSIONS, &getdata, sizeof getdata,
                                            nullptr)) &&
                   (getdata & SQL_GD_BLOCK) != 0 && (getdata & SQL_GD_BOUND) != 0 &&
                   SQL_SUCCEEDED(SQLGetFunctions(dbc_, SQL_API_SQLSETPOS, &setpos)) &&
                   setpos == SQL_TRUE;
    // How long a statement waits for another session's lock: PostgreSQL
    // says it per session; other databases through their driver's timeout.
    if (dbms_.find("POSTGRES") != std::string::npos)
      RunDirect("set lock_timeout = " +
                std::to_string(static_cast<long long>(lock_timeout_) * 1000));
  }

  ~OdbcEngine() override {
    // An open transaction is rolled back explicitly before the disconnect.
    if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  std::string name() const override { return "odbc"; }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
    auto stmt = std::make_unique<Handle>(dbc_);
    Run(*stmt, sql);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt->handle, &columns);
    if (columns == 0) throw NoRowSetError();
    return std::make_unique<OdbcCursor>(std::move(stmt), nullptr, block_fetch_);
  }

  void executeBatch(const std::vector<BatchItem>& items) override {
    // Rows of one statement in a row go as one array.
    for (size_t from = 0; from < items.size();) {
      size_t to = from + 1;
      while (to < items.size() && items[to].statement == items[from].statement) ++to;
      auto* prepared = dynamic_cast<Prepared*>(items[from].statement);
      bool ran = false;
      if (prepared && to - from > 1) {
        // A failed array is undone to a savepoint and its rows run one by
        // one, so that the failure names its own row (see ExecuteArray).
        // One statement more per array.
        const bool guarded = in_transaction_ && dbms_.find("SQLITE") == std::string::npos;
        if (guarded) RunDirect("savepoint xb_array");
        try {
          ran = prepared->ExecuteArray(items, from, to, guarded);
        } catch (const AmbiguousArrayFailure& failure) {
          try {
            RunDirect("rollback to savepoint xb_array");
          } catch (const DbError&) {
            // The driver ended the transaction itself: the array's failure
            // stands as the driver named it.
            throw failure.error;
          }
        }
      }
      if (!ran) RunEach(items, from, to);
      from = to;
    }
  }

  // Items [from, to) one execute() each; the first failure names its item.
  static void RunEach(const std::vector<BatchItem>& items, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      try {
        items[i].statement->execute(*items[i].values);
      } catch (const DbError& e) {
        throw BatchError(i, e);
      }
    }
  }

  void execute(const std::string& sql) override {
    Handle stmt(dbc_);
    Run(stmt, sql);
  }

  std::unique_ptr<db::Statement> prepare(const std::string& sql) override {
    CheckSingleStatement(sql, true);
    return std::make_unique<Prepared>(*this, sql);
  }

  void begin() override {
    SetAutocommit(false);
    in_transaction_ = true;
  }
  void commit() override {
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
    if (!SQL_SUCCEEDED(rc)) {
      DbError error = Diagnostic(SQL_HANDLE_DBC, dbc_, "commit");
      // The connection broke while the commit was under way: the server may
      // have committed or not, and nothing here can tell.
      // (08: connection exceptions; 57P0x: the server ended the session;
      // 40003: statement completion unknown.)
      if (error.kind() == DbError::Kind::Gone || error.sqlState().rfind("08", 0) == 0 ||
          error.sqlState().rfind("57P0", 0) == 0 || error.sqlState() == "40003")
        throw DbError(DbError::Kind::CommitUncertain, error.what(), error.nativeCode(),
                      error.sqlState());
      throw error;
    }
    in_transaction_ = false;
    SetAutocommit(true);
  }
  void rollback() override { End(SQL_ROLLBACK); }
  bool inTransaction() const override { return in_transaction_; }

  void lockTable(const std::string& table) override {
    if (!in_transaction_) throw DbError("a table is locked only inside a transaction");
    // SQLite has one write lock for the whole database, taken by the first
    // write; elsewhere Oracle's (and PostgreSQL's) table lock keeps other
    // writers and other runs out while readers go on.
    if (dbms_.find("SQLITE") != std::string::npos)
      RunDirect("delete from " + table + " where 1=0");
    else if (dbms_.find("ORACLE") != std::string::npos && lock_timeout_ > 0)
      // Oracle waits for a table lock as long as told (ORA-30006 after it).
      RunDirect("lock table " + table + " in share row exclusive mode wait " +
                std::to_string(lock_timeout_));
    else
      RunDirect("lock table " + table + " in share row exclusive mode");
  }

 private:
  struct Handle {
    explicit Handle(SQLHDBC dbc) {
      if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle)))
        throw Diagnostic(SQL_HANDLE_DBC, dbc, "allocating a statement");
    }
    ~Handle() { SQLFreeHandle(SQL_HANDLE_STMT, handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    SQLHSTMT handle = SQL_NULL_HSTMT;
  };

  // A result read in blocks of rows: every column is bound to an array
  // (column-wise) and one SQLFetch fills a block, so a driver that fetches
  // from its server as it is asked (psqlODBC's UseDeclareFetch) gets a block
  // per round trip instead of a row. A value longer than its bound room, or
  // on a row the driver could not convert, is read again whole with
  // SQLGetData on its row (SQLSetPos). A driver that cannot read a bound
  // column of a block that way is read a row at a time, every value with
  // SQLGetData. Owns its statement handle when it came from a text query,
  // else borrows that of a prepared statement, which detaches it when it
  // runs again.
  class OdbcCursor : public RowCursor {
   public:
    OdbcCursor(std::unique_ptr<Handle> owned, SQLHSTMT borrowed, bool blocks,
               OdbcCursor** slot = nullptr)
        : owned_(std::move(owned)), stmt_(owned_ ? owned_->handle : borrowed), slot_(slot) {
      SQLSMALLINT columns = 0;
      SQLNumResultCols(stmt_, &columns);
      std::vector<std::string> names;
      for (SQLSMALLINT c = 1; c <= columns; ++c) {
        SQLCHAR name[512] = {0};
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(stmt_, c, name, sizeof name, &length, &type, &size, &digits, &nullable);
        names.emplace_back(reinterpret_cast<char*>(name));
        columns_.push_back(Column{BoundWidth(type, size), {}, {}});
      }
      setColumns(std::move(names));
      if (blocks && columns > 0) {
        try {
          Bind();
        } catch (...) {
          Detach();  // no destructor runs: the statement must not keep our arrays
          throw;
        }
      }
      if (slot_) *slot_ = this;
    }
    ~OdbcCursor() override { Detach(); }
    OdbcCursor(const OdbcCursor&) = delete;
    OdbcCursor& operator=(const OdbcCursor&) = delete;

    // Lets go of the statement: it is about to run again or to be freed.
    // The cursor's arrays must no longer be the driver's to fill.
    void Detach() noexcept {
      if (!stmt_) return;
      if (slot_ && *slot_ == this) *slot_ = nullptr;
      if (!owned_) {
        SQLFreeStmt(stmt_, SQL_CLOSE);
        if (bound_) {
          SQLFreeStmt(stmt_, SQL_UNBIND);
          SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
          SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
          SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        }
      }
      stmt_ = SQL_NULL_HSTMT;
    }

    // Rows per block: as many as fit the block's room, within limits.
    static constexpr size_t kBlockBytes = size_t{4} << 20;
    static constexpr size_t kMaxBlockRows = 4096;
    // Bytes bound for a value whose length the driver does not bound (long
    // text, binary): most fit; a longer one is read again whole.
    static constexpr SQLLEN kWideValue = 256;

   private:
    struct Column {
      SQLLEN width;                // bytes per value, the terminator included
      std::vector<char> data;      // rows_ values of width bytes
      std::vector<SQLLEN> length;  // per row: bytes of the value, or SQL_NULL_DATA
    };

    // Room for one value as text: what the driver says the column can hold
    // (a character of UTF-8 takes up to four bytes; numbers, dates and times
    // fit in 64), at most kWideValue unless the type is a number.
    static SQLLEN BoundWidth(SQLSMALLINT type, SQLULEN size) {
      switch (type) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
          if (size == 0 || size > static_cast<SQLULEN>(kWideValue)) return kWideValue;
          return std::min<SQLLEN>(kWideValue, static_cast<SQLLEN>(size) * 4 + 1);
        case SQL_DECIMAL:
        case SQL_NUMERIC:
          // Digits, sign, point and a leading zero. A number cut short is an
          // error in some drivers rather than a truncation: room for 38
          // digits at least, and any longer one is read again.
          return std::clamp<SQLLEN>(static_cast<SQLLEN>(size) + 4, 64, 1024);
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR:
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY: return kWideValue;
        default: return 64;
      }
    }

    void Bind() {
      SQLLEN row_bytes = 0;
      for (const Column& c : columns_) row_bytes += c.width + static_cast<SQLLEN>(sizeof(SQLLEN));
      const size_t wanted =
          std::clamp<size_t>(kBlockBytes / static_cast<size_t>(row_bytes), 1, kMaxBlockRows);
      if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE,
                                        reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0)))
        return;
      bound_ = true;  // from here on Detach puts the statement back
      // The driver may take fewer rows than asked (01S02): it says how many.
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(wanted), 0);
      SQLULEN rows = 1;
      if (!SQL_SUCCEEDED(SQLGetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &rows, 0, nullptr)) ||
          rows == 0)
        rows = 1;
      rows_ = static_cast<size_t>(rows);
      status_.assign(rows_, SQL_ROW_NOROW);
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, status_.data(), 0);
      SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
      for (size_t c = 0; c < columns_.size(); ++c) {
        Column& column = columns_[c];
        column.data.resize(rows_ * static_cast<size_t>(column.width));
        column.length.assign(rows_, 0);
        if (!SQL_SUCCEEDED(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR,
                                      column.data.data(), column.width, column.length.data())))
          throw Diagnostic(SQL_HANDLE_STMT, stmt_, "binding a result column");
      }
    }

    bool fetch(Row& row) override {
      if (!stmt_) throw DbError("the result is gone: its statement was run again or closed");
      if (!bound_) {
        if (!Fetch()) return false;
        for (size_t c = 0; c < row.size(); ++c)
          Field(stmt_, static_cast<SQLSMALLINT>(c + 1), row[c]);
        return true;
      }
      if (next_ >= fetched_) {
        fetched_ = 0;
        next_ = 0;
        if (!Fetch() || fetched_ == 0) return false;
      }
      const size_t r = next_++;
      // A row the driver could not convert is read again value by value,
      // and fails there with the driver's own message.
      const bool failed_row = status_[r] == SQL_ROW_ERROR;
      bool positioned = false;
      for (size_t c = 0; c < row.size(); ++c) {
        const Column& column = columns_[c];
        const SQLLEN length = column.length[r];
        if (!failed_row && length == SQL_NULL_DATA) {
          row[c].reset();
          continue;
        }
        if (!failed_row && length >= 0 && length < column.width) {
          row[c].emplace(column.data.data() + r * static_cast<size_t>(column.width),
                         static_cast<size_t>(length));
          KeptNumber(*row[c]);
          continue;
        }
        if (!positioned) {
          const SQLRETURN rc =
              SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE);
          if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt_, "reading a value");
          positioned = true;
        }
        Field(stmt_, static_cast<SQLSMALLINT>(c + 1), row[c]);
      }
      return true;
    }

    // The next row, or block of rows; false at the end.
    bool Fetch() {
      const SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) return false;
      if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt_, "fetching a row");
      return true;
    }

    std::unique_ptr<Handle> owned_;
    SQLHSTMT stmt_;
    OdbcCursor** slot_;
    std::vector<Column> columns_;
    bool bound_ = false;
    size_t rows_ = 1;
    std::vector<SQLUSMALLINT> status_;
    SQLULEN fetched_ = 0;  // rows of the current block
    SQLULEN next_ = 0;     // the block's next row to hand out
  };

  // One SQLPrepare, then SQLBindParameter + SQLExecute for every run.
  class Prepared : public db::Statement {
   public:
    Prepared(OdbcEngine& engine, const std::string& sql)
        : handle_(engine.dbc_), block_fetch_(engine.block_fetch_) {
      markers_ = static_cast<int>(oracle::FindMarkers(sql).size());
      std::string text = sql;
      const SQLRETURN rc = SQLPrepare(handle_.handle, reinterpret_cast<SQLCHAR*>(text.data()),
                                      static_cast<SQLINTEGER>(text.size()));
      if (!SQL_SUCCEEDED(rc))
        throw Diagnostic(SQL_HANDLE_STMT, handle_.handle, "preparing the statement");
    }
    int parameterCount() const override { return markers_; }
    void execute(const std::vector<db::Value>& values) override {
      Run(values);
      SQLFreeStmt(handle_.handle, SQL_CLOSE);
    }
    // Runs rows [from, to) of items (all of this statement) in one
    // SQLExecute with parameter arrays: the driver may send them in one
    // round trip. False when the driver takes no arrays (nothing ran).
    // With undoable set, a failure of a row throws AmbiguousArrayFailure
    // (the caller undoes the array and runs its rows one by one).
    bool ExecuteArray(const std::vector<BatchItem>& items, size_t from, size_t to, bool undoable) {
      const size_t rows = to - from;
      const size_t params = static_cast<size_t>(markers_);
      for (size_t r = from; r < to; ++r) {
        if (items[r].values->size() != params) return false;
        for (const auto& v : *items[r].values)
          if (v.kind == db::Value::Kind::Integer) return false;
      }
      SQLHSTMT h = handle_.handle;
      SQLFreeStmt(h, SQL_CLOSE);
      SQLFreeStmt(h, SQL_RESET_PARAMS);
      std::vector<SQLUSMALLINT> status(rows, SQL_PARAM_UNUSED);
      SQLULEN processed = 0;
      if (!SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_PARAM_BIND_TYPE,
                                        reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN),
                                        0)) ||
          !SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE,
                                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(rows)),
                                        0))) {
        SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
        return false;
      }
      SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
      SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
      // Back to one row a run whatever happens here.
      struct Restore {
        SQLHSTMT h;
        ~Restore() {
          SQLFreeStmt(h, SQL_CLOSE);
          SQLFreeStmt(h, SQL_RESET_PARAMS);
          SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
          SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
          SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
        }
      } restore{h};
      // Column by column: each parameter's texts in slots of its longest.
      std::vector<std::vector<char>> buffers(params);
      std::vector<std::vector<SQLLEN>> indicators(params, std::vector<SQLLEN>(rows));
      for (size_t p = 0; p < params; ++p) {
        size_t width = 1;
        // A column of numbers (and NULLs) is declared a decimal.
        DecimalRoom room;
        bool numbers = false, others = false;
        for (size_t r = from; r < to; ++r) {
          const db::Value& v = (*items[r].values)[p];
          width = std::max(width, v.text.size() + 1);
          if (v.kind == db::Value::Kind::Number && room.Fit(v.text))
            numbers = true;
          else if (v.kind != db::Value::Kind::Null)
            others = true;
        }
        const bool decimal = numbers && !others;
        buffers[p].assign(width * rows, '\0');
        for (size_t r = 0; r < rows; ++r) {
          const db::Value& v = (*items[from + r].values)[p];
          if (v.kind == db::Value::Kind::Null) {
            indicators[p][r] = SQL_NULL_DATA;
          } else {
            std::copy(v.text.begin(), v.text.end(),
                      buffers[p].begin() + static_cast<long>(r * width));
            indicators[p][r] = static_cast<SQLLEN>(v.text.size());
          }
        }
        const SQLRETURN rc = SQLBindParameter(
            h, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
            decimal ? SQL_DECIMAL : SQL_VARCHAR,
            decimal ? room.precision() : std::max<SQLULEN>(1, width - 1), decimal ? room.scale : 0,
            buffers[p].data(), static_cast<SQLLEN>(width), indicators[p].data());
        if (!SQL_SUCCEEDED(rc))
          throw BatchError(from, Diagnostic(SQL_HANDLE_STMT, h, "binding a value"));
      }
      const SQLRETURN rc = SQLExecute(h);
      if (rc == SQL_NO_DATA || rc == SQL_SUCCESS) return true;
      // The first row the driver marks failed; else the last it processed.
      size_t failed = rows;
      for (size_t r = 0; r < rows && failed == rows; ++r)
        if (status[r] == SQL_PARAM_ERROR) failed = r;
      if (failed == rows && SQL_SUCCEEDED(rc)) return true;
      DbError error = Diagnostic(SQL_HANDLE_STMT, h, "running the statement");
      if (failed == rows) failed = processed > 0 ? std::min<size_t>(processed, rows) - 1 : 0;
      // Drivers' status arrays are not to be trusted to name the row:
      // psqlODBC marks every row, or only the first, whichever row failed.
      // Where the array can be undone its rows run again one by one. A lock
      // timeout or a lost connection is no row's fault: it stands as it is.
      if (undoable && error.kind() != DbError::Kind::LockTimeout &&
          error.kind() != DbError::Kind::Gone)
        throw AmbiguousArrayFailure{BatchError(from + failed, error)};
      throw BatchError(from + failed, error);
    }
    std::unique_ptr<Cursor> query(const std::vector<db::Value>& values) override {
      Run(values);
      SQLSMALLINT columns = 0;
      SQLNumResultCols(handle_.handle, &columns);
      if (columns == 0) {
        SQLFreeStmt(handle_.handle, SQL_CLOSE);
        throw NoRowSetError();
      }
      return std::make_unique<OdbcCursor>(nullptr, handle_.handle, block_fetch_, &live_);
    }
    ~Prepared() override {
      if (live_) live_->Detach();
    }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

   private:
    void Run(const std::vector<db::Value>& values) {
      if (static_cast<int>(values.size()) != markers_)
        throw DbError("the statement takes " + std::to_string(markers_) + " values, not " +
                      std::to_string(values.size()));
      // A cursor still reading the last run's rows ends here.
      if (live_) live_->Detach();
      SQLFreeStmt(handle_.handle, SQL_CLOSE);
      bindings_.assign(values.size(), Binding{});
      for (size_t i = 0; i < values.size(); ++i) {
        const db::Value& v = values[i];
        Binding& b = bindings_[i];
        SQLRETURN rc;
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        if (v.kind == db::Value::Kind::Integer) {
          b.integer = v.integer;
          rc = SQLBindParameter(handle_.handle, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT,
                                0, 0, &b.integer, 0, nullptr);
        } else {
          const bool null = v.kind == db::Value::Kind::Null;
          // A number goes as a decimal; a date as its text, which the
          // statement's to_date reads; the rest as text.
          DecimalRoom room;
          const bool decimal = v.kind == db::Value::Kind::Number && room.Fit(v.text);
          b.indicator = null ? SQL_NULL_DATA : static_cast<SQLLEN>(v.text.size());
          rc = SQLBindParameter(handle_.handle, number, SQL_PARAM_INPUT, SQL_C_CHAR,
                                decimal ? SQL_DECIMAL : SQL_VARCHAR,
                                decimal ? room.precision() : std::max<SQLULEN>(1, v.text.size()),
                                decimal ? room.scale : 0,
                                const_cast<char*>(null ? "" : v.text.data()),
                                b.indicator > 0 ? b.indicator : 0, &b.indicator);
        }
        if (!SQL_SUCCEEDED(rc))
          throw Diagnostic(SQL_HANDLE_STMT, handle_.handle, "binding a value");
      }
      const SQLRETURN rc = SQLExecute(handle_.handle);
      if (rc == SQL_NO_DATA) return;
      if (!SQL_SUCCEEDED(rc))
        throw Diagnostic(SQL_HANDLE_STMT, handle_.handle, "running the statement");
    }

    Handle handle_;
    bool block_fetch_;
    int markers_ = 0;
    std::vector<Binding> bindings_;
    OdbcCursor* live_ = nullptr;  // the cursor over the last run's rows, while it lives
  };

  void Run(Handle& stmt, const std::string& sql) {
    CheckSingleStatement(sql, true);
    std::string text = sql;
    const SQLRETURN rc = SQLExecDirect(stmt.handle, reinterpret_cast<SQLCHAR*>(text.data()),
                                       static_cast<SQLINTEGER>(text.size()));
    // An update or delete that touches no row answers SQL_NO_DATA: not a failure.
    if (rc == SQL_NO_DATA) return;
    if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt.handle, "running the statement");
  }
  void RunDirect(const std::string& sql) {
    Handle stmt(dbc_);
    Run(stmt, sql);
  }

  static void Field(SQLHSTMT stmt, SQLSMALLINT column, std::optional<std::string>& out) {
    std::string value;
    char buffer[4096];
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt, "reading a value");
      if (indicator == SQL_NULL_DATA) {
        out.reset();
        return;
      }
      if (rc == SQL_SUCCESS_WITH_INFO &&
          (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))) {
        value.append(buffer, sizeof buffer - 1);  // the last byte is the terminator
        continue;
      }
      value.append(buffer, static_cast<size_t>(indicator));
      break;
    }
    out = std::move(value);
    KeptNumber(*out);
  }

  // The SQLite ODBC driver gives a blob as X'<hex>'; the embedded engine
  // keeps a NUMBER longer than a double holds as a blob of its digits, and
  // those digits are the value.
  static void KeptNumber(std::string& value) {
    if (value.size() < 2 + 2 * 16 || value.size() > 2 + 2 * 200 || value[0] != 'X' ||
        value[1] != '\'' || value.back() != '\'' || value.size() % 2 != 1)
      return;
    auto nibble = [](char c) {
      return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string bytes;
    for (size_t i = 2; i + 1 < value.size(); i += 2) {
      const int high = nibble(value[i]), low = nibble(value[i + 1]);
      if (high < 0 || low < 0) return;
      bytes += static_cast<char>(high * 16 + low);
    }
    if (oracle::IsExactDecimal(bytes)) value = std::move(bytes);
  }

  void SetAutocommit(bool on) {
    const SQLRETURN rc = SQLSetConnectAttr(
        dbc_, SQL_ATTR_AUTOCOMMIT,
        reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
    if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_DBC, dbc_, "switching autocommit");
  }

  void End(SQLSMALLINT how) {
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, how);
    if (!SQL_SUCCEEDED(rc))
      throw Diagnostic(SQL_HANDLE_DBC, dbc_, how == SQL_COMMIT ? "commit" : "rollback");
    in_transaction_ = false;
    SetAutocommit(true);
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool in_transaction_ = false;
  int lock_timeout_ = 30;
  std::string dbms_;
  // Whether results are fetched in blocks of rows (see OdbcCursor).
  bool block_fetch_ = false;
};

}  // namespace

void RegisterOdbcEngine(Registry& registry) {
  EngineEntry entry;
  entry.name = "odbc";
  entry.open = [](const EngineTarget& target) -> std::unique_ptr<Engine> {
    return std::make_unique<OdbcEngine>(target);
  };
  // A data source typed by hand that the driver manager knows is a DSN.
  entry.claims = [](const std::string& data_source) {
    for (const auto& dsn : OdbcDataSources())
      if (text::EqualsIgnoringCase(dsn, data_source)) return true;
    return false;
  };
  entry.order = 100;
  entry.data_sources = OdbcDataSources;
  registry.add(std::move(entry));
}

std::vector<std::string> OdbcDataSources() {
  std::vector<std::string> names;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return names;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[512];
  SQLSMALLINT name_length = 0, description_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDataSources(env, direction, name, sizeof name, &name_length, description,
                                      sizeof description, &description_length))) {
    names.emplace_back(reinterpret_cast<char*>(name));
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return names;
}

}  // namespace xb::db
