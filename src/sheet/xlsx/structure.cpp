#include "sheet/xlsx/structure.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

#include "sheet/xlsx/part_parser.h"

namespace xb::sheet::xlsx {
namespace {

// The spreadsheetml namespace and relationship types of Strict Open XML.
constexpr std::string_view kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kStrictRelationships =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/";
constexpr const char* kStrictReason =
    "the workbook is saved as Strict Open XML, which cannot be read; save it as an ordinary Excel "
    "workbook (.xlsx) and try again";

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool IsTrue(const char* v) {
  return v && (std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0);
}

enum class MainKind { None, Workbook, Binary, OtherDocument };

struct ContentTypes : XmlHandler {
  std::string workbook_part;  // without the leading '/'
  MainKind kind = MainKind::None;
  void start(std::string_view name, const char** atts) override {
    if (name != "Override") return;
    const char* part = Attr(atts, "PartName");
    const char* type = Attr(atts, "ContentType");
    if (!part || !type) return;
    const std::string_view t(type);
    MainKind k = MainKind::None;
    if (t == "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml" ||
        t == "application/vnd.ms-excel.sheet.macroEnabled.main+xml" ||
        t == "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml" ||
        t == "application/vnd.ms-excel.template.macroEnabled.main+xml") {
      k = MainKind::Workbook;
    } else if (t == "application/vnd.ms-excel.sheet.binary.macroEnabled.main") {
      k = MainKind::Binary;
    } else if (EndsWith(t, ".document.main+xml") || EndsWith(t, ".presentation.main+xml") ||
               EndsWith(t, ".document.macroEnabled.main+xml") ||
               EndsWith(t, ".presentation.macroEnabled.main+xml")) {
      k = MainKind::OtherDocument;
    }
    if (k == MainKind::None || kind == MainKind::Workbook) return;
    kind = k;
    workbook_part = part[0] == '/' ? part + 1 : part;
  }
  void end(std::string_view) override {}
};

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

struct Relationships : XmlHandler {
  std::vector<Relationship> items;
  void start(std::string_view name, const char** atts) override {
    if (name != "Relationship" || items.size() >= 100000) return;
    Relationship r;
    if (const char* v = Attr(atts, "Id")) r.id = v;
    if (const char* v = Attr(atts, "Type")) r.type = v;
    if (const char* v = Attr(atts, "Target")) r.target = v;
    if (const char* v = Attr(atts, "TargetMode")) r.external = std::strcmp(v, "External") == 0;
    items.push_back(std::move(r));
  }
  void end(std::string_view) override {}
};

std::string DirOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string RelsOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  const std::string base = slash == std::string::npos ? part : part.substr(slash + 1);
  return DirOf(part) + "_rels/" + base + ".rels";
}

// A relationship's target as a part name (no leading '/').
std::string ResolveTarget(const std::string& source_dir, const std::string& target) {
  std::string decoded;
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && std::isxdigit(uint8_t(target[i + 1])) &&
        std::isxdigit(uint8_t(target[i + 2]))) {
      decoded += char(std::stoi(target.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += target[i];
    }
  }
  const std::string path =
      !decoded.empty() && decoded[0] == '/' ? decoded.substr(1) : source_dir + decoded;
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(begin, end - begin);
    if (segment == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!segment.empty() && segment != ".") {
      parts.push_back(segment);
    }
    begin = end + 1;
  }
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += '/';
    out += p;
  }
  return out;
}

struct SheetEntry {
  std::string name, rel_id;
};

struct WorkbookPart : XmlHandler {
  PartParser* parser = nullptr;
  std::vector<SheetEntry> sheets;
  int active_tab = 0;
  bool date1904 = false;
  bool strict = false;
  bool seen_view = false;
  bool seen_root = false;
  void start(std::string_view name, const char** atts) override {
    if (!seen_root) {
      seen_root = true;
      for (int i = 0; atts[i]; i += 2)
        if (std::string_view(atts[i]).substr(0, 5) == "xmlns" && atts[i + 1] == kStrictMain)
          strict = true;
      if (const char* c = Attr(atts, "conformance"); c && std::strcmp(c, "strict") == 0)
        strict = true;
      if (strict) parser->stop();
      return;
    }
    if (name == "workbookPr") {
      date1904 = IsTrue(Attr(atts, "date1904"));
    } else if (name == "workbookView" && !seen_view) {
      seen_view = true;
      uint64_t tab = 0;
      if (const char* v = Attr(atts, "activeTab"); v && ParseUint(v, tab) && tab < 65536)
        active_tab = int(tab);
    } else if (name == "sheet") {
      if (sheets.size() >= 65536) return parser->fail("the workbook lists more than 65,536 sheets");
      SheetEntry s;
      if (const char* v = Attr(atts, "name")) s.name = v;
      if (const char* v = Attr(atts, "id")) s.rel_id = v;
      sheets.push_back(std::move(s));
    }
  }
  void end(std::string_view) override {}
};

