#pragma once
// Statements and queries of a test, through the program's own connection
// and query objects; every field as text, NULL as "<null>" so that it
// cannot pass for an empty text.

#include <string>
#include <vector>

#include "db/connection.h"

namespace xb::test {

using Rows = std::vector<std::vector<std::string>>;

// Runs a statement that returns no rows.
void Execute(db::Connection& connection, const std::string& sql);
// Every row of a query.
Rows Select(db::Connection& connection, const std::string& sql);
// The first field of every row.
std::vector<std::string> Column(db::Connection& connection, const std::string& sql);
// The first field of the one row; "<N rows>" when there are N rows, N not 1.
std::string One(db::Connection& connection, const std::string& sql);

}  // namespace xb::test
