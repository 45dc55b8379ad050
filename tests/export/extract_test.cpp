// The table name that D1 of an export shows.
#include <gtest/gtest.h>

#include "export/exporter.h"

namespace xb::exporting {
namespace {

struct ExtractCase {
  const char* name;
  std::string statement;
  std::string table;
};

// Failure messages name the case and show the statement.
void PrintTo(const ExtractCase& c, std::ostream* os) {
  *os << c.name << ": " << testing::PrintToString(c.statement);
}

class ExtractFromTableCases : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractFromTableCases, Finds) {
  EXPECT_EQ(ExtractFromTable(GetParam().statement), GetParam().table);
}

const ExtractCase kCases[] = {
    {"simple", "select * from emp where sal > 1000\r\n", "EMP"},
    {"owner_and_alias", "select e.ename from scott.emp e, dept d\r\n", "SCOTT.EMP"},
    {"comma_list", "select * from emp,dept\r\n", "EMP,DEPT"},
    {"line_break_is_no_end", "select * from emp,\r\nwhere sal > 1000\r\n", "EMP,\r\nWHERE"},
    {"from_inside_a_word", "select date_from, x from t\r\n", "X"},
    {"subquery", "select * from (select a from t)\r\n", "(SELECT"},
    {"subquery_no_blank", "select * from(select a from t)\r\n", "SELECT"},
    {"no_from", "select 1\r\n", ""},
    {"empty", "", ""},
    {"from_at_end", "select * from", ""},
    {"tab_is_no_end", "select * from\ta\tb c", "A\tB"},
    {"lower_case_only_ascii", "select * from 表a", "表A"},
    {"from_inside_quotes", "select 'from x' a from t", "X'"},
    {"skips_a_character_not_a_byte", "select 2 as from表 from dual", "FROM"},
};

INSTANTIATE_TEST_SUITE_P(Statements, ExtractFromTableCases, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace xb::exporting
