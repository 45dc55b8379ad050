#include "db/sqlite/type_checks.h"

#include <sqlite3.h>

#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/sql_tokens.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace xb::db {
namespace {

using oracle::CheckColumnValue;
using oracle::ColumnValue;
using oracle::DeclaredType;
using oracle::ExactDecimal;
using oracle::IsExactDecimal;
using oracle::ParseDeclaredType;

// A value as the checks take it. A number longer than a double holds is
// stored as a blob of its digits (the engine binds it so, and NUMERIC
// affinity leaves a blob alone).
ColumnValue ValueOf(sqlite3_value* arg) {
  switch (sqlite3_value_type(arg)) {
    case SQLITE_NULL: return std::monostate{};
    case SQLITE_INTEGER: return static_cast<long long>(sqlite3_value_int64(arg));
    case SQLITE_FLOAT: return sqlite3_value_double(arg);
    default: {
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(arg));
      std::string text(bytes ? bytes : "", static_cast<size_t>(sqlite3_value_bytes(arg)));
      if (sqlite3_value_type(arg) == SQLITE_BLOB && IsExactDecimal(text))
        return ExactDecimal{std::move(text)};
      return text;
    }
  }
}

void CheckFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  const ColumnValue value = ValueOf(argv[0]);
  auto text = [&](int i) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
    return std::string(t ? t : "");
  };
  try {
    // The declared type is the same text for every row: parsed once per
    // statement and kept with the argument.
    auto* type = static_cast<DeclaredType*>(sqlite3_get_auxdata(context, 3));
    if (!type) {
      type = new DeclaredType(ParseDeclaredType(text(3)));
      sqlite3_set_auxdata(context, 3, type, [](void* p) { delete static_cast<DeclaredType*>(p); });
      type = static_cast<DeclaredType*>(sqlite3_get_auxdata(context, 3));
      if (!type) return sqlite3_result_error_nomem(context);
    }
    if (type->kind == DeclaredType::Kind::Other) return sqlite3_result_value(context, argv[0]);
    const ColumnValue kept = CheckColumnValue(value, *type, text(1), text(2));
    if (std::holds_alternative<std::monostate>(kept)) return sqlite3_result_null(context);
    if (const auto* i = std::get_if<long long>(&kept)) return sqlite3_result_int64(context, *i);
    if (const auto* d = std::get_if<double>(&kept)) return sqlite3_result_double(context, *d);
    if (const auto* e = std::get_if<ExactDecimal>(&kept))
      return sqlite3_result_blob(context, e->digits.data(), static_cast<int>(e->digits.size()),
                                 SQLITE_TRANSIENT);
    if (kept == value) return sqlite3_result_value(context, argv[0]);  // kept as it came
    const auto& text = std::get<std::string>(kept);
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  } catch (const DbError& e) {
    sqlite3_result_error(context, e.what(), -1);
  }
}

// The checked columns of one trigger, as its row check's second argument
// gives them: "<length>:<column><length>:<declared type>" for each column,
// parsed once per statement.
struct RowColumns {
  std::string table;
  std::vector<std::string> names;
  std::vector<DeclaredType> types;
};

// The parsed column lists of a connection, by table and list text.
using RowColumnsCache = std::unordered_map<std::string, std::shared_ptr<const RowColumns>>;

bool ParseRowColumns(const char* p, size_t n, RowColumns& out) {
  const char* end = p + n;
  auto field = [&](std::string& s) {
    size_t len = 0;
    while (p < end && *p >= '0' && *p <= '9') len = len * 10 + static_cast<size_t>(*p++ - '0');
    if (p >= end || *p != ':' || static_cast<size_t>(end - p - 1) < len) return false;
    s.assign(p + 1, len);
    p += 1 + len;
    return true;
  };
  while (p < end) {
    std::string name, declared;
    if (!field(name) || !field(declared)) return false;
    out.names.push_back(std::move(name));
    out.types.push_back(ParseDeclaredType(declared));
  }
  return true;
}

// A text value's bytes, read in place.
std::string_view TextBytes(sqlite3_value* arg) {
  const auto* bytes = static_cast<const char*>(sqlite3_value_blob(arg));
  return {bytes ? bytes : "", static_cast<size_t>(sqlite3_value_bytes(arg))};
}

