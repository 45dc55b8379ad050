#include "sheet/xlsx_string.h"

#include <cctype>
#include <cstdio>

namespace xb::sheet {

std::string XlsxCellString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "_x%04X_", c);
      out += escaped;
      continue;
    }
    if (c == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 3])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 4])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 5]))) {
      out += "_x005F_";
      continue;
    }
    out += static_cast<char>(c);
  }
  return out;
}

}  // namespace xb::sheet
