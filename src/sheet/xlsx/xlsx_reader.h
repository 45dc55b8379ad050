#pragma once
// A streaming reader for .xlsx/.xlsm workbooks (Office Open XML packages).
// It finds the workbook through [Content_Types].xml and the relationships,
// keeps the shared strings and the cell formats in memory, and reads the
// active sheet's XML row by row without holding the sheet. Every fault of
// the package (damaged zip, zip bomb, DOCTYPE, oversized part or cell...) is
// a SheetError with a reason the operator can read.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "sheet/reader.h"

namespace xb::sheet {

// Limits on what a package may hold, and how it is read.
struct XlsxLimits {
  // Uncompressed size of the sheet and of the shared strings (each).
  uint64_t max_large_part = (uint64_t(1) << 30) - 1;
  // Uncompressed size of every other part read (workbook, styles, relationships...).
  uint64_t max_small_part = uint64_t(64) << 20;
  // Uncompressed to compressed, for parts above ratio_floor bytes.
  uint64_t max_ratio = 250;
  uint64_t ratio_floor = uint64_t(4) << 20;
  // Read the shared strings and the sheet on threads of their own (else all
  // on the caller's thread, row by row as asked).
  bool threads = true;
  // A sheet that unpacks to more than this is parsed by two parsers at once,
  // one from the top and one from a row past its middle (with threads).
  uint64_t split_from = uint64_t(8) << 20;
  // Counts the rows the second parser gave (for tests and benchmarks: the
  // rows read the same either way); not counted when null.
  std::atomic<uint64_t>* tail_rows = nullptr;
};

// A workbook file; SheetError when it cannot be read. Without limits (as
// OpenWorkbookReader calls it for every zip package): the default ones.
std::unique_ptr<WorkbookReader> OpenXlsxReader(const std::string& path, const XlsxLimits& limits);
std::unique_ptr<WorkbookReader> OpenXlsxReader(const std::string& path);
// The same for a package held in memory (the reader keeps its own copy).
std::unique_ptr<WorkbookReader> OpenXlsxReaderFromMemory(std::string data,
                                                         const XlsxLimits& limits = {});

}  // namespace xb::sheet
