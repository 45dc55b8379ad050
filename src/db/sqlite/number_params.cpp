#include "db/sqlite/number_params.h"

#include <sqlite3.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

struct Token {
  enum class Kind { Word, Name, Marker, Op, Punct, Literal } kind;
  std::string text;
  size_t begin = 0, end = 0;  // its span in the statement
};

std::vector<Token> Tokens(const std::string& sql) {
  std::vector<Token> tokens;
  size_t last = std::string::npos;  // the last code index
  bool in_word = false;
  auto push = [&](Token::Kind kind, std::string text, size_t begin, size_t end) {
    in_word = false;
    tokens.push_back({kind, std::move(text), begin, end});
  };
  WalkSql(
      sql,
      [&](size_t i) {
        const bool next_to_last = last != std::string::npos && i == last + 1;
        last = i;
        const char c = sql[i];
        if (oracle::IsIdentChar(c)) {
          if (in_word && next_to_last) {
            tokens.back().text += c;
            tokens.back().end = i + 1;
          } else {
            push(Token::Kind::Word, std::string(1, c), i, i + 1);
          }
          in_word = true;
          return;
        }
        in_word = false;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return;
        if (c == '?') return push(Token::Kind::Marker, "?", i, i + 1);
        if (c == '=' || c == '<' || c == '>' || c == '!') {
          if (next_to_last && !tokens.empty() && tokens.back().kind == Token::Kind::Op &&
              tokens.back().text.size() == 1 && tokens.back().text != "=") {
            tokens.back().text += c;
            tokens.back().end = i + 1;
          } else {
            push(Token::Kind::Op, std::string(1, c), i, i + 1);
          }
          return;
        }
        push(Token::Kind::Punct, std::string(1, c), i, i + 1);
      },
      [&](size_t begin, size_t end, bool) {
        last = std::string::npos;
        if (sql[begin] != '"') return push(Token::Kind::Literal, {}, begin, end);
        std::string name;
        for (size_t k = begin + 1; k + 1 < end; ++k) {
          name += sql[k];
          if (sql[k] == '"') ++k;  // a doubled quote stands for one
        }
        push(Token::Kind::Name, std::move(name), begin, end);
      });
  return tokens;
}

bool Is(const Token& t, const char* word) {
  return t.kind == Token::Kind::Word && strcasecmp(t.text.c_str(), word) == 0;
}

bool IsName(const Token& t) {
  return t.kind == Token::Kind::Name ||
         (t.kind == Token::Kind::Word && !(t.text[0] >= '0' && t.text[0] <= '9'));
}

bool IsComparison(const Token& t) {
  return t.kind == Token::Kind::Op &&
         (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
          t.text == "<=" || t.text == ">=");
}

}  // namespace

