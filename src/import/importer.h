#pragma once
// Reading a workbook into the import list (bt_open) and writing the import
// list into the database (BT_IMP).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/operator.h"
#include "import/render.h"
#include "sheet/sheet.h"

namespace xb::import {

class Importer {
 public:
  Importer(db::DbSession& session, sheet::Server& server, Operator& op)
      : session_(session), server_(server), op_(op) {}

  // bt_openClick: runs connection_test first when the connection string is
  // empty or the connection is closed, then LoadWorkbook, then on success
  // enables BT_IMP, resets the bar and asks whether to import now.
  void bt_openClick(const std::function<void()>& connection_test);
  // Reads the chosen workbook; reports every failure itself.
  bool LoadWorkbook();
  // BT_IMPClick: refuses an empty list, else ImportRows and disables BT_IMP.
  // Exceptions that the run does not handle (a failed existence check, begin
  // or commit) escape to the caller's default error report.
  void BT_IMPClick();
  bool ImportRows();

  // The import list: table, key columns, column list, then per data row its
  // key condition and value list (Oracle text). Made from the typed rows
  // when asked for.
  const std::vector<std::string>& import_list() const;
  // Skips the running-instance check (the command-line front end).
  void setCheckRunningInstance(bool check) { check_running_ = check; }
  // Whether the last run ended with the success box.
  bool lastRunSucceeded() const { return last_run_succeeded_; }

 private:
  // How a run ended: normally, stopped early (Abort, the sequence stop, an
  // empty list; committed either way), or rolled back after a failed row.
  enum class RunEnd { Completed, Stopped, RolledBack };
  // The header checks and the data rows, once the workbook is open.
  bool ReadWorkbook(sheet::Instance& sheet);
  RunEnd WriteRows();

  db::DbSession& session_;
  sheet::Server& server_;
  Operator& op_;
  // The head of the import list (table, key columns, column list) and its
  // data rows, typed: row r is entries 3 + 2r, 4 + 2r. The rows are shared
  // with a run under way, which keeps the rows it started with.
  std::vector<std::string> head_;
  std::shared_ptr<std::vector<TypedRow>> rows_;
  // import_list() as last made.
  mutable std::vector<std::string> list_;
  mutable bool list_stale_ = true;
  mutable size_t list_rows_ = 0, list_head_ = 0;
  bool check_running_ = true;
  bool last_run_succeeded_ = false;
};

}  // namespace xb::import
