#include "import/importer.h"

#include <cctype>

#include <exception>
#include <memory>
#include <vector>

#include "db/dictionary.h"
#include "import/header.h"
#include "sheet/cell_text.h"
#include "import/render.h"
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

// Replaces the query's statement (text and bound form) and opens it.
void OpenQuery(db::Query& query, Rendered statement) {
  query.close();
  query.setStatement(statement.text, statement.marked, std::move(statement.values));
  query.open();
}

// Another session held a lock on the table longer than this run waits.
MessageBox LockedBox(const std::string& table) {
  return Box("表\"" + table + "\"正被另一个会话锁定,等待超时!\r该次导入已经撤销,没有写入任何数据,请稍后再试。",
             "导入失败", Icon::Error, Modality::OwnerlessModeless);
}

bool IsLockTimeout(const std::exception& e) {
  const auto* db_error = dynamic_cast<const db::DbError*>(&e);
  return db_error && db_error->kind() == db::DbError::Kind::LockTimeout;
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
  const std::string cannot_start = "无法连接EXCEL 自动化服务器，\n请确认您的系统已经安装EXCEL 2000 及更高版本。";
  try {
    instance = server_.create();
    if (!instance) throw sheet::SheetError("no spreadsheet instance");
  } catch (const std::exception&) {
    sheet::InstanceGuard quit_on_return(instance.get());
    op_.showMessage(Box(cannot_start, "系统错误", Icon::Error, Modality::TaskModal));
    return false;
  }
  try {
    instance->openWorkbook(*path);
  } catch (const std::exception& e) {
    // The spreadsheet engine runs but the file cannot be opened: the
    // reader's reason (encrypted, not a workbook, truncated...) on a line
    // of its own, so the operator is not sent to install a program.
    sheet::InstanceGuard quit_on_return(instance.get());
    op_.showMessage(Box(cannot_start + "\n" + e.what(), "系统错误", Icon::Error, Modality::TaskModal));
    return false;
  }
  // From here every way out quits the instance.
  sheet::InstanceGuard quit_on_return(instance.get());

  head_.clear();
  rows_ = std::make_shared<std::vector<TypedRow>>();
  list_stale_ = true;
  bool complete = false;
  try {
    complete = ReadWorkbook(*instance);
  } catch (const std::exception& e) {
    op_.showMessage(Box(std::string("无法打开该文件！具体错误信息如下：\n") + e.what(), "ZQ 错误信息",
                        Icon::Error, Modality::TaskModal));
  }
  // The list is partial now: BT_IMP must not import it (nor report success
  // for rows an earlier read left enabled) until a read completes.
  if (!complete) op_.setImportEnabled(false);
  return complete;
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

  // The statements name the table as written, unquoted: a name that only
  // quoting could make (a quote, a blank, a comma...) could be found by the
  // dictionary query and then break the insert, so it counts as missing.
  bool plain = true;
  for (const char c : table) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80 && !std::isalnum(u) && c != '_' && c != '$' && c != '#' && c != '.') plain = false;
  }
  if (plain) OpenQuery(init, TableQuery(table));
  if (!plain || init.fieldInt(0) < 1) {
    op_.showMessage(Box("\"" + table + "\"不在数据库中,请确认EXCEL表头信息是否正确!",
                        "错误信息-导入失败", Icon::Error, Modality::TaskModal));
    return false;
  }
  head_.push_back(table);
  head_.push_back(header.key_columns);

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
  head_.push_back(header.column_list);

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

  // The data type is asked once per cell; the texts are the same every row,
  // and the dictionary of this read answers all but the first from memory.
  db::Dictionary dictionary(init);
  db::Dictionary::Read read(dictionary);
  std::vector<std::string> type_queries;
  for (const auto& column : header.columns)
    type_queries.push_back(column.is_sequence ? std::string() : DataTypeQuery(table, column.name));

  const int row_bound = FindRowBound([&](int row) { return sheet.cellText(row, 1); });
  op_.setProgressMin(0);
  op_.setProgressMax(row_bound);

  // A cell holding an error value (#DIV/0!, #N/A...) has no text on the
  // spreadsheet side: the read fails naming the cell, and nothing is written.
  auto cell_text = [&](int row, int column) {
    std::string text = sheet.cellText(row, column);
    if (sheet.cellIsError(row, column)) throw sheet::SheetError(sheet::CellName(row, column) + ": " + text);
    return text;
  };

  for (int row = 4; row < row_bound; ++row) {
    op_.setProgressPosition(row);
    op_.processEvents();

    TypedRow typed;
    int sheet_column = 1;
    for (size_t p = 1; p <= header.columns.size(); ++p) {
      const ColumnEntry& column = header.columns[p - 1];
      // Read before the kind is known: a sequence column reads the cell of
      // the next plain column too, and a failing read fails the row.
      const std::string upper = UpperCased(Trimmed(cell_text(row, sheet_column)));
      if (column.is_sequence) {
        typed.values.push_back({RowValue::Kind::Sequence, column.sequence});
        continue;
      }
      const std::string data_type = UpperCased(dictionary.ask(type_queries[p - 1]).text());
      const bool is_date = data_type == "DATE";
      if (is_date) {
        typed.values.push_back({RowValue::Kind::Date, upper});
      } else {
        RowValue value{RowValue::Kind::Text, Trimmed(cell_text(row, sheet_column))};
        value.number = data_type == "NUMBER" || data_type == "FLOAT" || data_type == "INTEGER" ||
                       data_type == "BINARY_DOUBLE" || data_type == "BINARY_FLOAT" || data_type == "NUMERIC" ||
                       data_type == "DECIMAL";
        typed.values.push_back(std::move(value));
      }
      for (size_t k = 0; k < header.keys.size(); ++k)
        if (header.key_positions[k] == static_cast<int>(p)) typed.keys.push_back({header.keys[k], upper, is_date});
      ++sheet_column;
    }

    // Without keys the row has no key terms and its condition is empty.
    rows_->push_back(std::move(typed));
  }
  return true;
}

