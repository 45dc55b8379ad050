// The Oracle dialect put into PostgreSQL's words, compared as exact text.
#include <gtest/gtest.h>

#include "db/errors.h"
#include "db/postgres/translate.h"

namespace xb::db::postgres {
namespace {

// ZORVAT as a DBA made it in PostgreSQL's own DDL: names stored lower-case.
std::optional<std::vector<ColumnType>> Zorvat(const std::string& table) {
  if (table != "ZORVAT") return std::nullopt;
  return std::vector<ColumnType>{{"aa", 1043, true},
                                 {"bb", 1700, false},
                                 {"cc", 1082, false},
                                 {"seq_nn", 1700, false},
                                 {"dd", 1700, false}};
}

struct Case {
  const char* name;
  const char* oracle;
  const char* postgres;
  std::vector<std::string> values;  // "<null>" for a NULL
};

class Translation : public testing::TestWithParam<Case> {};

TEST_P(Translation, GivesTheTextAndItsValues) {
  const Case& c = GetParam();
  const PgStatement s = TranslateOracle(c.oracle, Zorvat);
  EXPECT_EQ(s.text, c.postgres);
  std::vector<std::string> values;
  for (const auto& p : s.params) values.push_back(p.is_null ? "<null>" : p.text);
  EXPECT_EQ(values, c.values);
}

const Case kCases[] = {
    {"insert_with_sequence_one_value_per_statement",
     "insert into ZORVAT(AA,BB,SEQ_NN,DD) values('1','33',SEQ_TBXH.nextval,SEQ_TBXH.nextval)\r\n",
     "insert into ZORVAT(AA,BB,SEQ_NN,DD) "
     "values($1,$2,nextval('SEQ_TBXH'),currval('SEQ_TBXH'))\r\n",
     {"1", "33"}},
    {"empty_number_and_date_are_null_empty_text_stays",
     "insert into ZORVAT(AA,BB,CC) values('',to_date('','yyyy-mm-dd'),'')",
     "insert into ZORVAT(AA,BB,CC) values($1,pg_temp.xb_to_date($2,$3),$4)",
     {"", "<null>", "yyyy-mm-dd", "<null>"}},
    {"row_valued_update_from_dual",
     "update ZORVAT set (AA,BB,CC)=(select '2','34',to_date('2003-8-2','yyyy-mm-dd') from dual ) "
     "where AA='2' \r\n",
     "update ZORVAT set (AA,BB,CC)=(select $1,$2,pg_temp.xb_to_date($3,$4) from dual ) where AA=$5 "
     "\r\n",
     {"2", "34", "2003-8-2", "yyyy-mm-dd", "2"}},
    {"quotes_backslashes_and_comment_marks_are_values",
     "insert into ZORVAT(AA,BB) values('x\\''); drop table t8; --','1')",
     "insert into ZORVAT(AA,BB) values($1,$2)",
     {"x\\'); drop table t8; --", "1"}},
    {"dictionary_query_values_after_where",
     "select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='AA'",
     "select DATA_TYPE from user_tab_columns where table_name=$1 and column_name=$2",
     {"ZORVAT", "AA"}},
    {"literals_of_a_select_list_name_columns",
     "select 'a' x, nvl(BB, 0) from ZORVAT where AA = ''",
     "select 'a' x, coalesce(BB, 0) from ZORVAT where AA = $1",
     {"<null>"}},
    {"to_number",
     "select AA from ZORVAT order by to_number(AA)",
     "select AA from ZORVAT order by pg_temp.xb_to_number(AA)",
     {}},
    {"currval_alone",
     "select SEQ_TBXH.currval from dual",
     "select currval('SEQ_TBXH') from dual",
     {}},
    {"oracle_ddl_types",
     "create table ZORVAT (AA varchar2(10) primary key, BB number(7,2), CC date default sysdate)",
     "create table ZORVAT (AA varchar(10) primary key, BB numeric(7,2), CC timestamp(0) default "
     "localtimestamp(0))",
     {}},
    {"oracle_sequence_options",
     "create sequence S start with 5 increment by 1 nocache nocycle",
     "create sequence S start with 5 increment by 1  no cycle",
     {}},
    {"names_in_quotes_and_comments_untouched",
     "select \"to_date\"('x') /* S.nextval */ from dual",
     "select \"to_date\"('x') /* S.nextval */ from dual",
     {}},
};

INSTANTIATE_TEST_SUITE_P(Oracle, Translation, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Translation, TypedValuesTakeTheirColumnsTypeAndASecondStatementIsRefused) {
  const PgStatement s =
      TranslateOracle("insert into zorvat(aa,\"bb\") values('1','2')",
                      [](const std::string& t) { return Zorvat(t == "zorvat" ? "ZORVAT" : t); });
  ASSERT_EQ(s.params.size(), 2u);
  EXPECT_EQ(s.params[0].oid, 1043u);
  EXPECT_EQ(s.params[1].oid, 1700u);
  EXPECT_TRUE(s.data);
  EXPECT_THROW(TranslateOracle("delete from ZORVAT; drop table ZORVAT", Zorvat), DbError);
  EXPECT_TRUE(TranslateOracle("drop table ZORVAT", Zorvat).schema_change);
}

TEST(Translation, OracleNames) {
  EXPECT_EQ(OracleName("zorvat"), "ZORVAT");
  EXPECT_EQ(OracleName("MixedCase"), "MixedCase");
  EXPECT_EQ(OracleName("seq_nn2"), "SEQ_NN2");
}

}  // namespace
}  // namespace xb::db::postgres
