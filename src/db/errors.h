#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>

#include "reason/reason.h"

namespace xb::db {

// Every failure of the database layer. The message is the engine's own text
// (SQLite's message, or the ODBC driver's diagnostic) and is what the
// operator sees embedded in the boxes; the codes are for logs and tests. The
// kind marks the failures the program answers with a box of their own (see
// db/engine.h).
class DbError : public std::runtime_error, public Reasoned {
 public:
  enum class Kind { Other, NoSuchDataSource, ConnectTimeout, LockTimeout, CommitUncertain, Gone };

  explicit DbError(const std::string& message, int native_code = 0, std::string sqlstate = {},
                   Kind kind = Kind::Other)
      : std::runtime_error(message),
        native_code_(native_code),
        sqlstate_(std::move(sqlstate)),
        kind_(kind) {}
  DbError(Kind kind, const std::string& message, int native_code = 0, std::string sqlstate = {})
      : DbError(message, native_code, std::move(sqlstate), kind) {}
  // Marks the message as the program's own, told the operator by its code.
  DbError&& because(Reason reason, std::string subject = {}, long code = 0,
                    std::string detail = {}) && {
    setReason(reason, std::move(subject), code, std::move(detail));
    return std::move(*this);
  }
  int nativeCode() const { return native_code_; }
  const std::string& sqlState() const { return sqlstate_; }
  Kind kind() const { return kind_; }

 private:
  int native_code_;
  std::string sqlstate_;
  Kind kind_;
};

// A statement opened as a query that the database carried out but that
// returns no row set (an update, say).
class NoRowSetError : public DbError {
 public:
  NoRowSetError() : DbError("the statement was carried out but returns no rows to open") {
    setReason(Reason::NoRowSet);
  }
};

// One statement of a batch failed (Engine::executeBatch): the error is that
// statement's, and index says which one; the statements before it ran.
class BatchError : public DbError {
 public:
  BatchError(size_t index, const DbError& cause) : DbError(cause), index_(index) {}
  size_t index() const { return index_; }

 private:
  size_t index_;
};

}  // namespace xb::db
