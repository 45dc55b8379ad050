#pragma once
// The SQL texts and prompt texts of the import, built by concatenation. They
// are the program's contract with the database and the operator, so each is
// a function of its own and tested as an exact string.

#include <string>

namespace xb::import {

// Dictionary queries of the loader (through init).
std::string TableQuery(const std::string& table);
std::string SequenceQuery(const std::string& sequence);
std::string ColumnsQuery(const std::string& table);
std::string DataTypeQuery(const std::string& table, const std::string& column);

// Pieces of a data row: the value of a DATE or other plain cell, the value of
// a sequence column, and one term of the key condition (each with its
// separator; the row's last separator is cut by the loader).
std::string DateValue(const std::string& upper_text);
std::string TextValue(const std::string& text);
std::string SequenceValue(const std::string& sequence);
std::string KeyTerm(const std::string& key, const std::string& upper_text, bool is_date);

// Statements of the import run.
std::string ExistsQuery(const std::string& table, const std::string& key_condition);
std::string ExistingValuesQuery(const std::string& table, const std::string& columns,
                                const std::string& key_condition);
std::string InsertStatement(const std::string& table, const std::string& columns,
                            const std::string& values);
std::string UpdateStatement(const std::string& table, const std::string& columns,
                            const std::string& values, const std::string& key_condition);

// The overwrite prompt: eight lines joined by carriage returns.
std::string OverwritePromptText(const std::string& existing_values, const std::string& values);

}  // namespace xb::import
