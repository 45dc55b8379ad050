// The sqlite engine: a SQLite file that runs the Oracle dialect the program
// sends. The data dictionary is a set of temporary views, to_date/to_char
// are SQL functions, and sequences live in a table of their own, with
// NAME.nextval / NAME.currval replaced by their values before SQLite sees
// the text.

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <unordered_map>

#include "db/engine.h"
#include "db/errors.h"
#include "db/sql_text.h"

namespace xb::db {
namespace {

constexpr const char* kSequenceTable = "xlsbridge_sequences";

std::string Upper(std::string text) {
  for (auto& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// ASCII only, whatever the locale: identifiers in the program's statements are.
bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '#'; }

// ---- dates ---------------------------------------------------------------

struct DateTime {
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool Valid(const DateTime& d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
  const int days = kDays[d.month - 1] + (d.month == 2 && LeapYear(d.year) ? 1 : 0);
  return d.day >= 1 && d.day <= days && d.hour >= 0 && d.hour < 24 && d.minute >= 0 && d.minute < 60 &&
         d.second >= 0 && d.second < 60;
}

// The stored form of a date: yyyy-mm-dd, with hh:mm:ss only when the time is
// not midnight.
std::string Canonical(const DateTime& d) {
  char buffer[32];
  if (d.hour || d.minute || d.second)
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                  d.second);
  else
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buffer;
}

// Parses text by an Oracle format mask (yyyy, mm, dd, hh24, hh, mi, ss and
// literal separators). Numbers may have fewer digits than the mask.
bool ParseByMask(const std::string& text, const std::string& mask_in, DateTime& out) {
  const std::string mask = Upper(mask_in);
  size_t t = 0, m = 0;
  DateTime d;
  auto number = [&](size_t max_digits, int& target) {
    while (t < text.size() && text[t] == ' ') ++t;
    size_t digits = 0;
    int value = 0;
    while (t < text.size() && digits < max_digits && std::isdigit(static_cast<unsigned char>(text[t]))) {
      value = value * 10 + (text[t] - '0');
      ++t;
      ++digits;
    }
    if (digits == 0) return false;
    target = value;
    return true;
  };
  while (m < mask.size()) {
    if (mask.compare(m, 4, "YYYY") == 0) {
      if (!number(4, d.year)) return false;
      m += 4;
    } else if (mask.compare(m, 4, "HH24") == 0) {
      if (!number(2, d.hour)) return false;
      m += 4;
    } else if (mask.compare(m, 2, "MM") == 0) {
      if (!number(2, d.month)) return false;
      m += 2;
    } else if (mask.compare(m, 2, "DD") == 0) {
      if (!number(2, d.day)) return false;
      m += 2;
    } else if (mask.compare(m, 2, "HH") == 0) {
      if (!number(2, d.hour)) return false;
      m += 2;
    } else if (mask.compare(m, 2, "MI") == 0) {
      if (!number(2, d.minute)) return false;
      m += 2;
    } else if (mask.compare(m, 2, "SS") == 0) {
      if (!number(2, d.second)) return false;
      m += 2;
    } else {
      // A separator of the mask matches any one separator of the text.
      if (t >= text.size() || std::isalnum(static_cast<unsigned char>(text[t]))) return false;
      ++t;
      ++m;
    }
  }
  while (t < text.size() && text[t] == ' ') ++t;
  if (t != text.size()) return false;
  out = d;
  return Valid(d);
}

// Reads a stored date: yyyy-mm-dd, optionally followed by hh:mm:ss.
bool ParseStored(const std::string& text, DateTime& out) {
  if (ParseByMask(text, "yyyy-mm-dd hh24:mi:ss", out)) return true;
  return ParseByMask(text, "yyyy-mm-dd", out);
}

std::string FormatByMask(const DateTime& d, const std::string& mask_in) {
  const std::string mask = Upper(mask_in);
  std::string out;
  char buffer[8];
  for (size_t m = 0; m < mask.size();) {
    auto put = [&](const char* fmt, int v, size_t width) {
      std::snprintf(buffer, sizeof buffer, fmt, v);
      out += buffer;
      m += width;
    };
    if (mask.compare(m, 4, "YYYY") == 0) put("%04d", d.year, 4);
    else if (mask.compare(m, 4, "HH24") == 0) put("%02d", d.hour, 4);
    else if (mask.compare(m, 2, "MM") == 0) put("%02d", d.month, 2);
    else if (mask.compare(m, 2, "DD") == 0) put("%02d", d.day, 2);
    else if (mask.compare(m, 2, "HH") == 0) put("%02d", d.hour % 12 == 0 ? 12 : d.hour % 12, 2);
    else if (mask.compare(m, 2, "MI") == 0) put("%02d", d.minute, 2);
    else if (mask.compare(m, 2, "SS") == 0) put("%02d", d.second, 2);
    else out += mask_in[m++];
  }
  return out;
}

std::string Text(sqlite3_value* value) {
  const auto* text = sqlite3_value_text(value);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value)))
              : std::string();
}

