#pragma once
// The program's small text rules, byte by byte and whatever the locale:
// blanks, ASCII case, line breaks and splitting at a separator. UTF-8 text
// passes through untouched: every byte of a multi-byte character is above
// 127 (the rules that count characters are in text/utf8.h).

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace xb::text {

// A blank: every character of code 32 or lower (space, tab, line breaks,
// NUL and the other control characters).
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// s without the blanks at either end; a view into s.
constexpr std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Only the letters a-z and A-Z change.
constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string UpperCased(std::string_view s);
// The same written over out, whose space is used again.
void AssignUpperCased(std::string& out, std::string_view s);
std::string LowerCased(std::string_view s);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view s, std::string_view prefix);

// The length of the line break at s[i]: 2 for CR LF, 1 for a lone CR or
// LF, 0 for any other character or past the end.
constexpr size_t LineBreakAt(std::string_view s, size_t i) {
  if (i >= s.size()) return 0;
  if (s[i] == '\n') return 1;
  if (s[i] != '\r') return 0;
  return i + 1 < s.size() && s[i + 1] == '\n' ? 2 : 1;
}

// Calls line(view) for every line of text, without its line break. CR LF,
// CR and LF each end a line; a break at the very end starts no further
// line, so "" has no line and "a\n" one.
// Allocation-free: the query text of every cell of a read passes here.
template <class F>
void ForEachLine(std::string_view text, F&& line) {
  if (text.empty()) return;
  const char* at = text.data();
  const char* const end = at + text.size();
  auto next = [end](const char* from, char c) {
    const void* found = std::memchr(from, c, static_cast<size_t>(end - from));
    return found ? static_cast<const char*>(found) : end;
  };
  // The next CR and the next LF, each looked for again only once passed.
  const char* cr = next(at, '\r');
  const char* lf = next(at, '\n');
  while (at < end) {
    if (cr < at) cr = next(at, '\r');
    if (lf < at) lf = next(at, '\n');
    const char* brk = cr < lf ? cr : lf;
    line(std::string_view(at, static_cast<size_t>(brk - at)));
    if (brk == end) return;
    at = brk + (brk == cr && lf == brk + 1 ? 2 : 1);
  }
}
std::vector<std::string_view> Lines(std::string_view text);
// Every piece of text between separators, in order: empty pieces kept, so
// "a,,b," gives "a", "", "b", "" and "" gives one empty piece.
std::vector<std::string_view> Split(std::string_view text, char separator);
// text with every line break (CR LF, CR or LF) written as `line_break`.
std::string WithLineBreaks(std::string_view text, std::string_view line_break);

}  // namespace xb::text
