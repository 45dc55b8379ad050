#include "db/oracle/column_types.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "db/errors.h"
#include "text/ascii.h"

namespace xb::db::oracle {
namespace {

size_t CharCount(const std::string& s) {
  size_t n = 0;
  for (const char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

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
    if (!std::isfinite(*d)) throw DbError("ORA-01426: numeric overflow");
    as_double = *d;
    text = DecimalText(as_double);
  } else {
    const std::string& raw = std::get<std::string>(value);
    const std::string trimmed(text::Trimmed(raw));
    char* end = nullptr;
    as_double = std::strtod(trimmed.c_str(), &end);
    if (trimmed.empty() || *end != '\0' || !std::isfinite(as_double))
      throw DbError("ORA-01722: invalid number");
    text = DecimalText(as_double);
  }
  if (!type.precision && !type.scale)
    return as_double == std::trunc(as_double) && std::fabs(as_double) < 9e18
               ? ColumnValue(static_cast<long long>(as_double))
               : ColumnValue(as_double);
  const int scale = type.scale.value_or(0);
  const std::string rounded = RoundDecimal(text, scale);
  if (type.precision) {
    const std::string int_part =
        rounded.substr(rounded[0] == '-' ? 1 : 0, rounded.find('.') - (rounded[0] == '-' ? 1 : 0));
    const int int_digits = int_part == "0" ? 0 : static_cast<int>(int_part.size());
    if (int_digits > *type.precision - scale)
      throw DbError("ORA-01438: value larger than specified precision allowed for this column");
  }
  const double kept = std::strtod(rounded.c_str(), nullptr);
  if (kept == std::trunc(kept) && std::fabs(kept) < 9e18) return static_cast<long long>(kept);
  return kept;
}

std::string QuotedName(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

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
    size_t start = 0;
    for (;;) {
      const auto comma = inside.find(',', start);
      args.emplace_back(text::Trimmed(std::string_view(inside).substr(
          start, comma == std::string::npos ? std::string::npos : comma - start)));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
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
  return type;
}

ColumnValue CheckColumnValue(const ColumnValue& value, const DeclaredType& type,
                             const std::string& table, const std::string& column) {
  if (std::holds_alternative<std::monostate>(value)) return value;
  const auto* text = std::get_if<std::string>(&value);
  switch (type.kind) {
    case DeclaredType::Kind::Other: return value;
    case DeclaredType::Kind::Text: {
      if (!text || type.length == 0) return value;
      const size_t actual = type.length_in_chars ? CharCount(*text) : text->size();
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
