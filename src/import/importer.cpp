#include "import/importer.h"

#include <exception>
#include <memory>
#include <vector>

#include "import/header.h"
#include "import/statements.h"

namespace xb::import {

namespace {

MessageBox Box(std::string text, std::string caption, Icon icon, Modality modality) {
  MessageBox box;
  box.text = std::move(text);
  box.caption = std::move(caption);
  box.icon = icon;
  box.modality = modality;
  return box;
}

// "Closes init, replaces its text with the query and opens it."
void OpenQuery(db::Query& query, const std::string& sql) {
  query.close();
  query.setSql(sql);
  query.open();
}

// Rolling back is the last thing a failing run does; its own failure must
// not hide the error that made the run fail.
void RollbackQuietly(db::Connection& connection) noexcept {
  try {
    if (connection.inTransaction()) connection.rollbackTransaction();
  } catch (...) {
  }
}

}  // namespace

void Importer::bt_openClick(const std::function<void()>& connection_test) {
  auto& connection = session_.myconnection;
  if (connection.connectionString().empty() || !connection.isOpen()) connection_test();
  if (!LoadWorkbook()) return;

  op_.setImportEnabled(true);
  op_.setProgressPosition(0);
  MessageBox question = Box("数据已经成功的从Excel文件中提取,是否导入到数据库中?", "确认信息",
                            Icon::Information, Modality::Owned);
  question.buttons = Buttons::YesNo;
  if (op_.showMessage(question) == Answer::Yes) BT_IMPClick();
}

bool Importer::LoadWorkbook() {
  if (check_running_ && server_.isRunning()) {
    op_.showMessage(Box("\"EXCEL\",已经打开,请先关闭已经打开的EXCEL文件", "ZQ_提示",
                        Icon::Information, Modality::TaskModal));
  }

  const std::optional<std::string> path = op_.chooseWorkbook();
  if (!path) return false;
  op_.setFilePath(*path);

  std::unique_ptr<sheet::Instance> instance;
  try {
    instance = server_.create();
    if (!instance) throw sheet::SheetError("no spreadsheet instance");
    instance->openWorkbook(*path);
  } catch (const std::exception&) {
    sheet::InstanceGuard quit_on_return(instance.get());
    op_.showMessage(Box("无法连接EXCEL 自动化服务器，\n请确认您的系统已经安装EXCEL 2000 及更高版本。",
                        "系统错误", Icon::Error, Modality::TaskModal));
    return false;
  }
  // From here every way out quits the instance.
  sheet::InstanceGuard quit_on_return(instance.get());

  import_list_.clear();
  try {
    return ReadWorkbook(*instance);
  } catch (const std::exception& e) {
    op_.showMessage(Box(std::string("无法打开该文件！具体错误信息如下：\n") + e.what(), "ZQ 错误信息",
                        Icon::Error, Modality::TaskModal));
    return false;
  }
}

bool Importer::ReadWorkbook(sheet::Instance& sheet) {
  auto& init = session_.init;
  const ParsedHeader header = ParseHeader(sheet.cellText(1, 1));
  // A header longer than the loader handles is refused like a broken one,
  // never cut short.
  if (header.table.empty() || header.too_long) {
    op_.showMessage(Box("请确认您打开的EXCEL文件的表头信息是否正确!", "警告信息", Icon::Error,
                        Modality::TaskModal));
    return false;
  }
  const std::string& table = header.table;

  OpenQuery(init, TableQuery(table));
  if (init.fieldInt(0) < 1) {
    op_.showMessage(Box("\"" + table + "\"不在数据库中,请确认EXCEL表头信息是否正确!",
                        "错误信息-导入失败", Icon::Error, Modality::TaskModal));
    return false;
  }
  import_list_.push_back(table);
  import_list_.push_back(header.key_columns);

  for (const auto& column : header.columns) {
    if (!column.is_sequence) continue;
    try {
      OpenQuery(init, SequenceQuery(column.sequence));
      if (init.fieldText(0).empty()) {
        op_.showMessage(Box("当前数据中不存在\"" + column.sequence +
                                "\"这个序列号!\r请确认打开的EXCEL文件的表头信息是否正确",
                            "错误信息", Icon::Error, Modality::Owned));
        return false;
      }
    } catch (const std::exception&) {
      return false;  // a failed sequence lookup ends the read without a word
    }
  }
  import_list_.push_back(header.column_list);

  try {
    OpenQuery(init, ColumnsQuery(table));
    for (const auto& column : header.columns) {
      bool found = false;
      for (init.first(); !init.eof(); init.next()) {
        if (init.fieldText(0) == column.name) {
          found = true;
          break;
        }
      }
      if (!found) {
        op_.showMessage(Box("\"" + table + "\"表中没有\"" + column.name +
                                "\"这个字段\r请确认你打开的EXCEL文件的表头信息是否正确!",
                            "警告信息", Icon::Error, Modality::TaskModal));
        return false;
      }
    }
  } catch (const std::exception& e) {
    op_.showMessage(Box("打开" + table + "时出现下列错误:\r" + e.what(), "警告信息", Icon::Error,
                        Modality::TaskModal));
    return false;
  }

  // The data type is asked once per cell; the texts are the same every row.
  std::vector<std::string> type_queries;
  for (const auto& column : header.columns)
    type_queries.push_back(column.is_sequence ? std::string() : DataTypeQuery(table, column.name));

  const int row_bound = FindRowBound([&](int row) { return sheet.cellText(row, 1); });
  op_.setProgressMin(0);
  op_.setProgressMax(row_bound);

  for (int row = 4; row < row_bound; ++row) {
    op_.setProgressPosition(row);
    op_.processEvents();

    std::string key_condition, values;
    int sheet_column = 1;
    for (size_t p = 1; p <= header.columns.size(); ++p) {
      const ColumnEntry& column = header.columns[p - 1];
      // Read before the kind is known: a sequence column reads the cell of
      // the next plain column too, and a failing read fails the row.
      const std::string upper = UpperCased(Trimmed(sheet.cellText(row, sheet_column)));
      if (column.is_sequence) {
        values += SequenceValue(column.sequence);
        continue;
      }
      OpenQuery(init, type_queries[p - 1]);
      const bool is_date = UpperCased(init.fieldText(0)) == "DATE";
      if (is_date)
        values += DateValue(upper);
      else
        values += TextValue(Trimmed(sheet.cellText(row, sheet_column)));
      for (size_t k = 0; k < header.keys.size(); ++k)
        if (header.key_positions[k] == static_cast<int>(p))
          key_condition += KeyTerm(header.keys[k], upper, is_date);
      ++sheet_column;
    }

    if (!header.keys.empty()) {
      // "... and " becomes "... " : the last term keeps one blank.
      if (!key_condition.empty()) key_condition.erase(key_condition.size() - 5, 4);
      import_list_.push_back(key_condition);
    } else {
      import_list_.push_back(std::string());
    }
    if (!values.empty()) values.pop_back();
    import_list_.push_back(values);
  }
  return true;
}

void Importer::BT_IMPClick() {
  if (import_list_.empty()) {
    op_.showMessage(
        Box("导入前请先打开要导入的Excel文件!", "错误提示", Icon::Error, Modality::Owned));
    return;
  }
  if (ImportRows()) op_.setImportEnabled(false);
}

bool Importer::ImportRows() {
  last_run_succeeded_ = false;
  auto& connection = session_.myconnection;
  connection.beginTransaction();

  RunEnd end;
  try {
    end = WriteRows();
  } catch (...) {
    // Whatever escapes the run (a failed existence check, say) must not
    // leave half of it committed: the run is all or nothing.
    RollbackQuietly(connection);
    op_.setProgressPosition(0);
    session_.exe.close();
    throw;
  }

  if (end == RunEnd::RolledBack) {
    op_.setProgressPosition(0);
    session_.exe.close();
    return true;
  }

  try {
    connection.commitTransaction();
  } catch (...) {
    // Leave no transaction open behind a failed commit; the error itself
    // goes to the caller's default error report.
    RollbackQuietly(connection);
    throw;
  }
  op_.setProgressPosition(0);
  session_.exe.close();

  if (end == RunEnd::Completed) {
    last_run_succeeded_ = true;
    op_.showMessage(Box("数据已经成功导入到数据库中!", "提示信息", Icon::Information,
                        Modality::OwnerlessModeless));
  }
  return true;
}

Importer::RunEnd Importer::WriteRows() {
  // A copy: should the operator read another workbook while a prompt or box
  // of this run is open, this run still sees the list it started with.
  const std::vector<std::string> list = import_list_;
  if (list.empty()) return RunEnd::Stopped;
  auto& init = session_.init;
  auto& exe = session_.exe;

  // A list cut short by a failed read holds no rows; it runs like an empty one.
  const std::string table = list[0];
  const std::string columns = list.size() > 2 ? list[2] : std::string();
  bool exists = false;
  bool overwrite_all = false;

  const int count = static_cast<int>(list.size());
  op_.setProgressMax(count - 1);
  op_.setProgressMin(0);

  for (int i = 3; i < count; ++i) {
    op_.setProgressPosition(i);
    const std::string& entry = list[i];

    if (i % 2 == 1) {
      if (entry.empty()) {
        exists = false;
      } else {
        OpenQuery(init, ExistsQuery(table, entry));
        exists = init.fieldInt(0) > 0;
      }
      continue;
    }

    const std::string& values = entry;
    const std::string& key_condition = list[i - 1];
    try {
      if (!exists) {
        exe.close();
        exe.setSql(InsertStatement(table, columns, values));
        exe.execute();
        continue;
      }
      if (!overwrite_all) {
        OpenQuery(init, ExistingValuesQuery(table, columns, key_condition));
        std::string existing;
        for (int k = 0; k < init.fieldCount(); ++k) existing += "'" + init.fieldText(k) + "',";
        if (!existing.empty()) existing.pop_back();
        switch (op_.askOverwrite(OverwritePromptText(existing, values))) {
          case OverwriteAnswer::Abort:
            return RunEnd::Stopped;
          case OverwriteAnswer::Ignore:
            continue;
          case OverwriteAnswer::All:
            overwrite_all = true;
            break;
          case OverwriteAnswer::Yes:
          case OverwriteAnswer::Closed:
            break;
        }
      }
      // An update cannot draw new sequence numbers for a row that has them.
      if (UpperCased(values).find("NEXTVAL") != std::string::npos) {
        op_.showMessage(Box("该次导入的表中含有序列号,不能完成更新操作!\r请先手动删除数据库中的记录!",
                            "错误提示", Icon::Error, Modality::Owned));
        return RunEnd::Stopped;
      }
      exe.close();
      exe.setSql(UpdateStatement(table, columns, values, key_condition));
      exe.execute();
    } catch (const std::exception& e) {
      op_.showMessage(Box(std::string("向数据中导入EXCEL数据时出现下列错误:\r") + e.what() +
                              "\r该次导入失败,已经导入的数据将自动删除!",
                          "导入失败", Icon::Error, Modality::OwnerlessModeless));
      op_.showMessage(Box("错误语句的详细信息如下:\r" + exe.sql(), "SQL错误语句", Icon::Error,
                          Modality::OwnerlessModeless));
      session_.myconnection.rollbackTransaction();
      return RunEnd::RolledBack;
    }
  }
  return RunEnd::Completed;
}

}  // namespace xb::import
