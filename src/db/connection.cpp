#include "db/connection.h"

#include <cstdlib>

#include "db/aliases.h"
#include "db/connection_string.h"
#include "db/oracle/dialect.h"
#include "db/registry.h"
#include "text/ascii.h"

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
  if (isOpen())
    throw DbError("the connection string cannot be changed while the connection is open");
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
  if (data_source.empty()) throw DbError("no data source given").because(Reason::NoDataSource);
  EngineTarget target = ResolveDataSource(data_source);
  target.user = value("user id");
  target.password = value("password");
  engine_ = OpenEngine(target);
}

void Connection::ForgetResults() {
  // Cursors and prepared statements belong to the engine: they go first.
  for (Query* query : queries_) query->close();
  prepared_.clear();
  ++prepared_generation_;
}

void Connection::close() {
  if (!engine_) return;
  ForgetResults();
  // Opened again, it may reach another database.
  ++schema_changes_;
  // Whatever happens to the rollback, the connection ends closed.
  std::unique_ptr<Engine> engine = std::move(engine_);
  if (engine->inTransaction()) engine->rollback();
}

Statement& Connection::prepared(const std::string& marked_sql) {
  Engine& e = engine();
  if (const auto it = prepared_.find(marked_sql); it != prepared_.end()) return *it->second;
  auto statement = e.prepare(marked_sql);
  // A run rarely has more shapes than this: past it, start again rather
  // than keep them all.
  constexpr size_t kMostPrepared = 64;
  if (prepared_.size() >= kMostPrepared) {
    for (Query* query : queries_)
      if (query->bound_) query->close();
    prepared_.clear();
    ++prepared_generation_;
  }
  return *prepared_.emplace(marked_sql, std::move(statement)).first->second;
}

std::vector<BatchItem> Connection::PreparedBatch(const std::vector<BatchStatement>& items) {
  std::vector<BatchItem> batch(items.size());
  // Should the cache of prepared statements start again on the way, the
  // statements found before are gone: found again.
  for (int pass = 0; pass < 2; ++pass) {
    const uint64_t generation = prepared_generation_;
    Statement* statement = nullptr;
    const std::string* marked = nullptr;
    for (size_t i = 0; i < items.size(); ++i) {
      if (!marked || *marked != *items[i].marked) {
        try {
          statement = &prepared(*items[i].marked);
        } catch (const DbError& error) {
          throw BatchError(i, error);
        }
        marked = items[i].marked;
      }
      batch[i] = {statement, &items[i].values};
    }
    if (generation == prepared_generation_) break;
  }
  return batch;
}

void Connection::LogBatch(const std::vector<BatchStatement>& items, size_t ran, bool binds) {
  if (!log_) return;
  for (size_t i = 0; i < ran && i < items.size(); ++i) {
    // As Query::sql() reads it back: every line followed by CR LF.
    const std::string text = items[i].text ? items[i].text() : std::string();
    log_->sent(text.empty() ? text : text::WithLineBreaks(text, "\r\n") + "\r\n");
    if (binds) log_->bound(*items[i].marked, items[i].values);
  }
}

void Connection::RunLogged(const std::vector<BatchStatement>& items,
                           const std::function<void(Engine&, const std::string& text)>& one,
                           const std::function<void(Engine&, const std::vector<BatchItem>&)>& all) {
  Engine& e = engine();
  // What ran (and the statement that failed) goes to the log afterwards, in
  // order: nothing else is sent in between.
  size_t ran = items.size();
  try {
    if (!e.binds()) {
      for (size_t i = 0; i < items.size(); ++i) {
        try {
          one(e, items[i].text());
        } catch (const DbError& error) {
          throw BatchError(i, error);
        }
      }
    } else {
      all(e, PreparedBatch(items));
    }
  } catch (const BatchError& error) {
    ran = error.index() + 1;
    LogBatch(items, ran, e.binds());
    throw;
  }
  LogBatch(items, ran, e.binds());
}

void Connection::runBatch(const std::vector<BatchStatement>& items) {
  if (items.empty()) return;
  RunLogged(
      items, [](Engine& e, const std::string& text) { e.execute(text); },
      [](Engine& e, const std::vector<BatchItem>& batch) { e.executeBatch(batch); });
}

std::vector<Engine::ResultRows> Connection::queryBatch(const std::vector<BatchStatement>& items) {
  std::vector<Engine::ResultRows> results;
  if (items.empty()) return results;
  RunLogged(
      items,
      [&](Engine& e, const std::string& text) {
        results.push_back(Engine::AllRows(*e.query(text)));
      },
      [&](Engine& e, const std::vector<BatchItem>& batch) { results = e.queryBatch(batch); });
  return results;
}

