#include "db/dictionary.h"

#include <charconv>

#include "text/ascii.h"

namespace xb::db {

namespace {

std::optional<long long> Whole(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  const std::string_view t = text::Trimmed(*text);
  long long value = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
  // A server may spell a whole NUMBER as "10.0" or "10".
  if (r.ec != std::errc() || (r.ptr != t.data() + t.size() && *r.ptr != '.')) return std::nullopt;
  return value;
}

}  // namespace

std::string Dictionary::ColumnsFactsQuery(const std::string& table) {
  std::string quoted = "'";
  for (const char c : table) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  quoted += "'";
  return "select COLUMN_NAME, DATA_TYPE, DATA_LENGTH, DATA_PRECISION, DATA_SCALE, NULLABLE, "
         "CHAR_USED, CHAR_LENGTH from user_tab_columns where table_name=" +
         quoted + " order by COLUMN_ID";
}

std::vector<Dictionary::ColumnFacts> Dictionary::columns(const std::string& table) {
  const Answer& answer = ask(ColumnsFactsQuery(table));
  std::vector<ColumnFacts> out;
  for (const Row& row : answer.rows) {
    if (row.size() < 8 || !row[0]) continue;
    ColumnFacts facts;
    facts.name = *row[0];
    facts.data_type = row[1] ? text::UpperCased(text::Trimmed(*row[1])) : std::string();
    const bool chars = row[6] && text::UpperCased(text::Trimmed(*row[6])) == "C";
    const auto length = Whole(chars ? row[7] : row[2]);
    facts.length = length && *length > 0 ? *length : 0;
    facts.length_in_chars = chars;
    if (const auto p = Whole(row[3])) facts.precision = static_cast<int>(*p);
    if (const auto s = Whole(row[4])) facts.scale = static_cast<int>(*s);
    facts.nullable = !row[5] || text::UpperCased(text::Trimmed(*row[5])) != "N";
    out.push_back(std::move(facts));
  }
  return out;
}

oracle::DeclaredType Dictionary::ColumnFacts::declared() const {
  using Kind = oracle::DeclaredType::Kind;
  oracle::DeclaredType type;
  const std::string& t = data_type;
  if (t == "VARCHAR2" || t == "VARCHAR" || t == "CHAR" || t == "NVARCHAR2" || t == "NCHAR") {
    type.kind = Kind::Text;
    type.length = length;
    type.length_in_chars = length_in_chars || t[0] == 'N';
  } else if (oracle::IsNumberType(t)) {
    type.kind = Kind::Number;
    // Only the decimal types are held to their precision and scale (FLOAT's
    // precision counts binary digits); INTEGER's kin keep whole numbers.
    if (t == "NUMBER" || t == "NUMERIC" || t == "DECIMAL") {
      type.precision = precision;
      type.scale = scale;
    } else if (t == "INTEGER" || t == "INT" || t == "SMALLINT") {
      type.scale = 0;
    }
  } else if (t == "DATE") {
    type.kind = Kind::Date;
  }
  return type;
}

std::string Dictionary::Answer::text(size_t i) const {
  if (rows.empty() || i >= rows[0].size() || !rows[0][i]) return {};
  return *rows[0][i];
}

const Dictionary::Answer& Dictionary::ask(const std::string& sql) {
  // The schema changed through the query's connection since the answers
  // were read (or it closed): they may be wrong now.
  if (const uint64_t changes = SchemaChanges(); changes != schema_changes_) {
    answers_.clear();
    ++generation_;
    schema_changes_ = changes;
  }
  if (const auto it = answers_.find(sql); it != answers_.end()) return it->second;

  query_.close();
  query_.setSql(sql);
  query_.open();
  ++asked_;
  Answer answer;
  for (int c = 0; c < query_.fieldCount(); ++c) answer.names.push_back(query_.fieldName(c));
  for (query_.first(); !query_.eof(); query_.next()) {
    Row& row = answer.rows.emplace_back();
    for (int c = 0; c < query_.fieldCount(); ++c) {
      if (query_.fieldIsNull(c))
        row.emplace_back();
      else
        row.emplace_back(query_.fieldText(c));
    }
  }
  query_.first();
  // The query itself was a select: the count has not moved because of it.
  schema_changes_ = SchemaChanges();
  return answers_.emplace(sql, std::move(answer)).first->second;
}

const Dictionary::Answer& Dictionary::ask(const std::string& sql, Slot& slot) {
  if (slot.answer && slot.generation == generation_ && SchemaChanges() == schema_changes_)
    return *slot.answer;
  const Answer& answer = ask(sql);
  slot.answer = &answer;
  slot.generation = generation_;
  return answer;
}

void Dictionary::forget() {
  answers_.clear();
  ++generation_;
  asked_ = 0;
}

}  // namespace xb::db
