#include "import/render.h"

#include <string_view>

#include "import/statements.h"
#include "text/ascii.h"

namespace xb::import {

namespace {

bool HasLineBreak(std::string_view text) {
  for (const char c : text)
    if (c == '\r' || c == '\n') return true;
  return false;
}

// A value bound as the database stored it when it travelled inside the
// statement text: every line break of the text (CR, LF or CR LF) arrives as
// CR LF, like every line of a statement. Written over value, whose text's
// space is used again; line_breaks false: the text is known to have none.
void AssignSent(db::Value& value, std::string_view text, bool line_breaks = true,
                db::Value::Kind kind = db::Value::Kind::Text) {
  value.kind = kind;
  value.integer = 0;
  if (line_breaks && HasLineBreak(text))
    value.text = text::WithLineBreaks(text, "\r\n");
  else
    value.text.assign(text);
}

db::Value Sent(std::string_view text, db::Value::Kind kind = db::Value::Kind::Text) {
  db::Value value;
  AssignSent(value, text, true, kind);
  return value;
}

// The type a cell value is bound with, from its column's dictionary type.
db::Value::Kind KindOf(const RowValue& v) {
  if (v.kind == RowValue::Kind::Date) return db::Value::Kind::Date;
  return v.number ? db::Value::Kind::Number : db::Value::Kind::Text;
}

// A key term compares a date column's to_char text with the value: text.
db::Value::Kind KindOf(const KeyValue& k) {
  return k.number && !k.is_date ? db::Value::Kind::Number : db::Value::Kind::Text;
}

// Oracle stores '' as NULL: an empty date, or an empty cell of a number
// column, is bound as NULL (an engine that keeps '' would store text in a
// number column, or fail).
bool BoundAsNull(const RowValue& v, std::string_view text) {
  return text.empty() && (v.kind == RowValue::Kind::Date || v.number);
}

// The value list in both forms, without the last separator.
void Values(const TypedRow& row, std::string* text, std::string* marked,
            std::vector<db::Value>* values) {
  for (const RowValue& v : row.values) {
    switch (v.kind) {
      case RowValue::Kind::Text:
        if (text) *text += TextValue(v.text);
        if (marked) *marked += "?,";
        if (values)
          values->push_back(BoundAsNull(v, v.text) ? db::Value::Null() : Sent(v.text, KindOf(v)));
        break;
      case RowValue::Kind::Date:
        if (text) *text += DateValue(v.text);
        if (marked) *marked += "to_date(?,'yyyy-mm-dd'),";
        if (values)
          values->push_back(BoundAsNull(v, v.text) ? db::Value::Null() : Sent(v.text, KindOf(v)));
        break;
      case RowValue::Kind::Sequence:
        if (text) *text += SequenceValue(v.text);
        if (marked) *marked += SequenceValue(v.text);
        break;
    }
  }
  if (text && !text->empty()) text->pop_back();
  if (marked && !marked->empty()) marked->pop_back();
}

// The key condition in both forms: "... and " becomes "... " (the last term
// keeps one blank).
void Keys(const TypedRow& row, std::string* text, std::string* marked,
          std::vector<db::Value>* values) {
  for (const KeyValue& k : row.keys) {
    if (text) *text += KeyTerm(k.key, k.text, k.is_date);
    if (marked)
      *marked += k.is_date ? "to_char(" + k.key + ",'yyyy-mm-dd')=? and " : k.key + "=? and ";
    if (values) values->push_back(Sent(k.text, KindOf(k)));
  }
  if (text && !text->empty()) text->erase(text->size() - 5, 4);
  if (marked && !marked->empty()) marked->erase(marked->size() - 5, 4);
}

}  // namespace

bool TypedRow::hasSequence() const {
  for (const auto& v : values)
    if (v.kind == RowValue::Kind::Sequence) return true;
  return false;
}

std::string ValuesText(const TypedRow& row) {
  std::string text;
  Values(row, &text, nullptr, nullptr);
  return text;
}

std::string KeyConditionText(const TypedRow& row) {
  std::string text;
  Keys(row, &text, nullptr, nullptr);
  return text;
}

std::string MarkedKeyCondition(const TypedRow& row) {
  std::string marked;
  Keys(row, nullptr, &marked, nullptr);
  return marked;
}

std::string ExistsText(const std::string& table, const TypedRow& row) {
  return ExistsQuery(table, KeyConditionText(row));
}

std::string InsertText(const std::string& table, const std::string& columns, const TypedRow& row) {
  return InsertStatement(table, columns, ValuesText(row));
}

Rendered MarkExists(const std::string& table, const TypedRow& row) {
  std::string marked;
  Rendered r;
  r.values.reserve(row.keys.size());
  Keys(row, nullptr, &marked, &r.values);
  r.marked = ExistsQuery(table, marked);
  return r;
}

Rendered MarkInsert(const std::string& table, const std::string& columns, const TypedRow& row) {
  std::string marked;
  marked.reserve(row.values.size() * 4);
  Rendered r;
  r.values.reserve(row.values.size());
  Values(row, nullptr, &marked, &r.values);
  r.marked = InsertStatement(table, columns, marked);
  return r;
}

bool RowStore::Shape::operator==(const Shape& other) const {
  if (values.size() != other.values.size() || keys.size() != other.keys.size()) return false;
  for (size_t i = 0; i < values.size(); ++i) {
    const RowValue& x = values[i];
    const RowValue& y = other.values[i];
    if (x.kind != y.kind || x.number != y.number || x.text != y.text) return false;
  }
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].is_date != other.keys[i].is_date || keys[i].number != other.keys[i].number ||
        keys[i].key != other.keys[i].key)
      return false;
  return true;
}

