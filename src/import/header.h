#pragma once
// The import workbook's header cell (A1) and row layout.

#include <functional>
#include <string>
#include <vector>

namespace xb::import {

inline constexpr int kMaxColumns = 15;
inline constexpr int kMaxKeys = 15;

struct ColumnEntry {
  std::string name;
  bool is_sequence = false;
  std::string sequence;  // upper-cased, not trimmed; empty for a plain column
};

struct ParsedHeader {
  std::string table;
  std::string key_columns;
  std::vector<std::string> keys;
  std::string column_list;
  std::vector<ColumnEntry> columns;
  std::vector<int> key_positions;  // 1-based, 0 when the key names no column
  // More than kMaxColumns entries or kMaxKeys keys: the loader refuses it.
  bool too_long = false;
};

// x between single quotes, every single quote inside doubled.
std::string Quoted(const std::string& text);

ParsedHeader ParseHeader(const std::string& header_text);
// The keys each column position gives, as indexes into keys in the header's
// key order: entry p for the column at 1-based position p (entry 0 stays
// empty). A key repeated in the header stands there as often.
std::vector<std::vector<size_t>> KeysAtPositions(const ParsedHeader& header);

// Whether the statements may name the table as written, unquoted: a name
// that only quoting could make (a quote, a blank, a comma...) could be found
// by the dictionary query and then break the insert, so it counts as missing.
bool IsPlainTableName(const std::string& table);
// Asks for rows 4, 5, ... until the trimmed column-A text is empty.
int FindRowBound(const std::function<std::string(int row)>& column_a_text);

}  // namespace xb::import
