#pragma once
// Reading a workbook into the import list and writing the import list into
// the database. Each step returns what happened; the caller keeps its own
// controls (whether an import may start, say) from that.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/connection.h"
#include "import/render.h"
#include "operator/operator.h"
#include "sheet/sheet.h"

namespace xb::import {

// How a read ended. NotOpened: no spreadsheet engine or the file would not
// open, and the list read before stands; Failed: the read began and the list
// is partial, so it must not be imported.
enum class ReadOutcome { Succeeded, Failed, NotOpened, Cancelled };
// How an import ended: every row written and committed; stopped early
// (Abort, the sequence stop; committed either way); rolled back after a
// failed row or another session's lock; the commit's fate unknown; or not
// started because nothing was read.
enum class RunOutcome { Completed, Stopped, RolledBack, Uncertain, NothingRead };

// Rows per batch of a run (see Importer::setBatchRows); measured in
// bench/postgres: more gains little and makes each prompt wait longer.
constexpr size_t kBatchRows = 1000;

// What a read gives: the head of the header (as far as the read got) and
// the typed rows. The import list is the operator's view of it.
struct ReadHeader {
  std::string table;        // upper-cased
  std::string key_columns;  // the text between the header's first and second ":"
  std::string column_list;  // the column names joined by ","
  // How many of the three the read reached: 0, 2 (table and keys) or 3.
  size_t parts = 0;
};

class Importer {
 public:
  Importer(db::DbSession& session, sheet::Server& server, Operator& op)
      : session_(session), server_(server), op_(op) {}

  // Runs connection_test first when the connection string is empty or the
  // connection is closed, then LoadWorkbook; on success resets the progress.
  ReadOutcome ReadWorkbook(const std::function<void()>& connection_test);
  // Chooses and reads a workbook; reports every failure itself.
  ReadOutcome LoadWorkbook();
  // After a successful read: asks whether to import now and, on Yes, runs
  // Import. nullopt when the answer was No.
  std::optional<RunOutcome> OfferImport();
  // Refuses an empty list (NothingRead), else runs the import. Exceptions
  // that the run does not handle (a failed existence check, begin or
  // commit) escape to the caller's default error report.
  RunOutcome Import();
  // The run itself, whatever the list holds.
  RunOutcome Run();

  // The import list: table, key columns, column list, then per data row its
  // key condition and value list (Oracle text). Made from the typed rows
  // when asked for.
  const std::vector<std::string>& import_list() const;
  // Skips the running-instance check (the command-line front end).
  void setCheckRunningInstance(bool check) { check_running_ = check; }
  // The last read: its header and its rows (never null).
  const ReadHeader& header() const { return header_; }
  std::shared_ptr<const RowStore> rows() const { return rows_; }
  // Rows per batch of a run: one existence query for them, then their
  // writes sent together. 1 runs row at a time (each row asked, then
  // written, before the next); 0 (the default) lets the engine choose:
  // kBatchRows across a network, row at a time in this process.
  void setBatchRows(size_t rows) { batch_rows_ = rows; }
  // Whether the last run ended with the success box.
  bool lastRunSucceeded() const { return last_run_succeeded_; }

 private:
  // The header checks and the data rows, once the workbook is open.
  bool ReadSheet(sheet::Instance& sheet);
  // The rows of a begun transaction: Completed, Stopped or RolledBack.
  RunOutcome WriteRows();

  db::DbSession& session_;
  sheet::Server& server_;
  Operator& op_;
  // The read: row r is entries 3 + 2r, 4 + 2r of the import list. The rows
  // are shared with a run under way, which keeps the rows it started with.
  ReadHeader header_;
  std::shared_ptr<RowStore> rows_ = std::make_shared<RowStore>();
  size_t batch_rows_ = 0;
  // import_list() as last made.
  mutable std::vector<std::string> list_;
  mutable bool list_stale_ = true;
  mutable size_t list_rows_ = 0, list_head_ = 0;
  bool check_running_ = true;
  bool last_run_succeeded_ = false;
};

}  // namespace xb::import
