#pragma once
// A scripted operator for the core tests: records every box, prompt and
// progress change, answers from queues set by the test.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "operator/operator.h"
#include "support/temp_dir.h"

namespace xb::test {

class RecordingOperator : public Operator {
 public:
  std::vector<MessageBox> boxes;
  std::vector<std::string> prompts;
  std::vector<int> positions;  // every position set, in order
  int process_events_calls = 0;
  std::vector<std::string> file_paths;  // every workbook chosen

  std::deque<Answer> yes_no_answers;              // default: No
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
  std::optional<std::string> chooseWorkbook() override {
    if (workbook) file_paths.push_back(*workbook);
    return workbook;
  }

  ProgressSink& progress() override { return progress_; }
  void letPendingMessagesRun() override { ++process_events_calls; }

  int progressMax() const { return progress_.max; }
  int progressPosition() const { return progress_.position; }

 private:
  struct Progress : ProgressSink {
    RecordingOperator& op;
    int min = 0, max = 100, position = 0;
    explicit Progress(RecordingOperator& o) : op(o) {}
    void start(int minimum, int maximum) override {
      min = minimum;
      max = maximum;
    }
    void advance(int value) override {
      position = value;
      op.positions.push_back(value);
      if (op.on_position) op.on_position(value);
    }
    void step() override {
      if (position < max) advance(position + 1);
    }
    void done() override { advance(0); }
  };
  Progress progress_{*this};
};

}  // namespace xb::test
