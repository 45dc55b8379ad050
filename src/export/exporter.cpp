#include "export/exporter.h"
#include "operator/texts.h"

#include "export/cell_value.h"
#include "text/ascii.h"
#include "text/utf8.h"

#include <exception>
#include <memory>
#include <string_view>

namespace xb::exporting {

std::string ExtractFromTable(const std::string& statement) {
  const std::string upper = text::UpperCased(statement);
  const auto from = upper.find("FROM");
  if (from == std::string::npos) return {};
  // The one character after FROM is skipped whatever it is: "FROM(SELECT"
  // gives SELECT, and "FROM表 X" gives X.
  const auto rest_start = from + 4 + text::CharLengthAt(upper, from + 4);
  if (rest_start >= upper.size()) return {};
  const std::string_view rest = text::Trimmed(std::string_view(upper).substr(rest_start));
  // Only a blank ends the name; tabs and line breaks stay in it.
  return std::string(text::Trimmed(rest.substr(0, rest.find(' '))));
}

bool Export(db::DbSession& session, sheet::Server& server, Operator& op,
            const std::string& query_text) {
  if (query_text.empty()) return false;

  auto& exe = session.exe;
  exe.close();
  exe.clearSql();
  // The query text's lines as a multi-line edit holds them.
  text::ForEachLine(query_text, [&](std::string_view line) { exe.appendLine(std::string(line)); });
  try {
    // Rows are written to the workbook as they arrive from the database;
    // none is kept once written.
    exe.open(db::Scroll::Forward);
  } catch (const std::exception& e) {
    op.showMessage(Box(texts::BadQuery(OperatorReason(e)), texts::kExportFailed, Icon::Error));
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
      op.showMessage(
          Box(texts::ExportFailed(OperatorReason(e)), texts::kExportFailed, Icon::Error));
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
