// The Oracle dialect put into PostgreSQL's words, compared as exact text.
#include <gtest/gtest.h>

#include <cctype>

#include "db/errors.h"
#include "db/postgres/catalog.h"
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

// The expected text with {DUAL} and {USER_TAB_COLUMNS} standing for those
// read in place.
std::string Expected(std::string text) {
  for (const std::string name : {"DUAL", "USER_TAB_COLUMNS"}) {
    const std::string mark = "{" + name + "}";
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    for (size_t at; (at = text.find(mark)) != std::string::npos;)
      text.replace(at, mark.size(), DictionarySubquery(name) + " " + lower);
  }
  return text;
}

TEST_P(Translation, GivesTheTextAndItsValues) {
  const Case& c = GetParam();
  const PgStatement s = TranslateOracle(c.oracle, Zorvat);
  EXPECT_EQ(s.text, Expected(c.postgres));
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
     "insert into ZORVAT(AA,BB,CC) values($1,null::timestamp(0),$2)",
     {"", "<null>"}},
    {"row_valued_update_from_dual",
     "update ZORVAT set (AA,BB,CC)=(select '2','34',to_date('2003-8-2','yyyy-mm-dd') from dual ) "
     "where AA='2' \r\n",
     "update ZORVAT set (AA,BB,CC)=(select $1,$2,'2003-08-02 00:00:00'::timestamp(0) from {DUAL} ) "
     "where AA=$3 \r\n",
     {"2", "34", "2"}},
    {"to_date_of_an_expression_is_read_by_the_server",
     "select to_date(AA || '-1', 'yyyy-mm-dd'), to_date(BB) from ZORVAT",
     "select pg_catalog.to_timestamp(nullif((AA || '-1')::text, ''), "
     "'yyyy-mm-dd')::timestamp(0), (nullif((BB)::text, '')::timestamp(0)) from ZORVAT",
     {}},
    {"quotes_backslashes_and_comment_marks_are_values",
     "insert into ZORVAT(AA,BB) values('x\\''); drop table t8; --','1')",
     "insert into ZORVAT(AA,BB) values($1,$2)",
     {"x\\'); drop table t8; --", "1"}},
    {"dictionary_query_values_after_where",
     "select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='AA'",
     "select DATA_TYPE from {USER_TAB_COLUMNS} where table_name=$1 and column_name=$2",
     {"ZORVAT", "AA"}},
    {"dual_with_an_alias_of_its_own",
     "select d.DUMMY from dual d",
     "select d.DUMMY from (select 'X'::varchar(1) as dummy) d",
     {}},
    {"literals_of_a_select_list_name_columns",
     "select 'a' x, nvl(BB, 0) from ZORVAT where AA = ''",
     "select 'a' x, coalesce(BB, 0) from ZORVAT where AA = $1",
     {"<null>"}},
    {"to_number",
     "select AA from ZORVAT order by to_number(AA)",
     "select AA from ZORVAT order by (nullif((AA)::text, '')::numeric)",
     {}},
    {"currval_alone",
     "select SEQ_TBXH.currval from dual",
     "select currval('SEQ_TBXH') from {DUAL}",
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
    {"oracle_sequence_maximum_and_cache",
     "create sequence S minvalue 1 maxvalue 9999999999999999999999999999 start with 1 cache 20 "
     "nocycle",
     "create sequence S minvalue 1 maxvalue 9223372036854775807 start with 1  no cycle",
     {}},
    {"descending_sequence_minimum",
     "create sequence S increment by -1 minvalue -99999999999999999999999999 maxvalue -1",
     "create sequence S increment by -1 minvalue -9223372036854775808 maxvalue -1",
     {}},
    {"names_in_quotes_and_comments_untouched",
     "select \"to_date\"('x') /* S.nextval */ from dual",
     "select \"to_date\"('x') /* S.nextval */ from {DUAL}",
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

TEST(Translation, TheDictionaryIsReadInPlaceAndMarkedSo) {
  const PgStatement s = TranslateOracle(
      "select T.TABLE_NAME, C.COLUMN_NAME from user_tables T, user_tab_columns C "
      "where C.TABLE_NAME = T.TABLE_NAME",
      Zorvat);
  EXPECT_TRUE(s.reads_dictionary);
  EXPECT_FALSE(TranslateOracle("select 1 from dual", Zorvat).reads_dictionary);
  // A column that happens to carry a view's name is no view.
  EXPECT_EQ(TranslateOracle("select dual from T", Zorvat).text, "select dual from T");
}

TEST(Translation, DatesAreReadAsStrictlyAsOracleReadsThem) {
  for (const char* bad : {"2024-2", "2024-2-29xyz", "2024-02-29 25:99", "2023-2-29"})
    EXPECT_THROW(TranslateOracle(
                     std::string("select to_date('") + bad + "','yyyy-mm-dd') from dual", Zorvat),
                 DbError)
        << bad;
  // A marker's date is read when its value comes: the statement says how.
  const PgStatement s =
      TranslateOracle("insert into ZORVAT(AA,CC) values(?,to_date(?,'yyyy-mm-dd'))", Zorvat, true);
  ASSERT_EQ(s.params.size(), 2u);
  EXPECT_EQ(s.params[1].date_mask, "yyyy-mm-dd");
  EXPECT_EQ(s.params[1].marker, 1);
  EXPECT_FALSE(s.params[1].keeps_time);  // cc is a date
  EXPECT_EQ(s.text, "insert into ZORVAT(AA,CC) values($1,$2::timestamp(0))");
}

TEST(Translation, NamesAreQuotedWherePostgresqlWouldNotFindThem) {
  NameRules names;
  names.upper = {"UPPERTAB", "NOTE", "UPSEQ"};
  names.reserved = {"limit", "offset"};
  const auto text = [&](const std::string& sql) {
    return TranslateOracle(sql, Zorvat, true, &names).text;
  };
  EXPECT_EQ(text("insert into UPPERTAB(NOTE,LIMIT,OFFSET,AA) values(?,?,?,UPSEQ.nextval)"),
            "insert into \"UPPERTAB\"(\"NOTE\",\"limit\",\"offset\",AA) "
            "values($1,$2,$3,nextval('\"UPSEQ\"'))");
  EXPECT_EQ(
      text("select note, t.Limit from uppertab t where OFFSET=? and limit =?"),
      "select \"NOTE\", t.\"limit\" from \"UPPERTAB\" t where \"offset\"=$1 and \"limit\" =$2");
  // The keywords themselves stay keywords.
  EXPECT_EQ(text("select AA from ZORVAT order by AA limit 5 offset 2"),
            "select AA from ZORVAT order by AA limit 5 offset 2");
  EXPECT_EQ(PgTableName("UPPERTAB", &names), "\"UPPERTAB\"");
  EXPECT_EQ(PgTableName("ZORVAT", &names), "ZORVAT");
}

TEST(Translation, OracleNames) {
  EXPECT_EQ(OracleName("zorvat"), "ZORVAT");
  EXPECT_EQ(OracleName("MixedCase"), "MixedCase");
  EXPECT_EQ(OracleName("seq_nn2"), "SEQ_NN2");
}

}  // namespace
}  // namespace xb::db::postgres
