#include "db/sqlite/oracle_functions.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/sqlite/number_params.h"

namespace xb::db::sqlite {
namespace {

using oracle::DateTime;
using oracle::ExactDecimalOf;
using oracle::FormatByMask;
using oracle::ParseByMask;
using oracle::ParseStored;

std::string Text(sqlite3_value* value) {
  const auto* text = sqlite3_value_text(value);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_value_bytes(value)))
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
    const std::string message =
        "to_date: '" + text + "' is not a valid date for the format '" + mask + "'";
    return sqlite3_result_error(context, message.c_str(), -1);
  }
  const std::string canonical = Canonical(d);
  sqlite3_result_text(context, canonical.c_str(), static_cast<int>(canonical.size()),
                      SQLITE_TRANSIENT);
}

// xlsbridge_declared(type, fact): what user_tab_columns shows of a declared
// type, read by the same rules the type checks keep it by: 'length' (Oracle's
// DATA_LENGTH in bytes, four a character for a length in characters),
// 'chars' (CHAR_LENGTH), 'char_used' ('B' or 'C'), 'precision', 'scale'.
void DeclaredFact(sqlite3_context* context, int, sqlite3_value** argv) {
  using Kind = oracle::DeclaredType::Kind;
  const oracle::DeclaredType type = oracle::ParseDeclaredType(Text(argv[0]));
  const std::string fact = Text(argv[1]);
  if (type.kind == Kind::Text && type.length > 0) {
    if (fact == "length")
      return sqlite3_result_int64(context, type.length * (type.length_in_chars ? 4 : 1));
    if (fact == "chars") return sqlite3_result_int64(context, type.length);
    if (fact == "char_used")
      return sqlite3_result_text(context, type.length_in_chars ? "C" : "B", 1, SQLITE_STATIC);
  } else if (type.kind == Kind::Number) {
    if (fact == "length") return sqlite3_result_int64(context, 22);
    if (fact == "precision" && type.precision) return sqlite3_result_int(context, *type.precision);
    if (fact == "scale" && type.scale) return sqlite3_result_int(context, *type.scale);
  } else if (type.kind == Kind::Date && fact == "length") {
    return sqlite3_result_int64(context, 7);
  }
  sqlite3_result_null(context);
}

void ToChar(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  DateTime d;
  if (argc > 1 && sqlite3_value_type(argv[0]) == SQLITE_TEXT && ParseStored(text, d)) {
    const std::string formatted = FormatByMask(d, Text(argv[1]));
    return sqlite3_result_text(context, formatted.c_str(), static_cast<int>(formatted.size()),
                               SQLITE_TRANSIENT);
  }
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void ToNumber(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  // A number longer than a double holds keeps its digits, as a column keeps
  // them, so that it compares equal to the stored value.
  if (const std::optional<std::string> exact = ExactDecimalOf(text)) {
    const std::string& digits = *exact;
    return sqlite3_result_blob(context, digits.data(), static_cast<int>(digits.size()),
                               SQLITE_TRANSIENT);
  }
  double value = 0;
  try {
    value = std::strtod(oracle::OracleNumberText(text).c_str(), nullptr);
  } catch (const DbError& e) {
    return sqlite3_result_error(context, e.what(), -1);
  }
  if (value == std::floor(value) && std::fabs(value) < 9e18)
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(value));
  else
    sqlite3_result_double(context, value);
}

// xlsbridge_number_order(value) and xlsbridge_number_key(value): the keys
// of NumberSortKey and NumberCompareKey, as blobs.
template <std::string (*Key)(sqlite3_value*)>
void NumberKeyFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  try {
    const std::string key = Key(argv[0]);
    sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

}  // namespace

void AddOracleFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "to_date", 1, flags, nullptr, ToDate, nullptr, nullptr);
  sqlite3_create_function(db, "to_date", 2, flags, nullptr, ToDate, nullptr, nullptr);
  sqlite3_create_function(db, "to_char", 1, flags, nullptr, ToChar, nullptr, nullptr);
  sqlite3_create_function(db, "to_char", 2, flags, nullptr, ToChar, nullptr, nullptr);
  sqlite3_create_function(db, "to_number", 1, flags, nullptr, ToNumber, nullptr, nullptr);
  sqlite3_create_function(db, "xlsbridge_declared", 2, flags, nullptr, DeclaredFact, nullptr,
                          nullptr);
  sqlite3_create_function(db, "xlsbridge_number_order", 1, flags, nullptr,
                          NumberKeyFunction<NumberSortKey>, nullptr, nullptr);
  sqlite3_create_function(db, "xlsbridge_number_key", 1, flags, nullptr,
                          NumberKeyFunction<NumberCompareKey>, nullptr, nullptr);
}

}  // namespace xb::db::sqlite
