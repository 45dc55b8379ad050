#pragma once
// The package's structure: its content types, the relationships and the
// workbook part lead to the active sheet, the shared strings and the styles.

#include <string>

#include "sheet/xlsx/package.h"

namespace xb::sheet::xlsx {

struct WorkbookLayout {
  std::string sheet_name;  // the active sheet's
  bool date1904 = false;
  std::string sheet_part;
  // Empty when the workbook has none (or names a part the package lacks).
  std::string strings_part, styles_part;
};

// SheetError with the reason when the package is no workbook this reader
// reads (another Office document, a binary or Strict workbook, a chart as
// the active sheet...).
WorkbookLayout FindWorkbook(Package& package);

}  // namespace xb::sheet::xlsx