MarkerColumns FindMarkerColumns(const std::string& sql) {
  const std::vector<Token> t = Tokens(sql);
  const size_t n = t.size();
  MarkerColumns out;
  // A possibly qualified name starting at i: its last part, and where it ends.
  auto name_at = [&](size_t i, std::string& name) {
    if (i >= n || !IsName(t[i])) return i;
    name = t[i].text;
    while (i + 2 < n && t[i + 1].kind == Token::Kind::Punct && t[i + 1].text == "." &&
           IsName(t[i + 2])) {
      i += 2;
      name = t[i].text;
    }
    return i + 1;
  };
  std::vector<size_t> markers;
  for (size_t i = 0; i < n; ++i)
    if (t[i].kind == Token::Kind::Marker) markers.push_back(i);
  std::vector<std::string> columns(n);

  for (size_t i = 0; i < n; ++i) {
    if (!(Is(t[i], "from") || Is(t[i], "join") || Is(t[i], "into") || Is(t[i], "update"))) continue;
    std::string table;
    size_t at = name_at(i + 1, table);
    if (table.empty()) continue;
    out.tables.push_back(table);
    if (Is(t[i], "from")) {
      // from a [alias], b [alias] ...
      for (;;) {
        if (at < n && t[at].kind == Token::Kind::Word && !Is(t[at], "where") &&
            !Is(t[at], "join") && !Is(t[at], "order") && !Is(t[at], "group"))
          ++at;
        if (at >= n || t[at].text != ",") break;
        std::string more;
        at = name_at(at + 1, more);
        if (more.empty()) break;
        out.tables.push_back(more);
      }
    } else if (Is(t[i], "into") && at < n && t[at].text == "(") {
      // insert into T (c1, c2) values (v1, v2): a value that is a marker
      // alone goes into its column.
      std::vector<std::string> names;
      while (at < n && t[at].text != ")") {
        std::string column;
        const size_t after = name_at(at + 1, column);
        names.push_back(column);
        at = after > at + 1 ? after : at + 1;
        while (at < n && t[at].text != "," && t[at].text != ")") ++at;
      }
      if (at + 2 >= n || !Is(t[at + 1], "values") || t[at + 2].text != "(") continue;
      size_t item = 0, depth = 0, item_begin = at + 3;
      for (size_t k = at + 3; k < n; ++k) {
        const std::string& s = t[k].text;
        const bool punct = t[k].kind == Token::Kind::Punct;
        if (punct && s == "(") ++depth;
        if (punct && s == ")" && depth > 0) {
          --depth;
          continue;
        }
        if (depth == 0 && punct && (s == "," || s == ")")) {
          if (k == item_begin + 1 && t[item_begin].kind == Token::Kind::Marker &&
              item < names.size())
            columns[item_begin] = names[item];
          ++item;
          item_begin = k + 1;
          if (s == ")") break;
        }
      }
    }
  }
  for (const size_t m : markers) {
    if (m >= 2 && IsComparison(t[m - 1]) && IsName(t[m - 2]))
      columns[m] = t[m - 2].text;
    else if (m + 2 < n && IsComparison(t[m + 1]))
      name_at(m + 2, columns[m]);
  }
  for (const size_t m : markers) out.columns.push_back(columns[m]);
  return out;
}

OrderByColumns FindOrderByColumns(const std::string& sql) {
  OrderByColumns out;
  const std::vector<Token> t = Tokens(sql);
  const size_t n = t.size();
  // The last ORDER BY outside parentheses; none in a compound query, whose
  // terms must name its result columns as they are.
  size_t order = n;
  int depth = 0;
  for (size_t i = 0; i < n; ++i) {
    if (t[i].kind == Token::Kind::Punct && t[i].text == "(") ++depth;
    if (t[i].kind == Token::Kind::Punct && t[i].text == ")") --depth;
    if (depth != 0) continue;
    if (Is(t[i], "union") || Is(t[i], "intersect") || Is(t[i], "except") || Is(t[i], "minus"))
      return out;
    if (Is(t[i], "order") && i + 1 < n && Is(t[i + 1], "by")) order = i + 2;
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
      if (t[end].kind == Token::Kind::Punct && t[end].text == "(") ++depth;
      if (t[end].kind == Token::Kind::Punct && t[end].text == ")") --depth;
      if (depth == 0 && (t[end].text == "," || Is(t[end], "limit") || Is(t[end], "offset") ||
                         Is(t[end], "fetch") || Is(t[end], "for")))
        break;
    }
    size_t k = at;
    std::string column;
    if (k < end && IsName(t[k])) {
      column = t[k].text;
      while (k + 2 < end && t[k + 1].text == "." && IsName(t[k + 2])) {
        k += 2;
        column = t[k].text;
      }
      const size_t name_end = k;
      ++k;
      while (k < end && (Is(t[k], "asc") || Is(t[k], "desc") || Is(t[k], "nulls") ||
                         Is(t[k], "first") || Is(t[k], "last")))
        ++k;
      if (k == end && !Is(t[at], "asc") && !Is(t[at], "desc")) {
        out.spans.emplace_back(t[at].begin, t[name_end].end);
        out.columns.push_back(column);
      }
    }
    if (end >= n || t[end].text != ",") break;
    at = end + 1;
  }
  return out;
}

