#include "db/oracle/statement_text.h"

#include <cctype>
#include <utility>
#include <vector>

#include "db/errors.h"
#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::db::oracle {

std::string PlainQuoteLiterals(const std::string& sql) {
  if (sql.find('\'') == std::string::npos) return sql;
  std::vector<std::pair<size_t, size_t>> spans;
  WalkSql(
      sql, [](size_t) {},
      [&](size_t begin, size_t end, bool closed) {
        if (closed && sql[begin] == '\'' && QuoteDelimiterAt(sql, begin) != '\0')
          spans.emplace_back(begin, end);
      });
  if (spans.empty()) return sql;
  std::string out;
  size_t at = 0;
  for (const auto& [begin, end] : spans) {
    size_t prefix = begin - 1;  // the q
    if (prefix > 0 && (sql[prefix - 1] == 'n' || sql[prefix - 1] == 'N')) --prefix;
    out.append(sql, at, prefix - at);
    out += '\'';
    for (size_t i = begin + 2; i + 2 < end; ++i) {
      out += sql[i];
      if (sql[i] == '\'') out += '\'';
    }
    out += '\'';
    at = end;
  }
  out.append(sql, at, std::string::npos);
  return out;
}

namespace {

using text::IsBlank;
using text::UpperAscii;
using text::UpperCased;

// The items of the outermost select list, as [begin, end) spans; empty when
// the statement is no plain SELECT.
std::vector<std::pair<size_t, size_t>> SelectItems(const std::string& sql) {
  std::vector<std::pair<size_t, size_t>> items;
  std::vector<char> kind(sql.size(), 0);  // 'c' code, 'q' quoted
  WalkSql(
      sql, [&](size_t i) { kind[i] = 'c'; },
      [&](size_t b, size_t e, bool) {
        for (size_t i = b; i < e; ++i) kind[i] = 'q';
      });
  auto word_at = [&](size_t i, const char* w) {
    const size_t n = std::char_traits<char>::length(w);
    if (i + n > sql.size() ||
        (i > 0 && kind[i - 1] == 'c' &&
         (std::isalnum(static_cast<unsigned char>(sql[i - 1])) || sql[i - 1] == '_')))
      return false;
    for (size_t k = 0; k < n; ++k)
      if (kind[i + k] != 'c' || UpperAscii(sql[i + k]) != w[k]) return false;
    return i + n == sql.size() ||
           !(std::isalnum(static_cast<unsigned char>(sql[i + n])) || sql[i + n] == '_');
  };
  size_t i = 0;
  while (i < sql.size() && kind[i] != 'q' && (kind[i] == 0 || IsBlank(sql[i]))) ++i;
  if (!word_at(i, "SELECT")) return items;
  i += 6;
  size_t start = i;
  int depth = 0;
  for (; i < sql.size(); ++i) {
    if (kind[i] != 'c') continue;
    if (sql[i] == '(')
      ++depth;
    else if (sql[i] == ')')
      --depth;
    else if (depth == 0 && sql[i] == ',') {
      items.emplace_back(start, i);
      start = i + 1;
    } else if (depth == 0 && word_at(i, "FROM")) {
      break;
    }
  }
  items.emplace_back(start, i);
  return items;
}

}  // namespace

std::vector<std::string> OracleColumnNames(const std::string& sql,
                                           const std::vector<std::string>& engine_names) {
  std::vector<std::string> names;
  names.reserve(engine_names.size());
  for (const auto& n : engine_names) names.push_back(UpperCased(n));
  if (sql.find('"') == std::string::npos && sql.find('.') == std::string::npos) return names;
  auto items = SelectItems(sql);
  if (items.size() != engine_names.size()) return names;
  for (size_t k = 0; k < items.size(); ++k) {
    size_t b = items[k].first, e = items[k].second;
    while (b < e && IsBlank(sql[b])) ++b;
    while (e > b && IsBlank(sql[e - 1])) --e;
    if (b == e) continue;
    const std::string item = sql.substr(b, e - b);
    if (item.back() == '"') {
      // The last word is a quoted name: its own case, doubled quotes as one.
      size_t open = item.size() - 1;
      bool found = false;
      while (open > 0) {
        --open;
        if (item[open] == '"') {
          if (open > 0 && item[open - 1] == '"') {
            --open;
            continue;
          }
          found = true;
          break;
        }
      }
      if (found) {
        std::string name;
        for (size_t i = open + 1; i + 1 < item.size(); ++i) {
          name += item[i];
          if (item[i] == '"') ++i;
        }
        names[k] = name;
        continue;
      }
    }
    // NAME.nextval / NAME.currval alone.
    std::string compact;
    for (const char c : item)
      if (!IsBlank(c)) compact += UpperAscii(c);
    const auto dot = compact.rfind('.');
    if (dot != std::string::npos &&
        (compact.substr(dot + 1) == "NEXTVAL" || compact.substr(dot + 1) == "CURRVAL") &&
        compact.find_first_of("()+-*/|'") == std::string::npos) {
      names[k] = compact.substr(dot + 1);
      continue;
    }
    // A sequence inside an expression reached the engine as a parameter.
    if (engine_names[k].find('?') != std::string::npos && item.find('?') == std::string::npos)
      names[k] = compact;
  }
  return names;
}

