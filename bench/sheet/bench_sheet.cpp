// Spreadsheet layer benchmark, one task per process so that its peak memory
// can be measured on its own:
//   bench_sheet read BOOK.xls ROWS COLUMNS   every cell's text of the active sheet
//   bench_sheet write OUT.xlsx ROWS COLUMNS  text cells through the file engine
// Prints the seconds the task took and a checksum of what it handled.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sheet/file_engine.h"
#include "sheet/open_workbook.h"
#include "sheet/sheet_cells.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s read|write FILE ROWS COLUMNS\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1], path = argv[2];
  const int rows = std::atoi(argv[3]), columns = std::atoi(argv[4]);
  const auto start = std::chrono::steady_clock::now();
  size_t checksum = 0;
  try {
    if (mode == "read") {
      const auto sheet = xb::sheet::SheetCells::Read(*xb::sheet::OpenWorkbookReader(path));
      for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= columns; ++c) checksum += sheet.cellText(r, c).size();
    } else if (mode == "write") {
      xb::sheet::FileEngineOptions options;
      options.output_path = path;
      auto instance = xb::sheet::MakeFileServer(options)->create();
      instance->addWorkbook();
      std::string text;
      for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= columns; ++c) {
          text = "row " + std::to_string(r) + " column " + std::to_string(c);
          checksum += text.size();
          instance->setCell(r, c, text);
        }
      }
      instance->setVisible(true);
    } else {
      std::fprintf(stderr, "unknown task %s\n", mode.c_str());
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f %zu\n", seconds, checksum);
  return 0;
}
