#include "sheet/xlsx/shared_strings.h"

#include <algorithm>

#include "sheet/grid.h"
#include "sheet/xlsx/cell_values.h"
#include "sheet/xlsx/part_parser.h"

namespace xb::sheet::xlsx {
namespace {

// The ones reserved for at once, whatever the table says it holds.
constexpr uint64_t kMaxReserved = uint64_t(1) << 20;

struct SharedStrings : XmlHandler {
  PartParser* parser = nullptr;
  StringTable table;
  std::string current;
  int si_depth = 0, rph_depth = 0;
  bool in_t = false;
  void start(std::string_view name, const char** atts) override {
    if (Is(name, "si")) {
      ++si_depth;
      current.clear();
    } else if (Is(name, "rPh")) {
      ++rph_depth;
    } else if (Is(name, "t")) {
      in_t = si_depth > 0 && rph_depth == 0;
    } else if (Is(name, "sst")) {
      uint64_t count = 0;
      if (const char* v = Attr(atts, "uniqueCount"); v && ParseUint(v, count))
        table.ends.reserve(size_t(std::min(count, kMaxReserved)));
    }
  }
  void end(std::string_view name) override {
    if (Is(name, "t")) {
      in_t = false;
    } else if (Is(name, "rPh")) {
      if (rph_depth > 0) --rph_depth;
    } else if (Is(name, "si") && si_depth > 0) {
      --si_depth;
      DecodeEscapes(current);
      if (Utf16Length(current) > size_t(kMaxCellChars))
        return parser->fail("shared string " + std::to_string(table.size()) + " holds more than " +
                            std::to_string(kMaxCellChars) + " characters");
      if (!table.add(current)) return parser->fail("the shared strings hold too much text");
    }
  }
  void text(const char* s, int len) override {
    if (!in_t) return;
    current.append(s, size_t(len));
    // Escapes take 7 bytes for one character; beyond that the string is too long whatever it holds.
    if (current.size() > size_t(kMaxCellChars) * 7 + 7)
      parser->fail("shared string " + std::to_string(table.size()) + " holds more than " +
                   std::to_string(kMaxCellChars) + " characters");
  }
};

}  // namespace

StringTable ReadSharedStrings(Package& package, const std::string& part,
                              const std::atomic<bool>* cancel) {
  SharedStrings strings;
  PartParser parser(package, part, true, &strings, cancel);
  strings.parser = &parser;
  parser.runToEnd();
  return std::move(strings.table);
}

}  // namespace xb::sheet::xlsx
