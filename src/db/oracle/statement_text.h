#pragma once
// Oracle's SQL text made plain for an engine that only knows standard SQL.

#include <string>
#include <vector>

namespace xb::db::oracle {

// Every q'[...]' (and nq'...') literal of the text rewritten as an ordinary
// '...' literal with its quotes doubled; everything else unchanged.
std::string PlainQuoteLiterals(const std::string& sql);

// Oracle divides numbers exactly (9/4 is 2.25), where standard SQL divides
// two integers as integers: every "/" of the code is written "*1.0/", so
// that the division is done on a real number.
std::string RealDivision(const std::string& sql);

// The names of a query's result columns as Oracle gives them, from the
// statement as written and the names the engine gave: a quoted alias or
// quoted column keeps its case, NAME.nextval is named NEXTVAL (CURRVAL),
// an expression whose sequence the engine saw as a parameter is named as
// written; everything else is the engine's name upper-cased.
std::vector<std::string> OracleColumnNames(const std::string& sql,
                                           const std::vector<std::string>& engine_names);

// Oracle refuses an INSERT column list or an UPDATE SET list that names a
// column twice: DbError "ORA-00957: duplicate column name".
void CheckDuplicateColumns(const std::string& sql);

}  // namespace xb::db::oracle
