#pragma once
// SQL text as the database reads it, token by token: words, numbers,
// literals and quoted names (their values already read), markers and
// punctuation; blanks and comments only part tokens. Every reader of a
// statement's words works from this one stream.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace xb::db {

// ASCII only, whatever the locale: identifiers in the program's statements are.
inline bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '#';
}

struct SqlToken {
  enum class Kind : char {
    Word,        // a letter or _, then letters, digits, _, $ and #
    Number,      // a digit, then digits and points, then an exponent: 12, 1.5, 2e-3
    Literal,     // '...'; N'..', X'..' and q'[..]' have their letter(s) as a Word before
    QuotedName,  // "..."
    Marker,      // ?
    Punct,       // any other character; <=, >=, <>, != as one; a UTF-8 character as one
  };
  Kind kind = Kind::Punct;
  size_t begin = 0, end = 0;  // the span in the text, quotes included
  // As written; for a literal or quoted name its value: a doubled quote
  // read as one, q'[...]' as what stands between the brackets.
  std::string text;
  bool closed = true;  // false for a literal or quoted name the text ends inside

  // A word equal to upper (given in upper case), whatever its case.
  bool Is(std::string_view upper) const;
  bool IsPunct(std::string_view p) const { return kind == Kind::Punct && text == p; }
  // A word or quoted name: what may name a table or column.
  bool IsName() const { return kind == Kind::Word || kind == Kind::QuotedName; }
  // A literal with a letter before it (N'..', X'..', q'[..]'), which is
  // no plain text value.
  bool IsPrefixedLiteral(const std::string& sql) const {
    return kind == Kind::Literal && begin > 0 && IsIdentChar(sql[begin - 1]);
  }
};

// Reads a text's tokens one at a time: a caller that needs only the first
// few leaves the rest unread.
class SqlTokenReader {
 public:
  explicit SqlTokenReader(const std::string& sql) : sql_(sql) {}
  // The next token; false at the end of the text.
  bool Next(SqlToken& token);

 private:
  const std::string& sql_;
  size_t at_ = 0;
};

std::vector<SqlToken> SqlTokens(const std::string& sql);

// The statement's verb: its first word, upper-cased, after any opening
// parentheses; empty when it starts with anything else.
std::string LeadingVerb(const std::string& sql);
std::string LeadingVerb(const std::vector<SqlToken>& tokens);

}  // namespace xb::db
