#include "db/oracle_text.h"

#include <utility>
#include <vector>

#include "db/sql_text.h"

namespace xb::db {

std::string PlainQuoteLiterals(const std::string& sql) {
  if (sql.find('\'') == std::string::npos) return sql;
  std::vector<std::pair<size_t, size_t>> spans;
  WalkSql(
      sql, [](size_t) {},
      [&](size_t begin, size_t end, bool closed) {
        if (closed && sql[begin] == '\'' && QuoteDelimiterAt(sql, begin) != '\0') spans.emplace_back(begin, end);
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

}  // namespace xb::db
