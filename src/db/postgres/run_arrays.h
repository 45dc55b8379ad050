#pragma once
// One statement asked for the values of many runs at once: each marker's
// values of every run sent as one array, the runs unnested on the server
// and the statement asked for each of them inside exists(). The server
// plans and starts it once, where a statement per run (or a compound of
// one part per run) starts a plan for every run.

#include <string>

#include "db/postgres/translate.h"

namespace xb::db::postgres {

// The array type of a built-in element type; 0 for any other type (the
// catalogue is asked then).
unsigned BuiltinArrayType(unsigned element_type);

// The text asking statement for many runs: every marker parameter $N of
// statement (its value comes with each run) becomes the Nth array's
// element, every other parameter stays as it is. Its one column is each
// run's number (from 1) whose statement returns a row.
std::string RowsReturnedText(const PgStatement& statement);

// Appends a value (nullptr for NULL) to an array's literal: "{" first,
// then values, then "}".
void AppendArrayElement(std::string& literal, const char* value);

}  // namespace xb::db::postgres
