#include "text/ascii.h"

namespace xb::text {

std::string UpperCased(std::string_view s) {
  std::string out;
  AssignUpperCased(out, s);
  return out;
}

void AssignUpperCased(std::string& out, std::string_view s) {
  out.assign(s);
  for (char& c : out) c = UpperAscii(c);
}

std::string LowerCased(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsWithIgnoringCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoringCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  ForEachLine(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (size_t start = 0;;) {
    const size_t at = text.find(separator, start);
    pieces.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return pieces;
    start = at + 1;
  }
}

std::string WithLineBreaks(std::string_view text, std::string_view line_break) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (const size_t n = LineBreakAt(text, i)) {
      out += line_break;
      i += n;
    } else {
      out += text[i++];
    }
  }
  return out;
}

}  // namespace xb::text
