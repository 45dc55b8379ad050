#pragma once
// Walking SQL text the way the database reads it: what stands in string
// literals, quoted identifiers and comments is not code.

#include <cstddef>
#include <string>

namespace xb::db {

// Oracle's alternative quoting q'X...X' (also nq'...'): the literal ends at
// the closing delimiter followed by a quote, where the closing delimiter is
// ], ), }, > for [, (, {, < and X itself otherwise. Given the index of the
// quote after q, the closing delimiter, or '\0' when the text is no such
// literal.
inline char QuoteDelimiterAt(const std::string& sql, size_t quote) {
  auto ident = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '#' || static_cast<unsigned char>(c) >= 0x80;
  };
  if (quote == 0 || quote + 1 >= sql.size() || (sql[quote - 1] != 'q' && sql[quote - 1] != 'Q'))
    return '\0';
  size_t word = quote - 1;
  if (word > 0 && (sql[word - 1] == 'n' || sql[word - 1] == 'N')) --word;
  if (word > 0 && ident(sql[word - 1])) return '\0';
  const char open = sql[quote + 1];
  if (open == ' ' || open == '\t' || open == '\r' || open == '\n') return '\0';
  switch (open) {
    case '[': return ']';
    case '(': return ')';
    case '{': return '}';
    case '<': return '>';
    default: return open;
  }
}

// One piece of SQL text from a given index: a character of code, a string
// literal or quoted identifier (its span holds its quotes; for q'[...]' it
// starts at the quote after q; closed is false when the text ends inside
// it), or a comment (a line comment stops before its line feed).
struct SqlPiece {
  enum class Kind : char { Code, Quoted, Comment } kind;
  size_t begin, end;
  bool closed = true;
};

inline SqlPiece SqlPieceAt(const std::string& sql, size_t i) {
  const size_t n = sql.size();
  const char c = sql[i];
  if (const char close = c == '\'' ? QuoteDelimiterAt(sql, i) : '\0'; close != '\0') {
    size_t e = i + 2;
    while (e + 1 < n && !(sql[e] == close && sql[e + 1] == '\'')) ++e;
    const bool closed = e + 1 < n;
    return {SqlPiece::Kind::Quoted, i, closed ? e + 2 : n, closed};
  }
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
    return {SqlPiece::Kind::Quoted, i, closed ? e + 1 : n, closed};
  }
  if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
    const size_t eol = sql.find('\n', i);
    return {SqlPiece::Kind::Comment, i, eol == std::string::npos ? n : eol};
  }
  if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
    const size_t end = sql.find("*/", i + 2);
    const bool closed = end != std::string::npos;
    return {SqlPiece::Kind::Comment, i, closed ? end + 2 : n, closed};
  }
  return {SqlPiece::Kind::Code, i, i + 1};
}

// Walks sql in order: code(i) for every index that is code, quoted(begin,
// end, closed) for every string literal or quoted identifier (see SqlPiece).
// Comments are neither.
template <class Code, class Quoted>
void WalkSql(const std::string& sql, Code&& code, Quoted&& quoted) {
  for (size_t i = 0; i < sql.size();) {
    const SqlPiece piece = SqlPieceAt(sql, i);
    if (piece.kind == SqlPiece::Kind::Code)
      code(i);
    else if (piece.kind == SqlPiece::Kind::Quoted)
      quoted(piece.begin, piece.end, piece.closed);
    i = piece.end;
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
