// Stands in for the .xlsx reader until it is built in: a zip package is
// refused with a reason the operator can act on.

#include "sheet/reader.h"
#include "sheet/sheet.h"

namespace xb::sheet {

std::unique_ptr<WorkbookReader> OpenXlsxReader(const std::string&) {
  throw SheetError("the file is not an .xls workbook (it looks like an .xlsx or other zip file)");
}

}  // namespace xb::sheet
