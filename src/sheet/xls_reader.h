#pragma once
// The .xls reader (BIFF8, and BIFF5 where it costs little): the active
// sheet's cells, row by row, from the workbook stream of the compound file.
// It holds the workbook stream and the shared strings; every structural fault
// is a SheetError, never a crash or a runaway loop.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sheet/reader.h"

namespace xb::sheet {

// Reads an .xls file held in memory (freed once its workbook stream is out).
std::unique_ptr<WorkbookReader> OpenXlsReader(std::string file);

// Reads a workbook stream already out of its container (BIFF records from
// the first BOF on).
std::unique_ptr<WorkbookReader> OpenXlsStream(std::vector<uint8_t> stream);

}  // namespace xb::sheet
