#include "support/recording_operator.h"

namespace xb::test {

namespace {

template <typename T>
T Next(std::deque<T>& answers, T otherwise) {
  if (answers.empty()) return otherwise;
  const T answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace

Answer RecordingOperator::showMessage(const MessageBox& box) {
  boxes.push_back(box);
  if (on_box) on_box(box);
  if (box.buttons == Buttons::Ok) return Answer::Ok;
  return Next(yes_no_answers, Answer::No);
}

OverwriteAnswer RecordingOperator::askOverwrite(const std::string& text) {
  prompts.push_back(text);
  if (on_prompt) on_prompt(text);
  return Next(overwrite_answers, OverwriteAnswer::Yes);
}

std::optional<std::string> RecordingOperator::chooseWorkbook() {
  if (workbook) file_paths.push_back(*workbook);
  return workbook;
}

void RecordingOperator::Progress::start(int minimum, int maximum) {
  min = minimum;
  max = maximum;
}

void RecordingOperator::Progress::advance(int value) {
  position = value;
  op.positions.push_back(value);
  if (op.on_position) op.on_position(value);
}

void RecordingOperator::Progress::step() {
  if (position < max) advance(position + 1);
}

void RecordingOperator::Progress::done() { advance(0); }

}  // namespace xb::test
