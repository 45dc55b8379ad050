#include "db/postgres/translate.h"

#include <map>
#include <set>
#include <string_view>

#include "db/errors.h"
#include "db/oracle/dialect.h"
#include "db/postgres/value_format.h"
#include "db/sql_text.h"
#include "db/sql_tokens.h"
#include "text/ascii.h"

namespace xb::db::postgres {
namespace {

using text::LowerCased;
using Token = SqlToken;
using Kind = SqlToken::Kind;

// A word upper-cased, punctuation and markers as written; nothing for the
// rest, so that a literal's value is never taken for a keyword.
std::string Upper(const Token& t) {
  if (t.kind == Kind::Word) return text::UpperCased(t.text);
  if (t.kind == Kind::Punct || t.kind == Kind::Marker) return t.text;
  return {};
}

bool Is(const std::vector<Token>& t, size_t i, std::string_view upper) {
  if (i >= t.size()) return false;
  if (t[i].kind == Kind::Word) return t[i].Is(upper);
  return (t[i].kind == Kind::Punct || t[i].kind == Kind::Marker) && t[i].text == upper;
}

// The table and the column list of "insert into T (C) values (V)" or of
// "update T set (C) = (select V from dual ) where K", and where each value
// of V stands (token ranges).
struct ValuesShape {
  std::string table;
  std::vector<Token> columns;  // as written
  std::vector<std::pair<size_t, size_t>> values;
};

// Reads a table name (name or schema.name) from i; returns its end.
size_t TableName(const std::string& sql, const std::vector<Token>& t, size_t i, std::string& name) {
  auto part = [&](size_t k) { return k < t.size() && t[k].IsName(); };
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
    if (t[k].kind != Kind::Punct && t[k].kind != Kind::Word) continue;
    const std::string u = Upper(t[k]);
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
    if (e != b + 1 || !t[b].IsName()) return std::nullopt;
    shape.columns.push_back(t[b]);
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
// lower case, as PostgreSQL reads them, unless only an upper-case one
// exists (NameRules::upper).
std::string StoredName(const Token& written, const NameRules* names) {
  if (written.kind == Kind::QuotedName) return written.text;
  std::string upper = text::UpperCased(written.text);
  if (names && names->upper.count(upper)) return upper;
  return LowerCased(written.text);
}

// An unquoted name as PostgreSQL must read it to find what the dictionary
// listed; empty when it reads it right as it is. upper: the name upper-cased.
std::string QuotedIfNeeded(const std::string& upper, const NameRules* names) {
  if (!names) return {};
  if (names->upper.count(upper)) return '"' + upper + '"';
  const std::string lower = LowerCased(upper);
  if (names->reserved.count(lower)) return '"' + lower + '"';
  return {};
}

// Whether the token after a word lets the word stand as a name rather than
// as the keyword PostgreSQL knows it by ("limit 5", "offset ?").
bool FollowsName(const std::vector<Token>& t, size_t next) {
  if (next >= t.size()) return true;
  const Token& n = t[next];
  if (n.kind == Kind::Literal || n.kind == Kind::Number || n.kind == Kind::QuotedName ||
      n.kind == Kind::Marker)
    return false;
  if (n.kind == Kind::Punct) return n.text != "(";
  static const std::set<std::string> kAfterName = {
      "FROM",  "AND",    "OR",        "IS",    "IN",     "NOT",   "LIKE",   "BETWEEN",
      "ASC",   "DESC",   "AS",        "WHERE", "ORDER",  "GROUP", "HAVING", "UNION",
      "MINUS", "EXCEPT", "INTERSECT", "SET",   "VALUES", "NULLS"};
  return kAfterName.count(Upper(n)) > 0;
}

// Words that end a FROM list or, after a table, are no alias of it.
bool EndsFromList(const std::string& upper) {
  static const std::set<std::string> kWords = {
      "WHERE",   "GROUP", "ORDER", "HAVING", "UNION", "INTERSECT", "MINUS",  "EXCEPT",
      "CONNECT", "START", "FETCH", "OFFSET", "LIMIT", "FOR",       "WINDOW", "JOIN",
      "INNER",   "LEFT",  "RIGHT", "FULL",   "CROSS", "NATURAL",   "ON",     "USING"};
  return kWords.count(upper) > 0;
}

// The one table of "select ... from T [where ...]" or "delete from T ...";
// empty for any other shape.
std::string SingleTable(const std::string& sql, const std::vector<Token>& t) {
  int depth = 0;
  for (size_t k = 0; k < t.size(); ++k) {
    if (t[k].IsPunct("(")) ++depth;
    if (t[k].IsPunct(")")) --depth;
    if (depth != 0 || !t[k].Is("FROM")) continue;
    std::string table;
    const size_t end = TableName(sql, t, k + 1, table);
    if (!end) return {};
    if (end == t.size() || t[end].Is("WHERE") || t[end].Is("ORDER") || t[end].Is("GROUP"))
      return table;
    return {};
  }
  return {};
}

bool IsDictionaryView(const std::string& upper) {
  return upper == "USER_TABLES" || upper == "USER_TAB_COLUMNS" || upper == "USER_SEQUENCES";
}

// A sequence bound beyond bigint's range (Oracle's default maximum has 28
// nines): PostgreSQL's limit, which no import reaches either.
std::string SequenceBound(const std::string& digits, bool negative) {
  std::string limit = negative ? "9223372036854775808" : "9223372036854775807";
  size_t first = digits.find_first_not_of('0');
  if (digits.find('.') != std::string::npos) return digits;
  const std::string value = first == std::string::npos ? "0" : digits.substr(first);
  if (value.size() > limit.size() || (value.size() == limit.size() && value > limit)) return limit;
  return digits;
}

}  // namespace

std::string PgTableName(const std::string& written, const NameRules* names) {
  std::string out;
  for (const Token& token : SqlTokens(written)) {
    const std::string part = written.substr(token.begin, token.end - token.begin);
    const std::string quoted =
        token.kind == Kind::Word ? QuotedIfNeeded(Upper(token), names) : std::string();
    out += quoted.empty() ? part : quoted;
  }
  return out;
}

std::string OracleName(const std::string& stored) {
  return stored == LowerCased(stored) ? text::UpperCased(stored) : stored;
}

PgStatement TranslateOracle(const std::string& sql, const ColumnLookup& columns, bool markers,
                            const NameRules* names) {
  CheckSingleStatement(sql, false);
  const std::vector<Token> t = SqlTokens(sql);
  PgStatement out;
  const std::string verb = LeadingVerb(t);
  const bool query = verb == "SELECT" || verb == "WITH";
  out.data = query || verb == "INSERT" || verb == "UPDATE" || verb == "DELETE";
  out.schema_change = !out.data;
  bool table_ddl = false, sequence_ddl = false;
  if (verb == "CREATE" || verb == "ALTER") {
    for (size_t k = 1; k < t.size() && k < 6; ++k) {
      if (t[k].Is("TABLE")) table_ddl = true;
      if (t[k].Is("SEQUENCE")) sequence_ddl = true;
    }
  }

  // The names of the statement's own table, when it has one, decide for
  // its columns: "NOTE" of one table is quoted though another table has a
  // note of its own.
  const std::optional<ValuesShape> values_shape =
      out.data && !query ? FindValuesShape(sql, t) : std::nullopt;
  std::string own_table = values_shape ? values_shape->table : std::string();
  if (names && own_table.empty() && (verb == "SELECT" || verb == "DELETE"))
    own_table = SingleTable(sql, t);
  const std::string own_upper = text::UpperCased(own_table);
  if (own_upper == "DUAL" || IsDictionaryView(own_upper)) own_table.clear();
  std::optional<std::vector<ColumnType>> table_columns;
  if (!own_table.empty() && columns) table_columns = columns(PgTableName(own_table, names));
  NameRules local;
  if (names && table_columns) {
    local = *names;
    for (const auto& column : *table_columns) {
      const std::string upper = text::UpperCased(column.name), lower = LowerCased(column.name);
      bool twin = false;
      for (const auto& other : *table_columns) twin = twin || other.name == lower;
      if (column.name == upper && upper != lower && !twin)
        local.upper.insert(upper);
      else if (column.name == lower)
        local.upper.erase(upper);
    }
    names = &local;
  }

  // Literals that stand alone as a value of an insert or of the row-valued
  // update take the column's type; '' in a column that is not text is NULL.
  std::map<size_t, const ColumnType*> typed;  // token index -> column
  if (values_shape) {
    if (const auto& shape = values_shape) {
      if (table_columns) {
        for (size_t v = 0; v < shape->values.size(); ++v) {
          const auto [b, e] = shape->values[v];
          const bool marker = markers && t[b].kind == Kind::Marker;
          // to_date(X, 'mask'): whether the column keeps a time of day.
          const bool date = e == b + 6 && t[b].Is("TO_DATE");
          if (!date && (e != b + 1 || (t[b].kind != Kind::Literal && !marker))) continue;
          const std::string stored = StoredName(shape->columns[v], names);
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
  std::vector<bool> in_from(1, false);     // per parenthesis level: inside a FROM list
  std::map<size_t, std::string> replaced;  // token index -> text sent instead
  std::map<std::string, bool> sequence_used;
  int marker_count = 0;
  std::string& text = out.text;
  text.reserve(sql.size() + 16);
  size_t at = 0;
  auto open = [&] {
    ++depth;
    in_from.push_back(false);
  };
  auto close = [&] {
    --depth;
    if (in_from.size() > 1) in_from.pop_back();
  };
  for (size_t i = 0; i < t.size(); ++i) {
    const Token& token = t[i];
    text.append(sql, at, token.begin - at);
    at = token.end;
    const std::string u = Upper(token);
    if (const auto it = replaced.find(i); it != replaced.end()) {
      if (u == ")") close();
      text += it->second;
      continue;
    }
    if (token.kind == Kind::Marker && markers) {
      // A marker's type comes with its value (Value::Kind), not from here.
      PgParam param;
      param.marker = marker_count++;
      out.params.push_back(std::move(param));
      text += '$';
      text += std::to_string(out.params.size());
      continue;
    }
    if (token.kind == Kind::Punct) {
      if (u == "(")
        open();
      else if (u == ")")
        close();
      // Oracle divides exactly (9/4 is 2.25), PostgreSQL's integers do not:
      // "*1.0" groups with what stands before the "/" as the "/" does, as on
      // the embedded engine.
      if (u == "/") text += "*1.0";
      text.append(sql, token.begin, token.end - token.begin);
      continue;
    }
    if (token.kind == Kind::Literal) {
      // date '2003-08-01', timestamp '...', interval '1' day: the literal is
      // part of its type's word and cannot become a parameter.
      const bool typed_literal =
          i > 0 && (t[i - 1].Is("DATE") || t[i - 1].Is("TIMESTAMP") || t[i - 1].Is("INTERVAL"));
      if (!values_open || token.IsPrefixedLiteral(sql) || !out.data || typed_literal) {
        text.append(sql, token.begin, token.end - token.begin);
        continue;
      }
      PgParam param;
      param.text = token.text;
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
    if (sequence_ddl && token.kind == Kind::Number) {
      const bool negative = i > 0 && t[i - 1].IsPunct("-");
      const size_t word = negative ? i - 2 : i - 1;
      if (i >= (negative ? 2u : 1u) && (t[word].Is("MAXVALUE") || t[word].Is("MINVALUE"))) {
        text += SequenceBound(sql.substr(token.begin, token.end - token.begin), negative);
        continue;
      }
    }
    if (token.kind != Kind::Word) {
      text.append(sql, token.begin, token.end - token.begin);
      continue;
    }
    const bool after_dot = i > 0 && t[i - 1].IsPunct(".") && t[i - 1].end == token.begin;
    const bool before_paren = Is(t, i + 1, "(");
    const std::string previous = i > 0 ? Upper(t[i - 1]) : std::string();
    if (query && depth == 0 && u == "WHERE") values_open = true;
    if (u == "FROM")
      in_from.back() = true;
    else if (EndsFromList(u) && u != "JOIN" && u != "ON" && u != "USING")
      in_from.back() = false;
    // The dictionary views and dual, read in place under their own name
    // unless the statement gives them an alias.
    if (!after_dot && !Is(t, i + 1, ".") && (IsDictionaryView(u) || u == "DUAL") &&
        (previous == "FROM" || previous == "JOIN" || (previous == "," && in_from.back()))) {
      out.reads_dictionary = out.reads_dictionary || u != "DUAL";
      text += DictionarySubquery(u);
      const bool aliased =
          i + 1 < t.size() && (t[i + 1].kind == Kind::QuotedName ||
                               (t[i + 1].kind == Kind::Word && !EndsFromList(Upper(t[i + 1]))));
      if (!aliased) text += " " + LowerCased(u);
      continue;
    }
    // NAME.nextval / NAME.currval: the first use of a name takes the next
    // value, every later use of the same statement the same value.
    if (!after_dot && Is(t, i + 1, ".") && (Is(t, i + 2, "NEXTVAL") || Is(t, i + 2, "CURRVAL")) &&
        !(Is(t, i + 3, ".")) && !(i > 0 && t[i - 1].IsPunct("."))) {
      const bool first = !sequence_used[u];
      sequence_used[u] = true;
      text += first && t[i + 2].Is("NEXTVAL") ? "nextval('" : "currval('";
      const std::string quoted = QuotedIfNeeded(u, names);
      if (quoted.empty())
        text.append(sql, token.begin, token.end - token.begin);
      else
        text += quoted;
      text += "')";
      at = t[i + 2].end;
      i += 2;
      continue;
    }
    if (!after_dot && before_paren && (u == "TO_DATE" || u == "TO_NUMBER")) {
      std::vector<std::pair<size_t, size_t>> args;
      const size_t end = SplitList(t, i + 1, args);
      if (end && (args.size() == 1 || args.size() == 2)) {
        // to_date(? or 'text', 'mask'): the date is read here, as Oracle
        // reads it, and sent as a timestamp.
        const bool lone_value = args[0].second == args[0].first + 1;
        const Token& value = t[args[0].first];
        const bool marker = markers && lone_value && value.kind == Kind::Marker;
        if (u == "TO_DATE" && args.size() == 2 && lone_value &&
            args[1].second == args[1].first + 1 && t[args[1].first].kind == Kind::Literal &&
            (marker || value.kind == Kind::Literal)) {
          const std::string& mask = t[args[1].first].text;
          bool keeps_time = false;
          if (const auto it = typed.find(i); it != typed.end())
            keeps_time = it->second->oid == kTimestampOid || it->second->oid == kTimestampTzOid;
          if (marker) {
            PgParam param;
            param.marker = marker_count++;
            param.oid = kTimestampOid;
            param.date_mask = mask;
            param.keeps_time = keeps_time;
            out.params.push_back(std::move(param));
            text += "$" + std::to_string(out.params.size()) + "::timestamp(0)";
          } else {
            const std::string& date = value.text;
            std::string stored;
            if (date.empty())
              text += "null::timestamp(0)";
            else if (DateByMask(date, mask, keeps_time, stored))
              text += "'" + stored + "'::timestamp(0)";
            else
              throw DbError("to_date: '" + date + "' is not a valid date for the format '" + mask +
                            "'");
          }
          at = t[end].end;
          i = end;
          continue;
        }
        // Any other argument: the server reads it, '' as NULL.
        const bool date = u == "TO_DATE";
        const bool masked = args.size() == 2;
        text += date ? (masked ? "pg_catalog.to_timestamp(nullif((" : "(nullif((")
                     : (masked ? "pg_catalog.to_number(nullif((" : "(nullif((");
        if (masked) replaced[args[1].first - 1] = ")::text, ''),";
        replaced[end] = masked ? (date ? ")::timestamp(0)" : ")")
                               : (date ? ")::text, '')::timestamp(0))" : ")::text, '')::numeric)");
        at = t[i + 1].end;
        ++i;
        open();
        continue;
      }
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
      if (u == "DATE" && !(i + 1 < t.size() && t[i + 1].kind == Kind::Literal)) {
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
      // Oracle's cache keeps the order of values across sessions;
      // PostgreSQL's hands each session a block of its own, so three runs
      // would draw 1, 2, 21, ...: no cache gives Oracle's order.
      if (u == "CACHE" && i + 1 < t.size() && t[i + 1].kind == Kind::Number) {
        at = t[i + 1].end;
        ++i;
        continue;
      }
      if (u == "NOCYCLE" || u == "NOMAXVALUE" || u == "NOMINVALUE") {
        text += "no " + LowerCased(u.substr(2));
        continue;
      }
    }
    // A name PostgreSQL would not find as written. Before "(" a word is a
    // function unless it names the table of an insert or a create.
    if (!before_paren || previous == "INTO" || previous == "TABLE") {
      std::string quoted = QuotedIfNeeded(u, names);
      if (!quoted.empty() && names->upper.count(u) == 0 && !FollowsName(t, i + 1)) quoted.clear();
      if (!quoted.empty()) {
        text += quoted;
        continue;
      }
    }
    text.append(sql, token.begin, token.end - token.begin);
  }
  text.append(sql, at, std::string::npos);
  return out;
}

}  // namespace xb::db::postgres