std::optional<std::vector<bool>> Connection::returnsRows(
    const std::string& marked, const std::vector<std::vector<Value>>& runs,
    const std::vector<BatchStatement>& shown) {
  Engine& e = engine();
  if (!e.binds()) return std::nullopt;
  std::optional<std::vector<bool>> answer;
  try {
    answer = e.returnsRows(prepared(marked), runs);
    if (answer && answer->size() != runs.size())
      throw DbError("the database answered for another number of rows than were asked");
  } catch (const DbError& error) {
    LogBatch(shown, shown.size(), true);
    throw BatchError(shown.empty() ? 0 : shown.size() - 1, error);
  }
  if (answer) LogBatch(shown, shown.size(), true);
  return answer;
}

void Connection::lockTable(const std::string& table) {
  if (!engine_ || !engine_->inTransaction())
    throw DbError("no transaction is open on this connection");
  engine_->lockTable(table);
}

void Connection::beginTransaction() {
  Engine& e = engine();
  if (e.inTransaction()) throw DbError("a transaction is already open on this connection");
  e.begin();
}

void Connection::commitTransaction() {
  if (!engine_ || !engine_->inTransaction())
    throw DbError("no transaction is open on this connection");
  engine_->commit();
}

void Connection::rollbackTransaction() {
  if (!engine_ || !engine_->inTransaction())
    throw DbError("no transaction is open on this connection");
  engine_->rollback();
}

bool Connection::inTransaction() const { return engine_ && engine_->inTransaction(); }

Engine& Connection::engine() {
  if (!engine_) open();
  return *engine_;
}

Query::Query(Connection& connection) : connection_(connection) {
  connection_.queries_.insert(this);
}

Query::~Query() {
  close();
  connection_.queries_.erase(this);
}

void Query::close() {
  open_ = false;
  cursor_.reset();
  cursor_on_row_ = false;
  names_.clear();
  rows_.clear();
  row_ = 0;
}

void Query::setStatement(const std::string& oracle_text, const std::string& marked_sql,
                         std::vector<Value> values) {
  unsplit_text_ = oracle_text;
  make_text_ = nullptr;
  unsplit_ = true;
  bound_ = true;
  marked_ = marked_sql;
  values_ = std::move(values);
}

void Query::setStatement(std::function<std::string()> make_text, const std::string& marked_sql,
                         std::vector<Value> values) {
  setStatement(std::move(make_text), marked_sql, nullptr, 0);
  values_ = std::move(values);
}

void Query::setStatement(std::function<std::string()> make_text, const std::string& marked_sql,
                         const Value* values, size_t count) {
  unsplit_text_.clear();
  make_text_ = std::move(make_text);
  unsplit_ = true;
  bound_ = true;
  marked_ = marked_sql;
  values_.assign(values, values + count);
}

void Query::MakeText() const {
  if (!make_text_) return;
  // Taken out first: the maker runs once even should it throw.
  const std::function<std::string()> make = std::move(make_text_);
  make_text_ = nullptr;
  unsplit_text_ = make();
}

void Query::Split() const {
  if (!unsplit_) return;
  MakeText();
  unsplit_ = false;
  // Still the statement that was set, bound as it was: only its lines are new.
  SplitLines(unsplit_text_);
}

void Query::setSql(const std::string& text) {
  unsplit_ = false;
  make_text_ = nullptr;
  bound_ = false;
  SplitLines(text);
}

void Query::SplitLines(const std::string& text) const {
  // Called for every cell of a read: the line strings are reused.
  size_t count = 0;
  auto add = [&](size_t begin, size_t end) {
    if (count < lines_.size())
      lines_[count].assign(text, begin, end - begin);
    else
      lines_.emplace_back(text, begin, end - begin);
    ++count;
  };
  text::ForEachLine(text, [&](std::string_view line) {
    const size_t begin = static_cast<size_t>(line.data() - text.data());
    add(begin, begin + line.size());
  });
  lines_.resize(count);
}

