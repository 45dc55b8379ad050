#pragma once
// The workbook's shared string table.

#include <atomic>
#include <string>

#include "sheet/reader.h"
#include "sheet/xlsx/package.h"

namespace xb::sheet::xlsx {

// The table's strings in order, rich runs joined and phonetic readings left
// out; a fault of the part is a SheetError. With cancel, reading stops with
// a fault once it is set.
StringTable ReadSharedStrings(Package& package, const std::string& part,
                              const std::atomic<bool>* cancel = nullptr);

}  // namespace xb::sheet::xlsx
