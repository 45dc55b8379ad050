// The header cell cut into table, keys and columns; the row bound; sheet columns.
#include <gtest/gtest.h>

#include <map>

#include "import/header.h"

namespace xb::import {
namespace {

struct HeaderCase {
  const char* name;
  std::string text;
  std::string table;
  std::string key_columns;
  std::vector<std::string> keys;
  std::string column_list;
  std::vector<std::string> names;
  std::vector<std::string> sequences;  // "" for a plain column, "(" prefix marks a sequence
  std::vector<int> key_positions;
};

std::string Kinds(const ParsedHeader& h) {
  std::string out;
  for (const auto& c : h.columns) out += c.is_sequence ? "(" + c.sequence + ")|" : "|";
  return out;
}

std::string Kinds(const std::vector<std::string>& sequences) {
  std::string out;
  for (const auto& s : sequences) out += s.empty() ? "|" : s + ")|";
  return out;
}

// Failure messages name the case and show the header cell.
void PrintTo(const HeaderCase& c, std::ostream* os) {
  *os << c.name << ": " << testing::PrintToString(c.text);
}

class ParseHeaderTable : public testing::TestWithParam<HeaderCase> {};

TEST_P(ParseHeaderTable, Cuts) {
  const HeaderCase& c = GetParam();
  const ParsedHeader h = ParseHeader(c.text);
  EXPECT_EQ(h.table, c.table);
  EXPECT_EQ(h.key_columns, c.key_columns);
  EXPECT_EQ(h.keys, c.keys);
  EXPECT_EQ(h.column_list, c.column_list);
  std::vector<std::string> names;
  for (const auto& col : h.columns) names.push_back(col.name);
  EXPECT_EQ(names, c.names);
  EXPECT_EQ(Kinds(h), Kinds(c.sequences));
  EXPECT_EQ(h.key_positions, c.key_positions);
  EXPECT_FALSE(h.too_long);
}

// Sequences are written "(" + name so a sequence column with an empty name
// still differs from a plain column.
const HeaderCase kHeaderCases[] = {
    {"help_sample_1",
     "zorvat:AA:AA,BB,CC",
     "ZORVAT",
     "AA",
     {"AA"},
     "AA,BB,CC",
     {"AA", "BB", "CC"},
     {"", "", ""},
     {1}},
    {"help_sample_2",
     "ZORVAT:aa:AA,bb,seq_nn(seq_tbxh),dd(seq_tbxh)",
     "ZORVAT",
     "AA",
     {"AA"},
     "AA,BB,SEQ_NN,DD",
     {"AA", "BB", "SEQ_NN", "DD"},
     {"", "", "(SEQ_TBXH", "(SEQ_TBXH"},
     {1}},
    {"empty", "", "", "", {}, "", {""}, {""}, {}},
    {"no_colon", "zorvat", "", "", {}, "ZORVAT", {"ZORVAT"}, {""}, {}},
    {"leading_colon", ":A,B", "", "", {}, "A,B", {"A", "B"}, {"", ""}, {}},
    {"single_colon", "zorvat:A,B,C", "ZORVAT", "", {}, "A,B,C", {"A", "B", "C"}, {"", "", ""}, {}},
    {"empty_key_slot",
     "zorvat::A,B,C",
     "ZORVAT",
     "",
     {},
     "A,B,C",
     {"A", "B", "C"},
     {"", "", ""},
     {}},
    {"blanks_around_cell",
     "  zorvat:a:a,b  ",
     "ZORVAT",
     "A",
     {"A"},
     "A,B",
     {"A", "B"},
     {"", ""},
     {1}},
    {"blank_before_colon",
     "zorvat :A:A,B",
     "ZORVAT ",
     "A",
     {"A"},
     "A,B",
     {"A", "B"},
     {"", ""},
     {1}},
    {"blank_in_keys",
     "zorvat:A, B:A,B",
     "ZORVAT",
     "A, B",
     {"A", " B"},
     "A,B",
     {"A", "B"},
     {"", ""},
     {1, 0}},
    {"blank_after_comma", "zorvat::A, B", "ZORVAT", "", {}, "A, B", {"A", " B"}, {"", ""}, {}},
    {"blanks_trimmed_at_list_ends",
     "zorvat:: A,B (S)",
     "ZORVAT",
     "",
     {},
     "A,B",
     {"A", "B"},
     {"", "(S"},
     {}},
    {"sequence_in_middle",
     "zorvat::A,S(SQ),B",
     "ZORVAT",
     "",
     {},
     "A,S,B",
     {"A", "S", "B"},
     {"", "(SQ", ""},
     {}},
    {"blanks_inside_parentheses",
     "zorvat::A,S( SQ )",
     "ZORVAT",
     "",
     {},
     "A,S",
     {"A", "S"},
     {"", "( SQ "},
     {}},
    {"trailing_comma", "zorvat::A,B,", "ZORVAT", "", {}, "A,B,", {"A", "B", ""}, {"", "", ""}, {}},
    {"no_columns", "zorvat:K:", "ZORVAT", "K", {"K"}, "", {""}, {""}, {0}},
    {"colon_in_column", "zorvat:K:A:B", "ZORVAT", "K", {"K"}, "A:B", {"A:B"}, {""}, {0}},
    {"empty_parentheses", "t::A,S()", "T", "", {}, "A,S", {"A", "S"}, {"", "("}, {}},
    {"key_names_sequence_column",
     "t:S:A,S(Q)",
     "T",
     "S",
     {"S"},
     "A,S",
     {"A", "S"},
     {"", "(Q"},
     {2}},
    {"repeated_key_takes_first_column",
     "t:B,B:A,B,B",
     "T",
     "B,B",
     {"B", "B"},
     "A,B,B",
     {"A", "B", "B"},
     {"", "", ""},
     {2, 2}},
    {"empty_key_piece", "t:A,:A", "T", "A,", {"A", ""}, "A", {"A"}, {""}, {1, 0}},
    {"unclosed_parenthesis",
     "t::A(B,C",
     "T",
     "",
     {},
     "A,,B,C",
     {"A", "", "B", "C"},
     {"(", "(", "", ""},
     {}},
    {"chinese_untouched", "表a::名b,c", "表A", "", {}, "名B,C", {"名B", "C"}, {"", ""}, {}},
    // The cuts count characters, not bytes: the last character left out of
    // a sequence name, the one after ")" and the one dropped without a ")".
    {"sequence_cut_before_last_character", "t::NO(序号", "T", "", {}, "NO", {"NO"}, {"(序"}, {}},
    {"character_after_parenthesis",
     "t::A(S)序,B",
     "T",
     "",
     {},
     "A,,B",
     {"A", "", "B"},
     {"(S)", "", ""},
     {}},
    {"unclosed_parenthesis_after_chinese",
     "t::序(B,C",
     "T",
     "",
     {},
     "序,,B,C",
     {"序", "", "B", "C"},
     {"(", "(", "", ""},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Headers, ParseHeaderTable, testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseHeader, MoreThanFifteenColumnsOrKeysIsTooLong) {
  std::string fifteen = "t::C1";
  for (int i = 2; i <= 15; ++i) fifteen += ",C" + std::to_string(i);
  EXPECT_FALSE(ParseHeader(fifteen).too_long);
  const ParsedHeader sixteen = ParseHeader(fifteen + ",C16");
  EXPECT_TRUE(sixteen.too_long);
  EXPECT_EQ(sixteen.columns.size(), 16u);  // nothing cut

  std::string keys = "K1";
  for (int i = 2; i <= 15; ++i) keys += ",K" + std::to_string(i);
  EXPECT_FALSE(ParseHeader("t:" + keys + ":A").too_long);
  EXPECT_TRUE(ParseHeader("t:" + keys + ",K16:A").too_long);
  // Sequence columns count as entries too.
  EXPECT_TRUE(ParseHeader(fifteen + ",S(Q)").too_long);
}

TEST(KeysAtPositions, EachColumnGivesTheKeysThatNameItInKeyOrder) {
  using Keys = std::vector<std::vector<size_t>>;
  // Keys out of column order, one repeated, one naming no column.
  EXPECT_EQ(KeysAtPositions(ParseHeader("t:B,X,A,B:A,B,C")), (Keys{{}, {2}, {0, 3}, {}}));
  EXPECT_EQ(KeysAtPositions(ParseHeader("t:A")), (Keys{{}, {}}));  // no keys: all empty
}

TEST(FindRowBound, StopsAtFirstBlankColumnACell) {
  const std::map<int, std::string> cells = {{4, "1"}, {5, " x "}, {6, "3"}, {7, " \t"}, {8, "5"}};
  std::vector<int> asked;
  const auto read = [&](int row) {
    asked.push_back(row);
    const auto it = cells.find(row);
    return it == cells.end() ? std::string() : it->second;
  };
  EXPECT_EQ(FindRowBound(read), 7);  // rows below the blank A7 are never read
  EXPECT_EQ(asked, (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(FindRowBound([](int) { return std::string(); }), 4);
}

TEST(Quoted, DoublesEveryQuoteInside) {
  EXPECT_EQ(Quoted("O'Neil"), "'O''Neil'");
  EXPECT_EQ(Quoted("''"), "''''''");
  EXPECT_EQ(Quoted(""), "''");
}

}  // namespace
}  // namespace xb::import
