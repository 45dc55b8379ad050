#include "db/oracle_text.h"

#include <cctype>
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

std::string SqliteLengthSemantics(const std::string& sql) {
  size_t first = 0;
  while (first < sql.size() && std::isspace(static_cast<unsigned char>(sql[first]))) ++first;
  std::string verb;
  for (size_t i = first; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
    verb += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i])));
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
    for (size_t w = k; w < k + 4; ++w) word += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[w])));
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

}  // namespace xb::db
