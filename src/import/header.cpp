#include "import/header.h"

#include <algorithm>
#include <cctype>

#include "text/ascii.h"
#include "text/utf8.h"

namespace xb::import {

namespace {

// The text before the first `c`; empty when `c` does not occur.
std::string Before(const std::string& text, char c) {
  const auto pos = text.find(c);
  return pos == std::string::npos ? std::string() : text.substr(0, pos);
}

// Every piece between commas, empty pieces and a trailing empty piece kept.
std::vector<std::string> SplitAtCommas(const std::string& text) {
  const std::vector<std::string_view> pieces = text::Split(text, ',');
  return {pieces.begin(), pieces.end()};
}

// One column entry: "NAME" or "NAME(SEQUENCE)". The sequence runs from just
// after the "(" to the entry's last character, which is not taken (normally
// the ")"); so "S(" and "S()" both give an empty sequence.
ColumnEntry CutEntry(const std::string& entry) {
  ColumnEntry column;
  const auto open = entry.find('(');
  if (open == std::string::npos) {
    column.name = entry;
    return column;
  }
  column.is_sequence = true;
  column.name = entry.substr(0, open);
  const auto first = open + 1;
  const auto end = text::LastCharStart(entry);  // the last character is left out
  if (end > first) column.sequence = entry.substr(first, end - first);
  return column;
}

}  // namespace

std::string Quoted(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '\'';
  for (const char c : text) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  quoted += '\'';
  return quoted;
}

ParsedHeader ParseHeader(const std::string& header_text) {
  ParsedHeader header;
  std::string h = text::UpperCased(text::Trimmed(header_text));

  header.table = Before(h, ':');
  if (const auto colon = h.find(':'); colon != std::string::npos) h.erase(0, colon + 1);

  // Without a second ":" the rest is the column list and there are no keys.
  if (const auto colon = h.find(':'); colon != std::string::npos) {
    header.key_columns = h.substr(0, colon);
    h.erase(0, colon + 1);
  }
  if (!header.key_columns.empty()) header.keys = SplitAtCommas(header.key_columns);

  std::vector<ColumnEntry> entries;
  while (h.find(',') != std::string::npos) {
    const std::string entry = Before(h, ',');
    entries.push_back(CutEntry(entry));
    if (entries.back().is_sequence) {
      // Drop through the first ")" and the character after it (normally
      // the ","). Without a ")" only one character goes, which still moves
      // the cut forward.
      const auto close = h.find(')');
      const std::string::size_type upto = close == std::string::npos ? 0 : close + 1;
      h.erase(0, std::min(h.size(), upto + text::CharLengthAt(h, upto)));
    } else {
      h.erase(0, entry.size() + 1);
    }
  }
  entries.push_back(CutEntry(h));

  std::string joined;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) joined += ',';
    joined += entries[i].name;
  }
  header.column_list = text::UpperCased(text::Trimmed(joined));
  // Names come back from the trimmed list, so blanks at its two ends are gone.
  const auto names = SplitAtCommas(header.column_list);
  for (size_t i = 0; i < entries.size() && i < names.size(); ++i) entries[i].name = names[i];
  header.columns = std::move(entries);

  for (const auto& key : header.keys) {
    int position = 0;
    for (size_t i = 0; i < header.columns.size(); ++i) {
      if (header.columns[i].name == key) {
        position = static_cast<int>(i) + 1;
        break;
      }
    }
    header.key_positions.push_back(position);
  }

  header.too_long = header.columns.size() > static_cast<size_t>(kMaxColumns) ||
                    header.keys.size() > static_cast<size_t>(kMaxKeys);
  return header;
}

std::vector<std::vector<size_t>> KeysAtPositions(const ParsedHeader& header) {
  std::vector<std::vector<size_t>> keys_at(header.columns.size() + 1);
  for (size_t k = 0; k < header.keys.size() && k < header.key_positions.size(); ++k) {
    const int at = header.key_positions[k];
    if (at >= 1 && static_cast<size_t>(at) <= header.columns.size())
      keys_at[static_cast<size_t>(at)].push_back(k);
  }
  return keys_at;
}

int FindRowBound(const std::function<std::string(int row)>& column_a_text) {
  int row = 4;
  while (!text::Trimmed(column_a_text(row)).empty()) ++row;
  return row;
}

bool IsPlainTableName(const std::string& table) {
  for (const char c : table) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80 && !std::isalnum(u) && c != '_' && c != '$' && c != '#' && c != '.') return false;
  }
  return true;
}

}  // namespace xb::import
