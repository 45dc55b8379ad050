#include "import/existence.h"

#include <memory>
#include <unordered_map>
#include <utility>

#include "db/errors.h"
#include "db/sql_text.h"
#include "import/header.h"

namespace xb::import {

namespace {

// The Oracle text of a marked statement: each marker in code replaced by its
// value as a quoted literal (a NULL as ''), as the row-at-a-time texts have it.
std::string SpelledOut(const std::string& marked, const std::vector<db::Value>& values) {
  std::string text;
  text.reserve(marked.size() + values.size() * 8);
  size_t at = 0, next_value = 0;
  db::ForEachCodeChar(marked, [&](size_t i) {
    if (marked[i] != '?') return;
    text.append(marked, at, i - at);
    const db::Value* value = next_value < values.size() ? &values[next_value++] : nullptr;
    if (value && value->kind == db::Value::Kind::Integer)
      text += std::to_string(value->integer);
    else
      text += Quoted(value ? value->text : std::string());
    at = i + 1;
  });
  text.append(marked, at, std::string::npos);
  return text;
}

}  // namespace

std::vector<long long> CountExisting(db::Query& query, const std::string& table,
                                     const RowStore& rows, size_t first, size_t count) {
  std::vector<long long> counts(count, 0);
  // The marked condition of each row shape, made once.
  std::unordered_map<uint32_t, std::string> conditions;
  std::vector<db::Value> row_values;
  size_t next = 0;
  while (next < count) {
    std::string marked;
    std::vector<db::Value> values;
    std::vector<size_t> asked;  // chunk position -> row offset
    for (; next < count && asked.size() < kExistenceRowsPerStatement; ++next) {
      const size_t row = first + next;
      if (!rows.hasKeys(row)) continue;
      const uint32_t shape = rows.shapeOf(row);
      auto it = conditions.find(shape);
      if (it == conditions.end())
        it = conditions.emplace(shape, MarkedKeyCondition(rows.at(row))).first;
      if (!asked.empty()) marked += " union all ";
      marked += "select " + std::to_string(asked.size()) + ",count(*) from " + table + " where " +
                it->second;
      rows.keyValues(row, row_values);
      for (auto& v : row_values) values.push_back(std::move(v));
      asked.push_back(next);
    }
    if (asked.empty()) break;

    query.close();
    // The Oracle text only when shown or logged: from the statement and a
    // copy of its values, so it stays right whatever happens to the rows.
    auto spelled = std::make_shared<std::pair<std::string, std::vector<db::Value>>>(marked, values);
    query.setStatement([spelled] { return SpelledOut(spelled->first, spelled->second); }, marked,
                       std::move(values));
    query.open();
    for (query.first(); !query.eof(); query.next()) {
      const long long at = query.fieldInt(0);
      if (at < 0 || static_cast<size_t>(at) >= asked.size())
        throw db::DbError("the existence check returned a row it was not asked for");
      counts[asked[static_cast<size_t>(at)]] = query.fieldInt(1);
    }
  }
  return counts;
}

}  // namespace xb::import
