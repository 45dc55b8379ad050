#include "sheet/grid.h"

namespace xb::sheet {

std::string CellName(int row, int column) {
  std::string letters;
  for (int c = column; c > 0; c = (c - 1) / 26)
    letters.insert(letters.begin(), char('A' + (c - 1) % 26));
  return letters + std::to_string(row);
}

}  // namespace xb::sheet
