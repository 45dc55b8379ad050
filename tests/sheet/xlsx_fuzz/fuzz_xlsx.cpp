// libFuzzer entry: any bytes must read as a package or end in SheetError,
// nothing else. The limits are small so that one input stays cheap.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sheet/sheet.h"
#include "sheet/sheet_cells.h"
#include "sheet/xlsx/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  xb::sheet::XlsxLimits limits;
  limits.max_large_part = 8 << 20;
  limits.max_small_part = 4 << 20;
  // Threads cost the fuzzer a hand-over per input; one input in eight uses
  // them, and then the sheet is parsed by two parsers at once.
  limits.threads = size % 8 == 0;
  limits.split_from = 0;
  // One input in sixteen is read as the import reads it, into its cell store.
  const bool as_import = size % 16 == 0;
  try {
    auto reader = xb::sheet::OpenXlsxReaderFromMemory(
        std::string(reinterpret_cast<const char*>(data), size), limits);
    if (as_import) {
      (void)xb::sheet::SheetCells::Read(*reader);
    } else {
      xb::sheet::TypedRow row;
      (void)reader->activeSheetName();
      (void)reader->date1904();
      while (reader->nextRow(row)) {
      }
    }
  } catch (const xb::sheet::SheetError&) {
  }
  return 0;
}
