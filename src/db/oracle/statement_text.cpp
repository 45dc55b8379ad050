#include "db/oracle/statement_text.h"

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

// An item of the outermost select list: its tokens [first, last) and its
// text [begin, end).
struct SelectItem {
  size_t first, last, begin, end;
};

// The items of the outermost select list; empty when the statement is no
// plain SELECT.
std::vector<SelectItem> SelectItems(const std::string& sql, const std::vector<SqlToken>& t) {
  std::vector<SelectItem> items;
  if (t.empty() || !t[0].Is("SELECT")) return items;
  size_t first = 1, begin = t[0].end, k = 1;
  int depth = 0;
  for (; k < t.size(); ++k) {
    if (t[k].IsPunct("(")) {
      ++depth;
    } else if (t[k].IsPunct(")")) {
      --depth;
    } else if (depth == 0 && t[k].IsPunct(",")) {
      items.push_back({first, k, begin, t[k].begin});
      first = k + 1;
      begin = t[k].end;
    } else if (depth == 0 && t[k].Is("FROM")) {
      break;
    }
  }
  items.push_back({first, k, begin, k < t.size() ? t[k].begin : sql.size()});
  return items;
}

}  // namespace

std::vector<std::string> OracleColumnNames(const std::string& sql,
                                           const std::vector<std::string>& engine_names) {
  std::vector<std::string> names;
  names.reserve(engine_names.size());
  for (const auto& n : engine_names) names.push_back(UpperCased(n));
  if (sql.find('"') == std::string::npos && sql.find('.') == std::string::npos) return names;
  const std::vector<SqlToken> t = SqlTokens(sql);
  const std::vector<SelectItem> items = SelectItems(sql, t);
  if (items.size() != engine_names.size()) return names;
  for (size_t k = 0; k < items.size(); ++k) {
    size_t b = items[k].begin, e = items[k].end;
    while (b < e && IsBlank(sql[b])) ++b;
    while (e > b && IsBlank(sql[e - 1])) --e;
    if (b == e) continue;
    const std::string item = sql.substr(b, e - b);
    // The last word is a quoted name: its own case.
    if (const size_t last = items[k].last; last > items[k].first &&
                                           t[last - 1].kind == SqlToken::Kind::QuotedName &&
                                           t[last - 1].closed && t[last - 1].end == e) {
      names[k] = t[last - 1].text;
      continue;
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
