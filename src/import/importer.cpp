#include "import/importer.h"

#include <cctype>
#include <cstdint>

#include <exception>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "db/dictionary.h"
#include "import/header.h"
#include "import/render.h"
#include "import/statements.h"
#include "operator/texts.h"
#include "sheet/cell_text.h"
#include "text/ascii.h"

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
  return Box(texts::TableLocked(table), texts::kImportFailed, Icon::Error,
             Modality::OwnerlessModeless);
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

ReadOutcome Importer::ReadWorkbook(const std::function<void()>& connection_test) {
  auto& connection = session_.myconnection;
  if (connection.connectionString().empty() || !connection.isOpen()) connection_test();
  const ReadOutcome outcome = LoadWorkbook();
  if (outcome == ReadOutcome::Succeeded) op_.progress().done();
  return outcome;
}

std::optional<RunOutcome> Importer::OfferImport() {
  MessageBox question =
      Box(texts::kImportNow, texts::kConfirmation, Icon::Information, Modality::Owned);
  question.buttons = Buttons::YesNo;
  if (op_.showMessage(question) != Answer::Yes) return std::nullopt;
  return Import();
}

ReadOutcome Importer::LoadWorkbook() {
  if (check_running_ && server_.isRunning()) {
    op_.showMessage(Box(texts::kSpreadsheetRunning, texts::kSpreadsheetRunningCaption,
                        Icon::Information, Modality::TaskModal));
  }

  const std::optional<std::string> path = op_.chooseWorkbook();
  if (!path) return ReadOutcome::Cancelled;

  std::unique_ptr<sheet::Instance> instance;
  const std::string cannot_start = texts::kCannotStartSpreadsheet;
  try {
    instance = server_.create();
    if (!instance) throw sheet::SheetError("no spreadsheet instance");
  } catch (const std::exception&) {
    sheet::InstanceGuard quit_on_return(instance.get());
    op_.showMessage(Box(cannot_start, texts::kSystemError, Icon::Error, Modality::TaskModal));
    return ReadOutcome::NotOpened;
  }
  try {
    instance->openWorkbook(*path);
  } catch (const std::exception& e) {
    // The spreadsheet engine runs but the file cannot be opened: the
    // reader's reason (encrypted, not a workbook, truncated...) on a line
    // of its own, so the operator is not sent to install a program.
    sheet::InstanceGuard quit_on_return(instance.get());
    op_.showMessage(Box(cannot_start + "\n" + OperatorReason(e), texts::kSystemError, Icon::Error,
                        Modality::TaskModal));
    return ReadOutcome::NotOpened;
  }
  // From here every way out quits the instance.
  sheet::InstanceGuard quit_on_return(instance.get());

  head_.clear();
  rows_ = std::make_shared<RowStore>();
  list_stale_ = true;
  bool complete = false;
  try {
    complete = ReadSheet(*instance);
  } catch (const std::exception& e) {
    // A connection that could not be opened (a mistyped data source, a
    // server away) is no fault of the file: the box says what failed.
    const bool connection_failed =
        dynamic_cast<const db::DbError*>(&e) && !session_.myconnection.isOpen();
    op_.showMessage(Box(connection_failed ? texts::ConnectionFailed(OperatorReason(e))
                                          : texts::ReadFailed(OperatorReason(e)),
                        texts::kReadFailedCaption, Icon::Error, Modality::TaskModal));
  }
  // Otherwise the list is partial now: it must not be imported (nor success
  // reported for rows an earlier read left) until a read completes.
  return complete ? ReadOutcome::Succeeded : ReadOutcome::Failed;
}

