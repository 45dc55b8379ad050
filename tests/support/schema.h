#pragma once
// Builds a test database from a script: a statement ends with ";" at the end
// of a line, and lines starting with "--" are comments.

#include <string>

#include "db/connection.h"

namespace xb::test {

// Runs every statement of `script` (the text itself) on an open connection.
void LoadSchema(db::Connection& connection, const std::string& script);
// The same for a script file.
void LoadSchemaFile(db::Connection& connection, const std::string& script_path);
// Creates the SQLite file `database` (empty first) and runs `script` on it.
void MakeDatabase(const std::string& database, const std::string& script);

}  // namespace xb::test
