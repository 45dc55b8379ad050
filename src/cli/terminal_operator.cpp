#include "cli/terminal_operator.h"

#include <cctype>

namespace xb::cli {

std::string FormatBox(const std::string& caption, const std::string& text) {
  std::string out = caption + ": ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  out += "\n\n";
  return out;
}

Answer TerminalOperator::showMessage(const MessageBox& box) {
  err_ << FormatBox(box.caption, box.text) << std::flush;
  return box.buttons == Buttons::YesNo ? yes_no_answer_ : Answer::Ok;
}

OverwriteAnswer TerminalOperator::askOverwrite(const std::string& text) {
  switch (policy_) {
    case ExistingPolicy::Yes: return OverwriteAnswer::Yes;
    case ExistingPolicy::Ignore: return OverwriteAnswer::Ignore;
    case ExistingPolicy::All: return OverwriteAnswer::All;
    case ExistingPolicy::Abort: return OverwriteAnswer::Abort;
    case ExistingPolicy::Ask: break;
  }
  std::string shown = FormatBox("Confirm", text);
  shown.resize(shown.size() - 1);  // one newline before the choices
  prompt_out_ << shown;
  for (;;) {
    prompt_out_ << "[y]es / [a]bort / [i]gnore / a[l]l? " << std::flush;
    std::string line;
    if (!std::getline(prompt_in_, line)) return OverwriteAnswer::Abort;  // end of input: nothing overwritten unasked
    std::string word;
    for (const char c : line)
      if (!std::isspace(static_cast<unsigned char>(c))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "y" || word == "yes") return OverwriteAnswer::Yes;
    if (word == "a" || word == "abort") return OverwriteAnswer::Abort;
    if (word == "i" || word == "ignore") return OverwriteAnswer::Ignore;
    if (word == "l" || word == "all") return OverwriteAnswer::All;
  }
}

}  // namespace xb::cli