bool Importer::ReadSheet(sheet::Instance& sheet) {
  auto& init = session_.init;
  const ParsedHeader header = ParseHeader(sheet.cellText(1, 1));
  // A header longer than the loader handles is refused like a broken one,
  // never cut short.
  if (header.table.empty() || header.too_long) {
    op_.showMessage(Box(texts::kBadHeader, texts::kWarning, Icon::Error, Modality::TaskModal));
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
    op_.showMessage(Box(texts::NoSuchTable(table), texts::kNoSuchTableCaption, Icon::Error,
                        Modality::TaskModal));
    return false;
  }
  head_.push_back(table);
  head_.push_back(header.key_columns);

  for (const auto& column : header.columns) {
    if (!column.is_sequence) continue;
    try {
      OpenQuery(init, SequenceQuery(column.sequence));
      if (init.fieldText(0).empty()) {
        op_.showMessage(Box(texts::NoSuchSequence(column.sequence), texts::kError, Icon::Error,
                            Modality::Owned));
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
        op_.showMessage(Box(texts::NoSuchColumn(table, column.name), texts::kWarning, Icon::Error,
                            Modality::TaskModal));
        return false;
      }
    }
  } catch (const std::exception& e) {
    op_.showMessage(Box(texts::TableOpenFailed(table, OperatorReason(e)), texts::kWarning,
                        Icon::Error, Modality::TaskModal));
    return false;
  }

  // The data type is asked once per cell; the texts are the same every row,
  // and the dictionary of this read answers all but the first from memory.
  db::Dictionary dictionary(init);
  db::Dictionary::Read read(dictionary);
  std::vector<std::string> type_queries;
  for (const auto& column : header.columns)
    type_queries.push_back(column.is_sequence ? std::string() : DataTypeQuery(table, column.name));

  // What each column's data type makes of its cells, worked out again only
  // when the dictionary's answer changes.
  struct ColumnType {
    bool known = false;
    std::string answer;
    bool is_date = false;
    bool number = false;
  };
  std::vector<ColumnType> column_types(header.columns.size());
  std::vector<db::Dictionary::Slot> type_slots(header.columns.size());
  // The key terms each column position gives, in the header's key order.
  std::vector<std::vector<size_t>> keys_at(header.columns.size() + 1);
  for (size_t k = 0; k < header.keys.size(); ++k) {
    const int at = header.key_positions[k];
    if (at >= 1 && static_cast<size_t>(at) <= header.columns.size())
      keys_at[static_cast<size_t>(at)].push_back(k);
  }

  const int row_bound = FindRowBound([&](int row) { return sheet.cellText(row, 1); });
  op_.progress().start(0, row_bound);

  // A cell holding an error value (#DIV/0!, #N/A...) has no text on the
  // spreadsheet side: the read fails naming the cell, and nothing is written.
  auto cell_text = [&](int row, int column) {
    std::string text = sheet.cellText(row, column);
    if (sheet.cellIsError(row, column))
      throw sheet::SheetError(Reason::CellError, sheet::CellName(row, column) + ": " + text,
                              sheet::CellName(row, column), 0, text);
    return text;
  };

  if (row_bound > 4)
    rows_->reserve(static_cast<size_t>(row_bound - 4), header.columns.size() + header.keys.size());
  // One row's typed values, their space used again for the next row.
  TypedRow typed;
  std::string upper;
  for (int row = 4; row < row_bound; ++row) {
    op_.progress().advance(row);
    op_.letPendingMessagesRun();

    size_t value_count = 0, key_count = 0;
    auto next_value = [&](RowValue::Kind kind, std::string_view text, bool number) {
      if (value_count == typed.values.size()) typed.values.emplace_back();
      RowValue& value = typed.values[value_count++];
      value.kind = kind;
      value.text.assign(text);
      value.number = number;
    };
    int sheet_column = 1;
    for (size_t p = 1; p <= header.columns.size(); ++p) {
      const ColumnEntry& column = header.columns[p - 1];
      // Read before the kind is known: a sequence column reads the cell of
      // the next plain column too, and a failing read fails the row.
      const std::string cell = cell_text(row, sheet_column);
      const std::string_view trimmed = text::Trimmed(cell);
      if (column.is_sequence) {
        next_value(RowValue::Kind::Sequence, column.sequence, false);
        continue;
      }
      const db::Dictionary::Answer& answer = dictionary.ask(type_queries[p - 1], type_slots[p - 1]);
      std::string_view answer_text;
      if (!answer.rows.empty() && !answer.rows[0].empty() && answer.rows[0][0])
        answer_text = *answer.rows[0][0];
      ColumnType& type = column_types[p - 1];
      if (!type.known || type.answer != answer_text) {
        type.known = true;
        type.answer.assign(answer_text);
        const std::string data_type = text::UpperCased(type.answer);
        type.is_date = data_type == "DATE";
        type.number = data_type == "NUMBER" || data_type == "FLOAT" || data_type == "INTEGER" ||
                      data_type == "BINARY_DOUBLE" || data_type == "BINARY_FLOAT" ||
                      data_type == "NUMERIC" || data_type == "DECIMAL";
      }
      const bool is_date = type.is_date;
      const std::vector<size_t>& keys = keys_at[p];
      // Dates and key terms take the cell upper-cased; other values as trimmed.
      if (is_date || !keys.empty()) text::AssignUpperCased(upper, trimmed);
      for (const size_t k : keys) {
        if (key_count == typed.keys.size()) typed.keys.emplace_back();
        KeyValue& key = typed.keys[key_count++];
        key.key.assign(header.keys[k]);
        key.text.assign(upper);
        key.is_date = is_date;
      }
      if (is_date)
        next_value(RowValue::Kind::Date, upper, false);
      else
        next_value(RowValue::Kind::Text, trimmed, type.number);
      ++sheet_column;
    }
    typed.values.resize(value_count);
    typed.keys.resize(key_count);

    // Without keys the row has no key terms and its condition is empty.
    rows_->add(typed);
  }
  return true;
}

