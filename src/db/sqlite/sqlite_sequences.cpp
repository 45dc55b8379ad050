// The sqlite engine's sequences: kept in a table of the file, read through
// the user_sequences view, made and dropped by the statements Oracle knows.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "db/errors.h"
#include "db/oracle/sequence.h"
#include "db/sql_text.h"
#include "db/sql_tokens.h"
#include "db/sqlite/sqlite_engine.h"
#include "text/ascii.h"

namespace xb::db::sqlite {
namespace {

using oracle::KeptSequenceOptions;
using oracle::ParseSequenceOptions;
using oracle::SequenceAfter;
using oracle::SequenceOptions;
using oracle::SequenceValue;

constexpr const char* kSequenceTable = "xlsbridge_sequences";

// The parts of "create sequence NAME [options]" or "drop sequence NAME".
struct SequenceStatement {
  bool create = false;
  std::string name;     // upper-cased
  std::string options;  // create: the options, one blank between words
};

// Reads t (which starts with CREATE or DROP SEQUENCE) as Oracle's grammar
// has it, each word apart from the next: the name, then for create any of
// start with N, increment by N, minvalue N, maxvalue N, cache N (no sign),
// cycle, nocycle, nocache, order, noorder, nominvalue, nomaxvalue.
// DbError "malformed ..." otherwise.
SequenceStatement ReadSequenceStatement(const std::vector<SqlToken>& t) {
  SequenceStatement s;
  s.create = t[0].Is("CREATE");
  const char* malformed =
      s.create ? "malformed CREATE SEQUENCE statement" : "malformed DROP SEQUENCE statement";
  const size_t n = t.size();
  auto apart = [&](size_t k) { return k < n && t[k].begin > t[k - 1].end; };
  if (!apart(2) || t[2].kind != SqlToken::Kind::Word) throw DbError(malformed);
  s.name = text::UpperCased(t[2].text);
  // An integer at k (a minus right before its digits when signed): the
  // tokens it takes, 0 when none stands there.
  auto integer = [&](size_t k, bool signed_) -> size_t {
    const bool minus = signed_ && k + 1 < n && t[k].IsPunct("-") && t[k + 1].begin == t[k].end;
    const size_t digits = minus ? k + 1 : k;
    if (!apart(k) || digits >= n || t[digits].kind != SqlToken::Kind::Number ||
        t[digits].text.find_first_not_of("0123456789") != std::string::npos)
      return 0;
    s.options += ' ';
    if (minus) s.options += '-';
    s.options += t[digits].text;
    return minus ? 2 : 1;
  };
  auto word = [&](size_t k) {
    s.options += ' ';
    s.options += text::LowerCased(t[k].text);
  };
  size_t i = 3;
  if (!s.create) {
    if (i != n) throw DbError(malformed);
    return s;
  }
  while (i < n) {
    if (!apart(i) || t[i].kind != SqlToken::Kind::Word) throw DbError(malformed);
    size_t used = 0;
    if ((t[i].Is("START") && i + 1 < n && t[i + 1].Is("WITH")) ||
        (t[i].Is("INCREMENT") && i + 1 < n && t[i + 1].Is("BY"))) {
      word(i);
      if (apart(i + 1)) {
        word(i + 1);
        if (const size_t number = integer(i + 2, true)) used = 2 + number;
      }
    } else if (t[i].Is("MINVALUE") || t[i].Is("MAXVALUE") || t[i].Is("CACHE")) {
      word(i);
      if (const size_t number = integer(i + 1, !t[i].Is("CACHE"))) used = 1 + number;
    } else {
      for (const char* plain :
           {"NOCACHE", "NOCYCLE", "CYCLE", "ORDER", "NOORDER", "NOMINVALUE", "NOMAXVALUE"})
        if (t[i].Is(plain)) used = 1;
      if (used) word(i);
    }
    if (!used) throw DbError(malformed);
    i += used;
  }
  return s;
}

}  // namespace

bool SqliteEngine::HasSequenceTable() {
  Stmt stmt(db_, std::string("select 1 from main.sqlite_master where type = 'table' and name = '") +
                     kSequenceTable + "'");
  return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

void SqliteEngine::AddSequenceColumns() {
  bool has_cycle = false;
  {
    Stmt columns(db_, std::string("select name from pragma_table_info('") + kSequenceTable + "')");
    while (sqlite3_step(columns.get()) == SQLITE_ROW)
      has_cycle = has_cycle || std::string(reinterpret_cast<const char*>(
                                   sqlite3_column_text(columns.get(), 0))) == "cycle_flag";
  }
  if (has_cycle) return;
  Exec(std::string("alter table main.") + kSequenceTable + " add column cycle_flag text");
  Exec(std::string("alter table main.") + kSequenceTable + " add column cache_size integer");
}

void SqliteEngine::CreateSequenceView() {
  Exec("drop view if exists temp.user_sequences");
  if (HasSequenceTable())
    Exec(std::string("create temp view user_sequences as select sequence_name, min_value, "
                     "max_value, increment_by, "
                     "last_number from main.") +
         kSequenceTable);
  else
    Exec(
        "create temp view user_sequences as select null as sequence_name, null as min_value, "
        "null as max_value, "
        "null as increment_by, null as last_number where 0");
}

long long SqliteEngine::NextValue(const std::string& name) {
  if (!HasSequenceTable()) throw DbError("sequence " + name + " does not exist");
  long long next = 0, increment = 1;
  std::optional<long long> min_value, max_value;
  std::optional<bool> cycle;
  {
    // select *: sequences kept before the cycle flag have no such column.
    Stmt read(db_,
              std::string("select * from main.") + kSequenceTable + " where sequence_name = ?");
    sqlite3_bind_text(read.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(read.get()) != SQLITE_ROW)
      throw DbError("sequence " + name + " does not exist");
    for (int c = 0; c < sqlite3_column_count(read.get()); ++c) {
      const std::string column = sqlite3_column_name(read.get(), c);
      const bool null = sqlite3_column_type(read.get(), c) == SQLITE_NULL;
      const long long v = sqlite3_column_int64(read.get(), c);
      if (column == "last_number")
        next = v;
      else if (column == "increment_by")
        increment = v;
      else if (column == "min_value" && !null)
        min_value = v;
      else if (column == "max_value" && !null)
        max_value = v;
      else if (column == "cycle_flag" && !null)
        cycle =
            std::string(reinterpret_cast<const char*>(sqlite3_column_text(read.get(), c))) == "Y";
    }
  }
  const SequenceOptions options = KeptSequenceOptions(increment, min_value, max_value, cycle);
  const long long value = SequenceValue(name, next, options);
  Stmt write(db_, std::string("update main.") + kSequenceTable +
                      " set last_number = ? where sequence_name = ?");
  sqlite3_bind_int64(write.get(), 1, SequenceAfter(value, options));
  sqlite3_bind_text(write.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(write.get()) != SQLITE_DONE)
    throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
  currval_[name] = value;
  return value;
}

bool SqliteEngine::HandleSequenceStatement(const std::string& sql) {
  // The verb alone first: every statement the engine runs asks.
  if (const std::string verb = LeadingVerb(sql); verb != "CREATE" && verb != "DROP") return false;
  const std::vector<SqlToken> t = SqlTokens(sql);
  if (t.size() < 2 || t[0].kind != SqlToken::Kind::Word || !t[1].Is("SEQUENCE")) return false;
  CheckSingleStatement(sql, false);
  const SequenceStatement statement = ReadSequenceStatement(t);
  const std::string& name = statement.name;
  if (statement.create) {
    const SequenceOptions options = ParseSequenceOptions(statement.options);
    Exec(std::string("create table if not exists main.") + kSequenceTable +
         " (sequence_name text primary key, min_value integer, max_value integer, increment_by "
         "integer not null, "
         "last_number integer not null, cycle_flag text, cache_size integer)");
    AddSequenceColumns();
    Stmt insert(db_, std::string("insert into main.") + kSequenceTable +
                         " (sequence_name, min_value, max_value, increment_by, last_number, "
                         "cycle_flag, cache_size) "
                         "values (?, ?, ?, ?, ?, ?, ?)");
    sqlite3_bind_int64(insert.get(), 2, options.min_value);
    sqlite3_bind_int64(insert.get(), 3, options.max_value);
    sqlite3_bind_int64(insert.get(), 4, options.increment);
    sqlite3_bind_int64(insert.get(), 5, options.start);
    sqlite3_bind_text(insert.get(), 6, options.cycle ? "Y" : "N", -1, SQLITE_STATIC);
    sqlite3_bind_int64(insert.get(), 7, options.cache);
    sqlite3_bind_text(insert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
      if ((sqlite3_extended_errcode(db_) & 0xff) == SQLITE_CONSTRAINT)
        throw DbError("name is already used by an existing object: sequence " + name);
      throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
    }
  } else {
    if (!HasSequenceTable()) throw DbError("sequence " + name + " does not exist");
    Stmt remove(db_,
                std::string("delete from main.") + kSequenceTable + " where sequence_name = ?");
    sqlite3_bind_text(remove.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(remove.get()) != SQLITE_DONE) throw DbError(sqlite3_errmsg(db_));
    if (sqlite3_changes(db_) == 0) throw DbError("sequence " + name + " does not exist");
    currval_.erase(name);
  }
  CreateSequenceView();
  return true;
}
}  // namespace xb::db::sqlite
