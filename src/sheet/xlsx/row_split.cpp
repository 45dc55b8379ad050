#include "sheet/xlsx/row_split.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "sheet/xlsx/part_parser.h"

namespace xb::sheet::xlsx {
namespace {

// The longest namespace prefix a row tag is looked for with.
constexpr size_t kLongestPrefix = 64;
// How far past a '<' the bytes must reach to tell whether a row tag starts
// there ("<", the prefix and its colon, "row", one byte after).
constexpr size_t kRowTagReach = kLongestPrefix + 6;

// Where a row's start tag ("<row" or "<prefix:row", then a blank, '>' or
// '/') begins in s at or after from; npos when none does, or when one may
// begin within the last bytes, which need what follows to tell.
size_t FindRowTag(std::string_view s, size_t from, bool at_end) {
  for (size_t i = s.find('<', from); i != std::string_view::npos; i = s.find('<', i + 1)) {
    if (!at_end && s.size() - i < kRowTagReach) return std::string_view::npos;
    size_t j = i + 1;
    const size_t name = j;
    while (j < s.size() && j - name <= kLongestPrefix &&
           (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_' || s[j] == '.' ||
            s[j] == '-'))
      ++j;
    if (j < s.size() && s[j] == ':' && j > name) {
      ++j;
    } else {
      j = name;
    }
    if (s.substr(j, 3) != "row" || j + 3 >= s.size()) continue;
    const char after = s[j + 3];
    if (after == ' ' || after == '\t' || after == '\r' || after == '\n' || after == '>' ||
        after == '/')
      return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string SeekTail(PartParser& parser, RowSplit& split) {
  std::string window;      // unpacked bytes from the middle on
  uint64_t window_at = 0;  // where window starts in the part
  size_t searched = 0;
  std::vector<char> chunk(kChunk);
  for (;;) {
    if (parser.cancelled()) Fail("reading was given up");
    const zip_int64_t n = parser.unpack(chunk.data());
    const bool at_end = n == 0;
    const uint64_t read = parser.unpacked();
    if (read > split.half) {
      const uint64_t skip =
          read - uint64_t(n) >= split.half ? 0 : split.half - (read - uint64_t(n));
      if (window.empty()) window_at = read - uint64_t(n) + skip;
      window.append(chunk.data() + skip, size_t(n) - size_t(skip));
      const size_t found = FindRowTag(window, searched, at_end);
      if (found != std::string::npos) {
        if (!split.claim(int64_t(window_at + found))) Fail("the second parser was given up");
        std::string first =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><x><" + split.sheet_data + ">";
        first.append(window, found, std::string::npos);
        return first;
      }
      // A tag may begin within the last bytes searched: look there again.
      searched = window.size() > kRowTagReach ? window.size() - kRowTagReach : 0;
      if (window.size() > kMaxTokenBytes) break;
    }
    if (at_end) break;
  }
  split.claim(RowSplit::kAbandoned);
  Fail("no row to start the second parser at");
}

}  // namespace xb::sheet::xlsx
