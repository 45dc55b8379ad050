#include "db/postgres/run_arrays.h"

#include <cstddef>
#include <cstdlib>
#include <vector>

#include "db/postgres/value_format.h"
#include "db/sql_text.h"

namespace xb::db::postgres {

namespace {

// The runs' alias: quoted with a blank, so no table the statement reads can
// take its name and hide the runs' values from its condition.
constexpr const char* kRuns = "\"xb runs\"";

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

unsigned BuiltinArrayType(unsigned element_type) {
  switch (element_type) {
    case 16: return 1000;               // bool
    case 20: return 1016;               // int8
    case 21: return 1005;               // int2
    case 23: return 1007;               // int4
    case 25: return 1009;               // text
    case kFloat4Oid: return 1021;       // float4
    case kFloat8Oid: return 1022;       // float8
    case 1042: return 1014;             // bpchar
    case 1043: return 1015;             // varchar
    case kDateOid: return 1182;         // date
    case kTimestampOid: return 1115;    // timestamp
    case kTimestampTzOid: return 1185;  // timestamptz
    case kNumericOid: return 1231;      // numeric
    default: return 0;
  }
}

std::string RowsReturnedText(const PgStatement& statement) {
  // Where each marker parameter stands in the text: "$N" in code, not the
  // tail of a name such as a$1.
  struct Use {
    size_t at, length, param;
  };
  std::vector<Use> uses;
  const std::string& text = statement.text;
  ForEachCodeChar(text, [&](size_t i) {
    if (text[i] != '$' || (i > 0 && IsNameChar(text[i - 1]))) return;
    size_t end = i + 1;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == i + 1 || (end < text.size() && IsNameChar(text[end]))) return;
    const size_t param = std::strtoul(text.c_str() + i + 1, nullptr, 10);
    if (param == 0 || param > statement.params.size()) return;
    if (statement.params[param - 1].marker >= 0) uses.push_back({i, end - i, param});
  });

  std::string arrays, columns;
  for (size_t p = 0; p < statement.params.size(); ++p) {
    if (statement.params[p].marker < 0) continue;
    arrays += (arrays.empty() ? "$" : ", $") + std::to_string(p + 1);
    columns += "v" + std::to_string(p + 1) + ", ";
  }
  std::string out = std::string("select ") + kRuns + ".n from unnest(" + arrays +
                    ") with ordinality " + kRuns + "(" + columns + "n) where exists (";
  size_t at = 0;
  for (const Use& use : uses) {
    out.append(text, at, use.at - at);
    out += std::string(kRuns) + ".v" + std::to_string(use.param);
    at = use.at + use.length;
  }
  out.append(text, at, std::string::npos);
  out += ")";
  return out;
}

void AppendArrayElement(std::string& literal, const char* value) {
  if (literal.size() > 1) literal += ',';
  if (!value) {
    literal += "NULL";
    return;
  }
  // Quoted, so blanks, braces, commas and the word NULL stay the value's own.
  literal += '"';
  for (const char* c = value; *c; ++c) {
    if (*c == '"' || *c == '\\') literal += '\\';
    literal += *c;
  }
  literal += '"';
}

}  // namespace xb::db::postgres
