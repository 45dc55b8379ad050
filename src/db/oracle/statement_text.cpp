#include "db/oracle/statement_text.h"

#include <cctype>
#include <utility>
#include <vector>

#include "db/errors.h"
#include "db/sql_text.h"
#include "db/sql_tokens.h"
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
  const std::string verb = LeadingVerb(sql);
  if (verb != "INSERT" && verb != "UPDATE") return;
  const std::vector<SqlToken> t = SqlTokens(sql);
  const size_t n = t.size();
  // A column named alone, maybe with its table (T.K is K): its name as
  // stored, a quoted one in its own case; empty for anything else.
  auto name_of = [&](size_t b, size_t e) {
    if (b >= e || !t[e - 1].IsName()) return std::string();
    for (size_t k = e - 1; k > b; k -= 2)
      if (k < b + 2 || !t[k - 1].IsPunct(".") || !t[k - 2].IsName()) return std::string();
    const SqlToken& last = t[e - 1];
    return last.kind == SqlToken::Kind::QuotedName ? last.text : UpperCased(last.text);
  };
  std::vector<std::string> columns;
  int depth = 0;
  if (verb == "INSERT") {
    // Only a column list: INSERT INTO T (...) VALUES / SELECT, not INSERT INTO T VALUES (...).
    size_t open = 0;
    while (open < n && !t[open].IsPunct("(")) {
      if (t[open].Is("VALUES") || t[open].Is("SELECT")) return;
      ++open;
    }
    size_t start = open + 1;
    for (size_t i = open; i < n; ++i) {
      if (t[i].IsPunct("(")) {
        ++depth;
      } else if (t[i].IsPunct(")") && --depth == 0) {
        columns.push_back(name_of(start, i));
        break;
      } else if (t[i].IsPunct(",") && depth == 1) {
        columns.push_back(name_of(start, i));
        start = i + 1;
      }
    }
  } else {
    // UPDATE T SET a = ..., b = ... [WHERE ...]
    size_t set = 0;
    while (set < n && !t[set].Is("SET")) ++set;
    size_t start = set + 1;
    bool in_value = false;
    for (size_t i = start; i < n; ++i) {
      if (t[i].IsPunct("(")) {
        ++depth;
      } else if (t[i].IsPunct(")")) {
        --depth;
      } else if (depth == 0 && !in_value && t[i].IsPunct("=")) {
        columns.push_back(name_of(start, i));
        in_value = true;
      } else if (depth == 0 && t[i].IsPunct(",")) {
        start = i + 1;
        in_value = false;
      } else if (depth == 0 && t[i].Is("WHERE")) {
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

}  // namespace xb::db::oracle
