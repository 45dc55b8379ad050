#pragma once
// A scripted operator for the core tests: records every box, prompt and
// progress change, answers from queues set by the test.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/operator.h"
#include "support/temp_dir.h"

namespace xb::test {

class RecordingOperator : public Operator {
 public:
  std::vector<MessageBox> boxes;
  std::vector<std::string> prompts;
  std::vector<int> positions;  // every position set, in order
  int process_events_calls = 0;
  std::vector<std::string> file_paths;

  std::deque<Answer> yes_no_answers;            // default: No
  std::deque<OverwriteAnswer> overwrite_answers;  // default: Yes
  std::optional<std::string> workbook;
  // Runs when a box is shown (e.g. to look at the database meanwhile).
  std::function<void(const MessageBox&)> on_box;
  // Runs after each position change (to act in the middle of a run).
  std::function<void(int)> on_position;

  Answer showMessage(const MessageBox& box) override {
    boxes.push_back(box);
    if (on_box) on_box(box);
    if (box.buttons == Buttons::Ok) return Answer::Ok;
    if (yes_no_answers.empty()) return Answer::No;
    const Answer a = yes_no_answers.front();
    yes_no_answers.pop_front();
    return a;
  }
  OverwriteAnswer askOverwrite(const std::string& text) override {
    prompts.push_back(text);
    if (overwrite_answers.empty()) return OverwriteAnswer::Yes;
    const OverwriteAnswer a = overwrite_answers.front();
    overwrite_answers.pop_front();
    return a;
  }
  std::optional<std::string> chooseWorkbook() override { return workbook; }

  void setProgressMin(int value) override { min_ = value; }
  void setProgressMax(int value) override { max_ = value; }
  void setProgressPosition(int value) override {
    position_ = value;
    positions.push_back(value);
    if (on_position) on_position(value);
  }
  int progressMin() const override { return min_; }
  int progressMax() const override { return max_; }
  int progressPosition() const override { return position_; }
  void processEvents() override { ++process_events_calls; }

  void setFilePath(const std::string& path) override { file_paths.push_back(path); }
  void setImportEnabled(bool enabled) override { import_enabled_ = enabled; }
  bool importEnabled() const override { return import_enabled_; }

 private:
  int min_ = 0, max_ = 100, position_ = 0;
  bool import_enabled_ = false;
};

}  // namespace xb::test
