#include "support/hostile_values.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace xb::test {

namespace {

// The strings of a JSON array of strings; the escapes the list uses
// (\" \\ \/ \n \r \t, \u for a character below 0x80).
std::vector<std::string> JsonStrings(const std::string& text) {
  auto bad = [] {
    return std::runtime_error("the hostile values list is not an array of strings");
  };
  std::vector<std::string> strings;
  size_t at = text.find('[');
  if (at == std::string::npos) throw bad();
  for (;;) {
    at = text.find_first_of("\"]", at + 1);
    if (at == std::string::npos) throw bad();
    if (text[at] == ']') return strings;
    std::string value;
    for (++at; at < text.size() && text[at] != '"'; ++at) {
      if (text[at] != '\\') {
        value += text[at];
        continue;
      }
      if (++at >= text.size()) throw bad();
      switch (text[at]) {
        case 'n': value += '\n'; break;
        case 'r': value += '\r'; break;
        case 't': value += '\t'; break;
        case 'u': {
          const unsigned long code = std::stoul(text.substr(at + 1, 4), nullptr, 16);
          if (code >= 0x80) throw bad();
          value += static_cast<char>(code);
          at += 4;
          break;
        }
        default: value += text[at];
      }
    }
    if (at >= text.size()) throw bad();
    strings.push_back(value);
  }
}

}  // namespace

const std::vector<std::string>& HostileCellValues() {
  static const std::vector<std::string> values = [] {
    std::ifstream in(XB_HOSTILE_VALUES, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " XB_HOSTILE_VALUES);
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::string> listed = JsonStrings(text.str());
    listed.push_back(std::string(32767, 'x'));
    return listed;
  }();
  return values;
}

std::vector<std::string> HostileValuesAsStored() {
  std::vector<std::string> stored;
  for (const std::string& value : HostileCellValues()) {
    std::string text;
    for (const char c : value) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    stored.push_back(text);
  }
  return stored;
}

}  // namespace xb::test
