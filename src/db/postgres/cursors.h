#pragma once
// The postgres engine's cursors: a whole result as libpq received it,
// walked forward, and a query's rows as they arrive (libpq's single-row
// mode), one row held at a time.

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "db/postgres/session.h"
#include "db/postgres/translate.h"
#include "db/row_cursor.h"

namespace xb::db::postgres {

class PgCursor : public RowCursor {
 public:
  explicit PgCursor(Result result);

 protected:
  bool fetch(Row& row) override;

 private:
  Result result_;
  int row_ = -1;
  std::vector<unsigned> types_;
};

// Should another statement need the connection before the last row was
// read, the rest is read into memory first (a cursor stays valid while
// other statements run).
class PgStream : public RowCursor {
 public:
  PgStream(Session& session, Result first);
  ~PgStream() override;
  void ReadRest();
  // The session is gone or lost: nothing more arrives.
  void Orphan() {
    session_ = nullptr;
    finished_ = true;
  }
  bool finished() const { return finished_; }

 protected:
  bool fetch(Row& row) override;

 private:
  Session* session_;
  Result first_;             // the first row, not yet shown
  std::deque<Result> rest_;  // rows read ahead for another statement's sake
  Result error_;             // a failure met while reading ahead, raised at its place
  bool finished_ = false;    // every result of the query has been taken from libpq
  std::vector<unsigned> types_;
};

// A row-returning statement without markers, sent and its rows streamed:
// the session's stream until the last has arrived.
std::unique_ptr<Cursor> StreamRows(Session& session, const PgStatement& statement);

}  // namespace xb::db::postgres
