#pragma once
// The sheet's grid as the spreadsheet application has it: how many rows and
// columns a sheet holds, how much text a cell, and a cell's name.

#include <string>

namespace xb::sheet {

constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
// The most characters (UTF-16 units) a cell may hold.
constexpr int kMaxCellChars = 32767;

// The cell's name as the sheet shows it: "A1", "C17", "XFD1048576".
std::string CellName(int row, int column);

}  // namespace xb::sheet
