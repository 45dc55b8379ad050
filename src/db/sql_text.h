#pragma once
// Walking SQL text the way the database reads it: what stands in string
// literals, quoted identifiers and comments is not code.

#include <cstddef>
#include <string>

namespace xb::db {

// Calls code(i) for every index of sql that is code, in order.
template <class F>
void ForEachCodeChar(const std::string& sql, F&& code) {
  const size_t n = sql.size();
  size_t i = 0;
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      // Doubled quotes inside stay inside.
      for (++i; i < n; ++i) {
        if (sql[i] == c) {
          if (i + 1 < n && sql[i + 1] == c) {
            ++i;
            continue;
          }
          break;
        }
      }
      ++i;
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

// One statement per call. A ';' in code followed by more code is a second
// statement; a lone trailing ';' is refused too unless allowed (Oracle
// refuses it, ODBC drivers accept it).
void CheckSingleStatement(const std::string& sql, bool allow_trailing_semicolon);

}  // namespace xb::db
