#pragma once
// A cell's text as the workbook file stores it.

#include <string>

namespace xb::sheet {

// The workbook's XML cannot hold control characters, so a workbook stores
// them as _xHHHH_ and a text that itself reads like such an escape with its
// underscore escaped (_x005F_xHHHH_), which every reader turns back into the
// original text. Control characters are escaped here, NUL included (the
// writer's C strings would end at it), and so are escape look-alikes, which
// the writer would otherwise pass through for a reader to decode.
std::string XlsxCellString(const std::string& text);

}  // namespace xb::sheet
