#include "db/postgres/translate.h"

#include <map>

#include "db/errors.h"
#include "db/oracle/dialect.h"
#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::db::postgres {
namespace {

using oracle::IsIdentChar;
using oracle::IsIdentStart;
using text::LowerCased;
using text::UpperAscii;
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct Token {
  enum Kind { Ident, Literal, QuotedIdent, Number, Punct } kind;
  size_t begin, end;
  std::string upper;  // identifiers and punctuation
};

// Code split into tokens; literals and quoted names whole; comments and
// blanks are the gaps between tokens.
std::vector<Token> Tokenize(const std::string& sql) {
  std::vector<Token> tokens;
  size_t run_end = std::string::npos;
  WalkSql(
      sql,
      [&](size_t i) {
        const char c = sql[i];
        const bool continues = run_end == i && !tokens.empty();
        run_end = i + 1;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') return;
        if (continues) {
          Token& last = tokens.back();
          if (last.end == i && ((last.kind == Token::Ident && IsIdentChar(c)) ||
                                (last.kind == Token::Number && (IsDigit(c) || c == '.')))) {
            last.end = i + 1;
            if (last.kind == Token::Ident) last.upper += UpperAscii(c);
            return;
          }
        }
        if (IsIdentStart(c))
          tokens.push_back({Token::Ident, i, i + 1, std::string(1, UpperAscii(c))});
        else if (IsDigit(c))
          tokens.push_back({Token::Number, i, i + 1, {}});
        else
          tokens.push_back({Token::Punct, i, i + 1, std::string(1, c)});
      },
      [&](size_t begin, size_t end, bool) {
        run_end = std::string::npos;
        tokens.push_back(
            {sql[begin] == '\'' ? Token::Literal : Token::QuotedIdent, begin, end, {}});
      });
  return tokens;
}

std::string LiteralValue(const std::string& sql, const Token& t) {
  std::string text;
  for (size_t k = t.begin + 1; k + 1 < t.end; ++k) {
    text += sql[k];
    if (sql[k] == '\'') ++k;  // a doubled quote stands for one
  }
  return text;
}

bool Is(const std::vector<Token>& t, size_t i, const char* upper) {
  return i < t.size() && t[i].upper == upper;
}

// The table and the column list of "insert into T (C) values (V)" or of
// "update T set (C) = (select V from dual ) where K", and where each value
// of V stands (token ranges).
struct ValuesShape {
  std::string table;
  std::vector<std::string> columns;  // as written
  std::vector<std::pair<size_t, size_t>> values;
};

// Reads a table name (name or schema.name) from i; returns its end.
size_t TableName(const std::string& sql, const std::vector<Token>& t, size_t i, std::string& name) {
  auto part = [&](size_t k) {
    return k < t.size() && (t[k].kind == Token::Ident || t[k].kind == Token::QuotedIdent);
  };
  if (!part(i)) return 0;
  size_t e = i + 1;
  while (Is(t, e, ".") && part(e + 1)) e += 2;
  name = sql.substr(t[i].begin, t[e - 1].end - t[i].begin);
  return e;
}

// Splits the tokens between an opening parenthesis at open and its match at
// top-level commas; returns the index of the closing one (0 when unmatched).
size_t SplitList(const std::vector<Token>& t, size_t open,
                 std::vector<std::pair<size_t, size_t>>& pieces, bool stop_at_from = false) {
  int depth = 0;
  size_t piece = open + 1;
  for (size_t k = open; k < t.size(); ++k) {
    const std::string& u = t[k].upper;
    if (t[k].kind != Token::Punct && t[k].kind != Token::Ident) continue;
    if (u == "(")
      ++depth;
    else if (u == ")") {
      if (--depth == 0) {
        pieces.emplace_back(piece, k);
        return k;
      }
    } else if (u == "," && depth == 1) {
      pieces.emplace_back(piece, k);
      piece = k + 1;
    } else if (stop_at_from && depth == 1 && u == "FROM") {
      pieces.emplace_back(piece, k);
      return k;
    }
  }
  return 0;
}

std::optional<ValuesShape> FindValuesShape(const std::string& sql, const std::vector<Token>& t) {
  ValuesShape shape;
  size_t i = 0;
  const bool insert = Is(t, 0, "INSERT");
  if (insert) {
    if (!Is(t, 1, "INTO")) return std::nullopt;
    i = TableName(sql, t, 2, shape.table);
  } else if (Is(t, 0, "UPDATE")) {
    i = TableName(sql, t, 1, shape.table);
    if (!i || !Is(t, i, "SET")) return std::nullopt;
    ++i;
  } else {
    return std::nullopt;
  }
  if (!i || !Is(t, i, "(")) return std::nullopt;
  std::vector<std::pair<size_t, size_t>> columns;
  size_t close = SplitList(t, i, columns);
  if (!close) return std::nullopt;
  for (const auto& [b, e] : columns) {
    if (e != b + 1 || (t[b].kind != Token::Ident && t[b].kind != Token::QuotedIdent))
      return std::nullopt;
    shape.columns.push_back(sql.substr(t[b].begin, t[b].end - t[b].begin));
  }
  i = close + 1;
  if (insert) {
    if (!Is(t, i, "VALUES") || !Is(t, i + 1, "(")) return std::nullopt;
    close = SplitList(t, i + 1, shape.values);
    if (!close || close + 1 != t.size()) return std::nullopt;
  } else {
    if (!Is(t, i, "=") || !Is(t, i + 1, "(") || !Is(t, i + 2, "SELECT")) return std::nullopt;
    // The select list runs from SELECT to the FROM of the same level.
    std::vector<std::pair<size_t, size_t>> pieces;
    const size_t from = SplitList(t, i + 1, pieces, true);
    if (!from || !Is(t, from, "FROM") || !Is(t, from + 1, "DUAL") || !Is(t, from + 2, ")"))
      return std::nullopt;
    pieces.front().first = i + 3;  // after SELECT
    shape.values = pieces;
  }
  if (shape.values.size() != shape.columns.size()) return std::nullopt;
  return shape;
}

// Where a column written in a statement is stored: unquoted names fold to
// lower case, as PostgreSQL reads them.
std::string StoredName(const std::string& written) {
  if (written.size() >= 2 && written.front() == '"') {
    std::string name;
    for (size_t k = 1; k + 1 < written.size(); ++k) {
      name += written[k];
      if (written[k] == '"') ++k;
    }
    return name;
  }
  return LowerCased(written);
}

}  // namespace

