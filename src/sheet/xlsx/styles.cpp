#include "sheet/xlsx/styles.h"

#include <map>

#include "sheet/cell_text.h"
#include "sheet/xlsx/part_parser.h"

namespace xb::sheet::xlsx {
namespace {

constexpr size_t kMaxCellFormats = 65536;

struct Styles : XmlHandler {
  PartParser* parser = nullptr;
  std::map<int, std::string> codes;
  std::vector<int> xf_ids;
  bool in_cell_xfs = false;
  int xf_depth = 0;
  void start(std::string_view name, const char** atts) override {
    if (name == "numFmt") {
      uint64_t id = 0;
      const char* code = Attr(atts, "formatCode");
      if (code && ParseUint(Attr(atts, "numFmtId") ? Attr(atts, "numFmtId") : "", id) &&
          id < 100000) {
        if (codes.size() >= kMaxCellFormats)
          return parser->fail("the styles define more than 65,536 number formats");
        codes[int(id)] = code;
      }
    } else if (name == "cellXfs") {
      in_cell_xfs = true;
    } else if (name == "xf" && in_cell_xfs) {
      if (xf_depth++ > 0) return;
      if (xf_ids.size() >= kMaxCellFormats)
        return parser->fail("the styles define more than 65,536 cell formats");
      uint64_t id = 0;
      const char* v = Attr(atts, "numFmtId");
      xf_ids.push_back(v && ParseUint(v, id) && id < 100000 ? int(id) : 0);
    }
  }
  void end(std::string_view name) override {
    if (name == "cellXfs")
      in_cell_xfs = false;
    else if (name == "xf" && xf_depth > 0)
      --xf_depth;
  }
};

}  // namespace

std::vector<CellFormat> ReadCellFormats(Package& package, const std::string& part) {
  std::vector<CellFormat> formats(1);  // cells without a style: General
  if (!part.empty()) {
    Styles styles;
    {
      PartParser parser(package, part, false, &styles);
      styles.parser = &parser;
      parser.runToEnd();
    }
    if (!styles.xf_ids.empty()) formats.clear();
    for (int id : styles.xf_ids) {
      CellFormat f;
      f.id = id;
      if (const auto it = styles.codes.find(id); it != styles.codes.end()) f.code = it->second;
      formats.push_back(std::move(f));
    }
  }
  for (CellFormat& f : formats)
    f.shows_date = f.code.empty() ? IsBuiltinDateFormat(f.id) : IsDateFormatCode(f.code);
  return formats;
}

}  // namespace xb::sheet::xlsx
