#pragma once
// The operator on a terminal: boxes go to stderr as blocks, the overwrite
// prompt is answered by policy or asked on the terminal, the workbook is the
// one named on the command line.

#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "cli/progress_line.h"
#include "db/operator.h"

namespace xb::cli {

enum class ExistingPolicy { Ask, Yes, Ignore, All, Abort };

// "caption: text" with every CR, LF or CR LF of the text as a newline, then
// an empty line.
std::string FormatBox(const std::string& caption, const std::string& text);

class TerminalOperator : public Operator {
 public:
  // With progress_on_terminal, the runs' progress is drawn on err (which
  // must then be a terminal).
  TerminalOperator(std::ostream& err, std::ostream& prompt_out, std::istream& prompt_in,
                   bool progress_on_terminal = false,
                   ProgressLine::Clock clock = std::chrono::steady_clock::now)
      : err_(err), prompt_out_(prompt_out), prompt_in_(prompt_in), progress_(err, progress_on_terminal, std::move(clock)) {}

  void setWorkbook(std::string path) { workbook_ = std::move(path); }
  void setExistingPolicy(ExistingPolicy policy) { policy_ = policy; }
  // The answer to Yes/No boxes (the question after a successful read).
  void setYesNoAnswer(Answer answer) { yes_no_answer_ = answer; }

  Answer showMessage(const MessageBox& box) override;
  OverwriteAnswer askOverwrite(const std::string& text) override;
  std::optional<std::string> chooseWorkbook() override { return workbook_; }

  void setProgressMin(int value) override;
  void setProgressMax(int value) override;
  void setProgressPosition(int value) override;
  // For the export, which never sets a range: every record counts, with no
  // total and no maximum to stop at.
  void countRecords();
  int progressMin() const override { return min_; }
  int progressMax() const override { return max_; }
  int progressPosition() const override { return position_; }
  void processEvents() override {}

  void setFilePath(const std::string&) override {}
  void setImportEnabled(bool enabled) override { import_enabled_ = enabled; }
  bool importEnabled() const override { return import_enabled_; }

 private:
  std::ostream& err_;
  std::ostream& prompt_out_;
  std::istream& prompt_in_;
  std::optional<std::string> workbook_;
  ExistingPolicy policy_ = ExistingPolicy::Abort;
  Answer yes_no_answer_ = Answer::Yes;
  int min_ = 0, max_ = 100, position_ = 0;
  ProgressLine progress_;
  int first_position_ = -1;  // the first position after a range was set
  bool counting_records_ = false;
  bool import_enabled_ = false;
};

}  // namespace xb::cli
