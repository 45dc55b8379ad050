#include "import/importer.h"

#include <cctype>
#include <cstdint>

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/dictionary.h"
#include "db/oracle/column_types.h"
#include "import/existence.h"
#include "import/header.h"
#include "import/render.h"
#include "import/statements.h"
#include "operator/texts.h"
#include "sheet/cell_text.h"
#include "text/ascii.h"

namespace xb::import {

namespace {

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

  header_ = ReadHeader();
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

  const bool plain = IsPlainTableName(table);
  if (plain) OpenQuery(init, TableQuery(table));
  if (!plain || init.fieldInt(0) < 1) {
    op_.showMessage(Box(texts::NoSuchTable(table), texts::kNoSuchTableCaption, Icon::Error,
                        Modality::TaskModal));
    return false;
  }
  header_.table = table;
  header_.key_columns = header.key_columns;
  header_.parts = 2;

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
  header_.column_list = header.column_list;
  header_.parts = 3;

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
  const std::vector<std::vector<size_t>> keys_at = KeysAtPositions(header);

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
        type.number = db::oracle::IsNumberType(data_type);
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
        key.number = type.number;
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
  if (list_stale_ || list_rows_ != rows_->size() || list_head_ != header_.parts) {
    list_.clear();
    if (header_.parts >= 2) list_ = {header_.table, header_.key_columns};
    if (header_.parts == 3) list_.push_back(header_.column_list);
    if (header_.parts == 3)
      for (size_t r = 0; r < rows_->size(); ++r) {
        const TypedRow row = rows_->at(r);
        list_.push_back(KeyConditionText(row));
        list_.push_back(ValuesText(row));
      }
    list_rows_ = rows_->size();
    list_head_ = header_.parts;
    list_stale_ = false;
  }
  return list_;
}

RunOutcome Importer::Import() {
  if (header_.parts == 0) {
    op_.showMessage(Box(texts::kNothingRead, texts::kErrorHint, Icon::Error, Modality::Owned));
    return RunOutcome::NothingRead;
  }
  return Run();
}

RunOutcome Importer::Run() {
  last_run_succeeded_ = false;
  auto& connection = session_.myconnection;
  std::optional<db::Transaction> transaction;
  try {
    transaction.emplace(connection);
  } catch (const db::DbError& e) {
    // On a database with one write lock, beginning is where another
    // program's run is waited for.
    if (e.kind() != db::DbError::Kind::LockTimeout || header_.parts == 0) throw;
    RollbackQuietly(connection);
    op_.progress().done();
    op_.showMessage(LockedBox(header_.table));
    return RunOutcome::RolledBack;
  }

  RunOutcome end;
  try {
    end = WriteRows();
  } catch (const std::exception& e) {
    // Whatever escapes the run (a failed existence check, say) must not
    // leave half of it committed: the run is all or nothing.
    transaction.reset();
    op_.progress().done();
    session_.exe.close();
    if (!IsLockTimeout(e)) throw;
    op_.showMessage(LockedBox(header_.table));
    return RunOutcome::RolledBack;
  } catch (...) {
    transaction.reset();
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
    transaction->commit();
  } catch (const db::DbError& e) {
    // No transaction stays open behind a failed commit; the error itself
    // goes to the caller's default error report.
    transaction.reset();
    if (e.kind() != db::DbError::Kind::CommitUncertain) throw;
    // The connection broke during the commit: nobody here knows whether
    // the server kept the data, and the operator must not take it either way.
    op_.progress().done();
    session_.exe.close();
    op_.showMessage(Box(texts::CommitUncertain(OperatorReason(e)), texts::kCommitUncertainCaption,
                        Icon::Warning, Modality::OwnerlessModeless));
    return RunOutcome::Uncertain;
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

namespace {

// A key's texts as loosely as any database could compare them: case,
// blanks, a plus sign, leading zeros of a number (or of a date's day and
// month), trailing zeros of its fraction do not count. Two rows of one
// batch whose keys agree this way might be one key to the database.
void AddKeyFingerprint(std::string& out, std::string_view text) {
  const size_t start = out.size();
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c <= 32 || c == '+') continue;
    if (c < '0' || c > '9') {
      out += text::UpperAscii(static_cast<char>(c));
      continue;
    }
    size_t j = i;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    std::string_view digits = text.substr(i, j - i);
    if (out.size() > start && out.back() == '.') {
      while (!digits.empty() && digits.back() == '0') digits.remove_suffix(1);
    } else {
      while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    }
    out += digits;
    i = j - 1;
  }
  // A point with no digits after it: "1." is "1".
  for (size_t i = out.size(); i-- > start;)
    if (out[i] == '.' && (i + 1 == out.size() || out[i + 1] < '0' || out[i + 1] > '9'))
      out.erase(i, 1);
  out += '\x1f';
}

}  // namespace

RunOutcome Importer::WriteRows() {
  // A copy: should the operator read another workbook while a prompt or box
  // of this run is open, this run still sees the read it started with.
  const ReadHeader header = header_;
  const std::shared_ptr<const RowStore> typed_rows = rows_;
  const RowStore& rows = *typed_rows;
  if (header.parts == 0) return RunOutcome::Stopped;
  auto& init = session_.init;
  auto& exe = session_.exe;

  // A read cut short by a failure holds no rows; it runs like an empty one.
  const std::string& table = header.table;
  const std::string& columns = header.column_list;
  const size_t row_count = header.parts == 3 ? rows.size() : 0;
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

  // The entries of the import list: the head, then two per row.
  const int count = static_cast<int>(header.parts + 2 * row_count);
  op_.progress().start(0, count - 1);

  // Two runs into one table at once could both find a key missing and both
  // insert it: the table stays locked against other runs until this one
  // ends.
  if (row_count > 0) session_.myconnection.lockTable(table);

  // The writes decided but not yet sent: row and whether it is an update.
  struct Write {
    size_t row;
    bool update;
  };
  std::vector<Write> pending;
  // The marked texts of the last row shapes (the same for every row of a
  // read, but for a column whose data type changed on the way).
  std::string insert_marked;
  constexpr uint32_t kNoShape = UINT32_MAX;
  uint32_t insert_shape = kNoShape;
  std::vector<std::string> update_marked;  // kept alive while a batch is sent
  std::vector<db::BatchStatement> batch;

  // exe holds the statement of row r, as the row-at-a-time run left it.
  auto hold_in_exe = [&](const Write& w, const db::BatchStatement& statement) {
    exe.close();
    const size_t row = w.row;
    if (w.update)
      exe.setStatement(
          [row, context = run_text] {
            return RenderUpdate(context->table, context->columns, context->rows->at(row)).text;
          },
          *statement.marked, statement.values);
    else
      exe.setStatement(
          [row, context = run_text] {
            return InsertText(context->table, context->columns, context->rows->at(row));
          },
          *statement.marked, statement.values);
  };

  // Sends the pending writes together. A failing row: exe holds its
  // statement, and the failure boxes name it.
  auto flush = [&]() {
    if (pending.empty()) return;
    batch.resize(pending.size());
    update_marked.clear();
    update_marked.reserve(pending.size());
    for (size_t k = 0; k < pending.size(); ++k) {
      const Write& w = pending[k];
      db::BatchStatement& statement = batch[k];
      const size_t row = w.row;
      if (w.update) {
        Rendered update = RenderUpdate(table, columns, rows.at(row));
        update_marked.push_back(std::move(update.marked));
        statement.marked = &update_marked.back();
        statement.values = std::move(update.values);
        statement.text = [text = std::move(update.text)] { return text; };
      } else {
        if (rows.shapeOf(row) != insert_shape) {
          insert_marked = MarkInsert(table, columns, rows.at(row)).marked;
          insert_shape = rows.shapeOf(row);
        }
        statement.marked = &insert_marked;
        rows.insertValues(row, statement.values);
        statement.text = [row, context = run_text] {
          return InsertText(context->table, context->columns, context->rows->at(row));
        };
      }
    }
    try {
      session_.myconnection.runBatch(batch);
    } catch (const db::BatchError& e) {
      hold_in_exe(pending[e.index()], batch[e.index()]);
      // The bar shows the failing row, as it would row by row.
      op_.progress().advance(static_cast<int>(4 + 2 * pending[e.index()].row));
      pending.clear();
      throw;
    }
    hold_in_exe(pending.back(), batch.back());
    pending.clear();
  };

  // The fingerprints of the keys written in this batch (see AddKeyFingerprint).
  std::unordered_set<std::string> written_keys;
  std::vector<db::Value> key_values;
  std::string fingerprint;
  auto fingerprint_of = [&](size_t row) -> const std::string& {
    rows.keyValues(row, key_values);
    fingerprint.clear();
    for (const auto& v : key_values) AddKeyFingerprint(fingerprint, v.text);
    return fingerprint;
  };

  // While a row's own existence check runs: its failure is no failed row.
  bool in_check = false;
  // The failure of the batch's existence check, while its rows go one by one.
  std::optional<db::DbError> batch_failure;
  size_t batch_rows = batch_rows_;
  if (batch_rows == 0) batch_rows = session_.myconnection.engine().inProcess() ? 1 : kBatchRows;
  try {
    for (size_t first = 0; first < row_count; first += batch_rows) {
      const size_t last = std::min(row_count, first + batch_rows);
      // One question for the whole batch. Should it fail, the batch goes
      // row by row: the rows before the failing key are written, and its
      // own check fails as it would have.
      std::optional<std::vector<long long>> counts;
      batch_failure.reset();
      if (batch_rows > 1) {
        try {
          counts = CountExisting(init, table, rows, first, last - first);
        } catch (const db::DbError& e) {
          // Only a refused statement goes row by row: a lost connection or
          // transaction must end the run (a row asked after it would run
          // on a new session, outside the transaction).
          if (e.kind() != db::DbError::Kind::Other || !session_.myconnection.inTransaction()) throw;
          batch_failure = e;
        }
      }
      written_keys.clear();
      for (size_t r = first; r < last; ++r) {
        op_.progress().advance(static_cast<int>(3 + 2 * r));
        bool exists = false;
        if (rows.hasKeys(r)) {
          const std::string& key = fingerprint_of(r);
          if (counts && !written_keys.count(key)) {
            exists = (*counts)[r - first] > 0;
          } else {
            // The batch's answer may be stale (a row of this batch with
            // this key was written since) or there is none: asked alone,
            // after the rows before it are written.
            flush();
            in_check = true;
            init.close();
            init.setStatement(
                [r, context = run_text] {
                  return ExistsText(context->table, context->rows->at(r));
                },
                MarkExists(table, rows.at(r)).marked, key_values.data(), key_values.size());
            init.open();
            exists = init.fieldInt(0) > 0;
            in_check = false;
          }
          written_keys.insert(key);
        }
        op_.progress().advance(static_cast<int>(4 + 2 * r));
        if (!exists) {
          pending.push_back({r, false});
          if (!counts) flush();
          continue;
        }
        const TypedRow row = rows.at(r);
        const std::string values = ValuesText(row);
        if (!overwrite_all) {
          // The rows before a prompt are written first: a failing one ends
          // the run before it, and an Abort keeps them.
          flush();
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
        // The stop is on the letters NEXTVAL anywhere in the row's value
        // text, in any letter case: a sequence column's NAME.nextval, but
        // also a text cell that merely holds the word. That wider test is
        // the rule operators know (such a row is never updated, it must be
        // deleted by hand first); narrowing it to sequence columns would
        // overwrite rows that this stop has always refused.
        if (text::UpperCased(values).find("NEXTVAL") != std::string::npos) {
          flush();
          op_.showMessage(
              Box(texts::kSequenceRowExists, texts::kErrorHint, Icon::Error, Modality::Owned));
          return RunOutcome::Stopped;
        }
        pending.push_back({r, true});
        if (!counts) flush();
      }
      flush();
    }
  } catch (const std::exception& e) {
    // Waiting on another session's lock ends the run with a box of its own;
    // a failed existence check escapes to the default error report.
    if (IsLockTimeout(e)) throw;
    if (in_check) {
      // A server that spoils the transaction at the failed batch check
      // (PostgreSQL) refuses the row's own check for that alone: the batch
      // check's reason is the one to report.
      const auto* refused = dynamic_cast<const db::DbError*>(&e);
      if (batch_failure && refused && refused->sqlState() == "25P02") throw *batch_failure;
      throw;
    }
    op_.showMessage(Box(texts::RowFailed(OperatorReason(e)), texts::kImportFailed, Icon::Error,
                        Modality::OwnerlessModeless));
    op_.showMessage(Box(texts::FailedStatement(exe.sql()), texts::kFailedStatementCaption,
                        Icon::Error, Modality::OwnerlessModeless));
    session_.myconnection.rollbackTransaction();
    return RunOutcome::RolledBack;
  }
  return RunOutcome::Completed;
}

}  // namespace xb::import