std::string Query::sql() const {
  if (unsplit_) MakeText();
  // One line (no line break in it): the text itself.
  if (unsplit_ && unsplit_text_.find_first_of("\r\n") == std::string::npos)
    return unsplit_text_.empty() ? std::string() : unsplit_text_ + "\r\n";
  Split();
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

void Query::Send(const std::string& text) {
  if (auto* log = connection_.statementLog()) {
    log->sent(text);
    if (bound_ && connection_.engine().binds()) log->bound(marked_, values_);
  }
}

// Runs the statement; a cursor when it is to return rows (open), none for
// execute. A bound statement's text is made only for the log: the engine
// gets the marked text.
std::unique_ptr<Cursor> Query::Run(bool rows) {
  Engine& engine = connection_.engine();
  const bool bind = bound_ && engine.binds();
  const std::string text = bind && !connection_.statementLog() ? std::string() : sql();
  Send(text);
  // Once the statement ran (or failed): a statement of another kind than
  // data may have changed the schema. A bound text run again is not
  // looked at again.
  struct Note {
    bool data;
    uint64_t& changes;
    ~Note() {
      if (!data) ++changes;
    }
  };
  if (bind && marked_ != noted_marked_) {
    marked_is_data_ = oracle::IsDataStatement(marked_);
    noted_marked_ = marked_;
    statement_ = nullptr;
  }
  const Note note{bind ? marked_is_data_ : oracle::IsDataStatement(text),
                  connection_.schema_changes_};
  if (bind) {
    // Row after row the same statement: found without hashing its text.
    if (!statement_ || statement_generation_ != connection_.prepared_generation_) {
      statement_ = nullptr;
      Statement& found = connection_.prepared(marked_);
      statement_ = &found;
      statement_generation_ = connection_.prepared_generation_;
    }
    Statement& statement = *statement_;
    if (!rows) {
      statement.execute(values_);
      return nullptr;
    }
    return statement.query(values_);
  }
  if (!rows) {
    engine.execute(text);
    return nullptr;
  }
  return engine.query(text);
}

void Query::open(Scroll scroll) {
  close();
  std::unique_ptr<Cursor> cursor = Run(true);
  for (int c = 0; c < cursor->columnCount(); ++c) names_.push_back(cursor->columnName(c));
  scroll_ = scroll;
  if (scroll == Scroll::Forward) {
    cursor_ = std::move(cursor);
    cursor_on_row_ = cursor_->next();
  } else {
    const size_t columns = names_.size();
    while (cursor->next()) {
      auto& row = rows_.emplace_back();
      row.reserve(columns);
      for (size_t c = 0; c < columns; ++c) {
        const auto value = cursor->value(static_cast<int>(c));
        if (value)
          row.emplace_back(std::string(*value));
        else
          row.emplace_back();
      }
    }
  }
  open_ = true;
  row_ = 0;
}

void Query::execute() {
  close();
  Run(false);
}

int Query::fieldCount() const { return open_ ? static_cast<int>(names_.size()) : 0; }

std::string Query::fieldName(int i) const {
  if (!open_ || i < 0 || i >= fieldCount()) throw DbError("field index out of range");
  return names_[static_cast<size_t>(i)];
}

// The current row's value i; nullptr when there is no current row.
const std::optional<std::string>* Query::Cell(int i) const {
  if (!open_ || i < 0 || i >= fieldCount()) throw DbError("field index out of range");
  if (scroll_ == Scroll::Buffered)
    return row_ < rows_.size() ? &rows_[row_][static_cast<size_t>(i)] : nullptr;
  return nullptr;
}

std::string_view Query::fieldView(int i) const {
  if (open_ && scroll_ == Scroll::Forward) {
    if (i < 0 || i >= fieldCount()) throw DbError("field index out of range");
    if (!cursor_on_row_) return {};
    const auto value = cursor_->value(i);
    return value ? *value : std::string_view();
  }
  const auto* cell = Cell(i);
  return cell && *cell ? std::string_view(**cell) : std::string_view();
}

std::string Query::fieldText(int i) const { return std::string(fieldView(i)); }

bool Query::fieldIsNull(int i) const {
  if (open_ && scroll_ == Scroll::Forward) {
    if (i < 0 || i >= fieldCount()) throw DbError("field index out of range");
    return !cursor_on_row_ || !cursor_->value(i).has_value();
  }
  const auto* cell = Cell(i);
  return !cell || !cell->has_value();
}

long long Query::fieldInt(int i) const {
  const std::string text = fieldText(i);
  if (text.empty()) return 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0')
    throw DbError("'" + text + "' is not a valid integer value");
  return static_cast<long long>(value);
}

void Query::first() {
  if (open_ && scroll_ == Scroll::Forward && row_ > 0)
    throw DbError("the rows of this query are read once, front to back");
  row_ = 0;
}

void Query::next() {
  if (!open_) return;
  if (scroll_ == Scroll::Forward) {
    if (!cursor_on_row_) return;
    ++row_;
    cursor_on_row_ = cursor_->next();
    return;
  }
  if (row_ < rows_.size()) ++row_;
}

bool Query::eof() const {
  if (!open_) return true;
  if (scroll_ == Scroll::Forward) return !cursor_on_row_;
  return row_ >= rows_.size();
}

}  // namespace xb::db
