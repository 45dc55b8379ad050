#include "import/check.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <unordered_map>
#include <utility>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "import/existence.h"
#include "import/header.h"
#include "import/statements.h"
#include "operator/texts.h"
#include "sheet/cell_text.h"
#include "text/ascii.h"

namespace xb::import {

namespace {

// The declared type as the operator knows it from the table's definition.
std::string Declared(const db::Dictionary::ColumnFacts& c) {
  const db::oracle::DeclaredType type = c.declared();
  if (type.kind == db::oracle::DeclaredType::Kind::Text && c.length > 0)
    return c.data_type + "(" + std::to_string(c.length) +
           (type.length_in_chars ? " CHAR)" : " BYTE)");
  if (type.kind == db::oracle::DeclaredType::Kind::Number && type.precision)
    return c.data_type + "(" + std::to_string(*type.precision) +
           (type.scale ? "," + std::to_string(*type.scale) : std::string()) + ")";
  return c.data_type;
}

std::string WithWords(const std::string& reason, const std::string& words) {
  return words.empty() ? reason : reason + " (" + words + ")";
}

std::string QuotedName(const std::string& name) { return "\"" + name + "\""; }

void AppendJsonString(std::string& out, std::string_view s) {
  out += '"';
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

// A cell's text on one line of the report: line breaks shown as \n.
std::string OneLine(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\r') continue;
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::optional<ValueFault> CheckCellValue(std::string_view trimmed,
                                         const db::Dictionary::ColumnFacts& column,
                                         const std::string& table) {
  using Kind = CellFault::Kind;
  const db::oracle::DeclaredType type = column.declared();
  // Oracle keeps '' as NULL, whatever the column's type.
  if (trimmed.empty()) {
    if (column.nullable) return std::nullopt;
    return ValueFault{Kind::Empty,
                      WithWords(texts::kCheckEmpty, "ORA-01400: cannot insert NULL into (" +
                                                        QuotedName(text::UpperCased(table)) + "." +
                                                        QuotedName(column.name) + ")")};
  }
  if (column.data_type == "DATE") {
    // The import sends to_date(cell, 'yyyy-mm-dd') with the cell upper-cased.
    db::oracle::DateTime date;
    if (!db::oracle::ParseByMask(text::UpperCased(trimmed), "yyyy-mm-dd", date))
      return ValueFault{
          Kind::NotDate,
          WithWords(texts::kCheckNotDate, "ORA-01861: literal does not match format string")};
    return std::nullopt;
  }
  if (type.kind == db::oracle::DeclaredType::Kind::Other) return std::nullopt;
  // A text reaches the database with its line breaks as CR LF.
  std::string value = type.kind == db::oracle::DeclaredType::Kind::Text
                          ? text::WithLineBreaks(trimmed, "\r\n")
                          : std::string(trimmed);
  try {
    db::oracle::CheckColumnValue(value, type, table, column.name);
  } catch (const db::DbError& e) {
    const std::string words = e.what();
    if (type.kind == db::oracle::DeclaredType::Kind::Text)
      return ValueFault{Kind::TooLong, WithWords(texts::CheckTooLong(Declared(column)), words)};
    if (words.rfind("ORA-01722", 0) == 0)
      return ValueFault{Kind::NotNumber, WithWords(texts::kCheckNotNumber, words)};
    return ValueFault{Kind::TooManyDigits,
                      WithWords(texts::CheckTooManyDigits(Declared(column)), words)};
  }
  return std::nullopt;
}

CheckReport CheckWorkbook(db::DbSession& session, sheet::Instance& sheet) {
  CheckReport report;
  auto& init = session.init;
  const ParsedHeader header = ParseHeader(sheet.cellText(1, 1));
  if (header.table.empty() || header.too_long) {
    report.header_fault = texts::kBadHeader;
    return report;
  }
  const std::string& table = header.table;
  // As the loader: a name only quoting could make counts as missing.
  const bool plain = IsPlainTableName(table);
  if (plain) {
    init.close();
    init.setSql(TableQuery(table));
    init.open();
  }
  if (!plain || init.fieldInt(0) < 1) {
    report.header_fault = texts::NoSuchTable(table);
    return report;
  }
  for (const auto& column : header.columns) {
    if (!column.is_sequence) continue;
    init.close();
    init.setSql(SequenceQuery(column.sequence));
    init.open();
    if (init.fieldText(0).empty()) {
      report.header_fault = texts::NoSuchSequence(column.sequence);
      return report;
    }
  }

  // Every column's facts in one query.
  db::Dictionary dictionary(init);
  const db::Dictionary::Read read(dictionary);
  const std::vector<db::Dictionary::ColumnFacts> facts = dictionary.columns(table);
  std::vector<const db::Dictionary::ColumnFacts*> facts_at(header.columns.size(), nullptr);
  for (size_t p = 0; p < header.columns.size(); ++p) {
    if (header.columns[p].is_sequence) continue;
    for (const auto& f : facts)
      if (f.name == header.columns[p].name) facts_at[p] = &f;
    if (!facts_at[p]) {
      report.header_fault = texts::NoSuchColumn(table, header.columns[p].name);
      return report;
    }
  }
  // The key terms each column position gives, in the header's key order.
  const std::vector<std::vector<size_t>> keys_at = KeysAtPositions(header);

  const int row_bound = FindRowBound([&](int row) { return sheet.cellText(row, 1); });
  // Rows whose keys go to the existence query (their key terms only), and
  // the sheet row of each.
  RowStore keyed_rows;
  std::vector<int> keyed_sheet_rows;
  // The first row of each key as the table would store it.
  std::unordered_map<std::string, std::pair<int, std::string>> first_of_key;
  std::vector<int> repeated_rows;

  for (int row = 4; row < row_bound; ++row) {
    ++report.rows_read;
    TypedRow keys;
    bool key_usable = true;
    std::string stored_key, key_cell, key_texts;
    int sheet_column = 1;
    for (size_t p = 1; p <= header.columns.size(); ++p) {
      const ColumnEntry& column = header.columns[p - 1];
      if (column.is_sequence) continue;
      const db::Dictionary::ColumnFacts& f = *facts_at[p - 1];
      const int at_column = sheet_column++;
      const std::string cell = sheet.cellText(row, at_column);
      const bool is_key = !keys_at[p].empty();
      CellFault fault;
      fault.row = row;
      fault.column = at_column;
      fault.cell = sheet::CellName(row, at_column);
      fault.column_name = f.name;
      fault.value = cell;
      if (is_key && key_cell.empty()) key_cell = fault.cell;
      if (sheet.cellIsError(row, at_column)) {
        fault.kind = CellFault::Kind::ErrorCell;
        fault.reason = WithWords(texts::kCheckErrorCell, cell);
        report.faults.push_back(std::move(fault));
        key_usable = key_usable && !is_key;
        continue;
      }
      const std::string_view trimmed = text::Trimmed(cell);
      if (auto bad = CheckCellValue(trimmed, f, table)) {
        fault.kind = bad->kind;
        fault.reason = std::move(bad->reason);
        report.faults.push_back(std::move(fault));
        key_usable = key_usable && !is_key;
        continue;
      }
      if (!is_key) continue;
      const bool is_date = f.data_type == "DATE";
      const std::string upper = text::UpperCased(trimmed);
      // In column order, as the loader makes the key terms.
      for (const size_t k : keys_at[p])
        keys.keys.push_back(KeyValue{header.keys[k], upper, is_date});
      // The key as stored: equal values are one key whatever their spelling.
      std::string stored(trimmed);
      db::oracle::DateTime date;
      if (trimmed.empty()) {
        key_usable = false;  // NULL matches nothing
      } else if (is_date && db::oracle::ParseByMask(upper, "yyyy-mm-dd", date)) {
        stored = db::oracle::Canonical(date);
      } else if (f.declared().kind == db::oracle::DeclaredType::Kind::Number) {
        if (auto canonical = db::oracle::CanonicalDecimal(trimmed)) stored = *canonical;
      }
      stored_key += stored + '\x1f';
      key_texts += (key_texts.empty() ? "" : ",") + std::string(trimmed);
    }
    if (keys.keys.empty() || !key_usable) continue;
    const auto [first, inserted] = first_of_key.try_emplace(stored_key, row, key_cell);
    if (!inserted) {
      // The second finds the first: the import asks about it, or stores it twice.
      CellFault fault;
      fault.kind = CellFault::Kind::RepeatedKey;
      fault.row = row;
      fault.cell = key_cell;
      fault.column = 0;
      fault.column_name = header.key_columns;
      fault.value = key_texts;
      fault.reason = texts::CheckRepeatedKey(first->second.first, first->second.second);
      report.faults.push_back(std::move(fault));
      repeated_rows.push_back(row);
      continue;
    }
    keyed_rows.add(keys);
    keyed_sheet_rows.push_back(row);
  }

  // The import's own existence query, a few hundred rows a statement.
  const std::vector<long long> found = CountExisting(init, table, keyed_rows, 0, keyed_rows.size());
  for (size_t i = 0; i < found.size(); ++i)
    if (found[i] > 0) report.existing_rows.push_back(keyed_sheet_rows[i]);
  report.would_ask = report.existing_rows.size() + repeated_rows.size();
  report.would_insert = report.rows_read - report.would_ask;
  return report;
}

std::string ReportText(const CheckReport& report) {
  if (!report.header_fault.empty()) return report.header_fault + "\n";
  std::string out = report.faults.empty() ? texts::kCheckClean : texts::kCheckFaulty;
  out += "\n";
  for (const CellFault& f : report.faults)
    out += f.cell + " " + f.column_name + " '" + OneLine(f.value) + "': " + f.reason + "\n";
  for (const int row : report.existing_rows) out += texts::CheckExistingRow(row) + "\n";
  out += texts::CheckSummary(report.rows_read, report.would_insert, report.would_ask,
                             report.faults.size()) +
         "\n";
  return out;
}

std::string ReportJson(const CheckReport& report) {
  std::string out = "{";
  if (!report.header_fault.empty()) {
    out += "\"header_fault\":";
    AppendJsonString(out, report.header_fault);
    out += ",";
  }
  out += "\"faults\":[";
  for (size_t i = 0; i < report.faults.size(); ++i) {
    const CellFault& f = report.faults[i];
    out += i ? ",\n{" : "\n{";
    out += "\"cell\":";
    AppendJsonString(out, f.cell);
    out += ",\"column\":";
    AppendJsonString(out, f.column_name);
    out += ",\"value\":";
    AppendJsonString(out, f.value);
    out += ",\"reason\":";
    AppendJsonString(out, f.reason);
    out += "}";
  }
  out += "],\n\"existing_rows\":[";
  for (size_t i = 0; i < report.existing_rows.size(); ++i)
    out += (i ? "," : "") + std::to_string(report.existing_rows[i]);
  out += "],\n\"summary\":{\"rows_read\":" + std::to_string(report.rows_read) +
         ",\"would_insert\":" + std::to_string(report.would_insert) +
         ",\"would_ask\":" + std::to_string(report.would_ask) +
         ",\"cells_at_fault\":" + std::to_string(report.faults.size()) + "}}\n";
  return out;
}

}  // namespace xb::import