// Text within its column's declared length, which the checks keep as it is:
// told without a copy.
bool KeptAsItIs(const DeclaredType& type, std::string_view text) {
  if (type.kind != DeclaredType::Kind::Text) return false;
  return type.length == 0 ||
         static_cast<long long>(type.length_in_chars ? text::CharCount(text) : text.size()) <=
             type.length;
}

// xlsbridge_kept_row(table, columns, value...): checks a row's values in one
// call (the same checks, in column order, as xlsbridge_kept_value) and gives
// 1 when a kept value may differ from the one stored, so that the row is
// written again with the kept values, else 0.
void RowCheckFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  try {
    // Kept with the statement for its later rows, and on the connection
    // for the statements to come: the import sends each row as a statement
    // of its own.
    using Shared = std::shared_ptr<const RowColumns>;
    const RowColumns* columns = nullptr;
    if (auto* kept = static_cast<Shared*>(sqlite3_get_auxdata(context, 1))) columns = kept->get();
    if (!columns) {
      const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
      const auto* d = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
      if (!t || !d) return sqlite3_result_error(context, "xlsbridge_kept_row: bad column list", -1);
      std::string key(t, static_cast<size_t>(sqlite3_value_bytes(argv[0])));
      key += '\0';
      key.append(d, static_cast<size_t>(sqlite3_value_bytes(argv[1])));
      auto& cache = *static_cast<RowColumnsCache*>(sqlite3_user_data(context));
      auto found = cache.find(key);
      if (found == cache.end()) {
        auto fresh = std::make_shared<RowColumns>();
        fresh->table = t;
        if (!ParseRowColumns(d, static_cast<size_t>(sqlite3_value_bytes(argv[1])), *fresh) ||
            fresh->names.size() != static_cast<size_t>(argc - 2))
          return sqlite3_result_error(context, "xlsbridge_kept_row: bad column list", -1);
        // Tables altered or made again many times leave their old lists.
        if (cache.size() >= 1000) cache.clear();
        found = cache.emplace(std::move(key), std::move(fresh)).first;
      }
      const Shared& entry = found->second;
      columns = entry.get();
      sqlite3_set_auxdata(context, 1, new Shared(entry),
                          [](void* p) { delete static_cast<Shared*>(p); });
    }
    bool changed = false;
    for (int i = 2; i < argc; ++i) {
      sqlite3_value* arg = argv[i];
      const DeclaredType& type = columns->types[static_cast<size_t>(i - 2)];
      const int kind = sqlite3_value_type(arg);
      if (kind == SQLITE_NULL || type.kind == DeclaredType::Kind::Other) continue;
      ColumnValue value;
      if (kind == SQLITE_INTEGER) {
        value = static_cast<long long>(sqlite3_value_int64(arg));
      } else if (kind == SQLITE_FLOAT) {
        value = sqlite3_value_double(arg);
      } else if (kind == SQLITE_BLOB) {
        value = ValueOf(arg);
      } else {
        const std::string_view text = TextBytes(arg);
        if (KeptAsItIs(type, text)) continue;
        value = std::string(text);
      }
      const ColumnValue kept =
          CheckColumnValue(value, type, columns->table, columns->names[static_cast<size_t>(i - 2)]);
      if (kept != value) changed = true;
    }
    sqlite3_result_int(context, changed ? 1 : 0);
  } catch (const DbError& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

std::string QuotedName(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string QuotedText(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// A value's text as sqlite3_value_text gives it; a text's bytes are read in
// place (it need not be terminated first).
std::string BytesOf(sqlite3_value* arg) {
  const void* bytes =
      sqlite3_value_type(arg) == SQLITE_TEXT ? sqlite3_value_blob(arg) : sqlite3_value_text(arg);
  return std::string(bytes ? static_cast<const char*>(bytes) : "",
                     static_cast<size_t>(sqlite3_value_bytes(arg)));
}

// The affinity SQLite gives a column of a declared type.
enum class Affinity { Text, Numeric, Integer, Real, Blob };

Affinity AffinityOf(const std::string& declared) {
  const std::string d = text::UpperCased(declared);
  auto has = [&](const char* word) { return d.find(word) != std::string::npos; };
  if (has("INT")) return Affinity::Integer;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::Text;
  if (has("BLOB") || d.empty()) return Affinity::Blob;
  if (has("REAL") || has("FLOA") || has("DOUB")) return Affinity::Real;
  return Affinity::Numeric;
}

// A real number as a column of numeric affinity keeps it: a whole number
// that a 64-bit integer holds becomes that integer.
ColumnValue RealAsStored(double r) {
  if (std::isnan(r)) return r;
  long long whole;
  if (r <= static_cast<double>(LLONG_MIN))
    whole = LLONG_MIN;
  else if (r >= static_cast<double>(LLONG_MAX))
    whole = LLONG_MAX;
  else
    whole = static_cast<long long>(r);
  if (r == static_cast<double>(whole) && whole > LLONG_MIN && whole < LLONG_MAX) return whole;
  return r;
}

// "-123": at most 18 digits, nothing else; SQLite takes it for that integer.
bool PlainInteger(const unsigned char* s, size_t n, long long& out) {
  size_t i = 0;
  const bool negative = n > 0 && s[0] == '-';
  if (negative) i = 1;
  if (n == i || n - i > 18) return false;
  long long v = 0;
  for (; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = negative ? -v : v;
  return true;
}

// A plain insert of the program's own form: insert into T(c1,...)
// values(v1,...), each value '?' or to_date(?,'mask'), names plain.
struct PlainInsert {
  std::string table;
  std::vector<std::string> columns;
  std::vector<std::string> masks;  // per value: to_date's mask, or empty for '?'
};

std::optional<PlainInsert> ParsePlainInsert(const std::string& sql) {
  const std::vector<SqlToken> t = SqlTokens(sql);
  size_t i = 0;
  auto name = [&](std::string& out) {
    if (i >= t.size() || t[i].kind != SqlToken::Kind::Word) return false;
    out = t[i++].text;
    return true;
  };
  auto take = [&](bool matches) {
    if (matches) ++i;
    return matches;
  };
  auto word = [&](std::string_view upper) { return take(i < t.size() && t[i].Is(upper)); };
  auto punct = [&](std::string_view p) { return take(i < t.size() && t[i].IsPunct(p)); };
  auto marker = [&] { return take(i < t.size() && t[i].kind == SqlToken::Kind::Marker); };
  PlainInsert insert;
  if (!word("INSERT") || !word("INTO") || !name(insert.table) || !punct("(")) return std::nullopt;
  for (;;) {
    std::string column;
    if (!name(column)) return std::nullopt;
    insert.columns.push_back(std::move(column));
    if (punct(")")) break;
    if (!punct(",")) return std::nullopt;
  }
  if (!word("VALUES") || !punct("(")) return std::nullopt;
  for (;;) {
    if (marker()) {
      insert.masks.emplace_back();
    } else {
      // to_date(?, 'mask'), the mask plain: it is written again as it stands.
      if (!word("TO_DATE") || !punct("(") || !marker() || !punct(",") || i >= t.size())
        return std::nullopt;
      const SqlToken& mask = t[i++];
      if (mask.kind != SqlToken::Kind::Literal || !mask.closed || mask.text.empty() ||
          mask.text.find('\'') != std::string::npos)
        return std::nullopt;
      insert.masks.push_back(mask.text);
      if (!punct(")")) return std::nullopt;
    }
    if (punct(")")) break;
    if (!punct(",")) return std::nullopt;
  }
  if (i != t.size() || insert.columns.size() != insert.masks.size()) return std::nullopt;
  return insert;
}

// Runs a query with one text parameter, each row to row; false when it fails.
template <typename Row>
bool ForEachRow(sqlite3* db, const char* sql, const std::string& parameter, Row row) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_text(stmt, 1, parameter.data(), static_cast<int>(parameter.size()),
                    SQLITE_TRANSIENT);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
  sqlite3_finalize(stmt);
  return rc == SQLITE_DONE;
}

std::string ColumnText(sqlite3_stmt* stmt, int c) {
  const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
  return t ? t : "";
}

}  // namespace

// A checked insert's plan: the statement's form and, from the schema of the
// last refresh, what each of its values meets.
struct TypeChecks::Plan {
  PlainInsert insert;
  struct Value {
    DeclaredType type;
    Affinity affinity = Affinity::Blob;
    std::string column;  // as the table names it
    bool checked = false;
  };
  std::vector<Value> values;
  std::string table;  // as the table names itself
  std::string key;    // upper-case
  long long generation = -1;
  bool valid = false;
};

std::optional<TypeChecks::CheckedInsert> TypeChecks::PlanInsert(const std::string& sql) {
  // A statement prepared again (each run prepares its statements anew)
  // keeps its plan.
  if (const auto known = planned_.find(sql); known != planned_.end()) return known->second;
  auto insert = ParsePlainInsert(sql);
  // SQLite takes at most 127 arguments to a function.
  if (!insert || insert->columns.size() > 100) return std::nullopt;
  auto plan = std::make_unique<Plan>();
  plan->insert = std::move(*insert);
  const PlainInsert& form = plan->insert;
  const int id = static_cast<int>(plans_.size());
  auto marker = [](size_t k) { return "?" + std::to_string(k + 1); };
  auto value = [&](size_t k) {
    return form.masks[k].empty() ? marker(k) : "to_date(" + marker(k) + ",'" + form.masks[k] + "')";
  };
  std::string columns, values = "xlsbridge_checked_row(" + std::to_string(id) + "," + value(0);
  for (size_t k = 0; k < form.columns.size(); ++k) {
    columns += (k ? "," : "") + form.columns[k];
    values += "," + marker(k);
  }
  values += ")";
  for (size_t k = 1; k < form.columns.size(); ++k) values += "," + value(k);
  CheckedInsert checked;
  checked.text = "insert into " + form.table + "(" + columns + ") values(" + values + ")";
  checked.plan = id;
  plans_.push_back(std::move(plan));
  planned_.emplace(sql, checked);
  return checked;
}

bool TypeChecks::BuildPlan(Plan& plan) {
  plan.valid = false;
  plan.generation = generation_;
  plan.values.clear();
  plan.key = text::UpperCased(plan.insert.table);
  // Only a table whose inserts have a trigger to leave out; nothing of the
  // operator's own (a trigger, a temporary table of the name) in the way.
  if (!insert_triggers_.count(plan.key)) return false;
  long long others = 0;
  auto count = [&](sqlite3_stmt* stmt) { others += sqlite3_column_int64(stmt, 0); };
  if (!ForEachRow(
          db_,
          "select count(*) from temp.sqlite_master where (type in ('table', 'view') and name = ?1 "
          "collate nocase) or (type = 'trigger' and tbl_name = ?1 collate nocase and name "
          "not like 'xlsbridge\\_kept\\_%' escape '\\')",
          plan.insert.table, count) ||
      !ForEachRow(
          db_,
          "select count(*) from main.sqlite_master where type = 'trigger' and tbl_name = ?1 "
          "collate nocase",
          plan.insert.table, count) ||
      others != 0)
    return false;
  struct Column {
    std::string name, declared;
    bool has_default = false;
    long long hidden = 0;
    bool listed = false;
  };
  std::vector<Column> columns;
  if (!ForEachRow(db_,
                  "select name, type, dflt_value is not null, hidden from "
                  "main.pragma_table_xinfo(?1)",
                  plan.insert.table, [&](sqlite3_stmt* stmt) {
                    Column c;
                    c.name = ColumnText(stmt, 0);
                    c.declared = ColumnText(stmt, 1);
                    c.has_default = sqlite3_column_int(stmt, 2) != 0;
                    c.hidden = sqlite3_column_int64(stmt, 3);
                    columns.push_back(std::move(c));
                  }))
    return false;
  for (const std::string& written : plan.insert.columns) {
    Column* found = nullptr;
    for (Column& c : columns)
      if (text::EqualsIgnoringCase(c.name, written)) found = &c;
    if (!found || found->listed || found->hidden != 0) return false;
    found->listed = true;
    Plan::Value v;
    v.type = ParseDeclaredType(found->declared);
    v.affinity = AffinityOf(found->declared);
    v.column = found->name;
    v.checked = v.type.kind != DeclaredType::Kind::Other;
    // The check below takes a value as a column of these affinities keeps it.
    if (v.type.kind == DeclaredType::Kind::Text && v.affinity != Affinity::Text) return false;
    if ((v.type.kind == DeclaredType::Kind::Number || v.type.kind == DeclaredType::Kind::Date) &&
        v.affinity != Affinity::Numeric && v.affinity != Affinity::Integer)
      return false;
    plan.values.push_back(std::move(v));
  }
  // A checked column the insert leaves out is NULL, or the rowid an
  // INTEGER PRIMARY KEY stands for (an integer, which INTEGER keeps as it
  // is); one with a default, or computed, would need the trigger.
  for (const Column& c : columns)
    if (!c.listed && ParseDeclaredType(c.declared).kind != DeclaredType::Kind::Other &&
        (c.hidden != 0 || c.has_default))
      return false;
  plan.table = plan.insert.table;
  plan.valid = true;
  return true;
}

bool TypeChecks::Suspend(int id) {
  if (id < 0 || static_cast<size_t>(id) >= plans_.size()) return false;
  Plan& plan = *plans_[static_cast<size_t>(id)];
  // Left out already: nothing can have changed the schema since, as every
  // other statement that writes brings the trigger back first.
  if (plan.valid && plan.generation == generation_ && !suspended_.empty() && suspended_ == plan.key)
    return true;
  Refresh();
  if (plan.generation != generation_ && !BuildPlan(plan)) return false;
  if (!plan.valid) return false;
  if (suspended_ == plan.key) return true;
  Resume();
  const auto it = insert_triggers_.find(plan.key);
  if (it == insert_triggers_.end()) return false;
  if (sqlite3_exec(db_, ("drop trigger temp." + QuotedName(it->second.name)).c_str(), nullptr,
                   nullptr, nullptr) != SQLITE_OK)
    return false;
  suspended_ = plan.key;
  schema_version_ = Versions();
  return true;
}

void TypeChecks::Resume() {
  if (suspended_.empty()) return;
  const std::string table = suspended_;
  suspended_.clear();
  const auto it = insert_triggers_.find(table);
  // "if not exists": a savepoint rolled back may have brought it back.
  const std::string kCreate = "create temp trigger ";
  if (it != insert_triggers_.end() &&
      sqlite3_exec(db_,
                   (kCreate + "if not exists " + it->second.create.substr(kCreate.size())).c_str(),
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    // The trigger was left out inside the transaction, which fails with
    // this error and is rolled back: the rollback brings it back. The
    // triggers are made anew at the next refresh all the same.
    schema_version_ = -1;
    throw DbError(std::string("the type checks of ") + table +
                      " could not be made again: " + sqlite3_errmsg(db_),
                  sqlite3_extended_errcode(db_));
  }
  schema_version_ = Versions();
}

void TypeChecks::Forget() {
  suspended_.clear();
  schema_version_ = -1;
}

// xlsbridge_checked_row(plan, first, value...): the first value of a checked
// insert, given back as it is when every value passes its column's check as
// it is (as the trigger would find it); else the statement fails and asks
// for the row to run again with the trigger. While the trigger is there (no
// transaction, another statement wrote) it gives the first value back.
void TypeChecks::CheckedRow(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* self = static_cast<TypeChecks*>(sqlite3_user_data(context));
  const long long id = sqlite3_value_int64(argv[0]);
  const Plan* plan = id >= 0 && static_cast<size_t>(id) < self->plans_.size()
                         ? self->plans_[static_cast<size_t>(id)].get()
                         : nullptr;
  if (!plan || !plan->valid || plan->generation != self->generation_ || self->suspended_.empty() ||
      self->suspended_ != plan->key || static_cast<size_t>(argc) != plan->values.size() + 2)
    return sqlite3_result_value(context, argv[1]);
  auto recheck = [&] {
    self->recheck_ = true;
    sqlite3_result_error(context, "xlsbridge: the row is checked by its trigger", -1);
  };
  try {
    for (size_t k = 0; k < plan->values.size(); ++k) {
      const Plan::Value& column = plan->values[k];
      if (!column.checked) continue;
      sqlite3_value* arg = argv[k + 2];
      const int kind = sqlite3_value_type(arg);
      if (kind == SQLITE_NULL) continue;
      ColumnValue value;
      if (const std::string& mask = plan->insert.masks[k]; !mask.empty()) {
        // to_date(value, mask) as the statement works it out; a date that
        // does not parse is to_date's error, which the trigger's run gives.
        const std::string text = BytesOf(arg);
        if (text.empty()) continue;  // NULL
        oracle::DateTime d;
        if (!oracle::ParseByMask(text, mask, d)) return recheck();
        // A date that parses is a real day of the years 1 to 9999, which a
        // DATE column keeps as it is.
        if (column.type.kind == DeclaredType::Kind::Date) continue;
        // "yyyy-mm-dd...": no number, so numeric affinity leaves it text.
        value = oracle::Canonical(d);
      } else if (column.affinity == Affinity::Text) {
        if (kind == SQLITE_TEXT) {
          const std::string_view text = TextBytes(arg);
          if (KeptAsItIs(column.type, text)) continue;
          value = std::string(text);
        } else if (kind == SQLITE_INTEGER) {
          value = std::to_string(sqlite3_value_int64(arg));
        } else if (kind == SQLITE_BLOB) {
          value = ValueOf(arg);
        } else {
          return recheck();
        }
      } else {
        // Numeric affinity: a text that reads as a number is stored as that
        // number, as SQLite reads it.
        if (kind == SQLITE_INTEGER) {
          value = static_cast<long long>(sqlite3_value_int64(arg));
        } else if (kind == SQLITE_FLOAT) {
          value = RealAsStored(sqlite3_value_double(arg));
        } else if (kind == SQLITE_BLOB) {
          value = ValueOf(arg);
        } else {
          // Text: its bytes as they are, without the terminator a copy
          // would be made for.
          const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(arg));
          const auto n = static_cast<size_t>(sqlite3_value_bytes(arg));
          long long whole = 0;
          if (PlainInteger(bytes, n, whole)) {
            value = whole;
          } else {
            std::unique_ptr<sqlite3_value, void (*)(sqlite3_value*)> copy(sqlite3_value_dup(arg),
                                                                          sqlite3_value_free);
            if (!copy) return sqlite3_result_error_nomem(context);
            const int read = sqlite3_value_numeric_type(copy.get());
            if (read == SQLITE_INTEGER)
              value = static_cast<long long>(sqlite3_value_int64(copy.get()));
            else if (read == SQLITE_FLOAT)
              value = RealAsStored(sqlite3_value_double(copy.get()));
            else
              return recheck();  // no number: refused or made NULL by the trigger
          }
        }
      }
      const ColumnValue kept = CheckColumnValue(value, column.type, plan->table, column.column);
      if (kept != value) return recheck();
    }
  } catch (const DbError&) {
    return recheck();
  } catch (const std::bad_alloc&) {
    return sqlite3_result_error_nomem(context);
  }
  sqlite3_result_value(context, argv[1]);
}

TypeChecks::TypeChecks(sqlite3* db) : db_(db) {
  sqlite3_create_function(db_, "xlsbridge_kept_value", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                          nullptr, CheckFunction, nullptr, nullptr);
  sqlite3_create_function_v2(db_, "xlsbridge_kept_row", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                             new RowColumnsCache, RowCheckFunction, nullptr, nullptr,
                             [](void* p) { delete static_cast<RowColumnsCache*>(p); });
  // Not deterministic: its answer depends on the connection's state.
  sqlite3_create_function(db_, "xlsbridge_checked_row", -1, SQLITE_UTF8, this, CheckedRow, nullptr,
                          nullptr);
}

TypeChecks::~TypeChecks() = default;

long long TypeChecks::Versions() {
  auto version = [this](const char* sql) {
    long long v = -1;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      if (sqlite3_step(stmt) == SQLITE_ROW) v = sqlite3_column_int64(stmt, 0);
      sqlite3_finalize(stmt);
    }
    return v;
  };
  return version("pragma main.schema_version") * 4294967296LL +
         version("pragma temp.schema_version");
}

void TypeChecks::Refresh() {
  // Both schemas: a rolled-back transaction takes the triggers made in it
  // away again, and the temporary schema's version with them.
  if (const long long now = Versions(); now == schema_version_ && now != -1) return;
  // Every trigger is made anew below, a left-out one too.
  suspended_.clear();
  insert_triggers_.clear();
  ++generation_;

  // Tables (with a rowid) and their checked columns.
  struct Column {
    std::string name, declared;
  };
  std::vector<std::pair<std::string, std::vector<Column>>> tables;
  {
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "select m.name, p.name, p.type from main.sqlite_master m join pragma_table_info(m.name) p "
        "where m.type = 'table' and m.name not like 'sqlite\\_%' escape '\\' "
        "and lower(m.name) <> 'xlsbridge_sequences' and m.sql not like '%without%rowid%' order by "
        "m.name, p.cid";
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) return;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const std::string table = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      const std::string column = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
      const auto* declared = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
      const std::string type = declared ? declared : "";
      if (ParseDeclaredType(type).kind == DeclaredType::Kind::Other) continue;
      if (tables.empty() || tables.back().first != table) tables.push_back({table, {}});
      tables.back().second.push_back({column, type});
    }
    sqlite3_finalize(stmt);
  }
  // Every trigger anew: a table may have been altered or made again.
  std::vector<std::string> old;
  {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "select name from temp.sqlite_master where type = 'trigger' and name "
                           "like 'xlsbridge\\_kept\\_%' escape '\\'",
                           -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW)
        old.push_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
      sqlite3_finalize(stmt);
    }
  }
  for (const auto& name : old)
    sqlite3_exec(db_, ("drop trigger temp." + QuotedName(name)).c_str(), nullptr, nullptr, nullptr);
  int n = 0;
  for (const auto& [table, columns] : tables) {
    std::string when, set, list, described, values;
    size_t in_call = 0;
    auto end_call = [&, &table = table] {
      when += (when.empty() ? "" : " or ") + std::string("xlsbridge_kept_row(") +
              QuotedText(table) + ", " + QuotedText(described) + values + ")";
      described.clear();
      values.clear();
      in_call = 0;
    };
    for (const auto& c : columns) {
      const std::string kept = "xlsbridge_kept_value(new." + QuotedName(c.name) + ", " +
                               QuotedText(table) + ", " + QuotedText(c.name) + ", " +
                               QuotedText(c.declared) + ")";
      set += (set.empty() ? "" : ", ") + QuotedName(c.name) + " = " + kept;
      list += (list.empty() ? "" : ", ") + QuotedName(c.name);
      described += std::to_string(c.name.size()) + ":" + c.name +
                   std::to_string(c.declared.size()) + ":" + c.declared;
      values += ", new." + QuotedName(c.name);
      // SQLite takes at most 127 arguments to a function.
      if (++in_call == 100) end_call();
    }
    if (in_call > 0) end_call();
    // The check runs in WHEN, one call for (up to 100 columns of) the row,
    // failing the statement; the row is written again, each value by
    // xlsbridge_kept_value, only when a kept value may differ (rounded, or
    // '' made NULL).
    const std::string body = " on main." + QuotedName(table) + " when " + when + " begin update " +
                             QuotedName(table) + " set " + set + " where rowid = new.rowid; end";
    ++n;
    const std::string insert_name = "xlsbridge_kept_i" + std::to_string(n);
    const std::string insert_trigger =
        "create temp trigger " + insert_name + " after insert" + body;
    if (sqlite3_exec(db_, insert_trigger.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
      insert_triggers_[text::UpperCased(table)] = {insert_name, insert_trigger};
    sqlite3_exec(db_,
                 ("create temp trigger xlsbridge_kept_u" + std::to_string(n) + " after update of " +
                  list + body)
                     .c_str(),
                 nullptr, nullptr, nullptr);
  }
  schema_version_ = Versions();
}

}  // namespace xb::db
