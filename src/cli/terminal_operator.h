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
#include "operator/operator.h"

namespace xb::cli {

enum class ExistingPolicy { Ask, Yes, Ignore, All, Abort };

// "caption: text" with every CR, LF or CR LF of the text as a newline, then
// an empty line.
std::string FormatBox(const std::string& caption, const std::string& text);

class TerminalOperator : public Operator, private ProgressSink {
 public:
  // With progress_on_terminal, the runs' progress is drawn on err (which
  // must then be a terminal).
  TerminalOperator(std::ostream& err, std::ostream& prompt_out, std::istream& prompt_in,
                   bool progress_on_terminal = false,
                   ProgressLine::Clock clock = std::chrono::steady_clock::now)
      : err_(err),
        prompt_out_(prompt_out),
        prompt_in_(prompt_in),
        progress_(err, progress_on_terminal, std::move(clock)) {}

  void setWorkbook(std::string path) { workbook_ = std::move(path); }
  void setExistingPolicy(ExistingPolicy policy) { policy_ = policy; }

  // Yes/No boxes (the question after a successful read) are answered Yes.
  Answer showMessage(const MessageBox& box) override;
  OverwriteAnswer askOverwrite(const std::string& text) override;
  std::optional<std::string> chooseWorkbook() override { return workbook_; }
  ProgressSink& progress() override { return *this; }
  void letPendingMessagesRun() override {}

  // For the export, which never sets a range: every record counts, with no
  // total and no maximum to stop at.
  void countRecords();

 private:
  void start(int minimum, int maximum) override;
  void advance(int position) override;
  void step() override {
    if (position_ < max_) advance(position_ + 1);
  }
  void done() override { advance(0); }

  std::ostream& err_;
  std::ostream& prompt_out_;
  std::istream& prompt_in_;
  std::optional<std::string> workbook_;
  ExistingPolicy policy_ = ExistingPolicy::Abort;
  int min_ = 0, max_ = 100, position_ = 0;
  ProgressLine progress_;
  int first_position_ = -1;  // the first position after a range was set
  bool counting_records_ = false;
};

}  // namespace xb::cli
