#pragma once
// UTF-8 characters, for the few rules that count characters, not bytes, and
// for the readers that turn a workbook's code points into text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xb::text {

constexpr bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The bytes of the character that starts at s[i]: its lead byte and the
// continuation bytes it announces and that follow it; 1 for a byte that
// starts no character, so that a walk always moves on; 0 past the end.
constexpr size_t CharLengthAt(std::string_view s, size_t i) {
  if (i >= s.size()) return 0;
  const auto lead = static_cast<unsigned char>(s[i]);
  const size_t want = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  size_t n = 1;
  while (n < want && i + n < s.size() && IsContinuationByte(s[i + n])) ++n;
  return n;
}

// Where the last character of s starts (0 for an empty s).
constexpr size_t LastCharStart(std::string_view s) {
  if (s.empty()) return 0;
  size_t at = s.size() - 1;
  while (at > 0 && IsContinuationByte(s[at]) && s.size() - at < 4) --at;
  return CharLengthAt(s, at) == s.size() - at ? at : s.size() - 1;
}

// The characters of s: every byte that is not a continuation byte starts
// one (a character cut short still counts; a stray continuation byte not).
constexpr size_t CharCount(std::string_view s) {
  size_t n = 0;
  for (const char c : s)
    if (!IsContinuationByte(c)) ++n;
  return n;
}

// Appends the code point as UTF-8 (one to four bytes). The caller has made
// it a character: a surrogate or a value above U+10FFFF is written as its
// bits say, not checked.
// Inline: the readers call it for every character of a workbook's text.
inline void AppendUtf8(std::string& out, uint32_t code_point) {
  const uint32_t c = code_point;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace xb::text
