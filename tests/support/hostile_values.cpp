#include "support/hostile_values.h"

namespace xb::test {

const std::vector<std::string>& HostileCellValues() {
  static const std::vector<std::string> values = {"O'Neil",
                                                  "x'); drop table ZORVAT; --",
                                                  "a' || 'b",
                                                  "-- not a comment",
                                                  "/* not a comment */",
                                                  "1; delete from ZORVAT",
                                                  "'';''",
                                                  "tab\there",
                                                  "bell\x07inside",
                                                  "line\nbreak",
                                                  "SEQ_TBXH.nextval",
                                                  "\"quoted\"",
                                                  "中文';--",
                                                  std::string(32767, 'x')};
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
