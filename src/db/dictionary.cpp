#include "db/dictionary.h"

namespace xb::db {

std::string Dictionary::Answer::text(size_t i) const {
  if (rows.empty() || i >= rows[0].size() || !rows[0][i]) return {};
  return *rows[0][i];
}

const Dictionary::Answer& Dictionary::ask(const std::string& sql) {
  // This process changed the schema since the answers were read: they may
  // be wrong now.
  if (const uint64_t changes = SchemaChangeCount(); changes != schema_changes_) {
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
  schema_changes_ = SchemaChangeCount();
  return answers_.emplace(sql, std::move(answer)).first->second;
}

const Dictionary::Answer& Dictionary::ask(const std::string& sql, Slot& slot) {
  if (slot.answer && slot.generation == generation_ && SchemaChangeCount() == schema_changes_)
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
