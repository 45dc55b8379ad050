#include "cli/terminal_operator.h"

#include <limits>

#include "operator/texts.h"
#include "text/ascii.h"

namespace xb::cli {

std::string FormatBox(const std::string& caption, const std::string& text) {
  return caption + ": " + text::WithLineBreaks(text, "\n") + "\n\n";
}

Answer TerminalOperator::showMessage(const MessageBox& box) {
  progress_.erase();
  err_ << FormatBox(box.caption, box.text) << std::flush;
  return box.buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

OverwriteAnswer TerminalOperator::askOverwrite(const std::string& text) {
  progress_.erase();
  // An answer given on the command line still shows the prompt it settled,
  // and which answer it gave, so that a stopped run says why.
  auto settled = [&](OverwriteAnswer answer, const char* name) {
    std::string shown = FormatBox(texts::kOverwriteCaption, text);
    shown.resize(shown.size() - 1);
    err_ << shown << "\u2192 " << name << "\n\n" << std::flush;
    return answer;
  };
  switch (policy_) {
    case ExistingPolicy::Yes: return settled(OverwriteAnswer::Yes, "Yes");
    case ExistingPolicy::Ignore: return settled(OverwriteAnswer::Ignore, "Ignore");
    case ExistingPolicy::All: return settled(OverwriteAnswer::All, "All");
    case ExistingPolicy::Abort: return settled(OverwriteAnswer::Abort, "Abort");
    case ExistingPolicy::Ask: break;
  }
  std::string shown = FormatBox(texts::kOverwriteCaption, text);
  shown.resize(shown.size() - 1);  // one newline before the choices
  prompt_out_ << shown;
  for (;;) {
    prompt_out_ << texts::kOverwriteChoices << std::flush;
    std::string line;
    if (!std::getline(prompt_in_, line))
      return OverwriteAnswer::Abort;  // end of input: nothing overwritten unasked
    std::string word;
    for (const char c : line)
      if (!text::IsBlank(c)) word += text::LowerAscii(c);
    if (word == "y" || word == "yes") return OverwriteAnswer::Yes;
    if (word == "a" || word == "abort") return OverwriteAnswer::Abort;
    if (word == "i" || word == "ignore") return OverwriteAnswer::Ignore;
    if (word == "l" || word == "all") return OverwriteAnswer::All;
  }
}

void TerminalOperator::start(int minimum, int maximum) {
  min_ = minimum;
  max_ = maximum;
  first_position_ = -1;
}

void TerminalOperator::countRecords() {
  counting_records_ = true;
  min_ = 0;
  max_ = std::numeric_limits<int>::max();
}

void TerminalOperator::advance(int value) {
  position_ = value;
  if (value <= min_) return progress_.update(0, 0);
  if (first_position_ < 0) first_position_ = value;
  if (counting_records_) return progress_.update(value - min_, 0);
  // The bar's units as the runs set them: the workbook read moves it to the
  // sheet row it reads (data from row 4 up to, not including, the maximum);
  // the import run to the import list's entry (from entry 3, two a row).
  if (first_position_ == 4 && min_ == 0) return progress_.update(value - 3, max_ - 4);
  if (first_position_ == 3 && min_ == 0) return progress_.update((value - 1) / 2, (max_ - 1) / 2);
  progress_.update(value - min_, max_ - min_);
}

}  // namespace xb::cli
