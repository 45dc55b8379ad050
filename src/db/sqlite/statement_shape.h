#pragma once
// What a statement's text becomes before SQLite prepares it.

#include <cstddef>
#include <string>
#include <vector>

namespace xb::db::sqlite {

// A literal of a data statement that becomes a parameter: a string (with
// its value), or a number with more digits than a double holds (bound as
// its digits, see BindNumberText), as a [first, second) span including any
// quotes or sign.
struct Literal {
  size_t first, second;
  bool number = false;
  std::string value;  // a string's value
};

// The literals of a data statement that may become parameters. In a query
// only those after the first WHERE outside parentheses qualify: literals in
// the select list give the result its column names. X'..' (a blob) never
// qualifies. None when the text ends inside a literal or quoted name.
std::vector<Literal> ShareableLiterals(const std::string& sql, bool query);

// Oracle's length semantics in a column type, "varchar2(10 char)" and
// "varchar2(10 byte)", which SQLite's grammar refuses: written as
// "varchar2 chars(10)" and "varchar2(10)", whose length the type checks read
// in characters and bytes. Only in CREATE and ALTER statements.
std::string SqliteLengthSemantics(const std::string& sql);

}  // namespace xb::db::sqlite
