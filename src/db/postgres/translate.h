#pragma once
// The Oracle dialect the program speaks, put into PostgreSQL's words: every
// quoted value of a data statement becomes a bound parameter, NAME.nextval /
// NAME.currval become nextval('NAME') / currval('NAME') (one value per
// statement for every use, as in Oracle), to_date reads '' as NULL and a
// marker's or literal's date is read here as strictly as Oracle reads it,
// the dictionary views and dual are read in place (catalog.h), names are
// quoted where PostgreSQL would not find them unquoted, the values of an
// insert or of the row-valued update from dual take their column's type,
// and Oracle's DDL type names and sequence options become PostgreSQL's.
// Pure text work: the column types and names come from the caller.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/postgres/catalog.h"

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
  unsigned oid = 0;  // 0: the server infers the type
  int marker = -1;   // the '?' it stands for (its value comes with each run); -1: a literal
  // For a marker inside to_date(?, 'mask'): the mask its text is read by
  // before it is sent (as a timestamp), and whether its column keeps a time.
  std::string date_mask;
  bool keeps_time = false;
};

struct PgStatement {
  std::string text;  // PostgreSQL text, values as $1, $2, ...
  std::vector<PgParam> params;
  bool data = false;           // insert/update/delete/select: worth preparing once per shape
  bool schema_change = false;  // anything else: cached column types may be stale
  // Reads user_tables, user_tab_columns or user_sequences.
  bool reads_dictionary = false;
};

// Raises DbError for a second statement in the text. With markers, each '?'
// in code is a value given at every run (a prepared statement's text).
// Names: what to quote (none when null). A to_date of a literal that is no
// date by its mask raises DbError, as Oracle refuses it.
PgStatement TranslateOracle(const std::string& sql, const ColumnLookup& columns,
                            bool markers = false, const NameRules* names = nullptr);

// A table name as written (name or schema.name, unquoted or quoted) as
// PostgreSQL must read it: quoted where the rules say so.
std::string PgTableName(const std::string& written, const NameRules* names);

// Oracle's spelling of an unquoted name stored lower-case: upper-cased;
// any other name stays as stored.
std::string OracleName(const std::string& stored);

}  // namespace xb::db::postgres
