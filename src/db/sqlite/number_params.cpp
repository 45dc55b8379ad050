#include "db/sqlite/number_params.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/sql_tokens.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

using Token = SqlToken;
using Kind = SqlToken::Kind;

bool IsComparison(const Token& t) {
  return t.kind == Kind::Punct &&
         (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
          t.text == "<=" || t.text == ">=");
}

}  // namespace

MarkerColumns FindMarkerColumns(const std::string& sql) {
  const std::vector<Token> t = SqlTokens(sql);
  const size_t n = t.size();
  MarkerColumns out;
  // A possibly qualified name starting at i: its last part, and where it ends.
  auto name_at = [&](size_t i, std::string& name) {
    if (i >= n || !t[i].IsName()) return i;
    name = t[i].text;
    while (i + 2 < n && t[i + 1].IsPunct(".") && t[i + 2].IsName()) {
      i += 2;
      name = t[i].text;
    }
    return i + 1;
  };
  std::vector<size_t> markers;
  for (size_t i = 0; i < n; ++i)
    if (t[i].kind == Kind::Marker) markers.push_back(i);
  std::vector<std::string> columns(n);

  for (size_t i = 0; i < n; ++i) {
    if (!(t[i].Is("FROM") || t[i].Is("JOIN") || t[i].Is("INTO") || t[i].Is("UPDATE"))) continue;
    std::string table;
    size_t at = name_at(i + 1, table);
    if (table.empty()) continue;
    out.tables.push_back(table);
    if (t[i].Is("FROM")) {
      // from a [alias], b [alias] ...
      for (;;) {
        if (at < n && t[at].kind == Kind::Word && !t[at].Is("WHERE") && !t[at].Is("JOIN") &&
            !t[at].Is("ORDER") && !t[at].Is("GROUP"))
          ++at;
        if (at >= n || !t[at].IsPunct(",")) break;
        std::string more;
        at = name_at(at + 1, more);
        if (more.empty()) break;
        out.tables.push_back(more);
      }
    } else if (t[i].Is("INTO") && at < n && t[at].IsPunct("(")) {
      // insert into T (c1, c2) values (v1, v2): a value that is a marker
      // alone goes into its column.
      std::vector<std::string> names;
      while (at < n && !t[at].IsPunct(")")) {
        std::string column;
        const size_t after = name_at(at + 1, column);
        names.push_back(column);
        at = after > at + 1 ? after : at + 1;
        while (at < n && !t[at].IsPunct(",") && !t[at].IsPunct(")")) ++at;
      }
      if (at + 2 >= n || !t[at + 1].Is("VALUES") || !t[at + 2].IsPunct("(")) continue;
      size_t item = 0, depth = 0, item_begin = at + 3;
      for (size_t k = at + 3; k < n; ++k) {
        const std::string& s = t[k].text;
        const bool punct = t[k].kind == Kind::Punct;
        if (punct && s == "(") ++depth;
        if (punct && s == ")" && depth > 0) {
          --depth;
          continue;
        }
        if (depth == 0 && punct && (s == "," || s == ")")) {
          if (k == item_begin + 1 && t[item_begin].kind == Kind::Marker && item < names.size())
            columns[item_begin] = names[item];
          ++item;
          item_begin = k + 1;
          if (s == ")") break;
        }
      }
    }
  }
  for (const size_t m : markers) {
    if (m >= 2 && IsComparison(t[m - 1]) && t[m - 2].IsName())
      columns[m] = t[m - 2].text;
    else if (m + 2 < n && IsComparison(t[m + 1]))
      name_at(m + 2, columns[m]);
  }
  for (const size_t m : markers) out.columns.push_back(columns[m]);
  return out;
}

