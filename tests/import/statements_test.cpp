// The statements and prompt texts, character for character.
#include <gtest/gtest.h>

#include "import/statements.h"

namespace xb::import {
namespace {

TEST(Statements, DictionaryQueries) {
  EXPECT_EQ(TableQuery("ZORVAT"), "select count(*) from user_tables where table_name='ZORVAT'");
  // A quote in the name stays inside the literal.
  EXPECT_EQ(TableQuery("O'T"), "select count(*) from user_tables where table_name='O''T'");
  EXPECT_EQ(SequenceQuery(" seq_tbxh "),
            "select sequence_name from user_sequences where sequence_name='SEQ_TBXH'");
  EXPECT_EQ(ColumnsQuery("ZORVAT"),
            "select COLUMN_NAME from user_tab_columns where table_name='ZORVAT'");
  EXPECT_EQ(
      DataTypeQuery("ZORVAT", "CC"),
      "select DATA_TYPE from user_tab_columns where table_name='ZORVAT' and column_name='CC'");
}

TEST(Statements, RowPieces) {
  EXPECT_EQ(DateValue("2003-8-1"), "to_date('2003-8-1','yyyy-mm-dd'),");
  EXPECT_EQ(TextValue("O'Neil"), "'O''Neil',");
  EXPECT_EQ(SequenceValue(" SEQ_TBXH "), " SEQ_TBXH .nextval,");
  EXPECT_EQ(KeyTerm("AA", "ABC", false), "AA='ABC' and ");
  EXPECT_EQ(KeyTerm("CC", "2003-8-1", true), "to_char(CC,'yyyy-mm-dd')='2003-8-1' and ");
}

TEST(Statements, RunStatements) {
  EXPECT_EQ(ExistsQuery("ZORVAT", "AA='1' "), "select count(*) from ZORVAT where AA='1' ");
  EXPECT_EQ(ExistingValuesQuery("ZORVAT", "AA,BB", "AA='1' "),
            "select AA,BB from ZORVAT where AA='1' ");
  EXPECT_EQ(InsertStatement("ZORVAT", "AA,BB", "'1','33'"),
            "insert into ZORVAT(AA,BB) values('1','33')");
  EXPECT_EQ(UpdateStatement("ZORVAT", "AA,BB", "'1','33'", "AA='1' "),
            "update ZORVAT set (AA,BB)=(select '1','33' from dual ) where AA='1' ");
}

TEST(Statements, OverwritePrompt) {
  EXPECT_EQ(
      OverwritePromptText("'1','33',''", "'1','34',''"),
      "数据库中已经有这条记录的信息内容如下:\r'1','33',''\r要更新的数据内容如下:\r'1','34',''\r"
      "点击\"Yes\"覆盖当前信息\r点击\"Ignore\"忽略不做处理\r点击\"All\"覆盖所有已经存在的信息\r"
      "点击\"Abort\"终止导入操作");
}

}  // namespace
}  // namespace xb::import
