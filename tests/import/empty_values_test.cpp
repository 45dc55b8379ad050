// An empty DATE or NUMBER value is stored as NULL on every engine, as Oracle
// stores ''; the Oracle text keeps '' as the Parts write it.
#include <gtest/gtest.h>

#include "import/render.h"

namespace xb::import {
namespace {

using db::Value;

TEST(EmptyValues, EmptyDatesAndNumbersAreBoundAsNull) {
  TypedRow row;
  RowValue number{RowValue::Kind::Text, ""};
  number.number = true;
  RowValue filled_number{RowValue::Kind::Text, "12"};
  filled_number.number = true;
  row.values = {{RowValue::Kind::Date, ""},
                number,
                {RowValue::Kind::Text, ""},
                filled_number,
                {RowValue::Kind::Date, "2003-8-1"}};
  const Rendered insert = MarkInsert("T", "D,N,S,M,E", row);
  EXPECT_EQ(InsertText("T", "D,N,S,M,E", row),
            "insert into T(D,N,S,M,E) values(to_date('','yyyy-mm-dd'),'','','12',"
            "to_date('2003-8-1','yyyy-mm-dd'))");
  EXPECT_EQ(insert.values, (std::vector<Value>{Value::Null(), Value::Null(), Value::Of(""),
                                               Value::NumberOf("12"), Value::DateOf("2003-8-1")}));
  const Rendered update = RenderUpdate("T", "D,N,S,M,E", row);
  EXPECT_EQ(update.values.front(), Value::Null());
}

}  // namespace
}  // namespace xb::import