std::string OracleName(const std::string& stored) {
  return stored == LowerCased(stored) ? text::UpperCased(stored) : stored;
}

PgStatement TranslateOracle(const std::string& sql, const ColumnLookup& columns, bool markers) {
  CheckSingleStatement(sql, false);
  const std::vector<Token> t = Tokenize(sql);
  PgStatement out;
  const std::string verb = t.empty() ? std::string() : t[0].upper;
  const bool query = verb == "SELECT" || verb == "WITH";
  out.data = query || verb == "INSERT" || verb == "UPDATE" || verb == "DELETE";
  out.schema_change = !out.data;
  bool table_ddl = false, sequence_ddl = false;
  if (verb == "CREATE" || verb == "ALTER") {
    for (size_t k = 1; k < t.size() && k < 6; ++k) {
      if (t[k].upper == "TABLE") table_ddl = true;
      if (t[k].upper == "SEQUENCE") sequence_ddl = true;
    }
  }

  if (verb == "SELECT") {
    size_t froms = 0, from = 0;
    bool other = false;
    for (size_t k = 0; k < t.size(); ++k) {
      if (t[k].upper == "FROM") {
        ++froms;
        from = k;
      }
      if (t[k].upper == "JOIN" || t[k].upper == "(" || t[k].upper == ";" ||
          t[k].upper == "NEXTVAL" || t[k].upper == "CURRVAL")
        other = true;
    }
    out.column_dictionary = froms == 1 && !other && Is(t, from + 1, "USER_TAB_COLUMNS") &&
                            (from + 2 == t.size() || Is(t, from + 2, "WHERE"));
  }

  // Literals that stand alone as a value of an insert or of the row-valued
  // update take the column's type; '' in a column that is not text is NULL.
  std::map<size_t, const ColumnType*> typed;  // token index -> column
  std::optional<std::vector<ColumnType>> table_columns;
  if (out.data && !query) {
    if (const auto shape = FindValuesShape(sql, t)) {
      table_columns = columns ? columns(shape->table) : std::nullopt;
      if (table_columns) {
        for (size_t v = 0; v < shape->values.size(); ++v) {
          const auto [b, e] = shape->values[v];
          const bool marker = markers && t[b].kind == Token::Punct && t[b].upper == "?";
          if (e != b + 1 || (t[b].kind != Token::Literal && !marker)) continue;
          const std::string stored = StoredName(shape->columns[v]);
          for (const auto& column : *table_columns)
            if (column.name == stored) typed[b] = &column;
        }
      }
    }
  }

  // In a query only the literals after the first WHERE of the top level
  // are values: those before it name the result's columns.
  bool values_open = out.data && !query;
  int depth = 0;
  std::map<std::string, bool> sequence_used;
  int marker_count = 0;
  std::string& text = out.text;
  text.reserve(sql.size() + 16);
  size_t at = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const Token& token = t[i];
    text.append(sql, at, token.begin - at);
    at = token.end;
    const std::string& u = token.upper;
    if (token.kind == Token::Punct && markers && u == "?") {
      PgParam param;
      param.marker = marker_count++;
      param.character = false;
      if (const auto it = typed.find(i); it != typed.end()) {
        param.oid = it->second->oid;
        param.character = it->second->character;
      }
      out.params.push_back(std::move(param));
      text += '$';
      text += std::to_string(out.params.size());
      continue;
    }
    if (token.kind == Token::Punct) {
      if (u == "(")
        ++depth;
      else if (u == ")")
        --depth;
      text.append(sql, token.begin, token.end - token.begin);
      continue;
    }
    if (token.kind == Token::Literal) {
      const bool prefixed = token.begin > 0 && IsIdentChar(sql[token.begin - 1]);  // N'..', X'..'
      if (!values_open || prefixed || !out.data) {
        text.append(sql, token.begin, token.end - token.begin);
        continue;
      }
      PgParam param;
      param.text = LiteralValue(sql, token);
      const auto it = typed.find(i);
      if (it != typed.end()) {
        param.oid = it->second->oid;
        param.is_null = param.text.empty() && !it->second->character;
      } else {
        // As in Oracle, the empty string is NULL.
        param.is_null = param.text.empty();
      }
      out.params.push_back(std::move(param));
      text += '$';
      text += std::to_string(out.params.size());
      continue;
    }
    if (token.kind != Token::Ident) {
      text.append(sql, token.begin, token.end - token.begin);
      continue;
    }
    const bool after_dot = i > 0 && t[i - 1].upper == "." && t[i - 1].end == token.begin;
    const bool before_paren = Is(t, i + 1, "(");
    if (query && depth == 0 && u == "WHERE") values_open = true;
    // NAME.nextval / NAME.currval: the first use of a name takes the next
    // value, every later use of the same statement the same value.
    if (!after_dot && Is(t, i + 1, ".") && (Is(t, i + 2, "NEXTVAL") || Is(t, i + 2, "CURRVAL")) &&
        !(Is(t, i + 3, ".")) && !(i > 0 && t[i - 1].upper == ".")) {
      const bool first = !sequence_used[u];
      sequence_used[u] = true;
      text += first && t[i + 2].upper == "NEXTVAL" ? "nextval('" : "currval('";
      text.append(sql, token.begin, token.end - token.begin);
      text += "')";
      at = t[i + 2].end;
      i += 2;
      continue;
    }
    if (!after_dot && before_paren && u == "TO_DATE") {
      text += "pg_temp.xb_to_date";
      continue;
    }
    if (!after_dot && before_paren && u == "TO_NUMBER") {
      text += "pg_temp.xb_to_number";
      continue;
    }
    if (!after_dot && before_paren && u == "NVL") {
      text += "coalesce";
      continue;
    }
    if (!after_dot && !before_paren && !Is(t, i + 1, ".") && u == "SYSDATE") {
      text += "localtimestamp(0)";
      continue;
    }
    if (table_ddl && !after_dot) {
      if (u == "VARCHAR2" || u == "NVARCHAR2") {
        text += "varchar";
        continue;
      }
      if (u == "NUMBER") {
        text += "numeric";
        continue;
      }
      if (u == "DATE" && !(i + 1 < t.size() && t[i + 1].kind == Token::Literal)) {
        text += "timestamp(0)";
        continue;
      }
      if (u == "CLOB") {
        text += "text";
        continue;
      }
    }
    if (sequence_ddl) {
      if (u == "NOCACHE" || u == "NOORDER" || u == "ORDER") continue;
      if (u == "NOCYCLE" || u == "NOMAXVALUE" || u == "NOMINVALUE") {
        text += "no " + LowerCased(u.substr(2));
        continue;
      }
    }
    text.append(sql, token.begin, token.end - token.begin);
  }
  text.append(sql, at, std::string::npos);
  return out;
}

}  // namespace xb::db::postgres
