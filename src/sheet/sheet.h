#pragma once
// The spreadsheet interface the import and export use: an instance that can
// open a workbook (its active sheet) or add a new one, read a cell as text,
// write a cell, be shown, and quit. Every failure is a SheetError carrying a
// message text that the callers embed in their boxes.

#include <memory>
#include <stdexcept>
#include <string>

#include "reason/reason.h"

namespace xb::sheet {

class SheetError : public std::runtime_error, public Reasoned {
 public:
  using std::runtime_error::runtime_error;
  // The message is the program's own, told the operator by its code.
  SheetError(Reason reason, const std::string& message, std::string subject = {}, long code = 0,
             std::string detail = {})
      : std::runtime_error(message) {
    setReason(reason, std::move(subject), code, std::move(detail));
  }
};

class Instance {
 public:
  virtual ~Instance() = default;
  virtual void setVisible(bool visible) = 0;
  // Then cellText addresses the workbook's active sheet.
  virtual void openWorkbook(const std::string& path) = 0;
  // Then setCell addresses the new workbook's active sheet.
  virtual void addWorkbook() = 0;
  // Rows and columns from 1; "" for an empty cell or one past the used range.
  virtual std::string cellText(int row, int column) = 0;
  // True when the cell holds an error value (#DIV/0!, #N/A...), which
  // cellText spells as its text; the cell's name for a message: CellName
  // in sheet/grid.h.
  virtual bool cellIsError(int row, int column) {
    (void)row;
    (void)column;
    return false;
  }
  virtual void setCell(int row, int column, const std::string& text) = 0;
  // Ends the instance; an unsaved new workbook is discarded. Never throws.
  virtual void quit() noexcept = 0;
};

class Server {
 public:
  virtual ~Server() = default;
  // True when a desktop spreadsheet application already runs for this user.
  virtual bool isRunning() = 0;
  // A new instance of our own, hidden.
  virtual std::unique_ptr<Instance> create() = 0;
};

// Quits the instance on every way out of a scope unless released.
class InstanceGuard {
 public:
  explicit InstanceGuard(Instance* instance) : instance_(instance) {}
  ~InstanceGuard() {
    if (instance_) instance_->quit();
  }
  void release() { instance_ = nullptr; }
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

 private:
  Instance* instance_;
};

}  // namespace xb::sheet
