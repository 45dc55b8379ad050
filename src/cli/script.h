#pragma once
#include <string>
#include <vector>

namespace xb::cli {

// Splits a SQL script into statements: at every ';' that ends a line outside
// quotes and comments (the ';' is dropped), and at every line holding only
// '/'. Statements that are only blanks and comments are left out.
std::vector<std::string> SplitScript(const std::string& script);

// Whether a statement returns rows (its first word is SELECT or WITH).
bool ReturnsRows(const std::string& statement);

// A field for the tab-separated output: tab as \t, line feed as \n, carriage
// return as \r; everything else as it is.
std::string EscapeField(const std::string& value);

}  // namespace xb::cli
