#pragma once
// Cell values as the parts spell them: texts with _xHHHH_ escapes, cell
// addresses, ISO 8601 dates.

#include <cstddef>
#include <string>
#include <string_view>

namespace xb::sheet::xlsx {

// Characters as the spreadsheet application counts them: UTF-16 units.
size_t Utf16Length(std::string_view s);

// Replaces the _xHHHH_ escapes of a text in place (the form the file uses
// for characters XML cannot carry, such as a carriage return).
void DecodeEscapes(std::string& s);

// "B12" -> column 2, row 12; row 0 when the reference names no row. False
// for anything else, or an address past the sheet's last row or column.
bool ParseCellRef(const char* ref, int& column, int& row);

// The serial number of an ISO 8601 date-time (cells of type d).
bool ParseIsoDate(std::string_view s, bool date1904, double& serial, bool& has_time);

}  // namespace xb::sheet::xlsx