void RowStore::reserve(size_t rows, size_t texts_per_row) {
  rows_.reserve(rows);
  ends_.reserve(rows * texts_per_row);
  expected_rows_ = rows;
}

bool RowStore::Shape::fits(const TypedRow& row) const {
  if (values.size() != row.values.size() || keys.size() != row.keys.size()) return false;
  for (size_t i = 0; i < values.size(); ++i) {
    const RowValue& x = values[i];
    const RowValue& y = row.values[i];
    if (x.kind != y.kind || x.number != y.number) return false;
    if (x.kind == RowValue::Kind::Sequence && x.text != y.text) return false;
  }
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].is_date != row.keys[i].is_date || keys[i].number != row.keys[i].number ||
        keys[i].key != row.keys[i].key)
      return false;
  return true;
}

void RowStore::add(const TypedRow& row) {
  // The texts of the first rows tell about how much the read holds: room
  // for it at once, rather than the buffer copied each time it doubles
  // (and, on the way, held twice).
  constexpr size_t kSampleRows = 1024;
  if (rows_.size() == kSampleRows && expected_rows_ > kSampleRows) {
    // An eighth more than the sample promises: later rows may be longer.
    const size_t expected = texts_.size() / kSampleRows * expected_rows_;
    texts_.reserve(expected + expected / 8);
  }
  const uint64_t text_begin = texts_.size();
  const uint64_t first_piece = ends_.size();
  bool line_breaks = false;
  auto keep = [&](const std::string& text) {
    texts_ += text;
    ends_.push_back(static_cast<uint32_t>(texts_.size() - text_begin));
    if (!line_breaks) line_breaks = HasLineBreak(text);
  };
  for (const RowValue& v : row.values)
    if (v.kind != RowValue::Kind::Sequence) keep(v.text);
  for (const KeyValue& k : row.keys) keep(k.text);
  // Nearly always the shape of the row before: compared with the row
  // itself, without making its shape.
  if (!rows_.empty() && shapes_[rows_.back().shape].fits(row)) {
    rows_.push_back({text_begin, first_piece, rows_.back().shape, line_breaks});
    return;
  }
  Shape shape;
  shape.values.reserve(row.values.size());
  shape.keys.reserve(row.keys.size());
  for (const RowValue& v : row.values) {
    if (v.kind == RowValue::Kind::Sequence)
      shape.values.push_back(v);
    else
      shape.values.push_back({v.kind, std::string(), v.number});
  }
  for (const KeyValue& k : row.keys)
    shape.keys.push_back({k.key, std::string(), k.is_date, k.number});
  uint32_t id = static_cast<uint32_t>(shapes_.size());
  for (uint32_t s = 0; s < shapes_.size(); ++s)
    if (shapes_[s] == shape) id = s;
  if (id == shapes_.size()) shapes_.push_back(std::move(shape));
  rows_.push_back({text_begin, first_piece, id, line_breaks});
}

