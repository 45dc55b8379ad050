#pragma once
// Wraps a spreadsheet server: counts instances and quits, and can make a
// chosen call fail, to follow every way out of the import and the export.

#include <functional>
#include <memory>
#include <string>

#include "sheet/sheet.h"

namespace xb::test {

struct SheetCounts {
  int created = 0;
  int quits = 0;
  int shown = 0;  // setVisible(true) calls
};

class CountingInstance : public sheet::Instance {
 public:
  CountingInstance(std::unique_ptr<sheet::Instance> inner, SheetCounts& counts,
                   std::function<void(int, int)> fail_cell)
      : inner_(std::move(inner)), counts_(counts), fail_cell_(std::move(fail_cell)) {}
  void setVisible(bool visible) override {
    if (visible) ++counts_.shown;
    if (inner_) inner_->setVisible(visible);
  }
  void openWorkbook(const std::string& path) override {
    if (inner_) inner_->openWorkbook(path);
  }
  void addWorkbook() override {
    if (inner_) inner_->addWorkbook();
  }
  std::string cellText(int row, int column) override {
    if (fail_cell_) fail_cell_(row, column);
    return inner_ ? inner_->cellText(row, column) : std::string();
  }
  bool cellIsError(int row, int column) override {
    return inner_ && inner_->cellIsError(row, column);
  }
  void setCell(int row, int column, const std::string& text) override {
    if (fail_cell_) fail_cell_(row, column);
    if (inner_) inner_->setCell(row, column, text);
  }
  void quit() noexcept override {
    ++counts_.quits;
    if (inner_) inner_->quit();
  }

 private:
  std::unique_ptr<sheet::Instance> inner_;
  SheetCounts& counts_;
  std::function<void(int, int)> fail_cell_;
};

class CountingServer : public sheet::Server {
 public:
  // inner may be null: then every instance is an empty sheet that takes anything.
  explicit CountingServer(sheet::Server* inner) : inner_(inner) {}
  SheetCounts counts;
  bool running = false;
  // Throws SheetError for the chosen cell (read or written).
  std::function<void(int row, int column)> fail_cell;

  bool isRunning() override { return running; }
  std::unique_ptr<sheet::Instance> create() override {
    ++counts.created;
    return std::make_unique<CountingInstance>(inner_ ? inner_->create() : nullptr, counts,
                                              fail_cell);
  }

 private:
  sheet::Server* inner_;
};

}  // namespace xb::test
