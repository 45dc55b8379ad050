#include "db/oracle/column_types.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "db/errors.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace xb::db::oracle {
namespace {

// "yyyy-mm-dd" or "yyyy-mm-dd hh:mi:ss", a real calendar day and time.
bool IsStoredDate(const std::string& s) {
  auto digits = [&](size_t at, size_t n, int& out) {
    if (at + n > s.size()) return false;
    out = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + (s[i] - '0');
    }
    return true;
  };
  int y, m, d, hh = 0, mi = 0, ss = 0;
  if (!(s.size() == 10 || s.size() == 19)) return false;
  if (!digits(0, 4, y) || s[4] != '-' || !digits(5, 2, m) || s[7] != '-' || !digits(8, 2, d))
    return false;
  if (s.size() == 19 && (s[10] != ' ' || !digits(11, 2, hh) || s[13] != ':' || !digits(14, 2, mi) ||
                         s[16] != ':' || !digits(17, 2, ss)))
    return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1 || hh > 23 || mi > 59 || ss > 59) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// The plain decimal digits of a finite number ("-123.45"), shortest form.
std::string DecimalText(double v) {
  char buffer[400];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed).ptr;
  return std::string(buffer, end);
}

// Rounds a decimal text half away from zero to scale digits after the point
// (scale may be negative: to tens, hundreds...), as Oracle stores NUMBER(p,s).
std::string RoundDecimal(const std::string& text, int scale) {
  const bool negative = !text.empty() && text[0] == '-';
  std::string body = negative ? text.substr(1) : text;
  const auto dot = body.find('.');
  std::string int_part = dot == std::string::npos ? body : body.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : body.substr(dot + 1);
  // All digits, with the point after int_part.size() of them.
  std::string digits = int_part + frac;
  long long point = static_cast<long long>(int_part.size());
  long long keep = point + scale;  // digits kept
  if (keep < 0) return "0";
  if (keep < static_cast<long long>(digits.size())) {
    const bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      long long i = keep - 1;
      for (; i >= 0; --i) {
        if (digits[static_cast<size_t>(i)] == '9') {
          digits[static_cast<size_t>(i)] = '0';
        } else {
          ++digits[static_cast<size_t>(i)];
          break;
        }
      }
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        ++point;
      }
    }
  }
  while (static_cast<long long>(digits.size()) < point) digits += '0';
  std::string out = digits.substr(0, static_cast<size_t>(point));
  std::string fraction = digits.substr(static_cast<size_t>(point));
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  while (out.size() > 1 && out[0] == '0') out.erase(0, 1);
  if (out.empty()) out = "0";
  std::string result = out;
  if (!fraction.empty()) result += "." + fraction;
  if (negative && result != "0") result = "-" + result;
  return result;
}

// The precision of NUMBER(p,s) met by a rounded decimal text.
void CheckPrecision(const std::string& rounded, const DeclaredType& type) {
  if (!type.precision) return;
  const int scale = type.scale.value_or(0);
  const size_t sign = rounded[0] == '-' ? 1 : 0;
  const std::string int_part = rounded.substr(sign, rounded.find('.') - sign);
  const int int_digits = int_part == "0" ? 0 : static_cast<int>(int_part.size());
  if (int_digits > *type.precision - scale)
    throw DbError("ORA-01438: value larger than specified precision allowed for this column");
}

// The kept form of a canonical decimal: a whole number that fits as an
// integer, a value of at most 15 significant digits as a double, anything
// longer as its digits.
ColumnValue KeptDecimal(const std::string& canonical) {
  if (auto exact = ExactDecimalOf(canonical)) return ExactDecimal{std::move(*exact)};
  long long whole = 0;
  const auto r = std::from_chars(canonical.data(), canonical.data() + canonical.size(), whole);
  if (r.ec == std::errc() && r.ptr == canonical.data() + canonical.size()) return whole;
  return std::strtod(canonical.c_str(), nullptr);
}

// A number with more digits than a double holds, checked and rounded on its
// digits alone.
ColumnValue CheckExactNumber(const std::string& canonical, const DeclaredType& type) {
  if (!type.precision && !type.scale) return KeptDecimal(canonical);
  const std::string rounded = RoundDecimal(canonical, type.scale.value_or(0));
  CheckPrecision(rounded, type);
  return KeptDecimal(rounded);
}

