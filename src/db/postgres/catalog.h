#pragma once
// What the postgres engine asks of PostgreSQL's own catalogue: the Oracle
// dictionary views and dual as subqueries a statement reads in place (no
// object is made in the session, so a read-only role, a role without TEMP
// and a hot standby can all run the program), and the names that must be
// quoted to reach what the dictionary reported.

#include <set>
#include <string>

namespace xb::db::postgres {

// The definition of user_tables, user_tab_columns, user_sequences or dual
// (upper-case name) as a parenthesised subquery; empty for any other name.
// Names are shown the way Oracle stores them: a lower-case stored name
// upper-cased, any other as it is.
std::string DictionarySubquery(const std::string& upper_name);

// Names a statement writes unquoted that PostgreSQL would not read as the
// stored name.
struct NameRules {
  // Stored all upper-case ("UPPERTAB", "NOTE") with no lower-case twin:
  // Oracle finds them unquoted, PostgreSQL only when they are quoted.
  std::set<std::string> upper;
  // Stored lower-case names that PostgreSQL reserves but Oracle does not
  // (limit, offset): quoted where they stand as names.
  std::set<std::string> reserved;
};

// One query answering both sets: rows of (stored name, is lower-case).
extern const char* const kNameRulesQuery;

}  // namespace xb::db::postgres