const std::vector<std::string>& Importer::import_list() const {
  if (list_stale_ || list_rows_ != (rows_ ? rows_->size() : 0) || list_head_ != head_.size()) {
    list_ = head_;
    if (rows_ && head_.size() == 3)
      for (size_t r = 0; r < rows_->size(); ++r) {
        const TypedRow row = rows_->at(r);
        list_.push_back(KeyConditionText(row));
        list_.push_back(ValuesText(row));
      }
    list_rows_ = rows_ ? rows_->size() : 0;
    list_head_ = head_.size();
    list_stale_ = false;
  }
  return list_;
}

RunOutcome Importer::Import() {
  if (head_.empty()) {
    op_.showMessage(Box(texts::kNothingRead, texts::kErrorHint, Icon::Error, Modality::Owned));
    return RunOutcome::NothingRead;
  }
  return Run();
}

RunOutcome Importer::Run() {
  last_run_succeeded_ = false;
  auto& connection = session_.myconnection;
  try {
    connection.beginTransaction();
  } catch (const db::DbError& e) {
    // On a database with one write lock, beginning is where another
    // program's run is waited for.
    if (e.kind() != db::DbError::Kind::LockTimeout || head_.empty()) throw;
    RollbackQuietly(connection);
    op_.progress().done();
    op_.showMessage(LockedBox(head_[0]));
    return RunOutcome::RolledBack;
  }

  RunOutcome end;
  try {
    end = WriteRows();
  } catch (const std::exception& e) {
    RollbackQuietly(connection);
    op_.progress().done();
    session_.exe.close();
    if (!IsLockTimeout(e)) throw;
    op_.showMessage(LockedBox(head_.empty() ? std::string() : head_[0]));
    return RunOutcome::RolledBack;
  } catch (...) {
    // Whatever escapes the run (a failed existence check, say) must not
    // leave half of it committed: the run is all or nothing.
    RollbackQuietly(connection);
    op_.progress().done();
    session_.exe.close();
    throw;
  }

  if (end == RunOutcome::RolledBack) {
    op_.progress().done();
    session_.exe.close();
    return end;
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
    op_.progress().done();
    session_.exe.close();
    op_.showMessage(Box(texts::CommitUncertain(OperatorReason(e)), texts::kCommitUncertainCaption,
                        Icon::Warning, Modality::OwnerlessModeless));
    return RunOutcome::Uncertain;
  } catch (...) {
    RollbackQuietly(connection);
    throw;
  }
  op_.progress().done();
  session_.exe.close();

  if (end == RunOutcome::Completed) {
    last_run_succeeded_ = true;
    op_.showMessage(
        Box(texts::kImported, texts::kInformation, Icon::Information, Modality::OwnerlessModeless));
  }
  return end;
}