void ToDate(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  // As in Oracle, the empty string is NULL and so is its date.
  if (text.empty()) return sqlite3_result_null(context);
  const std::string mask = argc > 1 ? Text(argv[1]) : "yyyy-mm-dd hh24:mi:ss";
  DateTime d;
  const bool ok = argc > 1 ? ParseByMask(text, mask, d) : ParseStored(text, d);
  if (!ok) {
    const std::string message = "to_date: '" + text + "' is not a valid date for the format '" + mask + "'";
    return sqlite3_result_error(context, message.c_str(), -1);
  }
  const std::string canonical = Canonical(d);
  sqlite3_result_text(context, canonical.c_str(), static_cast<int>(canonical.size()), SQLITE_TRANSIENT);
}

void ToChar(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  DateTime d;
  if (argc > 1 && sqlite3_value_type(argv[0]) == SQLITE_TEXT && ParseStored(text, d)) {
    const std::string formatted = FormatByMask(d, Text(argv[1]));
    return sqlite3_result_text(context, formatted.c_str(), static_cast<int>(formatted.size()), SQLITE_TRANSIENT);
  }
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void ToNumber(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  while (end && *end == ' ') ++end;
  if (text.empty() || end == text.c_str() || *end != '\0') {
    const std::string message = "to_number: '" + text + "' is not a number";
    return sqlite3_result_error(context, message.c_str(), -1);
  }
  if (value == std::floor(value) && std::fabs(value) < 9e18)
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(value));
  else
    sqlite3_result_double(context, value);
}

