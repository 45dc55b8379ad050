#pragma once
#include <string>
#include <vector>

namespace xb::cli {

// Splits a SQL script into statements: at every ';' that ends a line outside
// quotes and comments (the ';' is dropped), and at every line holding only
// '/'. Statements that are only blanks and comments are left out. Lines end
// in LF, CR LF or a lone CR; inside a statement every line break is an LF.
std::vector<std::string> SplitScript(const std::string& script);

// Whether a statement may return rows: false only for statements whose
// first word names one that never does (INSERT, UPDATE, DELETE, MERGE,
// CREATE, DROP, ALTER, ...) and that have no RETURNING clause. The rest
// (SELECT, WITH, VALUES, PRAGMA, EXPLAIN, SHOW, anything unknown) is opened
// as a query, and the engine says when it returned no row set.
bool ReturnsRows(const std::string& statement);

// A field for the tab-separated output: tab as \t, line feed as \n, carriage
// return as \r; everything else as it is.
std::string EscapeField(const std::string& value);

}  // namespace xb::cli