OrderByColumns FindOrderByColumns(const std::string& sql) {
  OrderByColumns out;
  const std::vector<Token> t = SqlTokens(sql);
  const size_t n = t.size();
  // The last ORDER BY outside parentheses; none in a compound query, whose
  // terms must name its result columns as they are.
  size_t order = n;
  int depth = 0;
  for (size_t i = 0; i < n; ++i) {
    if (t[i].IsPunct("(")) ++depth;
    if (t[i].IsPunct(")")) --depth;
    if (depth != 0) continue;
    if (t[i].Is("UNION") || t[i].Is("INTERSECT") || t[i].Is("EXCEPT") || t[i].Is("MINUS"))
      return out;
    if (t[i].Is("ORDER") && i + 1 < n && t[i + 1].Is("BY")) order = i + 2;
  }
  if (order >= n) return out;
  out.tables = FindMarkerColumns(sql).tables;
  // Each term up to a comma outside parentheses: a name alone (qualified or
  // not), then only asc/desc/nulls first/last.
  size_t at = order;
  while (at < n) {
    size_t end = at;
    depth = 0;
    for (; end < n; ++end) {
      if (t[end].IsPunct("(")) ++depth;
      if (t[end].IsPunct(")")) --depth;
      if (depth == 0 && (t[end].IsPunct(",") || t[end].Is("LIMIT") || t[end].Is("OFFSET") ||
                         t[end].Is("FETCH") || t[end].Is("FOR")))
        break;
    }
    size_t k = at;
    std::string column;
    if (k < end && t[k].IsName()) {
      column = t[k].text;
      while (k + 2 < end && t[k + 1].IsPunct(".") && t[k + 2].IsName()) {
        k += 2;
        column = t[k].text;
      }
      const size_t name_end = k;
      ++k;
      while (k < end && (t[k].Is("ASC") || t[k].Is("DESC") || t[k].Is("NULLS") ||
                         t[k].Is("FIRST") || t[k].Is("LAST")))
        ++k;
      if (k == end && !t[at].Is("ASC") && !t[at].Is("DESC")) {
        out.spans.emplace_back(t[at].begin, t[name_end].end);
        out.columns.push_back(column);
      }
    }
    if (end >= n || !t[end].IsPunct(",")) break;
    at = end + 1;
  }
  return out;
}

RangeComparisons FindRangeComparisons(const std::string& sql) {
  RangeComparisons out;
  const std::vector<Token> t = SqlTokens(sql);
  const size_t n = t.size();
  auto punct = [&](size_t i, const char* p) { return i < n && t[i].IsPunct(p); };
  auto digits = [&](size_t i) { return i < n && t[i].kind == Kind::Number; };
  // Arithmetic, concatenation, a comparison, a call or a qualifier next to
  // an operand makes it part of an expression.
  auto joins = [&](size_t i) {
    if (i >= n || t[i].kind != Kind::Punct) return false;
    const std::string& p = t[i].text;
    return p == "+" || p == "-" || p == "*" || p == "/" || p == "|" || p == "%" || p == "." ||
           p == "(" || p[0] == '=' || p[0] == '<' || p[0] == '>' || p[0] == '!';
  };
  // A plain operand starting at token i: the token after it, or 0.
  auto forward = [&](size_t i, bool sign) -> size_t {
    if (i >= n) return 0;
    size_t e = 0;
    if (t[i].kind == Kind::Marker || t[i].kind == Kind::Literal || digits(i)) {
      e = i + 1;
    } else if (sign && (punct(i, "-") || punct(i, "+")) && digits(i + 1)) {
      e = i + 2;
    } else if (t[i].IsName()) {
      e = i + 1;
      while (punct(e, ".") && e + 1 < n && t[e + 1].IsName()) e += 2;
      return joins(e) ? 0 : e;
    } else {
      return 0;
    }
    return joins(e) ? 0 : e;
  };
  // A plain operand ending at token i: its first token, or n.
  auto backward = [&](size_t i) -> size_t {
    if (i >= n) return n;
    size_t b = i;
    if (t[i].IsName()) {
      while (b >= 2 && punct(b - 1, ".") && t[b - 2].IsName()) b -= 2;
    } else if (!digits(i) && t[i].kind != Kind::Marker && t[i].kind != Kind::Literal) {
      return n;
    }
    return b > 0 && joins(b - 1) ? n : b;
  };
  // A column named alone ending at token i: its first token, or n.
  auto column_before = [&](size_t i) -> size_t {
    if (i >= n || !t[i].IsName()) return n;
    return backward(i);
  };
  auto span = [&](size_t b, size_t e) { return std::make_pair(t[b].begin, t[e - 1].end); };
  auto is_range = [&](const Token& op) {
    return op.kind == Kind::Punct &&
           (op.text == "<" || op.text == ">" || op.text == "<=" || op.text == ">=");
  };

  for (size_t o = 1; o + 1 < n; ++o) {
    if (is_range(t[o])) {
      if (const size_t cb = column_before(o - 1); cb < n) {
        if (const size_t e = forward(o + 1, true))
          out.terms.push_back({t[o - 1].text, {span(cb, o), span(o + 1, e)}});
        continue;
      }
      if (t[o + 1].IsName()) {
        const size_t ce = forward(o + 1, false);
        const size_t ob = backward(o - 1);
        if (ce && ob < n && ce - 1 >= o + 1 && t[ce - 1].IsName())
          out.terms.push_back({t[ce - 1].text, {span(ob, o), span(o + 1, ce)}});
      }
      continue;
    }
    if (!t[o].Is("BETWEEN")) continue;
    const size_t name = t[o - 1].Is("NOT") && o >= 2 ? o - 2 : o - 1;
    const size_t cb = column_before(name);
    if (cb >= n) continue;
    const size_t e1 = forward(o + 1, true);
    if (!e1 || e1 >= n || !t[e1].Is("AND")) continue;
    const size_t e2 = forward(e1 + 1, true);
    if (!e2) continue;
    out.terms.push_back({t[name].text, {span(cb, name + 1), span(o + 1, e1), span(e1 + 1, e2)}});
  }
  if (!out.terms.empty()) out.tables = FindMarkerColumns(sql).tables;
  return out;
}