std::string NumberText(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
    return buffer;
  }
  char buffer[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

// ---- statements ------------------------------------------------------------

class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, &tail) != SQLITE_OK)
      throw DbError(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
    if (!stmt_) throw DbError("the statement text is empty");
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

struct SequenceUse {
  size_t begin, end;  // the span of "NAME . NEXTVAL" in the text
  std::string name;   // upper-cased
  bool next;
};

// Finds NAME.nextval / NAME.currval in code (blanks around the dot allowed).
std::vector<SequenceUse> FindSequenceUses(const std::string& sql) {
  std::vector<SequenceUse> uses;
  if (sql.find('.') == std::string::npos) return uses;
  std::vector<bool> code(sql.size(), false);
  bool any_dot = false;
  ForEachCodeChar(sql, [&](size_t i) {
    code[i] = true;
    any_dot = any_dot || sql[i] == '.';
  });
  if (!any_dot) return uses;
  for (size_t i = 0; i < sql.size(); ++i) {
    if (!code[i] || sql[i] != '.') continue;
    // The identifier before the dot.
    size_t e = i;
    while (e > 0 && code[e - 1] && (sql[e - 1] == ' ' || sql[e - 1] == '\t' || sql[e - 1] == '\r' || sql[e - 1] == '\n')) --e;
    size_t b = e;
    while (b > 0 && code[b - 1] && IsIdentChar(sql[b - 1])) --b;
    if (b == e || !IsIdentStart(sql[b])) continue;
    if (b > 0 && code[b - 1] && sql[b - 1] == '.') continue;  // schema.seq.nextval: not ours
    // The word after the dot.
    size_t w = i + 1;
    while (w < sql.size() && code[w] && (sql[w] == ' ' || sql[w] == '\t' || sql[w] == '\r' || sql[w] == '\n')) ++w;
    size_t we = w;
    while (we < sql.size() && code[we] && IsIdentChar(sql[we])) ++we;
    const std::string word = Upper(sql.substr(w, we - w));
    if (word != "NEXTVAL" && word != "CURRVAL") continue;
    uses.push_back({b, we, Upper(sql.substr(b, e - b)), word == "NEXTVAL"});
    i = we;
  }
  return uses;
}

// A statement made ready for SQLite: the text, and the values its '?' stand
// for. Data statements are sent with their values written into the text
// (the import builds one per row); parsing each anew costs more than running
// it, so their string literals and sequence values become parameters and
// statements of the same shape share one prepared statement, as Oracle
// shares cursors.
struct Shaped {
  struct Param {
    bool is_text;
    std::string text;
    long long number;
  };
  std::string text;
  std::vector<Param> params;
  bool shared = false;
  std::string as_written;  // for a shared one: the values written in
};

// The string literals of a data statement that may become parameters, as
// [begin, end) spans including the quotes. In a query only those after the
// first WHERE outside parentheses qualify: literals in the select list give
// the result its column names. X'..' (a blob) never qualifies.
std::vector<std::pair<size_t, size_t>> ShareableLiterals(const std::string& sql, bool query) {
  std::vector<std::pair<size_t, size_t>> spans;
  bool open = !query, unterminated = false;
  int depth = 0;
  size_t word_begin = 0, word_size = 0, last_code = std::string::npos;
  auto end_word = [&] {
    if (!open && depth == 0 && word_size == 5 && strncasecmp(sql.data() + word_begin, "where", 5) == 0) open = true;
    word_size = 0;
  };
  WalkSql(
      sql,
      [&](size_t i) {
        // A comment between two code characters ends a word too.
        if (last_code != std::string::npos && i != last_code + 1) end_word();
        last_code = i;
        const char c = sql[i];
        if (IsIdentChar(c)) {
          if (word_size++ == 0) word_begin = i;
          return;
        }
        end_word();
        if (c == '(') ++depth;
        else if (c == ')') --depth;
      },
      [&](size_t begin, size_t end, bool closed) {
        end_word();
        const bool blob = begin > 0 && IsIdentChar(sql[begin - 1]);
        if (!closed) unterminated = true;
        else if (sql[begin] == '\'' && open && !blob) spans.emplace_back(begin, end);
      });
  // An unterminated literal: leave the text to SQLite as written.
  if (unterminated) return {};
  return spans;
}

// Counts statements other than data changes run by any connection of this
// process, so that every connection's dictionary cache sees them at once.
std::atomic<uint64_t> g_schema_epoch{0};

class SqliteEngine : public Engine {
 public:
  explicit SqliteEngine(const std::string& path) : path_(path), wal_path_(path + "-wal") {
    struct stat info {};
    // A typo must never create a database: the file has to be there.
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
      throw DbError("cannot open the database '" + path + "': no such file");
    if (!S_ISREG(info.st_mode)) throw DbError("cannot open the database '" + path + "': not a file");
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw DbError("cannot open the database '" + path + "': " + message);
    }
    try {
      sqlite3_busy_timeout(db_, 5000);
      sqlite3_extended_result_codes(db_, 1);
      const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
      sqlite3_create_function(db_, "to_date", 1, flags, nullptr, ToDate, nullptr, nullptr);
      sqlite3_create_function(db_, "to_date", 2, flags, nullptr, ToDate, nullptr, nullptr);
      sqlite3_create_function(db_, "to_char", 1, flags, nullptr, ToChar, nullptr, nullptr);
      sqlite3_create_function(db_, "to_char", 2, flags, nullptr, ToChar, nullptr, nullptr);
      sqlite3_create_function(db_, "to_number", 1, flags, nullptr, ToNumber, nullptr, nullptr);
      // Reading the schema now also proves the file is a database.
      Exec("create temp view dual as select 'X' as dummy");
      Exec("create temp view user_tables as select upper(name) as table_name from main.sqlite_master "
           "where type = 'table' and name not like 'sqlite\\_%' escape '\\' and name not like 'xlsbridge\\_%' escape '\\'");
      Exec("create temp view user_tab_columns as select upper(m.name) as table_name, upper(p.name) as column_name, "
           "upper(trim(case when instr(p.type, '(') > 0 then substr(p.type, 1, instr(p.type, '(') - 1) "
           "else p.type end)) as data_type, p.cid + 1 as column_id, "
           "case when p.\"notnull\" then 'N' else 'Y' end as nullable "
           "from main.sqlite_master m join pragma_table_info(m.name) p "
           "where m.type in ('table', 'view') and m.name not like 'sqlite\\_%' escape '\\' "
           "and m.name not like 'xlsbridge\\_%' escape '\\'");
      CreateSequenceView();
      {
        // In WAL mode other connections' commits land in the -wal file.
        Stmt mode(db_, "pragma journal_mode");
        wal_ = sqlite3_step(mode.get()) == SQLITE_ROW &&
               Upper(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0))) == "WAL";
      }
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }

  ~SqliteEngine() override {
    if (in_transaction_) sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
    schema_version_.reset();
    statements_.clear();
    sqlite3_close_v2(db_);
  }

  std::shared_ptr<const ResultSet> query(const std::string& sql) override {
    // Dictionary lookups come once per cell during a read: answer them from
    // the cache while the schema stays the same.
    if (const auto it = cache_.find(sql); it != cache_.end()) {
      // Only a hit needs the check; it empties the cache on a change.
      if (ValidateCache()) return it->second;
    }
    const bool dictionary = IsDictionaryQuery(sql);
    if (dictionary) ValidateCache();
    Shaped shaped = Prepare(sql);
    Bound stmt(*this, shaped);
    auto result = std::make_shared<ResultSet>();
    const int columns = sqlite3_column_count(stmt.get());
    if (columns == 0) {
      // Like an OLE DB provider, run it and then say that there is no row set.
      schema_dirty_ = true;
      g_schema_epoch.fetch_add(1, std::memory_order_acq_rel);
      Step(stmt.get());
      throw DbError("the statement was carried out but returns no rows to open");
    }
    for (int c = 0; c < columns; ++c) result->names.push_back(Upper(sqlite3_column_name(stmt.get(), c)));
    for (;;) {
      const int rc = sqlite3_step(stmt.get());
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
      auto& row = result->rows.emplace_back();
      row.reserve(static_cast<size_t>(columns));
      for (int c = 0; c < columns; ++c) row.push_back(Value(stmt.get(), c));
    }
    if (dictionary && cache_.size() < 100000) cache_.emplace(sql, result);
    return result;
  }

  void execute(const std::string& sql) override {
    if (HandleSequenceStatement(sql)) return;
    // Anything but plain data changes may change the schema.
    if (!StartsWithDml(sql)) {
      schema_dirty_ = true;
      g_schema_epoch.fetch_add(1, std::memory_order_acq_rel);
    }
    Shaped shaped = Prepare(sql);
    Bound stmt(*this, shaped);
    Step(stmt.get());
  }

  void begin() override {
    Exec("begin immediate");
    in_transaction_ = true;
  }
  void commit() override {
    Exec("commit");
    in_transaction_ = false;
  }
  void rollback() override {
    in_transaction_ = false;
    Exec("rollback");
  }
  bool inTransaction() const override { return in_transaction_; }

 private:
  void Step(sqlite3_stmt* stmt) {
    for (;;) {
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
    }
  }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw DbError(message, sqlite3_extended_errcode(db_));
    }
  }

  bool HasSequenceTable() {
    Stmt stmt(db_, std::string("select 1 from main.sqlite_master where type = 'table' and name = '") +
                       kSequenceTable + "'");
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
  }

  void CreateSequenceView() {
    Exec("drop view if exists temp.user_sequences");
    if (HasSequenceTable())
      Exec(std::string("create temp view user_sequences as select sequence_name, min_value, max_value, increment_by, "
                       "last_number from main.") + kSequenceTable);
    else
      Exec("create temp view user_sequences as select null as sequence_name, null as min_value, null as max_value, "
           "null as increment_by, null as last_number where 0");
  }

  static bool IsDmlVerb(const std::string& word) {
    return word == "insert" || word == "update" || word == "delete" || word == "select";
  }
  static bool StartsWithDml(const std::string& sql) { return IsDmlVerb(FirstWord(sql)); }

  // The cache holds while the schema stays the same. Asking SQLite for the
  // schema version takes a file lock, so it is asked only when this process
  // ran something other than a data change (on any connection), or when the
  // database files changed on disk (another program's commit). Looking at
  // the files costs a system call; a read asks once per cell, so the files
  // are looked at no more than once a millisecond. True when the cache
  // still holds.
  bool ValidateCache() {
    const auto now = std::chrono::steady_clock::now();
    const uint64_t epoch = g_schema_epoch.load(std::memory_order_acquire);
    if (!schema_dirty_ && epoch == seen_epoch_ && now - checked_at_ < std::chrono::milliseconds(1)) return true;
    if (epoch != seen_epoch_) schema_dirty_ = true;
    seen_epoch_ = epoch;
    checked_at_ = now;
    struct stat main_file {}, wal_file {};
    // By path: a descriptor of our own on the database would drop SQLite's
    // locks when closed.
    ::stat(path_.c_str(), &main_file);
    if (wal_) ::stat(wal_path_.c_str(), &wal_file);
    const FileStamp stamp{main_file.st_mtim.tv_sec, main_file.st_mtim.tv_nsec, main_file.st_size,
                          wal_file.st_mtim.tv_sec,  wal_file.st_mtim.tv_nsec,  wal_file.st_size};
    if (stamp == stamp_ && !schema_dirty_) return true;
    const int version = SchemaVersion();
    const bool holds = version == cache_version_ && !schema_dirty_;
    if (!holds) cache_.clear();
    cache_version_ = version;
    stamp_ = stamp;
    schema_dirty_ = false;
    return holds;
  }

  int SchemaVersion() {
    if (!schema_version_) schema_version_ = std::make_unique<Stmt>(db_, "pragma schema_version");
    sqlite3_stmt* stmt = schema_version_->get();
    int version = -1;
    if (sqlite3_step(stmt) == SQLITE_ROW) version = sqlite3_column_int(stmt, 0);
    sqlite3_reset(stmt);
    return version;
  }

  // A query that reads only the dictionary views, judged by its words.
  static bool IsDictionaryQuery(const std::string& sql) {
    // Most statements name no dictionary view at all.
    bool named = false;
    for (size_t i = 0; !named && i + 6 <= sql.size(); ++i)
      named = (sql[i] | 0x20) == 'u' && strncasecmp(sql.data() + i, "user_t", 6) == 0;
    if (!named) return false;
    bool dictionary = false, other = false;
    std::string word;
    auto end_word = [&] {
      if (word.empty()) return;
      const std::string w = Upper(word);
      if (w == "USER_TAB_COLUMNS" || w == "USER_TABLES") dictionary = true;
      else if (w == "USER_SEQUENCES" || w == "DUAL" || w == "NEXTVAL" || w == "CURRVAL") other = true;
      word.clear();
    };
    size_t last = std::string::npos;
    ForEachCodeChar(sql, [&](size_t i) {
      if (last != std::string::npos && i != last + 1) end_word();
      if (IsIdentChar(sql[i])) word += sql[i];
      else end_word();
      // Only SELECTs, and nothing joined with a table of the user's.
      if (sql[i] == ',' || sql[i] == ';') other = true;
      last = i;
    });
    end_word();
    if (!dictionary || other) return false;
    // A JOIN or a second FROM could bring in a table that changes without a
    // schema change.
    const std::string upper = Upper(sql);
    return upper.find("JOIN") == std::string::npos && upper.find("FROM") == upper.rfind("FROM");
  }

  // Refuses a second statement, then puts the sequence values in.
  Shaped Prepare(const std::string& sql) {
    CheckSingleStatement(sql, false);
    const auto uses = FindSequenceUses(sql);
    std::map<std::string, long long> next_values;
    for (const auto& use : uses)
      if (use.next && !next_values.count(use.name)) next_values[use.name] = NextValue(use.name);
    auto value_of = [&](const SequenceUse& use) {
      if (use.next) return next_values[use.name];
      const auto it = currval_.find(use.name);
      if (it == currval_.end()) throw DbError("sequence " + use.name + ".CURRVAL is not yet defined in this session");
      return it->second;
    };

    Shaped shaped;
    const std::string verb = FirstWord(sql);
    const bool data = IsDmlVerb(verb);
    std::vector<std::pair<size_t, size_t>> literals;
    if (data) literals = ShareableLiterals(sql, verb == "select");
    shaped.shared = data && literals.size() + uses.size() <= kMaxSharedParams;
    if (!shaped.shared) literals.clear();

    size_t at = 0, u = 0, l = 0;
    while (u < uses.size() || l < literals.size()) {
      const bool take_use = l >= literals.size() || (u < uses.size() && uses[u].begin < literals[l].first);
      const size_t begin = take_use ? uses[u].begin : literals[l].first;
      const size_t end = take_use ? uses[u].end : literals[l].second;
      shaped.text.append(sql, at, begin - at);
      if (shaped.shared) shaped.as_written.append(sql, at, begin - at);
      if (take_use) {
        const long long value = value_of(uses[u++]);
        if (shaped.shared) {
          shaped.text += '?';
          shaped.params.push_back({false, {}, value});
          shaped.as_written += std::to_string(value);
        } else {
          shaped.text += std::to_string(value);
        }
      } else {
        shaped.as_written.append(sql, begin, end - begin);
        ++l;
        std::string text;
        for (size_t k = begin + 1; k + 1 < end; ++k) {
          text += sql[k];
          if (sql[k] == '\'') ++k;  // a doubled quote stands for one
        }
        shaped.text += '?';
        shaped.params.push_back({true, std::move(text), 0});
      }
      at = end;
    }
    shaped.text.append(sql, at, std::string::npos);
    if (shaped.shared) shaped.as_written.append(sql, at, std::string::npos);
    return shaped;
  }

  static std::string FirstWord(const std::string& sql) {
    size_t i = 0;
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])) && word.size() < 8)
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i++])));
    return word;
  }

  // A prepared statement for the shaped text, its values bound; shared ones
  // come from (and stay in) the statement cache, reset when the user is done.
  class Bound {
   public:
    Bound(SqliteEngine& engine, const Shaped& shaped) {
      if (!shaped.shared) {
        own_ = std::make_unique<Stmt>(engine.db_, shaped.text);
        stmt_ = own_->get();
        return;
      }
      auto it = engine.statements_.find(shaped.text);
      if (it == engine.statements_.end()) {
        std::unique_ptr<Stmt> made;
        try {
          made = std::make_unique<Stmt>(engine.db_, shaped.text);
        } catch (const DbError&) {
          // A literal where SQLite takes no parameter, or a faulty text: the
          // text as written runs, or fails with the message that fits it.
          own_ = std::make_unique<Stmt>(engine.db_, shaped.as_written);
          stmt_ = own_->get();
          return;
        }
        if (engine.statements_.size() >= kStatementCacheSize) engine.statements_.clear();
        it = engine.statements_.emplace(shaped.text, std::move(made)).first;
      }
      stmt_ = it->second->get();
      int index = 1;
      for (const auto& param : shaped.params) {
        if (param.is_text)
          sqlite3_bind_text(stmt_, index++, param.text.data(), static_cast<int>(param.text.size()), SQLITE_STATIC);
        else
          sqlite3_bind_int64(stmt_, index++, param.number);
      }
    }
    ~Bound() {
      if (!own_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
      }
    }
    Bound(const Bound&) = delete;
    Bound& operator=(const Bound&) = delete;
    sqlite3_stmt* get() const { return stmt_; }

   private:
    std::unique_ptr<Stmt> own_;
    sqlite3_stmt* stmt_ = nullptr;
  };

  long long NextValue(const std::string& name) {
    if (!HasSequenceTable()) throw DbError("sequence " + name + " does not exist");
    long long value = 0, increment = 1;
    {
      Stmt read(db_, std::string("select last_number, increment_by from main.") + kSequenceTable +
                         " where sequence_name = ?");
      sqlite3_bind_text(read.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(read.get()) != SQLITE_ROW) throw DbError("sequence " + name + " does not exist");
      value = sqlite3_column_int64(read.get(), 0);
      increment = sqlite3_column_int64(read.get(), 1);
    }
    Stmt write(db_, std::string("update main.") + kSequenceTable +
                        " set last_number = last_number + increment_by where sequence_name = ?");
    sqlite3_bind_text(write.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(write.get()) != SQLITE_DONE) throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
    (void)increment;
    currval_[name] = value;
    return value;
  }

  // create sequence NAME [start with N] [increment by N] [...], drop sequence NAME
  bool HandleSequenceStatement(const std::string& sql) {
    static const std::regex kCreate(
        R"(^\s*create\s+sequence\s+([A-Za-z_][A-Za-z0-9_$#]*)((?:\s+(?:start\s+with\s+-?\d+|increment\s+by\s+-?\d+|nocache|nocycle|noorder|nominvalue|nomaxvalue|cache\s+\d+|minvalue\s+-?\d+|maxvalue\s+-?\d+))*)\s*$)",
        std::regex::icase);
    static const std::regex kDrop(R"(^\s*drop\s+sequence\s+([A-Za-z_][A-Za-z0-9_$#]*)\s*$)", std::regex::icase);
    static const std::regex kStart(R"(start\s+with\s+(-?\d+))", std::regex::icase);
    static const std::regex kIncrement(R"(increment\s+by\s+(-?\d+))", std::regex::icase);
    // Only the leading words decide; a long text is not a sequence statement.
    if (sql.size() > 1000) return false;
    if (const std::string verb = FirstWord(sql); verb != "create" && verb != "drop") return false;
    std::string head;
    for (size_t i = 0; i < sql.size() && head.size() < 20; ++i)
      if (!std::isspace(static_cast<unsigned char>(sql[i])) || (!head.empty() && head.back() != ' '))
        head += std::isspace(static_cast<unsigned char>(sql[i])) ? ' ' : static_cast<char>(std::tolower(sql[i]));
    const bool create = head.rfind("create sequence", 0) == 0, drop = head.rfind("drop sequence", 0) == 0;
    if (!create && !drop) return false;
    CheckSingleStatement(sql, false);
    std::smatch match;
    if (create) {
      if (!std::regex_match(sql, match, kCreate)) throw DbError("malformed CREATE SEQUENCE statement");
      const std::string name = Upper(match[1]);
      const std::string options = match[2];
      long long start = 1, increment = 1;
      std::smatch option;
      if (std::regex_search(options, option, kIncrement)) increment = std::stoll(option[1]);
      if (increment == 0) throw DbError("INCREMENT must be a nonzero integer");
      if (std::regex_search(options, option, kStart)) start = std::stoll(option[1]);
      Exec(std::string("create table if not exists main.") + kSequenceTable +
           " (sequence_name text primary key, min_value integer, max_value integer, increment_by integer not null, "
           "last_number integer not null)");
      Stmt insert(db_, std::string("insert into main.") + kSequenceTable +
                           " (sequence_name, min_value, max_value, increment_by, last_number) values (?, 1, null, ?, ?)");
      sqlite3_bind_text(insert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert.get(), 2, increment);
      sqlite3_bind_int64(insert.get(), 3, start);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        if ((sqlite3_extended_errcode(db_) & 0xff) == SQLITE_CONSTRAINT)
          throw DbError("name is already used by an existing object: sequence " + name);
        throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
      }
    } else {
      if (!std::regex_match(sql, match, kDrop)) throw DbError("malformed DROP SEQUENCE statement");
      const std::string name = Upper(match[1]);
      if (!HasSequenceTable()) throw DbError("sequence " + name + " does not exist");
      Stmt remove(db_, std::string("delete from main.") + kSequenceTable + " where sequence_name = ?");
      sqlite3_bind_text(remove.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(remove.get()) != SQLITE_DONE) throw DbError(sqlite3_errmsg(db_));
      if (sqlite3_changes(db_) == 0) throw DbError("sequence " + name + " does not exist");
      currval_.erase(name);
    }
    CreateSequenceView();
    return true;
  }

  static std::optional<std::string> Value(sqlite3_stmt* stmt, int c) {
    switch (sqlite3_column_type(stmt, c)) {
      case SQLITE_NULL:
        return std::nullopt;
      case SQLITE_INTEGER:
        return std::to_string(sqlite3_column_int64(stmt, c));
      case SQLITE_FLOAT:
        return NumberText(sqlite3_column_double(stmt, c));
      default: {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, c));
        return std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
      }
    }
  }

  struct FileStamp {
    long long a = -1, b = 0, c = 0, d = 0, e = 0, f = 0;
    bool operator==(const FileStamp&) const = default;
  };

  std::string path_, wal_path_;
  sqlite3* db_ = nullptr;
  bool in_transaction_ = false;
  FileStamp stamp_;
  bool schema_dirty_ = false;
  bool wal_ = false;
  uint64_t seen_epoch_ = 0;
  std::chrono::steady_clock::time_point checked_at_{};
  std::unique_ptr<Stmt> schema_version_;
  static constexpr size_t kStatementCacheSize = 64;
  static constexpr size_t kMaxSharedParams = 999;
  std::unordered_map<std::string, std::unique_ptr<Stmt>> statements_;
  std::unordered_map<std::string, std::shared_ptr<const ResultSet>> cache_;
  int cache_version_ = -1;
  std::unordered_map<std::string, long long> currval_;
};

}  // namespace

std::unique_ptr<Engine> OpenSqlite(const std::string& path) { return std::make_unique<SqliteEngine>(path); }

}  // namespace xb::db