const std::vector<std::string>& Importer::import_list() const {
  if (list_stale_ || list_rows_ != (rows_ ? rows_->size() : 0) || list_head_ != head_.size()) {
    list_ = head_;
    if (rows_ && head_.size() == 3)
      for (const TypedRow& row : *rows_) {
        list_.push_back(KeyConditionText(row));
        list_.push_back(ValuesText(row));
      }
    list_rows_ = rows_ ? rows_->size() : 0;
    list_head_ = head_.size();
    list_stale_ = false;
  }
  return list_;
}

void Importer::BT_IMPClick() {
  if (head_.empty()) {
    op_.showMessage(
        Box("导入前请先打开要导入的Excel文件!", "错误提示", Icon::Error, Modality::Owned));
    return;
  }
  if (ImportRows()) op_.setImportEnabled(false);
}

bool Importer::ImportRows() {
  last_run_succeeded_ = false;
  auto& connection = session_.myconnection;
  try {
    connection.beginTransaction();
  } catch (const db::DbError& e) {
    // On a database with one write lock, beginning is where another
    // program's run is waited for.
    if (e.kind() != db::DbError::Kind::LockTimeout || head_.empty()) throw;
    RollbackQuietly(connection);
    op_.setProgressPosition(0);
    op_.showMessage(LockedBox(head_[0]));
    return true;
  }

  RunEnd end;
  try {
    end = WriteRows();
  } catch (const std::exception& e) {
    RollbackQuietly(connection);
    op_.setProgressPosition(0);
    session_.exe.close();
    if (!IsLockTimeout(e)) throw;
    op_.showMessage(LockedBox(head_.empty() ? std::string() : head_[0]));
    return true;
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
  } catch (const db::DbError& e) {
    // Leave no transaction open behind a failed commit; the error itself
    // goes to the caller's default error report.
    RollbackQuietly(connection);
    if (e.kind() != db::DbError::Kind::CommitUncertain) throw;
    // The connection broke during the commit: nobody here knows whether
    // the server kept the data, and the operator must not take it either way.
    op_.setProgressPosition(0);
    session_.exe.close();
    op_.showMessage(Box(std::string("提交数据时与数据库的连接中断,无法确定数据是否已经保存!\r"
                                    "再次导入前请先检查数据库中的数据。\r具体错误信息如下:\r") +
                            e.what(),
                        "导入结果不确定", Icon::Warning, Modality::OwnerlessModeless));
    return true;
  } catch (...) {
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
  const std::vector<std::string> list = head_;
  const std::shared_ptr<const std::vector<TypedRow>> typed_rows = rows_;
  static const std::vector<TypedRow> kNoRows;
  const std::vector<TypedRow>& rows = typed_rows ? *typed_rows : kNoRows;
  if (list.empty()) return RunEnd::Stopped;
  auto& init = session_.init;
  auto& exe = session_.exe;

  // A list cut short by a failed read holds no rows; it runs like an empty one.
  const std::string table = list[0];
  const std::string columns = list.size() > 2 ? list[2] : std::string();
  bool exists = false;
  bool overwrite_all = false;

  // The entries of the import list: the head, then two per row.
  const int count = static_cast<int>(list.size() + (list.size() == 3 ? 2 * rows.size() : 0));
  op_.setProgressMax(count - 1);
  op_.setProgressMin(0);

  // Two runs into one table at once could both find a key missing and both
  // insert it: the table stays locked against other runs until this one
  // ends.
  if (count > 3) session_.myconnection.lockTable(table);

  for (int i = 3; i < count; ++i) {
    op_.setProgressPosition(i);
    const TypedRow& row = rows[static_cast<size_t>((i - 3) / 2)];

    if (i % 2 == 1) {
      // An empty key condition: the row has no key terms.
      if (row.keys.empty()) {
        exists = false;
      } else {
        OpenQuery(init, RenderExists(table, row));
        exists = init.fieldInt(0) > 0;
      }
      continue;
    }

    const std::string values = ValuesText(row);
    try {
      if (!exists) {
        Rendered insert = RenderInsert(table, columns, row);
        exe.close();
        exe.setStatement(insert.text, insert.marked, std::move(insert.values));
        exe.execute();
        continue;
      }
      if (!overwrite_all) {
        OpenQuery(init, RenderExistingValues(table, columns, row));
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
      Rendered update = RenderUpdate(table, columns, row);
      exe.close();
      exe.setStatement(update.text, update.marked, std::move(update.values));
      exe.execute();
    } catch (const std::exception& e) {
      // Waiting on another session's lock ends the run with a box of its own.
      if (IsLockTimeout(e)) throw;
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
