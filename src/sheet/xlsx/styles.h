#pragma once
// The workbook's cell formats: what number format each cell style shows.

#include <string>
#include <vector>

#include "sheet/xlsx/package.h"

namespace xb::sheet::xlsx {

struct CellFormat {
  int id = 0;        // the number format's id
  std::string code;  // its code when the workbook defines one
  bool shows_date = false;
};

// The cell formats by style index; General alone when the workbook has no
// styles part (part empty) or it defines none.
std::vector<CellFormat> ReadCellFormats(Package& package, const std::string& part);

}  // namespace xb::sheet::xlsx