void CheckDuplicateColumns(const std::string& sql) {
  size_t first = 0;
  while (first < sql.size() && IsBlank(sql[first])) ++first;
  std::string verb;
  for (size_t i = first; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
    verb += UpperAscii(sql[i]);
  if (verb != "INSERT" && verb != "UPDATE") return;
  // Each character's role: code, or inside a literal or quoted name.
  std::vector<char> kind(sql.size(), 0);
  WalkSql(
      sql, [&](size_t i) { kind[i] = 'c'; },
      [&](size_t b, size_t e, bool) {
        for (size_t i = b; i < e; ++i) kind[i] = 'q';
      });
  auto name_of = [&](size_t b, size_t e) {
    while (b < e && IsBlank(sql[b])) ++b;
    while (e > b && IsBlank(sql[e - 1])) --e;
    std::string name = sql.substr(b, e - b);
    // A column may be written with its table: T.K is K.
    if (const auto dot = name.rfind('.');
        dot != std::string::npos && (name.back() != '"' || name[dot + 1] == '"'))
      name = name.substr(dot + 1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
      return name.substr(1, name.size() - 2);
    return UpperCased(name);
  };
  std::vector<std::string> columns;
  int depth = 0;
  if (verb == "INSERT") {
    const auto open = sql.find('(');
    if (open == std::string::npos || kind[open] != 'c') return;
    // Only a column list: INSERT INTO T (...) VALUES / SELECT, not INSERT INTO T VALUES (...).
    const std::string before = UpperCased(std::string_view(sql).substr(0, open));
    if (before.find("VALUES") != std::string::npos || before.find("SELECT") != std::string::npos)
      return;
    size_t start = open + 1;
    for (size_t i = open + 1; i < sql.size(); ++i) {
      if (kind[i] != 'c') continue;
      if (sql[i] == '(')
        ++depth;
      else if (sql[i] == ')' && depth-- == 0) {
        columns.push_back(name_of(start, i));
        break;
      } else if (sql[i] == ',' && depth == 0) {
        columns.push_back(name_of(start, i));
        start = i + 1;
      }
    }
  } else {
    // UPDATE T SET a = ..., b = ... [WHERE ...]
    const std::string upper = UpperCased(sql);
    size_t set = std::string::npos;
    for (size_t i = upper.find("SET"); i != std::string::npos; i = upper.find("SET", i + 1)) {
      if (kind[i] == 'c' && i > 0 && IsBlank(sql[i - 1]) && i + 3 < sql.size() &&
          IsBlank(sql[i + 3])) {
        set = i + 3;
        break;
      }
    }
    if (set == std::string::npos) return;
    size_t start = set;
    bool in_value = false;
    for (size_t i = set; i <= sql.size(); ++i) {
      const bool end = i == sql.size();
      if (!end && kind[i] != 'c') continue;
      if (!end && sql[i] == '(')
        ++depth;
      else if (!end && sql[i] == ')')
        --depth;
      else if (!end && depth == 0 && !in_value && sql[i] == '=') {
        columns.push_back(name_of(start, i));
        in_value = true;
      } else if (!end && depth == 0 && sql[i] == ',') {
        start = i + 1;
        in_value = false;
      } else if (end || (depth == 0 && IsBlank(sql[i - 1]) && upper.compare(i, 5, "WHERE") == 0)) {
        break;
      }
    }
  }
  for (size_t a = 0; a < columns.size(); ++a)
    for (size_t b = a + 1; b < columns.size(); ++b)
      if (!columns[a].empty() && columns[a] == columns[b])
        throw DbError("ORA-00957: duplicate column name");
}

std::string RealDivision(const std::string& sql) {
  if (sql.find('/') == std::string::npos) return sql;
  std::string out;
  size_t at = 0;
  ForEachCodeChar(sql, [&](size_t i) {
    if (sql[i] != '/') return;
    // "*1.0" groups with what stands before the "/" as the "/" does, since
    // the two operators bind alike and from the left: (x*1.0)/y.
    out.append(sql, at, i - at);
    out += "*1.0/";
    at = i + 1;
  });
  if (at == 0) return sql;
  out.append(sql, at, std::string::npos);
  return out;
}

std::string SqliteLengthSemantics(const std::string& sql) {
  size_t first = 0;
  while (first < sql.size() && std::isspace(static_cast<unsigned char>(sql[first]))) ++first;
  std::string verb;
  for (size_t i = first; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
    verb += text::LowerAscii(sql[i]);
  if (verb != "create" && verb != "alter") return sql;
  std::vector<bool> code(sql.size(), false);
  ForEachCodeChar(sql, [&](size_t i) { code[i] = true; });
  std::string out;
  size_t at = 0;
  for (size_t i = 0; i < sql.size(); ++i) {
    if (!code[i] || sql[i] != '(') continue;
    // ( digits blanks CHAR|BYTE blanks )
    size_t k = i + 1;
    while (k < sql.size() && code[k] && std::isspace(static_cast<unsigned char>(sql[k]))) ++k;
    const size_t digits = k;
    while (k < sql.size() && code[k] && std::isdigit(static_cast<unsigned char>(sql[k]))) ++k;
    if (k == digits) continue;
    const std::string number = sql.substr(digits, k - digits);
    const size_t blanks = k;
    while (k < sql.size() && code[k] && std::isspace(static_cast<unsigned char>(sql[k]))) ++k;
    if (k == blanks || k + 4 > sql.size()) continue;
    std::string word;
    for (size_t w = k; w < k + 4; ++w) word += text::LowerAscii(sql[w]);
    if (word != "char" && word != "byte") continue;
    k += 4;
    while (k < sql.size() && code[k] && std::isspace(static_cast<unsigned char>(sql[k]))) ++k;
    if (k >= sql.size() || sql[k] != ')') continue;
    out.append(sql, at, i - at);
    out += (word == "char" ? " chars(" : "(") + number + ")";
    at = k + 1;
    i = k;
  }
  out.append(sql, at, std::string::npos);
  return out;
}

}  // namespace xb::db::oracle