template <typename Visit>
void RowStore::ForEachText(const Row& row, size_t first, size_t count, Visit visit) const {
  const char* const base = texts_.data() + row.text_begin;
  uint64_t piece = row.first_piece + first;
  uint32_t begin = first == 0 ? 0 : ends_[piece - 1];
  for (size_t k = 0; k < count; ++k) {
    const uint32_t end = ends_[piece++];
    visit(std::string_view(base + begin, end - begin));
    begin = end;
  }
}

namespace {

void AssignNull(db::Value& value) {
  value.kind = db::Value::Kind::Null;
  value.text.clear();
  value.integer = 0;
}

}  // namespace

void RowStore::insertValues(size_t i, std::vector<db::Value>& out) const {
  const Row& row = rows_[i];
  const Shape& shape = shapes_[row.shape];
  size_t n = 0, piece = 0;
  for (const RowValue& v : shape.values) {
    if (v.kind == RowValue::Kind::Sequence) continue;
    if (n == out.size()) out.emplace_back();
    db::Value& value = out[n++];
    ForEachText(row, piece++, 1, [&](std::string_view text) {
      if (BoundAsNull(v, text))
        AssignNull(value);
      else
        AssignSent(value, text, row.line_breaks, KindOf(v));
    });
  }
  out.resize(n);
}

void RowStore::keyValues(size_t i, std::vector<db::Value>& out) const {
  const Row& row = rows_[i];
  const Shape& shape = shapes_[row.shape];
  size_t value_texts = 0;
  for (const RowValue& v : shape.values) value_texts += v.kind != RowValue::Kind::Sequence;
  out.resize(shape.keys.size());
  size_t n = 0;
  ForEachText(row, value_texts, shape.keys.size(), [&](std::string_view text) {
    const KeyValue& key = shape.keys[n];
    AssignSent(out[n++], text, row.line_breaks, KindOf(key));
  });
}

TypedRow RowStore::at(size_t i) const {
  const Row& r = rows_[i];
  const Shape& shape = shapes_[r.shape];
  const char* const base = texts_.data() + r.text_begin;
  uint64_t piece = r.first_piece;
  uint32_t begin = 0;
  auto next = [&] {
    const uint32_t end = ends_[piece++];
    std::string text(base + begin, end - begin);
    begin = end;
    return text;
  };
  TypedRow row;
  row.values.reserve(shape.values.size());
  row.keys.reserve(shape.keys.size());
  for (const RowValue& v : shape.values) {
    row.values.push_back(v);
    if (v.kind != RowValue::Kind::Sequence) row.values.back().text = next();
  }
  for (const KeyValue& k : shape.keys) {
    row.keys.push_back(k);
    row.keys.back().text = next();
  }
  return row;
}

Rendered RenderExistingValues(const std::string& table, const std::string& columns,
                              const TypedRow& row) {
  std::string text, marked;
  Rendered r;
  Keys(row, &text, &marked, &r.values);
  r.text = ExistingValuesQuery(table, columns, text);
  r.marked = ExistingValuesQuery(table, columns, marked);
  return r;
}

Rendered RenderUpdate(const std::string& table, const std::string& columns, const TypedRow& row) {
  std::string values_text, values_marked, keys_text, keys_marked;
  Rendered r;
  Values(row, &values_text, &values_marked, &r.values);
  Keys(row, &keys_text, &keys_marked, &r.values);
  r.text = UpdateStatement(table, columns, values_text, keys_text);
  r.marked = UpdateStatement(table, columns, values_marked, keys_marked);

  // Bound, each column is set on its own: a value in the select list of
  // "(select ? ... from dual )" has no column to take its type from, and a
  // server that types parameters (PostgreSQL) would take it for text.
  const std::vector<std::string_view> names = text::Split(columns, ',');
  if (names.size() != row.values.size() || row.hasSequence()) return r;
  std::string set;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) set += ',';
    set += names[i];
    set += row.values[i].kind == RowValue::Kind::Date ? "=to_date(?,'yyyy-mm-dd')" : "=?";
  }
  r.marked = "update " + table + " set " + set + " where " + keys_marked;
  return r;
}

}  // namespace xb::import
