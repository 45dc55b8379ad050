#pragma once
// The OLE2 compound file (the container of an .xls workbook): pulls one
// stream out, checking every sector number, chain length and size against
// the file, so that a damaged or hostile file ends in a SheetError.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xb::sheet {

// True when the bytes start with the compound file signature.
bool HasCfbSignature(std::string_view file);

// Extracts the named stream from a compound file held in memory. Tries the
// names in order (case-insensitively); throws SheetError when none is present.
std::vector<uint8_t> ReadCfbStream(std::string_view file, const std::vector<std::string>& names);

}  // namespace xb::sheet
