#include "db/postgres/cursors.h"

#include <utility>

#include "db/errors.h"
#include "db/postgres/value_format.h"

namespace xb::db::postgres {

namespace {

// A result's column names as the program shows them, and their types.
std::vector<std::string> ColumnNames(const PGresult* result, std::vector<unsigned>& types) {
  std::vector<std::string> names;
  const int columns = PQnfields(result);
  for (int c = 0; c < columns; ++c) {
    names.push_back(OracleName(PQfname(result, c)));
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

}  // namespace

PgCursor::PgCursor(Result result) : result_(std::move(result)) {
  setColumns(ColumnNames(result_.get(), types_));
}

bool PgCursor::fetch(Row& row) {
  if (row_ + 1 >= PQntuples(result_.get())) return false;
  ReadRow(result_.get(), ++row_, types_, row);
  return true;
}

PgStream::PgStream(Session& session, Result first) : session_(&session), first_(std::move(first)) {
  setColumns(ColumnNames(first_.get(), types_));
  if (PQresultStatus(first_.get()) != PGRES_SINGLE_TUPLE) {
    first_.reset();
    finished_ = true;
  }
}

PgStream::~PgStream() {
  if (session_ && !finished_) session_->AbandonStream();
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
  } else if (finished_ || !session_) {
    return false;
  } else {
    r.reset(session_->NextResult());
    live = true;
  }
  const auto status = PQresultStatus(r.get());
  if (status == PGRES_SINGLE_TUPLE) {
    ReadRow(r.get(), 0, types_, row);
    return true;
  }
  if (live) {
    finished_ = true;
    session_->EndStream();
  }
  if (status == PGRES_TUPLES_OK) return false;
  finished_ = true;
  if (!session_) throw DbError(ServerMessage(r.get(), nullptr), 0, SqlState(r.get()));
  session_->Fail(r.get());
}

void PgStream::ReadRest() {
  while (!finished_ && session_) {
    Result r(session_->NextResult());
    if (!r) break;
    const auto status = PQresultStatus(r.get());
    if (status == PGRES_SINGLE_TUPLE)
      rest_.push_back(std::move(r));
    else if (status != PGRES_TUPLES_OK && !error_)
      error_ = std::move(r);
  }
  finished_ = true;
  if (session_) session_->setStream(nullptr);
}

std::unique_ptr<Cursor> StreamRows(Session& session, const PgStatement& statement) {
  std::vector<const char*> values;
  std::vector<unsigned> types;
  for (const auto& param : statement.params) {
    if (param.marker >= 0) throw DbError("a value is missing for the statement's markers");
    values.push_back(param.is_null ? nullptr : param.text.c_str());
    types.push_back(param.oid);
  }
  const int count = static_cast<int>(values.size());
  if (PQsendQueryParams(session.conn(), statement.text.c_str(), count,
                        count ? types.data() : nullptr, values.data(), nullptr, nullptr, 0) != 1)
    session.Fail(nullptr);
  PQsetSingleRowMode(session.conn());
  Result first(session.NextResult());
  const auto status = PQresultStatus(first.get());
  if (status == PGRES_SINGLE_TUPLE) {
    auto cursor = std::make_unique<PgStream>(session, std::move(first));
    session.setStream(cursor.get());
    return cursor;
  }
  while (PGresult* r = session.NextResult()) PQclear(r);
  if (status == PGRES_TUPLES_OK) {
    auto cursor = std::make_unique<PgStream>(session, std::move(first));
    return cursor;
  }
  if (!first || status == PGRES_FATAL_ERROR) session.Fail(first.get());
  throw NoRowSetError();
}

}  // namespace xb::db::postgres
