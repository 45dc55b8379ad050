// The renderer of typed rows: the Oracle text character for character (the
// same texts statements.h builds) and the bound form with its values.
#include <gtest/gtest.h>

#include "import/render.h"

namespace xb::import {
namespace {

using db::Value;

// Both forms of a statement, as a run makes them.
Rendered Insert(const std::string& table, const std::string& columns, const TypedRow& row) {
  Rendered r = MarkInsert(table, columns, row);
  r.text = InsertText(table, columns, row);
  return r;
}
Rendered Exists(const std::string& table, const TypedRow& row) {
  Rendered r = MarkExists(table, row);
  r.text = ExistsText(table, row);
  return r;
}

TypedRow SampleRow() {
  TypedRow row;
  row.keys = {{"AA", "O'NEIL", false}, {"CC", "2003-8-1", true}};
  row.values = {{RowValue::Kind::Text, "O'Neil"},
                {RowValue::Kind::Date, "2003-8-1"},
                {RowValue::Kind::Sequence, "SEQ_TBXH"},
                {RowValue::Kind::Text, ""}};
  return row;
}

TEST(Render, ListEntriesAreTheOracleTexts) {
  const TypedRow row = SampleRow();
  EXPECT_EQ(ValuesText(row), "'O''Neil',to_date('2003-8-1','yyyy-mm-dd'),SEQ_TBXH.nextval,''");
  EXPECT_EQ(KeyConditionText(row), "AA='O''NEIL' and to_char(CC,'yyyy-mm-dd')='2003-8-1' ");
  EXPECT_EQ(KeyConditionText(TypedRow{}), "");
  EXPECT_EQ(ValuesText(TypedRow{}), "");
}

TEST(Render, EveryStatementInBothForms) {
  const TypedRow row = SampleRow();
  const Rendered exists = Exists("ZORVAT", row);
  EXPECT_EQ(
      exists.text,
      "select count(*) from ZORVAT where AA='O''NEIL' and to_char(CC,'yyyy-mm-dd')='2003-8-1' ");
  EXPECT_EQ(exists.marked,
            "select count(*) from ZORVAT where AA=? and to_char(CC,'yyyy-mm-dd')=? ");
  EXPECT_EQ(exists.values, (std::vector<Value>{Value::Of("O'NEIL"), Value::Of("2003-8-1")}));

  const Rendered existing = RenderExistingValues("ZORVAT", "AA,CC,SEQ_NN,BB", row);
  EXPECT_EQ(existing.marked,
            "select AA,CC,SEQ_NN,BB from ZORVAT where AA=? and to_char(CC,'yyyy-mm-dd')=? ");
  EXPECT_EQ(existing.values, exists.values);

  const Rendered insert = Insert("ZORVAT", "AA,CC,SEQ_NN,BB", row);
  EXPECT_EQ(insert.text,
            "insert into ZORVAT(AA,CC,SEQ_NN,BB) values('O''Neil',to_date('2003-8-1','yyyy-mm-dd'),"
            "SEQ_TBXH.nextval,'')");
  EXPECT_EQ(
      insert.marked,
      "insert into ZORVAT(AA,CC,SEQ_NN,BB) values(?,to_date(?,'yyyy-mm-dd'),SEQ_TBXH.nextval,?)");
  EXPECT_EQ(insert.values,
            (std::vector<Value>{Value::Of("O'Neil"), Value::DateOf("2003-8-1"), Value::Of("")}));

  const Rendered update = RenderUpdate("ZORVAT", "AA,CC,SEQ_NN,BB", row);
  EXPECT_EQ(
      update.text,
      "update ZORVAT set (AA,CC,SEQ_NN,BB)=(select 'O''Neil',to_date('2003-8-1','yyyy-mm-dd'),"
      "SEQ_TBXH.nextval,'' from dual ) where AA='O''NEIL' and "
      "to_char(CC,'yyyy-mm-dd')='2003-8-1' ");
  EXPECT_EQ(update.marked,
            "update ZORVAT set (AA,CC,SEQ_NN,BB)=(select "
            "?,to_date(?,'yyyy-mm-dd'),SEQ_TBXH.nextval,? from dual )"
            " where AA=? and to_char(CC,'yyyy-mm-dd')=? ");
  EXPECT_EQ(update.values.size(), 5u);
  // Without a sequence each column is set on its own, so that every value
  // takes its column's type.
  TypedRow plain = row;
  plain.values.erase(plain.values.begin() + 2);
  const Rendered set = RenderUpdate("ZORVAT", "AA,CC,BB", plain);
  EXPECT_EQ(set.text,
            "update ZORVAT set (AA,CC,BB)=(select 'O''Neil',to_date('2003-8-1','yyyy-mm-dd'),'' "
            "from dual ) "
            "where AA='O''NEIL' and to_char(CC,'yyyy-mm-dd')='2003-8-1' ");
  EXPECT_EQ(set.marked,
            "update ZORVAT set AA=?,CC=to_date(?,'yyyy-mm-dd'),BB=? where AA=? and "
            "to_char(CC,'yyyy-mm-dd')=? ");
  EXPECT_EQ(set.values,
            (std::vector<Value>{Value::Of("O'Neil"), Value::DateOf("2003-8-1"), Value::Of(""),
                                Value::Of("O'NEIL"), Value::Of("2003-8-1")}));
}

// Each value is bound with its column's type, decided when the row was
// read; the packed rows give every row's values those same types.
TEST(Render, ValuesCarryTheirColumnsType) {
  TypedRow row;
  row.keys = {{"NN", "007", false, true}, {"CC", "2003-8-1", true}};
  row.values = {{RowValue::Kind::Text, "007", true},
                {RowValue::Kind::Text, "", true},
                {RowValue::Kind::Text, "007"},
                {RowValue::Kind::Date, "2003-8-1"},
                {RowValue::Kind::Date, ""}};
  const std::vector<Value> inserted{Value::NumberOf("007"), Value::Null(), Value::Of("007"),
                                    Value::DateOf("2003-8-1"), Value::Null()};
  const std::vector<Value> keys{Value::NumberOf("007"), Value::Of("2003-8-1")};
  EXPECT_EQ(Insert("T", "NN,N2,TT,CC,C2", row).values, inserted);
  EXPECT_EQ(Exists("T", row).values, keys);
  TypedRow text_key = row;
  text_key.keys[0].number = false;
  RowStore store;
  store.add(row);
  store.add(text_key);  // same columns, another key type: not the first row's shape
  std::vector<Value> out{Value::Of("left over")};
  store.insertValues(0, out);
  EXPECT_EQ(out, inserted);
  store.keyValues(0, out);
  EXPECT_EQ(out, keys);
  store.keyValues(1, out);
  EXPECT_EQ(out, (std::vector<Value>{Value::Of("007"), Value::Of("2003-8-1")}));
}

// A value holding SQL is a value: it never reaches the marked text. Line
// breaks arrive as CR LF, as they did inside the statement's lines.
TEST(Render, ValuesStayOutOfTheMarkedText) {
  TypedRow row;
  const std::string nasty = "x\\'); drop table t8; --\n/* ; */ ?";
  row.keys = {{"AA", nasty, false}};
  row.values = {{RowValue::Kind::Text, nasty}, {RowValue::Kind::Text, "a\rb\r\nc\nd"}};
  for (const Rendered& r :
       {Insert("T", "AA,BB", row), RenderUpdate("T", "AA,BB", row), Exists("T", row)}) {
    EXPECT_EQ(r.marked.find("drop"), std::string::npos) << r.marked;
    EXPECT_NE(r.text.find("drop"), std::string::npos) << r.text;
  }
  const Rendered insert = Insert("T", "AA,BB", row);
  EXPECT_EQ(insert.marked, "insert into T(AA,BB) values(?,?)");
  EXPECT_EQ(insert.values[0], Value::Of("x\\'); drop table t8; --\r\n/* ; */ ?"));
  EXPECT_EQ(insert.values[1], Value::Of("a\r\nb\r\nc\r\nd"));
}

bool SameRow(const TypedRow& a, const TypedRow& b) {
  if (a.values.size() != b.values.size() || a.keys.size() != b.keys.size()) return false;
  for (size_t i = 0; i < a.values.size(); ++i)
    if (a.values[i].kind != b.values[i].kind || a.values[i].text != b.values[i].text ||
        a.values[i].number != b.values[i].number)
      return false;
  for (size_t i = 0; i < a.keys.size(); ++i)
    if (a.keys[i].key != b.keys[i].key || a.keys[i].text != b.keys[i].text ||
        a.keys[i].is_date != b.keys[i].is_date)
      return false;
  return true;
}

// Packed rows come back exactly as added (empty texts, long texts, line
// breaks, no keys), and rows share a shape exactly when their marked
// statements are the same.
TEST(Render, PackedRowsComeBackWholeAndShareTheirShapes) {
  const TypedRow sample = SampleRow();
  TypedRow other = sample;
  other.keys[0].text = "X";
  other.keys[1].text = "a\nb";
  other.values[0].text = std::string(40000, 'x') + "\r\n测试";
  other.values[3].number = true;
  TypedRow dated = sample;
  dated.values[0].kind = RowValue::Kind::Date;
  TypedRow renamed = sample;
  renamed.values[2].text = "SEQ_OTHER";  // the sequence's name is in the marked text
  TypedRow keyless;
  keyless.values = {{RowValue::Kind::Text, ""}, {RowValue::Kind::Text, "b"}};
  const std::vector<TypedRow> rows = {sample, other, dated, sample, renamed, keyless, TypedRow{}};

  RowStore store;
  store.reserve(2, 6);
  for (const TypedRow& row : rows) store.add(row);
  ASSERT_EQ(store.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(SameRow(store.at(i), rows[i])) << i;
  // The values a run binds straight from the store are the row's, written
  // over the last row's (more, fewer, NULL over text and back).
  std::vector<db::Value> keys, values;
  for (const size_t i : {0u, 1u, 2u, 5u, 6u, 4u, 1u, 3u}) {
    store.keyValues(i, keys);
    store.insertValues(i, values);
    EXPECT_EQ(keys, MarkExists("T", rows[i]).values) << i;
    EXPECT_EQ(values, MarkInsert("T", "A,B,C,D", rows[i]).values) << i;
    EXPECT_EQ(store.hasKeys(i), !rows[i].keys.empty()) << i;
  }

  EXPECT_EQ(store.shapeOf(0), store.shapeOf(3));
  EXPECT_NE(store.shapeOf(0), store.shapeOf(1));  // a number column binds '' as NULL
  for (size_t i : {2u, 4u, 5u, 6u}) EXPECT_NE(store.shapeOf(0), store.shapeOf(i)) << i;
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows.size(); ++j)
      if (store.shapeOf(i) == store.shapeOf(j)) {
        EXPECT_EQ(MarkInsert("T", "A,B,C,D", rows[i]).marked,
                  MarkInsert("T", "A,B,C,D", rows[j]).marked);
        EXPECT_EQ(MarkExists("T", rows[i]).marked, MarkExists("T", rows[j]).marked);
      }
}

}  // namespace
}  // namespace xb::import
