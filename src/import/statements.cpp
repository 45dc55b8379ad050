#include "import/statements.h"
#include "operator/texts.h"

#include "import/header.h"
#include "text/ascii.h"

namespace xb::import {

std::string TableQuery(const std::string& table) {
  // Quoted, so a name holding a single quote is simply not found.
  return "select count(*) from user_tables where table_name=" + Quoted(table);
}

std::string SequenceQuery(const std::string& sequence) {
  return "select sequence_name from user_sequences where sequence_name=" +
         Quoted(text::UpperCased(text::Trimmed(sequence)));
}

std::string ColumnsQuery(const std::string& table) {
  return "select COLUMN_NAME from user_tab_columns where table_name=" + Quoted(table);
}

std::string DataTypeQuery(const std::string& table, const std::string& column) {
  return "select DATA_TYPE from user_tab_columns where table_name=" + Quoted(table) +
         " and column_name=" + Quoted(column);
}

std::string DateValue(const std::string& upper_text) {
  return "to_date(" + Quoted(upper_text) + ",'yyyy-mm-dd'),";
}

std::string TextValue(const std::string& text) { return Quoted(text) + ","; }

std::string SequenceValue(const std::string& sequence) { return sequence + ".nextval,"; }

std::string KeyTerm(const std::string& key, const std::string& upper_text, bool is_date) {
  if (is_date) return "to_char(" + key + ",'yyyy-mm-dd')=" + Quoted(upper_text) + " and ";
  return key + "=" + Quoted(upper_text) + " and ";
}

std::string ExistsQuery(const std::string& table, const std::string& key_condition) {
  return "select count(*) from " + table + " where " + key_condition;
}

std::string ExistingValuesQuery(const std::string& table, const std::string& columns,
                                const std::string& key_condition) {
  return "select " + columns + " from " + table + " where " + key_condition;
}

std::string InsertStatement(const std::string& table, const std::string& columns,
                            const std::string& values) {
  return "insert into " + table + "(" + columns + ") values(" + values + ")";
}

std::string UpdateStatement(const std::string& table, const std::string& columns,
                            const std::string& values, const std::string& key_condition) {
  return "update " + table + " set (" + columns + ")=(select " + values + " from dual )" +
         " where " + key_condition;
}

std::string OverwritePromptText(const std::string& existing_values, const std::string& values) {
  return texts::OverwritePrompt(existing_values, values);
}

}  // namespace xb::import