RangeComparisons FindRangeComparisons(const std::string& sql) {
  RangeComparisons out;
  const std::vector<Token> t = Tokens(sql);
  const size_t n = t.size();
  auto punct = [&](size_t i, const char* p) {
    return i < n && t[i].kind == Token::Kind::Punct && t[i].text == p;
  };
  auto digits = [&](size_t i) {
    return i < n && t[i].kind == Token::Kind::Word && t[i].text[0] >= '0' && t[i].text[0] <= '9';
  };
  // Arithmetic, concatenation, a call or a qualifier next to an operand
  // makes it part of an expression.
  auto joins = [&](size_t i) {
    if (i >= n) return false;
    if (t[i].kind == Token::Kind::Op) return true;
    if (t[i].kind != Token::Kind::Punct) return false;
    const std::string& p = t[i].text;
    return p == "+" || p == "-" || p == "*" || p == "/" || p == "|" || p == "%" || p == "." ||
           p == "(";
  };
  // A plain operand starting at token i: the token after it, or 0.
  auto forward = [&](size_t i, bool sign) -> size_t {
    if (i >= n) return 0;
    size_t e = 0;
    if (t[i].kind == Token::Kind::Marker || t[i].kind == Token::Kind::Literal || digits(i)) {
      e = i + 1;
    } else if (sign && (punct(i, "-") || punct(i, "+")) && digits(i + 1)) {
      e = i + 2;
    } else if (IsName(t[i])) {
      e = i + 1;
      while (punct(e, ".") && e + 1 < n && IsName(t[e + 1])) e += 2;
      return joins(e) ? 0 : e;
    } else {
      return 0;
    }
    if (digits(e - 1) && punct(e, ".") && digits(e + 1) && t[e].begin == t[e - 1].end &&
        t[e + 1].begin == t[e].end)
      e += 2;
    return joins(e) ? 0 : e;
  };
  // A plain operand ending at token i: its first token, or n.
  auto backward = [&](size_t i) -> size_t {
    if (i >= n) return n;
    size_t b = i;
    if (digits(i)) {
      if (i >= 2 && punct(i - 1, ".") && digits(i - 2) && t[i - 1].begin == t[i - 2].end &&
          t[i].begin == t[i - 1].end)
        b = i - 2;
    } else if (IsName(t[i])) {
      while (b >= 2 && punct(b - 1, ".") && IsName(t[b - 2])) b -= 2;
    } else if (t[i].kind != Token::Kind::Marker && t[i].kind != Token::Kind::Literal) {
      return n;
    }
    return b > 0 && joins(b - 1) ? n : b;
  };
  // A column named alone ending at token i: its first token, or n.
  auto column_before = [&](size_t i) -> size_t {
    if (i >= n || !IsName(t[i])) return n;
    return backward(i);
  };
  auto span = [&](size_t b, size_t e) { return std::make_pair(t[b].begin, t[e - 1].end); };
  auto is_range = [&](const Token& op) {
    return op.kind == Token::Kind::Op &&
           (op.text == "<" || op.text == ">" || op.text == "<=" || op.text == ">=");
  };

  for (size_t o = 1; o + 1 < n; ++o) {
    if (is_range(t[o])) {
      if (const size_t cb = column_before(o - 1); cb < n) {
        if (const size_t e = forward(o + 1, true))
          out.terms.push_back({t[o - 1].text, {span(cb, o), span(o + 1, e)}});
        continue;
      }
      if (IsName(t[o + 1])) {
        const size_t ce = forward(o + 1, false);
        const size_t ob = backward(o - 1);
        if (ce && ob < n && ce - 1 >= o + 1 && IsName(t[ce - 1]))
          out.terms.push_back({t[ce - 1].text, {span(ob, o), span(o + 1, ce)}});
      }
      continue;
    }
    if (!Is(t[o], "between")) continue;
    const size_t name = Is(t[o - 1], "not") && o >= 2 ? o - 2 : o - 1;
    const size_t cb = column_before(name);
    if (cb >= n) continue;
    const size_t e1 = forward(o + 1, true);
    if (!e1 || e1 >= n || !Is(t[e1], "and")) continue;
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
