// libFuzzer entry: any bytes must read (every row, every cell's text) or end
// in a SheetError, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sheet/cell_text.h"
#include "sheet/sheet.h"
#include "sheet/xls_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto reader = xb::sheet::OpenXlsReader(std::string(reinterpret_cast<const char*>(data), size));
    xb::sheet::DateFormats formats;
    xb::sheet::TypedRow row;
    while (reader->nextRow(row))
      for (const auto& cell : row.cells)
        (void)xb::sheet::CellText(
            cell, cell.type == xb::sheet::TypedCell::Type::Number && formats.ShowsDate(cell),
            reader->date1904());
  } catch (const xb::sheet::SheetError&) {
  }
  return 0;
}