ColumnValue CheckNumber(const ColumnValue& value, const DeclaredType& type) {
  double as_double = 0;
  std::string text;
  if (const auto* i = std::get_if<long long>(&value)) {
    if (!type.scale || *type.scale >= 0) {
      // Whole numbers only meet the precision.
      if (type.precision) {
        const int scale = type.scale.value_or(0);
        const unsigned long long magnitude = *i < 0 ? 0ULL - static_cast<unsigned long long>(*i)
                                                    : static_cast<unsigned long long>(*i);
        const std::string digits = std::to_string(magnitude);
        if (static_cast<int>(digits.size()) > *type.precision - scale && *i != 0)
          throw DbError("ORA-01438: value larger than specified precision allowed for this column");
      }
      return value;
    }
    text = std::to_string(*i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    // NUMBER holds magnitudes below 1E+126.
    if (!std::isfinite(*d) || std::fabs(*d) >= 1e126) throw DbError("ORA-01426: numeric overflow");
    as_double = *d;
    text = DecimalText(as_double);
  } else if (const auto* e = std::get_if<ExactDecimal>(&value)) {
    return CheckExactNumber(e->digits, type);
  } else {
    const std::string& raw = std::get<std::string>(value);
    const std::string trimmed(text::Trimmed(raw));
    if (auto exact = ExactDecimalOf(trimmed)) return CheckExactNumber(*exact, type);
    // Only Oracle's own number forms: no hexadecimal, inf or nan as C reads them.
    const std::string canonical = OracleNumberText(trimmed);
    as_double = std::strtod(canonical.c_str(), nullptr);
    text = DecimalText(as_double);
  }
  if (!type.precision && !type.scale)
    return as_double == std::trunc(as_double) && std::fabs(as_double) < 9e18
               ? ColumnValue(static_cast<long long>(as_double))
               : ColumnValue(as_double);
  const int scale = type.scale.value_or(0);
  const std::string rounded = RoundDecimal(text, scale);
  CheckPrecision(rounded, type);
  const double kept = std::strtod(rounded.c_str(), nullptr);
  if (kept == std::trunc(kept) && std::fabs(kept) < 9e18) return static_cast<long long>(kept);
  return kept;
}

std::string QuotedName(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

std::string OracleNumberText(std::string_view text) {
  if (!ParseDecimal(text)) throw DbError("ORA-01722: invalid number");
  std::optional<std::string> canonical = CanonicalDecimal(text);
  if (!canonical) throw DbError("ORA-01426: numeric overflow");
  return std::move(*canonical);
}

std::optional<DecimalParts> ParseDecimal(std::string_view text) {
  size_t i = 0, e = text.size();
  while (i < e && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  while (e > i && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  bool negative = false;
  if (i < e && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // The value is 0.<digits> times ten to the power point.
  std::string digits;
  long long point = 0;
  bool any = false, after_point = false;
  for (; i < e; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (digits.empty() && c == '0') {
        if (after_point) --point;
        continue;
      }
      digits += c;
      if (!after_point) ++point;
    } else if (c == '.' && !after_point) {
      after_point = true;
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool down = false;
    if (i < e && (text[i] == '+' || text[i] == '-')) down = text[i++] == '-';
    if (i == e) return std::nullopt;
    long long exponent = 0;
    for (; i < e && text[i] >= '0' && text[i] <= '9'; ++i)
      exponent = std::min(exponent * 10 + (text[i] - '0'), 1000000LL);
    point += down ? -exponent : exponent;
  }
  if (i != e) return std::nullopt;
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return DecimalParts{false, {}, 0};
  return DecimalParts{negative, std::move(digits), point};
}

std::optional<std::string> CanonicalDecimal(std::string_view text) {
  auto parts = ParseDecimal(text);
  if (!parts) return std::nullopt;
  std::string& digits = parts->digits;
  long long point = parts->point;
  if (digits.size() > 38) {
    const bool up = digits[38] >= '5';
    digits.resize(38);
    size_t k = digits.size();
    for (; up && k > 0; --k) {
      if (digits[k - 1] != '9') {
        ++digits[k - 1];
        break;
      }
      digits[k - 1] = '0';
    }
    if (up && k == 0) {
      digits.insert(digits.begin(), '1');
      ++point;
    }
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
  }
  // NUMBER holds magnitudes below 1E+126; below 1E-130 it keeps zero.
  if (digits.empty() || point < -129) return std::string("0");
  if (point > 126) return std::nullopt;
  std::string out = parts->negative ? "-" : "";
  const auto n = static_cast<long long>(digits.size());
  if (point <= 0) {
    out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (point >= n) {
    out += digits + std::string(static_cast<size_t>(point - n), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(point)) + "." +
           digits.substr(static_cast<size_t>(point));
  }
  return out;
}

std::optional<std::string> ExactDecimalOf(std::string_view text) {
  size_t digit_chars = 0;
  for (const char c : text) digit_chars += c >= '0' && c <= '9';
  if (digit_chars < 16) return std::nullopt;
  auto canonical = CanonicalDecimal(text);
  if (!canonical) return std::nullopt;
  // From the first digit that is not zero to the last.
  const size_t first = canonical->find_first_of("123456789"),
               last = canonical->find_last_of("123456789");
  if (first == std::string::npos) return std::nullopt;
  const bool point_between = canonical->find('.', first) < last;
  if (last - first + 1 - (point_between ? 1 : 0) <= 15) return std::nullopt;
  long long whole = 0;
  const char* end = canonical->data() + canonical->size();
  const auto r = std::from_chars(canonical->data(), end, whole);
  if (r.ec == std::errc() && r.ptr == end) return std::nullopt;
  return canonical;
}

bool IsExactDecimal(std::string_view bytes) {
  if (bytes.size() < 16) return false;
  const auto exact = ExactDecimalOf(bytes);
  return exact && *exact == bytes;
}

bool IsNumberType(std::string_view type) {
  std::string base = text::LowerCased(text::Trimmed(type.substr(0, type.find('('))));
  static const char* const kNumbers[] = {
      "number", "numeric", "decimal",          "integer",      "int",          "smallint",
      "float",  "real",    "double precision", "binary_float", "binary_double"};
  for (const char* name : kNumbers)
    if (base == name) return true;
  return false;
}

DeclaredType ParseDeclaredType(const std::string& declared) {
  DeclaredType type;
  const std::string d = text::LowerCased(text::Trimmed(declared));
  const auto paren = d.find('(');
  std::string base(text::Trimmed(std::string_view(d).substr(0, paren)));
  bool chars = false;  // "varchar2 chars(10)": the length counts characters
  if (base.size() > 6 && base.substr(base.size() - 6) == " chars") {
    chars = true;
    base = std::string(text::Trimmed(std::string_view(base).substr(0, base.size() - 6)));
  }
  std::vector<std::string> args;
  if (paren != std::string::npos) {
    const auto close = d.find(')', paren);
    std::string inside =
        d.substr(paren + 1, close == std::string::npos ? std::string::npos : close - paren - 1);
    for (const std::string_view arg : text::Split(inside, ','))
      args.emplace_back(text::Trimmed(arg));
  }
  auto number = [](const std::string& s, long long& out) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
  };
  if (base == "varchar2" || base == "varchar" || base == "char" || base == "nvarchar2" ||
      base == "nchar") {
    type.kind = DeclaredType::Kind::Text;
    type.length_in_chars = chars || base[0] == 'n';
    if (args.size() == 1) {
      std::string n = args[0];
      if (n.size() > 5 && n.substr(n.size() - 5) == " char") {
        type.length_in_chars = true;
        n = std::string(text::Trimmed(std::string_view(n).substr(0, n.size() - 5)));
      } else if (n.size() > 5 && n.substr(n.size() - 5) == " byte") {
        n = std::string(text::Trimmed(std::string_view(n).substr(0, n.size() - 5)));
      }
      if (!number(n, type.length) || type.length < 1) type.length = 0;
    }
  } else if (base == "number" || base == "numeric" || base == "decimal") {
    type.kind = DeclaredType::Kind::Number;
    long long p = 0, s = 0;
    if (!args.empty() && args[0] != "*" && number(args[0], p)) type.precision = static_cast<int>(p);
    if (args.size() == 2 && number(args[1], s))
      type.scale = static_cast<int>(s);
    else if (!args.empty())
      type.scale = 0;
  } else if (base == "integer" || base == "int" || base == "smallint") {
    type.kind = DeclaredType::Kind::Number;
    type.scale = 0;  // Oracle's INTEGER is NUMBER(*,0)
  } else if (base == "date") {
    type.kind = DeclaredType::Kind::Date;
  }
  // The other number types (FLOAT, BINARY_DOUBLE...) are left alone here:
  // their precision is not NUMBER's.
  return type;
}

ColumnValue CheckColumnValue(const ColumnValue& value, const DeclaredType& type,
                             const std::string& table, const std::string& column) {
  if (std::holds_alternative<std::monostate>(value)) return value;
  const auto* text = std::get_if<std::string>(&value);
  switch (type.kind) {
    case DeclaredType::Kind::Other: return value;
    case DeclaredType::Kind::Text: {
      // A long number goes into a text column as its digits, as Oracle
      // converts a NUMBER to text.
      if (const auto* exact = std::get_if<ExactDecimal>(&value))
        return CheckColumnValue(exact->digits, type, table, column);
      if (!text || type.length == 0) return value;
      const size_t actual = type.length_in_chars ? text::CharCount(*text) : text->size();
      if (static_cast<long long>(actual) > type.length)
        throw DbError("ORA-12899: value too large for column " +
                      QuotedName(text::UpperCased(table)) + "." +
                      QuotedName(text::UpperCased(column)) + " (actual: " + std::to_string(actual) +
                      ", maximum: " + std::to_string(type.length) + ")");
      return value;
    }
    case DeclaredType::Kind::Number:
      // As in Oracle, the empty string is NULL.
      if (text && text->empty()) return std::monostate{};
      return CheckNumber(value, type);
    case DeclaredType::Kind::Date:
      if (text && text->empty()) return std::monostate{};
      if (!text) throw DbError("ORA-00932: inconsistent datatypes: expected DATE got NUMBER");
      if (!IsStoredDate(*text)) throw DbError("ORA-01861: literal does not match format string");
      return value;
  }
  return value;
}

}  // namespace xb::db::oracle