void ParseWhole(Package& package, const std::string& name, XmlHandler& handler) {
  PartParser parser(package, name, false, &handler);
  parser.runToEnd();
}

}  // namespace

WorkbookLayout FindWorkbook(Package& package) {
  WorkbookLayout layout;
  if (package.entries() == 0) FailAs(Reason::NotAWorkbook, "the zip package holds no file");
  if (!package.has("[Content_Types].xml")) {
    if (package.has("mimetype") && package.has("content.xml"))
      FailAs(Reason::UnsupportedWorkbookFormat,
             "the file is an OpenDocument spreadsheet (.ods), not an Excel workbook; save it as "
             ".xlsx or .xls");
    FailAs(Reason::NotAWorkbook,
           "the file is a zip package but no Office Open XML document (it has no "
           "[Content_Types].xml)");
  }
  ContentTypes types;
  ParseWhole(package, "[Content_Types].xml", types);
  std::string workbook = types.workbook_part;
  if (types.kind == MainKind::Binary)
    FailAs(
        Reason::UnsupportedWorkbookFormat,
        "the file is an Excel binary workbook (.xlsb), which cannot be read; save it as .xlsx or "
        ".xls");
  if (types.kind == MainKind::OtherDocument)
    FailAs(Reason::NotAWorkbook, "the file is an Office document but no workbook");
  if (workbook.empty()) {
    // No content type names the workbook: the package relationships may.
    if (package.has("_rels/.rels")) {
      Relationships rels;
      ParseWhole(package, "_rels/.rels", rels);
      for (const auto& r : rels.items) {
        if (r.type.rfind(kStrictRelationships, 0) == 0)
          FailAs(Reason::UnsupportedWorkbookFormat, kStrictReason);
        if (EndsWith(r.type, "/officeDocument") && !r.external)
          workbook = ResolveTarget("", r.target);
      }
    }
    if (workbook.empty()) Fail("the package holds no workbook");
  }

  WorkbookPart book;
  {
    PartParser parser(package, workbook, false, &book);
    book.parser = &parser;
    parser.runToEnd();
  }
  if (book.strict) FailAs(Reason::UnsupportedWorkbookFormat, kStrictReason);
  layout.date1904 = book.date1904;
  if (book.sheets.empty()) Fail("the workbook holds no sheet");
  const SheetEntry& active =
      book.sheets[size_t(book.active_tab) < book.sheets.size() ? size_t(book.active_tab) : 0];
  layout.sheet_name = active.name;

  Relationships rels;
  const std::string rels_name = RelsOf(workbook);
  if (!package.has(rels_name)) Fail("the package has no relationships for " + workbook);
  ParseWhole(package, rels_name, rels);
  const std::string dir = DirOf(workbook);
  std::string sheet_part, strings_part, styles_part;
  for (const auto& r : rels.items) {
    if (r.type.rfind(kStrictRelationships, 0) == 0)
      FailAs(Reason::UnsupportedWorkbookFormat, kStrictReason);
    if (r.external) continue;
    if (r.id == active.rel_id) {
      if (EndsWith(r.type, "/chartsheet"))
        FailAs(Reason::NoWorksheet,
               "the active sheet \"" + active.name + "\" is a chart, which holds no cells",
               active.name);
      if (!EndsWith(r.type, "/worksheet"))
        FailAs(Reason::NoWorksheet, "the active sheet \"" + active.name + "\" is no worksheet",
               active.name);
      sheet_part = ResolveTarget(dir, r.target);
    } else if (EndsWith(r.type, "/sharedStrings") && strings_part.empty()) {
      strings_part = ResolveTarget(dir, r.target);
    } else if (EndsWith(r.type, "/styles") && styles_part.empty()) {
      styles_part = ResolveTarget(dir, r.target);
    }
  }
  if (sheet_part.empty()) Fail("the sheet \"" + active.name + "\" has no part in the package");
  if (!package.has(sheet_part))
    Fail("the package has no part " + sheet_part + " for the sheet \"" + active.name + "\"");
  layout.sheet_part = sheet_part;
  if (!strings_part.empty() && package.has(strings_part)) layout.strings_part = strings_part;
  if (!styles_part.empty() && package.has(styles_part)) layout.styles_part = styles_part;
  return layout;
}

}  // namespace xb::sheet::xlsx
