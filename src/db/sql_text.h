#pragma once
// Walking SQL text the way the database reads it: what stands in string
// literals, quoted identifiers and comments is not code.

#include <cstddef>
#include <string>

namespace xb::db {

// Walks sql in order: code(i) for every index that is code, quoted(begin,
// end, closed) for every string literal or quoted identifier (the span holds
// its quotes; closed is false when the text ends inside it). Comments are
// neither.
template <class Code, class Quoted>
void WalkSql(const std::string& sql, Code&& code, Quoted&& quoted) {
  const size_t n = sql.size();
  size_t i = 0;
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      // Doubled quotes inside stay inside.
      size_t e = i + 1;
      for (; e < n; ++e) {
        if (sql[e] == c) {
          if (e + 1 < n && sql[e + 1] == c) {
            ++e;
            continue;
          }
          break;
        }
      }
      const bool closed = e < n;
      quoted(i, closed ? e + 1 : n, closed);
      i = e + 1;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      i = end == std::string::npos ? n : end + 2;
    } else {
      code(i);
      ++i;
    }
  }
}

// Calls code(i) for every index of sql that is code, in order.
template <class F>
void ForEachCodeChar(const std::string& sql, F&& code) {
  WalkSql(sql, code, [](size_t, size_t, bool) {});
}

// One statement per call. A ';' in code followed by more code is a second
// statement; a lone trailing ';' is refused too unless allowed (Oracle
// refuses it, ODBC drivers accept it).
void CheckSingleStatement(const std::string& sql, bool allow_trailing_semicolon);

}  // namespace xb::db
