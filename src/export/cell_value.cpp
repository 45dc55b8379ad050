#include "export/cell_value.h"

#include <cstdint>
#include <cstdio>

namespace xb::exporting {
namespace {

// The offset of the first byte that does not begin a well-formed UTF-8
// sequence of a character a workbook can hold (no surrogates, nothing above
// U+10FFFF, no U+FFFE/U+FFFF), or npos.
size_t FirstBadByte(const std::string& s) {
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF)
      len = 2, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF)
      len = 3, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4)
      len = 4, cp = b & 0x07;
    else
      return i;
    if (i + len > n) return i;
    for (size_t k = 1; k < len; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (c & 0x3F);
    }
    const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
      return i;
    i += len;
  }
  return std::string::npos;
}

}  // namespace

std::string CellText(const std::string& value, int row, int column) {
  const size_t bad = FirstBadByte(value);
  if (bad != std::string::npos) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X",
                  static_cast<unsigned>(static_cast<uint8_t>(value[bad])));
    throw CellValueError(CellName(row, column) + ": the value is not UTF-8 text (byte " + byte +
                             " at offset " + std::to_string(bad) + ")",
                         CellName(row, column));
  }
  return value;
}

}  // namespace xb::exporting
