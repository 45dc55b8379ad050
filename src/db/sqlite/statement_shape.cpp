#include "db/sqlite/statement_shape.h"

#include <string_view>

#include "db/oracle/column_types.h"
#include "db/sql_tokens.h"

namespace xb::db::sqlite {

using Kind = SqlToken::Kind;

std::vector<Literal> ShareableLiterals(const std::string& sql, bool query) {
  std::vector<Literal> found;
  const std::vector<SqlToken> t = SqlTokens(sql);
  bool open = !query;
  int depth = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const SqlToken& token = t[i];
    switch (token.kind) {
      case Kind::Literal:
      case Kind::QuotedName: {
        // An unterminated literal: leave the text to SQLite as written.
        if (!token.closed) return {};
        if (token.kind == Kind::Literal && open && !token.IsPrefixedLiteral(sql))
          found.push_back({token.begin, token.end, false, token.text});
        break;
      }
      case Kind::Word:
        if (!open && depth == 0 && token.Is("WHERE")) open = true;
        break;
      case Kind::Punct:
        if (token.IsPunct("("))
          ++depth;
        else if (token.IsPunct(")"))
          --depth;
        break;
      case Kind::Number: {
        if (!open) break;
        // A minus right before it is its sign unless an operand stands
        // before the minus.
        size_t begin = token.begin;
        if (i > 0 && t[i - 1].IsPunct("-") && t[i - 1].end == token.begin &&
            !(i > 1 && (t[i - 2].kind != Kind::Punct || t[i - 2].IsPunct(")"))))
          begin = t[i - 1].begin;
        if (token.end - begin >= 16 &&
            oracle::ExactDecimalOf(std::string_view(sql).substr(begin, token.end - begin)))
          found.push_back({begin, token.end, true, {}});
        break;
      }
      case Kind::Marker: break;
    }
  }
  return found;
}

std::string SqliteLengthSemantics(const std::string& sql) {
  if (const std::string verb = LeadingVerb(sql); verb != "CREATE" && verb != "ALTER") return sql;
  const std::vector<SqlToken> t = SqlTokens(sql);
  auto digits = [](const SqlToken& token) {
    return token.kind == Kind::Number &&
           token.text.find_first_not_of("0123456789") == std::string::npos;
  };
  std::string out;
  size_t at = 0;
  // ( digits CHAR|BYTE ), a blank between the number and the word.
  for (size_t i = 0; i + 3 < t.size(); ++i) {
    const SqlToken &number = t[i + 1], &word = t[i + 2];
    if (!t[i].IsPunct("(") || !digits(number) || !(word.Is("CHAR") || word.Is("BYTE")) ||
        word.begin == number.end || !t[i + 3].IsPunct(")"))
      continue;
    out.append(sql, at, t[i].begin - at);
    out += (word.Is("CHAR") ? " chars(" : "(") + number.text + ")";
    at = t[i + 3].end;
    i += 3;
  }
  if (at == 0) return sql;
  out.append(sql, at, std::string::npos);
  return out;
}

}  // namespace xb::db::sqlite
