#pragma once
// Opening a workbook through the reader its content calls for: above the
// readers, which know nothing of each other.

#include <memory>
#include <string>

#include "sheet/reader.h"

namespace xb::sheet {

// Opens a workbook by its content (an OLE2 compound file: .xls; a zip
// package: .xlsx), whatever its name says; SheetError with the reason when
// the file is none of these, encrypted, truncated...
std::unique_ptr<WorkbookReader> OpenWorkbookReader(const std::string& path);

}  // namespace xb::sheet
