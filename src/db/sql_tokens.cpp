#include "db/sql_tokens.h"

#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsOperator(char c) { return c == '=' || c == '<' || c == '>' || c == '!'; }
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The value of a literal or quoted name spanning [begin, end).
std::string QuotedValue(const std::string& sql, size_t begin, size_t end, bool closed) {
  if (QuoteDelimiterAt(sql, begin) != '\0') {
    // q'[...]': the text between the delimiters, taken as it stands.
    const size_t first = begin + 2;
    const size_t last = closed ? end - 2 : end;
    return first < last ? sql.substr(first, last - first) : std::string();
  }
  const char quote = sql[begin];
  const size_t last = closed ? end - 1 : end;
  std::string value;
  value.reserve(last - begin);
  for (size_t k = begin + 1; k < last; ++k) {
    value += sql[k];
    if (sql[k] == quote) ++k;  // a doubled quote stands for one
  }
  return value;
}

// The end of the code token starting at i (a code character that is not
// blank). Only characters that cannot open a literal or comment are taken
// after the first, so the token never runs into one.
size_t CodeTokenEnd(const std::string& sql, size_t i, SqlToken::Kind& kind) {
  const size_t n = sql.size();
  const char c = sql[i];
  size_t e = i + 1;
  if (IsIdentStart(c)) {
    kind = SqlToken::Kind::Word;
    while (e < n && IsIdentChar(sql[e])) ++e;
  } else if (IsDigit(c)) {
    kind = SqlToken::Kind::Number;
    while (e < n && (IsDigit(sql[e]) || sql[e] == '.')) ++e;
    // An exponent only where digits follow it: "1e" is a number and a word.
    if (e < n && (sql[e] == 'e' || sql[e] == 'E')) {
      size_t d = e + 1;
      if (d < n && (sql[d] == '+' || sql[d] == '-')) ++d;
      if (d < n && IsDigit(sql[d])) {
        e = d;
        while (e < n && IsDigit(sql[e])) ++e;
      }
    }
  } else if (c == '?') {
    kind = SqlToken::Kind::Marker;
  } else {
    kind = SqlToken::Kind::Punct;
    if (IsOperator(c) && c != '=' && e < n && IsOperator(sql[e])) {
      ++e;  // <=, >=, <>, !=
    } else if (static_cast<unsigned char>(c) >= 0xC0) {
      while (e < n && (static_cast<unsigned char>(sql[e]) & 0xC0) == 0x80) ++e;
    }
  }
  return e;
}

}  // namespace

bool SqlToken::Is(std::string_view upper) const {
  return kind == Kind::Word && text::EqualsIgnoringCase(text, upper);
}

bool SqlTokenReader::Next(SqlToken& token) {
  const size_t n = sql_.size();
  while (at_ < n) {
    const SqlPiece piece = SqlPieceAt(sql_, at_);
    if (piece.kind == SqlPiece::Kind::Comment ||
        (piece.kind == SqlPiece::Kind::Code && IsSpace(sql_[at_]))) {
      at_ = piece.end;
      continue;
    }
    token.begin = at_;
    token.closed = piece.closed;
    if (piece.kind == SqlPiece::Kind::Quoted) {
      token.kind = sql_[at_] == '"' ? SqlToken::Kind::QuotedName : SqlToken::Kind::Literal;
      token.end = piece.end;
      token.text = QuotedValue(sql_, piece.begin, piece.end, piece.closed);
    } else {
      token.end = CodeTokenEnd(sql_, at_, token.kind);
      token.text.assign(sql_, token.begin, token.end - token.begin);
    }
    at_ = token.end;
    return true;
  }
  return false;
}

std::vector<SqlToken> SqlTokens(const std::string& sql) {
  std::vector<SqlToken> tokens;
  SqlTokenReader reader(sql);
  SqlToken token;
  while (reader.Next(token)) tokens.push_back(std::move(token));
  return tokens;
}

std::string LeadingVerb(const std::string& sql) {
  SqlTokenReader reader(sql);
  SqlToken token;
  while (reader.Next(token) && token.IsPunct("(")) {
  }
  return token.kind == SqlToken::Kind::Word ? text::UpperCased(token.text) : std::string();
}

std::string LeadingVerb(const std::vector<SqlToken>& tokens) {
  for (const SqlToken& token : tokens) {
    if (token.IsPunct("(")) continue;
    return token.kind == SqlToken::Kind::Word ? text::UpperCased(token.text) : std::string();
  }
  return {};
}

}  // namespace xb::db
