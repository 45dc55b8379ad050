#pragma once
// Cell values crafted to break out of an SQL literal: quotes, comment
// marks, statement separators, control characters, a sequence call,
// Chinese text, then the longest text a cell holds. They are the values of
// column BB of tests/data/cli/injection.xls, in row order: the list is
// tests/data/cli/hostile_values.json, which that workbook's script reads
// too.

#include <string>
#include <vector>

namespace xb::test {

// Throws std::runtime_error when the list cannot be read.
const std::vector<std::string>& HostileCellValues();

// The same values as the database must keep them: a line break inside a
// value travels as CR LF, like every line of a statement.
std::vector<std::string> HostileValuesAsStored();

}  // namespace xb::test
