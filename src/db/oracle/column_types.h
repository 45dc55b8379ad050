#pragma once
// Declared column types kept as Oracle keeps them, on an engine that would
// store anything: VARCHAR2/CHAR lengths (in bytes of UTF-8, or in characters
// with "n CHAR"), NUMBER precision and scale (values rounded to the scale),
// valid dates for DATE, and the empty string as NULL in NUMBER and DATE
// columns. A violation fails the statement with Oracle's message.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace xb::db::oracle {

struct DeclaredType {
  enum class Kind { Other, Text, Number, Date } kind = Kind::Other;
  long long length = 0;  // Text: 0 when none is declared
  bool length_in_chars = false;
  std::optional<int> precision, scale;  // Number
};

// Whether a type (a dictionary DATA_TYPE or a declared type, any case, with
// or without its precision) is one of Oracle's number types: NUMBER,
// NUMERIC, DECIMAL, INTEGER, INT, SMALLINT, FLOAT, REAL, DOUBLE PRECISION,
// BINARY_FLOAT, BINARY_DOUBLE. The one list the loader and the engines use.
bool IsNumberType(std::string_view type);

// The type as declared in CREATE TABLE ("varchar2(10 char)", "NUMBER(5,2)",
// "integer", "date"); anything else is Other and left alone.
DeclaredType ParseDeclaredType(const std::string& declared);

// A NUMBER value that neither a 64-bit integer nor a double shown to 15
// significant digits holds: its plain decimal digits in canonical form
// ("-12345678901234567890", "0.1234567890123456789"; no exponent, no
// leading or trailing zeros), at most 38 significant digits as NUMBER keeps.
struct ExactDecimal {
  std::string digits;
  bool operator==(const ExactDecimal&) const = default;
};

// A value as it reaches a column; NULL as monostate.
using ColumnValue = std::variant<std::monostate, long long, double, std::string, ExactDecimal>;

// A decimal number text ("-1.50e3", " 0.002 ") taken apart: the value is
// 0.<digits> times ten to the power point, digits without leading or
// trailing zeros (none for zero). nullopt when the text is no number.
struct DecimalParts {
  bool negative = false;
  std::string digits;
  long long point = 0;
};
std::optional<DecimalParts> ParseDecimal(std::string_view text);

// The canonical decimal of a number text as NUMBER keeps it ("+1.50e3 "
// gives "1500"; rounded half away from zero to 38 significant digits), or
// nullopt when the text is no number or lies beyond NUMBER's range.
std::optional<std::string> CanonicalDecimal(std::string_view text);

// The canonical decimal of a text that Oracle reads as a NUMBER: blanks
// around, a sign, digits with at most one point, an exponent (e or E, a sign,
// digits). DbError ORA-01722 for any other text (hexadecimal, inf, nan...),
// ORA-01426 beyond NUMBER's range.
std::string OracleNumberText(std::string_view text);

// The canonical digits of a number text that must be kept as an
// ExactDecimal (more than 15 significant digits, and not a 64-bit integer),
// else nullopt. Cheap for a text of fewer than 16 digits.
std::optional<std::string> ExactDecimalOf(std::string_view text);

// True when bytes are an ExactDecimal's digits exactly as kept.
bool IsExactDecimal(std::string_view bytes);

// The value the column keeps, or the DbError Oracle gives for it.
ColumnValue CheckColumnValue(const ColumnValue& value, const DeclaredType& type,
                             const std::string& table, const std::string& column);

}  // namespace xb::db::oracle
