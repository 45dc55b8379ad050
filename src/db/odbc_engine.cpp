// The odbc engine: unixODBC, SQL passed unchanged. Outside a transaction
// every statement commits on its own; begin switches autocommit off until
// SQLEndTran ends the transaction.

#include "db/odbc_engine.h"

#include <sql.h>
#include <sqlext.h>

#include <memory>

#include "db/connection_string.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/sql_text.h"

namespace xb::db {
namespace {

DbError Diagnostic(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  std::string message, state;
  SQLINTEGER native = 0;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR sqlstate[6] = {0};
    SQLCHAR text[SQL_MAX_MESSAGE_LENGTH + 1] = {0};
    SQLINTEGER code = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, record, sqlstate, &code, text, sizeof text, &length);
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
  return DbError(message, native, state);
}

class OdbcEngine : public Engine {
 public:
  OdbcEngine(const std::string& dsn, const std::string& user, const std::string& password) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
      throw DbError("cannot start the ODBC driver manager");
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      throw DbError("cannot allocate an ODBC connection");
    }
    std::string connect = BuildOdbcConnectString(dsn, user, password);
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(connect.data()),
                                          static_cast<SQLSMALLINT>(connect.size()), out, sizeof out, &out_length,
                                          SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      DbError error = Diagnostic(SQL_HANDLE_DBC, dbc_, "connecting to " + dsn);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      throw error;
    }
  }

  ~OdbcEngine() override {
    // An open transaction is rolled back explicitly before the disconnect.
    if (in_transaction_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  std::shared_ptr<const ResultSet> query(const std::string& sql) override {
    Statement stmt(dbc_);
    Run(stmt, sql);
    auto result = std::make_shared<ResultSet>();
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt.handle, &columns);
    if (columns == 0) throw NoRowSetError();
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      SQLCHAR name[512] = {0};
      SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(stmt.handle, c, name, sizeof name, &length, &type, &size, &digits, &nullable);
      result->names.emplace_back(reinterpret_cast<char*>(name));
    }
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt.handle);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt.handle, "fetching a row");
      auto& row = result->rows.emplace_back();
      for (SQLSMALLINT c = 1; c <= columns; ++c) row.push_back(Field(stmt.handle, c));
    }
    return result;
  }

  void execute(const std::string& sql) override {
    Statement stmt(dbc_);
    Run(stmt, sql);
  }

  void begin() override {
    SetAutocommit(false);
    in_transaction_ = true;
  }
  void commit() override { End(SQL_COMMIT); }
  void rollback() override { End(SQL_ROLLBACK); }
  bool inTransaction() const override { return in_transaction_; }

 private:
  struct Statement {
    explicit Statement(SQLHDBC dbc) {
      if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle)))
        throw Diagnostic(SQL_HANDLE_DBC, dbc, "allocating a statement");
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle); }
    SQLHSTMT handle = SQL_NULL_HSTMT;
  };

  void Run(Statement& stmt, const std::string& sql) {
    CheckSingleStatement(sql, true);
    std::string text = sql;
    const SQLRETURN rc =
        SQLExecDirect(stmt.handle, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
    // An update or delete that touches no row answers SQL_NO_DATA: not a failure.
    if (rc == SQL_NO_DATA) return;
    if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt.handle, "running the statement");
  }

  static std::optional<std::string> Field(SQLHSTMT stmt, SQLSMALLINT column) {
    std::string value;
    char buffer[4096];
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_STMT, stmt, "reading a value");
      if (indicator == SQL_NULL_DATA) return std::nullopt;
      if (rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))) {
        value.append(buffer, sizeof buffer - 1);  // the last byte is the terminator
        continue;
      }
      value.append(buffer, static_cast<size_t>(indicator));
      break;
    }
    return value;
  }

  void SetAutocommit(bool on) {
    const SQLRETURN rc = SQLSetConnectAttr(
        dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
    if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_DBC, dbc_, "switching autocommit");
  }

  void End(SQLSMALLINT how) {
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, how);
    if (!SQL_SUCCEEDED(rc)) throw Diagnostic(SQL_HANDLE_DBC, dbc_, how == SQL_COMMIT ? "commit" : "rollback");
    in_transaction_ = false;
    SetAutocommit(true);
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool in_transaction_ = false;
};

}  // namespace

std::unique_ptr<Engine> OpenOdbc(const std::string& dsn, const std::string& user, const std::string& password) {
  return std::make_unique<OdbcEngine>(dsn, user, password);
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

void CheckSingleStatement(const std::string& sql, bool allow_trailing_semicolon) {
  // A NUL would cut the text short in the engine's own parser.
  if (sql.find('\0') != std::string::npos) throw DbError("the statement text holds a NUL character");
  if (sql.find(';') == std::string::npos) return;
  size_t semicolon = std::string::npos;
  bool more = false;
  ForEachCodeChar(sql, [&](size_t i) {
    if (semicolon == std::string::npos) {
      if (sql[i] == ';') semicolon = i;
    } else if (!more && static_cast<unsigned char>(sql[i]) > ' ' && sql[i] != ';') {
      more = true;
    }
  });
  if (semicolon == std::string::npos) return;
  if (more) throw DbError("only one statement can be sent at a time: the text holds more after ';'");
  if (!allow_trailing_semicolon) throw DbError("invalid character: a statement must not end in ';'");
}

}  // namespace xb::db
