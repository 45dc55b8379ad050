#include "db/sqlite/number_params.h"

#include <strings.h>

#include "db/oracle/dialect.h"
#include "db/sql_text.h"

namespace xb::db {
namespace {

struct Token {
  enum class Kind { Word, Name, Marker, Op, Punct, Literal } kind;
  std::string text;
};

std::vector<Token> Tokens(const std::string& sql) {
  std::vector<Token> tokens;
  size_t last = std::string::npos;  // the last code index
  bool in_word = false;
  auto push = [&](Token::Kind kind, std::string text) {
    in_word = false;
    tokens.push_back({kind, std::move(text)});
  };
  WalkSql(
      sql,
      [&](size_t i) {
        const bool next_to_last = last != std::string::npos && i == last + 1;
        last = i;
        const char c = sql[i];
        if (oracle::IsIdentChar(c)) {
          if (in_word && next_to_last)
            tokens.back().text += c;
          else
            push(Token::Kind::Word, std::string(1, c));
          in_word = true;
          return;
        }
        in_word = false;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return;
        if (c == '?') return push(Token::Kind::Marker, "?");
        if (c == '=' || c == '<' || c == '>' || c == '!') {
          if (next_to_last && !tokens.empty() && tokens.back().kind == Token::Kind::Op &&
              tokens.back().text.size() == 1 && tokens.back().text != "=")
            tokens.back().text += c;
          else
            push(Token::Kind::Op, std::string(1, c));
          return;
        }
        push(Token::Kind::Punct, std::string(1, c));
      },
      [&](size_t begin, size_t end, bool) {
        last = std::string::npos;
        if (sql[begin] != '"') return push(Token::Kind::Literal, {});
        std::string name;
        for (size_t k = begin + 1; k + 1 < end; ++k) {
          name += sql[k];
          if (sql[k] == '"') ++k;  // a doubled quote stands for one
        }
        push(Token::Kind::Name, std::move(name));
      });
  return tokens;
}

bool Is(const Token& t, const char* word) {
  return t.kind == Token::Kind::Word && strcasecmp(t.text.c_str(), word) == 0;
}

bool IsName(const Token& t) {
  return t.kind == Token::Kind::Name ||
         (t.kind == Token::Kind::Word && !(t.text[0] >= '0' && t.text[0] <= '9'));
}

bool IsComparison(const Token& t) {
  return t.kind == Token::Kind::Op &&
         (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
          t.text == "<=" || t.text == ">=");
}

}  // namespace

MarkerColumns FindMarkerColumns(const std::string& sql) {
  const std::vector<Token> t = Tokens(sql);
  const size_t n = t.size();
  MarkerColumns out;
  // A possibly qualified name starting at i: its last part, and where it ends.
  auto name_at = [&](size_t i, std::string& name) {
    if (i >= n || !IsName(t[i])) return i;
    name = t[i].text;
    while (i + 2 < n && t[i + 1].kind == Token::Kind::Punct && t[i + 1].text == "." &&
           IsName(t[i + 2])) {
      i += 2;
      name = t[i].text;
    }
    return i + 1;
  };
  std::vector<size_t> markers;
  for (size_t i = 0; i < n; ++i)
    if (t[i].kind == Token::Kind::Marker) markers.push_back(i);
  std::vector<std::string> columns(n);

  for (size_t i = 0; i < n; ++i) {
    if (!(Is(t[i], "from") || Is(t[i], "join") || Is(t[i], "into") || Is(t[i], "update"))) continue;
    std::string table;
    size_t at = name_at(i + 1, table);
    if (table.empty()) continue;
    out.tables.push_back(table);
    if (Is(t[i], "from")) {
      // from a [alias], b [alias] ...
      for (;;) {
        if (at < n && t[at].kind == Token::Kind::Word && !Is(t[at], "where") &&
            !Is(t[at], "join") && !Is(t[at], "order") && !Is(t[at], "group"))
          ++at;
        if (at >= n || t[at].text != ",") break;
        std::string more;
        at = name_at(at + 1, more);
        if (more.empty()) break;
        out.tables.push_back(more);
      }
    } else if (Is(t[i], "into") && at < n && t[at].text == "(") {
      // insert into T (c1, c2) values (v1, v2): a value that is a marker
      // alone goes into its column.
      std::vector<std::string> names;
      while (at < n && t[at].text != ")") {
        std::string column;
        const size_t after = name_at(at + 1, column);
        names.push_back(column);
        at = after > at + 1 ? after : at + 1;
        while (at < n && t[at].text != "," && t[at].text != ")") ++at;
      }
      if (at + 2 >= n || !Is(t[at + 1], "values") || t[at + 2].text != "(") continue;
      size_t item = 0, depth = 0, item_begin = at + 3;
      for (size_t k = at + 3; k < n; ++k) {
        const std::string& s = t[k].text;
        const bool punct = t[k].kind == Token::Kind::Punct;
        if (punct && s == "(") ++depth;
        if (punct && s == ")" && depth > 0) {
          --depth;
          continue;
        }
        if (depth == 0 && punct && (s == "," || s == ")")) {
          if (k == item_begin + 1 && t[item_begin].kind == Token::Kind::Marker &&
              item < names.size())
            columns[item_begin] = names[item];
          ++item;
          item_begin = k + 1;
          if (s == ")") break;
        }
      }
    }
  }
  for (const size_t m : markers) {
    if (m >= 2 && IsComparison(t[m - 1]) && IsName(t[m - 2]))
      columns[m] = t[m - 2].text;
    else if (m + 2 < n && IsComparison(t[m + 1]))
      name_at(m + 2, columns[m]);
  }
  for (const size_t m : markers) out.columns.push_back(columns[m]);
  return out;
}

}  // namespace xb::db
