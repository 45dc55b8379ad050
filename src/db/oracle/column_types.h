#pragma once
// Declared column types kept as Oracle keeps them, on an engine that would
// store anything: VARCHAR2/CHAR lengths (in bytes of UTF-8, or in characters
// with "n CHAR"), NUMBER precision and scale (values rounded to the scale),
// valid dates for DATE, and the empty string as NULL in NUMBER and DATE
// columns. A violation fails the statement with Oracle's message.

#include <optional>
#include <string>
#include <variant>

namespace xb::db::oracle {

struct DeclaredType {
  enum class Kind { Other, Text, Number, Date } kind = Kind::Other;
  long long length = 0;  // Text: 0 when none is declared
  bool length_in_chars = false;
  std::optional<int> precision, scale;  // Number
};

// The type as declared in CREATE TABLE ("varchar2(10 char)", "NUMBER(5,2)",
// "integer", "date"); anything else is Other and left alone.
DeclaredType ParseDeclaredType(const std::string& declared);

// A value as it reaches a column; NULL as monostate.
using ColumnValue = std::variant<std::monostate, long long, double, std::string>;

// The value the column keeps, or the DbError Oracle gives for it.
ColumnValue CheckColumnValue(const ColumnValue& value, const DeclaredType& type,
                             const std::string& table, const std::string& column);

}  // namespace xb::db::oracle
