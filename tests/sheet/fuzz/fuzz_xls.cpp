// libFuzzer entry: any bytes must parse or throw SheetError, nothing else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sheet/sheet.h"
#include "sheet/xls_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const auto sheet = xb::sheet::XlsSheet::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    for (int r = 1; r <= 20; ++r)
      for (int c = 1; c <= 8; ++c) (void)sheet.cellText(r, c);
  } catch (const xb::sheet::SheetError&) {
  }
  return 0;
}
