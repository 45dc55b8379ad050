#pragma once
// How a stored value reads as text when the engine itself spells it: what
// the export writes into its cells and `sql` prints.

#include <cstddef>
#include <string>

namespace xb::db {

// A binary floating-point value as the workbook's General format spells it:
// at most 15 significant digits, no trailing zeros, 1E+20 / 1E-05 outside
// 1E-04 .. 1E+15 (0.1 + 0.2 gives 0.3, 1e20 gives 1E+20).
std::string FloatText(double value);

// Raw bytes (a BLOB) as Oracle spells a RAW value: upper-case hexadecimal,
// two digits a byte.
std::string BlobText(const void* bytes, size_t size);

}  // namespace xb::db
