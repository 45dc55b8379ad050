#pragma once
// The tests' operator: answers boxes and prompts from queues set by the
// test, records every box, prompt, chosen workbook and progress position,
// and lets a test act at each of them (look at the database meanwhile, cut
// a connection in the middle of a run).

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "operator/operator.h"

namespace xb::test {

class RecordingOperator : public Operator {
 public:
  std::vector<MessageBox> boxes;
  std::vector<std::string> prompts;
  std::vector<int> positions;           // every position set, in order
  std::vector<std::string> file_paths;  // every workbook chosen

  std::deque<Answer> yes_no_answers;              // default: No
  std::deque<OverwriteAnswer> overwrite_answers;  // default: Yes
  std::optional<std::string> workbook;            // nullopt: the choice is cancelled
  // Runs when a box is shown, before it is answered.
  std::function<void(const MessageBox&)> on_box;
  // Runs when the overwrite prompt is shown, before it is answered.
  std::function<void(const std::string&)> on_prompt;
  // Runs after each position change.
  std::function<void(int)> on_position;

  Answer showMessage(const MessageBox& box) override;
  OverwriteAnswer askOverwrite(const std::string& text) override;
  std::optional<std::string> chooseWorkbook() override;
  ProgressSink& progress() override { return progress_; }
  void letPendingMessagesRun() override {}

  int progressMax() const { return progress_.max; }
  int progressPosition() const { return progress_.position; }

 private:
  struct Progress : ProgressSink {
    RecordingOperator& op;
    int min = 0, max = 100, position = 0;
    explicit Progress(RecordingOperator& o) : op(o) {}
    void start(int minimum, int maximum) override;
    void advance(int value) override;
    void step() override;
    void done() override;
  };
  Progress progress_{*this};
};

}  // namespace xb::test
