#include "db/sqlite/type_checks.h"

#include <sqlite3.h>

#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/errors.h"
#include "db/oracle/column_types.h"

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

size_t CharCount(const unsigned char* s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i)
    if ((s[i] & 0xC0) != 0x80) ++count;
  return count;
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
        // Text within its declared length is kept as it is: checked here
        // without a copy.
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(arg));
        const auto n = static_cast<size_t>(sqlite3_value_bytes(arg));
        if (type.kind == DeclaredType::Kind::Text &&
            (type.length == 0 ||
             static_cast<long long>(type.length_in_chars ? CharCount(bytes, n) : n) <= type.length))
          continue;
        value = std::string(bytes ? reinterpret_cast<const char*>(bytes) : "", n);
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

}  // namespace

TypeChecks::TypeChecks(sqlite3* db) : db_(db) {
  sqlite3_create_function(db_, "xlsbridge_kept_value", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                          nullptr, CheckFunction, nullptr, nullptr);
  sqlite3_create_function_v2(db_, "xlsbridge_kept_row", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                             new RowColumnsCache, RowCheckFunction, nullptr, nullptr,
                             [](void* p) { delete static_cast<RowColumnsCache*>(p); });
}

void TypeChecks::Refresh() {
  // Both schemas: a rolled-back transaction takes the triggers made in it
  // away again, and the temporary schema's version with them.
  auto version = [this](const char* sql) {
    long long v = -1;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      if (sqlite3_step(stmt) == SQLITE_ROW) v = sqlite3_column_int64(stmt, 0);
      sqlite3_finalize(stmt);
    }
    return v;
  };
  auto versions = [&] {
    return version("pragma main.schema_version") * 4294967296LL +
           version("pragma temp.schema_version");
  };
  if (const long long now = versions(); now == schema_version_ && now != -1) return;

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
    sqlite3_exec(
        db_,
        ("create temp trigger xlsbridge_kept_i" + std::to_string(n) + " after insert" + body)
            .c_str(),
        nullptr, nullptr, nullptr);
    sqlite3_exec(db_,
                 ("create temp trigger xlsbridge_kept_u" + std::to_string(n) + " after update of " +
                  list + body)
                     .c_str(),
                 nullptr, nullptr, nullptr);
  }
  schema_version_ = versions();
}

}  // namespace xb::db