namespace {

// Sign, then the power of ten, then the digits: a greater magnitude gives
// greater bytes, turned over for a negative number.
std::string DecimalKey(const std::string& decimal) {
  const auto parts = oracle::ParseDecimal(decimal);
  std::string key = "\x01";
  if (!parts || parts->digits.empty()) return key + '\x80';
  const long long point = std::clamp(parts->point, -32767LL, 32767LL) + 32768;
  std::string body;
  body += static_cast<char>((point >> 8) & 0xff);
  body += static_cast<char>(point & 0xff);
  body += parts->digits;
  body += '\x00';
  if (parts->negative)
    for (char& c : body) c = static_cast<char>(~static_cast<unsigned char>(c));
  key += parts->negative ? '\x7f' : '\x81';
  return key + body;
}

}  // namespace

std::string NumberCompareKey(sqlite3_value* value) {
  if (sqlite3_value_type(value) == SQLITE_TEXT) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
    const std::string number(
        text::Trimmed(std::string_view(bytes ? bytes : "", sqlite3_value_bytes(value))));
    // Digits, sign, point and exponent only (no hexadecimal, inf or nan),
    // all of them read as one finite number.
    char* end = nullptr;
    if (!number.empty() && number.find_first_not_of("0123456789+-.eE") == std::string::npos &&
        std::isfinite(std::strtod(number.c_str(), &end)) && end == number.c_str() + number.size())
      return DecimalKey(number);
  }
  return NumberSortKey(value);
}

std::string NumberSortKey(sqlite3_value* value) {
  std::string key;
  std::string decimal;
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER: decimal = std::to_string(sqlite3_value_int64(value)); break;
    case SQLITE_FLOAT: {
      char buffer[64];
      const double d = sqlite3_value_double(value);
      if (std::isinf(d)) {
        // Beyond every finite number on its side.
        key = d > 0 ? std::string("\x01\x81\xff\xff\xff") : std::string("\x01\x7f", 2);
        return key;
      }
      const auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
      decimal.assign(buffer, r.ptr);
      break;
    }
    default: {
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
      const std::string_view raw(bytes ? bytes : "",
                                 static_cast<size_t>(sqlite3_value_bytes(value)));
      const bool blob = sqlite3_value_type(value) == SQLITE_BLOB;
      if (!blob || !oracle::IsExactDecimal(raw)) {
        // Text after every number, blobs after text, as SQLite orders them.
        key = blob ? '\x03' : '\x02';
        key.append(raw);
        return key;
      }
      decimal.assign(raw);
    }
  }
  return DecimalKey(decimal);
}

}  // namespace xb::db
