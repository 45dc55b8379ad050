#pragma once
// The Oracle dialect the program speaks, put into PostgreSQL's words: every
// quoted value of a data statement becomes a bound parameter, NAME.nextval /
// NAME.currval become nextval('NAME') / currval('NAME') (one value per
// statement for every use, as in Oracle), to_date reads '' as NULL, the
// values of an insert or of the row-valued update from dual take their
// column's type, and Oracle's DDL type names become PostgreSQL's. Pure text
// work: the column types come from the caller.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace xb::db::postgres {

struct ColumnType {
  std::string name;  // as PostgreSQL stores it
  unsigned oid = 0;
  bool character = false;   // '' stays '' only in a character column
  bool plain_text = false;  // varchar or text compared byte for byte: equal texts, equal values
};
// The columns of a table named as in the statement; nullopt when unknown.
using ColumnLookup =
    std::function<std::optional<std::vector<ColumnType>>(const std::string& table)>;

struct PgParam {
  bool is_null = false;
  std::string text;
  unsigned oid = 0;       // 0: the server infers the type
  int marker = -1;        // the '?' it stands for (its value comes with each run); -1: a literal
  bool character = true;  // for a marker: '' stays '' (else it is NULL)
};

struct PgStatement {
  std::string text;  // PostgreSQL text, values as $1, $2, ...
  std::vector<PgParam> params;
  bool data = false;           // insert/update/delete/select: worth preparing once per shape
  bool schema_change = false;  // anything else: cached column types may be stale
  // A select that reads user_tab_columns alone (the loader's per-cell
  // lookups): its answer may be reused until any other statement runs.
  bool column_dictionary = false;
};

// Raises DbError for a second statement in the text. With markers, each '?'
// in code is a value given at every run (a prepared statement's text).
PgStatement TranslateOracle(const std::string& sql, const ColumnLookup& columns,
                            bool markers = false);

// Oracle's spelling of an unquoted name stored lower-case: upper-cased;
// any other name stays as stored.
std::string OracleName(const std::string& stored);

}  // namespace xb::db::postgres