RunOutcome Importer::WriteRows() {
  // A copy: should the operator read another workbook while a prompt or box
  // of this run is open, this run still sees the list it started with.
  const std::vector<std::string> list = head_;
  const std::shared_ptr<const RowStore> typed_rows = rows_;
  static const RowStore kNoRows;
  const RowStore& rows = typed_rows ? *typed_rows : kNoRows;
  if (list.empty()) return RunOutcome::Stopped;
  auto& init = session_.init;
  auto& exe = session_.exe;

  // A list cut short by a failed read holds no rows; it runs like an empty one.
  const std::string& table = list[0];
  const std::string columns = list.size() > 2 ? list[2] : std::string();
  bool exists = false;
  bool overwrite_all = false;
  // The rows' Oracle texts are made from the typed rows only when shown or
  // logged: what they need is kept with them while the run lasts.
  struct RunText {
    std::shared_ptr<const RowStore> rows;
    std::string table, columns;
  };
  const auto run_text = std::make_shared<const RunText>(RunText{typed_rows, table, columns});
  // When the run ends the last statements' texts are made, so that they
  // keep one row each, not the read's rows, should they be shown later.
  struct MakeLastTexts {
    db::Query& init;
    db::Query& exe;
    ~MakeLastTexts() {
      try {
        init.sql();
        exe.sql();
      } catch (...) {
      }
    }
  } make_last_texts{init, exe};
  // The marked texts of the last row shapes (the same for every row of a
  // read, but for a column whose data type changed on the way).
  std::string exists_marked, insert_marked;
  constexpr uint32_t kNoShape = UINT32_MAX;
  uint32_t exists_shape = kNoShape, insert_shape = kNoShape;
  // The values bound for the row at hand, their space kept from row to row.
  std::vector<db::Value> key_values, insert_values;

  // The entries of the import list: the head, then two per row.
  const int count = static_cast<int>(list.size() + (list.size() == 3 ? 2 * rows.size() : 0));
  op_.progress().start(0, count - 1);

  // Two runs into one table at once could both find a key missing and both
  // insert it: the table stays locked against other runs until this one
  // ends.
  if (count > 3) session_.myconnection.lockTable(table);

  for (int i = 3; i < count; ++i) {
    op_.progress().advance(i);
    const size_t index = static_cast<size_t>((i - 3) / 2);
    const uint32_t shape = rows.shapeOf(index);

    if (i % 2 == 1) {
      // An empty key condition: the row has no key terms.
      if (!rows.hasKeys(index)) {
        exists = false;
      } else {
        if (shape != exists_shape) {
          exists_marked = MarkExists(table, rows.at(index)).marked;
          exists_shape = shape;
        }
        rows.keyValues(index, key_values);
        init.close();
        init.setStatement(
            [index, context = run_text] {
              return ExistsText(context->table, context->rows->at(index));
            },
            exists_marked, key_values.data(), key_values.size());
        init.open();
        exists = init.fieldInt(0) > 0;
      }
      continue;
    }

    try {
      if (!exists) {
        if (shape != insert_shape) {
          insert_marked = MarkInsert(table, columns, rows.at(index)).marked;
          insert_shape = shape;
        }
        rows.insertValues(index, insert_values);
        exe.close();
        exe.setStatement(
            [index, context = run_text] {
              return InsertText(context->table, context->columns, context->rows->at(index));
            },
            insert_marked, insert_values.data(), insert_values.size());
        exe.execute();
        continue;
      }
      const TypedRow row = rows.at(index);
      const std::string values = ValuesText(row);
      if (!overwrite_all) {
        OpenQuery(init, RenderExistingValues(table, columns, row));
        std::string existing;
        for (int k = 0; k < init.fieldCount(); ++k) existing += "'" + init.fieldText(k) + "',";
        if (!existing.empty()) existing.pop_back();
        switch (op_.askOverwrite(OverwritePromptText(existing, values))) {
          case OverwriteAnswer::Abort: return RunOutcome::Stopped;
          case OverwriteAnswer::Ignore: continue;
          case OverwriteAnswer::All: overwrite_all = true; break;
          case OverwriteAnswer::Yes:
          case OverwriteAnswer::Closed: break;
        }
      }
      // An update cannot draw new sequence numbers for a row that has them.
      if (text::UpperCased(values).find("NEXTVAL") != std::string::npos) {
        op_.showMessage(
            Box(texts::kSequenceRowExists, texts::kErrorHint, Icon::Error, Modality::Owned));
        return RunOutcome::Stopped;
      }
      Rendered update = RenderUpdate(table, columns, row);
      exe.close();
      exe.setStatement(update.text, update.marked, std::move(update.values));
      exe.execute();
    } catch (const std::exception& e) {
      // Waiting on another session's lock ends the run with a box of its own.
      if (IsLockTimeout(e)) throw;
      op_.showMessage(Box(texts::RowFailed(OperatorReason(e)), texts::kImportFailed, Icon::Error,
                          Modality::OwnerlessModeless));
      op_.showMessage(Box(texts::FailedStatement(exe.sql()), texts::kFailedStatementCaption,
                          Icon::Error, Modality::OwnerlessModeless));
      session_.myconnection.rollbackTransaction();
      return RunOutcome::RolledBack;
    }
  }
  return RunOutcome::Completed;
}

}  // namespace xb::import
