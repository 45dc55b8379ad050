#include "export/exporter.h"
#include "operator/texts.h"

#include "export/cell_value.h"

#include <exception>
#include <memory>
#include <vector>

namespace xb::exporting {

namespace {

bool IsBlank(unsigned char c) { return c <= 32; }

std::string TrimmedText(const std::string& text) {
  std::string::size_type begin = 0, end = text.size();
  while (begin < end && IsBlank(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// The query text's lines as a multi-line edit holds them: split at CR LF, CR or LF;
// a line break at the very end starts no further line.
std::vector<std::string> QueryLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    const auto brk = text.find_first_of("\r\n", start);
    if (brk == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, brk - start));
    start = brk + ((text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

MessageBox Box(std::string text, std::string caption, Icon icon) {
  MessageBox box;
  box.text = std::move(text);
  box.caption = std::move(caption);
  box.icon = icon;
  box.modality = Modality::Owned;
  return box;
}

}  // namespace

std::string ExtractFromTable(const std::string& statement) {
  std::string upper = statement;
  for (auto& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const auto from = upper.find("FROM");
  if (from == std::string::npos) return {};
  // The one character after FROM is skipped whatever it is: "FROM(SELECT"
  // gives SELECT.
  const auto rest_start = from + 4 + 1;
  if (rest_start >= upper.size()) return {};
  const std::string rest = TrimmedText(upper.substr(rest_start));
  // Only a blank ends the name; tabs and line breaks stay in it.
  return TrimmedText(rest.substr(0, rest.find(' ')));
}

bool Export(db::DbSession& session, sheet::Server& server, Operator& op,
            const std::string& query_text) {
  if (query_text.empty()) return false;

  auto& exe = session.exe;
  exe.close();
  exe.clearSql();
  for (const auto& line : QueryLines(query_text)) exe.appendLine(line);
  try {
    // Rows are written to the workbook as they arrive from the database;
    // none is kept once written.
    exe.open(db::Scroll::Forward);
  } catch (const std::exception& e) {
    op.showMessage(Box(texts::BadQuery(e.what()), texts::kExportFailed, Icon::Error));
    op.showMessage(Box(texts::WrongStatement(exe.sql()), texts::kError, Icon::Warning));
    return false;
  }

  std::unique_ptr<sheet::Instance> instance;
  try {
    instance = server.create();
    if (!instance) throw sheet::SheetError("no spreadsheet instance");
    instance->setVisible(false);
    instance->addWorkbook();
    instance->setCell(1, 4, CellText(ExtractFromTable(exe.sql()), 1, 4));
    const int columns = exe.fieldCount();
    for (int k = 0; k < columns; ++k)
      instance->setCell(2, k + 1, CellText(exe.fieldName(k), 2, k + 1));
    for (int row = 3; !exe.eof(); ++row, exe.next()) {
      op.progress().step();
      for (int k = 0; k < columns; ++k)
        instance->setCell(row, k + 1, CellText(exe.fieldText(k), row, k + 1));
    }
    exe.close();
    // Showing writes the workbook out, so it can still fail here.
    instance->setVisible(true);
  } catch (const std::exception& e) {
    // Never end silently: the operator would take it for a finished export.
    {
      sheet::InstanceGuard quit_after_box(instance.get());
      op.showMessage(Box(texts::ExportFailed(e.what()), texts::kExportFailed, Icon::Error));
    }
    exe.close();
    op.progress().done();
    return false;
  }
  op.progress().done();
  // The shown instance now belongs to the operator: released, not quit.
  instance.reset();
  return true;
}

}  // namespace xb::exporting
