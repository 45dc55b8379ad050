#include "db/connection.h"

#include <cstdlib>
#include <cstring>

#include "db/aliases.h"
#include "db/connection_string.h"
#include "db/postgres/postgres_engine.h"

namespace xb::db {

Connection::Connection() = default;

Connection::~Connection() {
  // Never throw from a destructor: the engine may already be gone.
  try {
    close();
  } catch (...) {
  }
}

void Connection::setConnectionString(const std::string& text) {
  if (isOpen()) throw DbError("the connection string cannot be changed while the connection is open");
  connection_string_ = text;
}

void Connection::open() {
  if (isOpen()) return;
  const auto values = ParseConnectionString(connection_string_);
  auto value = [&](const char* key) {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  const std::string data_source = value("data source");
  if (data_source.empty()) throw DbError("no data source given");
  const Target target = ResolveDataSource(data_source);
  if (target.kind == Target::Kind::Postgres)
    engine_ = OpenPostgres(target.where, value("user id"), value("password"));
  else if (target.kind == Target::Kind::Odbc)
    engine_ = OpenOdbc(target.where, value("user id"), value("password"));
  else
    engine_ = OpenSqlite(target.where);
}

void Connection::close() {
  if (!engine_) return;
  // Whatever happens to the rollback, the connection ends closed.
  std::unique_ptr<Engine> engine = std::move(engine_);
  if (engine->inTransaction()) engine->rollback();
}

void Connection::beginTransaction() {
  Engine& e = engine();
  if (e.inTransaction()) throw DbError("a transaction is already open on this connection");
  e.begin();
}

void Connection::commitTransaction() {
  if (!engine_ || !engine_->inTransaction()) throw DbError("no transaction is open on this connection");
  engine_->commit();
}

void Connection::rollbackTransaction() {
  if (!engine_ || !engine_->inTransaction()) throw DbError("no transaction is open on this connection");
  engine_->rollback();
}

bool Connection::inTransaction() const { return engine_ && engine_->inTransaction(); }

Engine& Connection::engine() {
  if (!engine_) open();
  return *engine_;
}

void Query::close() {
  result_.reset();
  row_ = 0;
}

void Query::setSql(const std::string& text) {
  // Called for every cell of a read: the line strings are reused.
  size_t count = 0;
  auto add = [&](size_t begin, size_t end) {
    if (count < lines_.size())
      lines_[count].assign(text, begin, end - begin);
    else
      lines_.emplace_back(text, begin, end - begin);
    ++count;
  };
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* at = begin;
  for (;;) {
    const auto* cr = static_cast<const char*>(std::memchr(at, '\r', static_cast<size_t>(end - at)));
    const auto* lf = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>((cr ? cr : end) - at)));
    const char* brk = lf ? lf : cr;
    if (!brk) break;
    add(static_cast<size_t>(at - begin), static_cast<size_t>(brk - begin));
    at = brk + (*brk == '\r' && brk + 1 < end && brk[1] == '\n' ? 2 : 1);
  }
  if (at < end) add(static_cast<size_t>(at - begin), text.size());
  lines_.resize(count);
}

std::string Query::sql() const {
  std::string text;
  size_t size = 0;
  for (const auto& line : lines_) size += line.size() + 2;
  text.reserve(size);
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void Query::open() {
  close();
  Engine& engine = connection_.engine();
  const std::string text = sql();
  if (auto* log = connection_.statementLog()) log->sent(text);
  result_ = engine.query(text);
  row_ = 0;
}

void Query::execute() {
  close();
  Engine& engine = connection_.engine();
  const std::string text = sql();
  if (auto* log = connection_.statementLog()) log->sent(text);
  engine.execute(text);
}

int Query::fieldCount() const { return result_ ? static_cast<int>(result_->names.size()) : 0; }

std::string Query::fieldName(int i) const {
  if (!result_ || i < 0 || i >= fieldCount()) throw DbError("field index out of range");
  return result_->names[static_cast<size_t>(i)];
}

std::string Query::fieldText(int i) const {
  if (!result_ || i < 0 || i >= fieldCount()) throw DbError("field index out of range");
  if (row_ >= result_->rows.size()) return {};
  const auto& value = result_->rows[row_][static_cast<size_t>(i)];
  return value ? *value : std::string();
}

bool Query::fieldIsNull(int i) const {
  if (!result_ || i < 0 || i >= fieldCount()) throw DbError("field index out of range");
  if (row_ >= result_->rows.size()) return true;
  return !result_->rows[row_][static_cast<size_t>(i)].has_value();
}

long long Query::fieldInt(int i) const {
  const std::string text = fieldText(i);
  if (text.empty()) return 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') throw DbError("'" + text + "' is not a valid integer value");
  return static_cast<long long>(value);
}

void Query::first() { row_ = 0; }

void Query::next() {
  if (result_ && row_ < result_->rows.size()) ++row_;
}

bool Query::eof() const { return !result_ || row_ >= result_->rows.size(); }

}  // namespace xb::db
