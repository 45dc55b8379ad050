#include "import/existence.h"

#include <cstddef>
#include <cstdlib>
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
  db::Connection& connection = query.connection();
  // A server that takes many statements in one round trip gets smaller
  // ones: PostgreSQL plans a compound of n parts in time growing with n².
  const size_t per_statement = connection.engine().pipelinesQueries()
                                   ? kExistenceRowsPerPipelinedStatement
                                   : kExistenceRowsPerStatement;
  // The marked condition of each row shape, made once.
  std::unordered_map<uint32_t, std::string> conditions;
  std::vector<db::Value> row_values;
  // Per statement: its marked text, and which row each of its parts asks.
  std::vector<std::string> marked_texts;
  std::vector<std::vector<size_t>> asked_rows;
  std::vector<db::BatchStatement> statements;
  // Whether every asked row has one shape: then the engine may ask for
  // them all in one statement of its own.
  bool one_shape = true;
  uint32_t first_shape = 0;
  for (size_t next = 0; next < count;) {
    std::string marked;
    std::vector<db::Value> values;
    std::vector<size_t> asked;  // statement part -> row offset
    for (; next < count && asked.size() < per_statement; ++next) {
      const size_t row = first + next;
      if (!rows.hasKeys(row)) continue;
      const uint32_t shape = rows.shapeOf(row);
      auto it = conditions.find(shape);
      if (it == conditions.end())
        it = conditions.emplace(shape, MarkedKeyCondition(rows.at(row))).first;
      if (!asked.empty()) marked += " union all ";
      marked +=
          "select " + std::to_string(asked.size()) + " from " + table + " where " + it->second;
      rows.keyValues(row, row_values);
      if (statements.empty() && asked.empty()) first_shape = shape;
      one_shape = one_shape && shape == first_shape;
      for (auto& v : row_values) values.push_back(std::move(v));
      asked.push_back(next);
    }
    if (asked.empty()) break;
    marked_texts.push_back(std::move(marked));
    asked_rows.push_back(std::move(asked));
    db::BatchStatement& statement = statements.emplace_back();
    statement.values = std::move(values);
  }
  if (statements.empty()) return counts;
  for (size_t k = 0; k < statements.size(); ++k) {
    statements[k].marked = &marked_texts[k];
    // The Oracle text only when shown or logged: from the statement and a
    // copy of its values, so it stays right whatever happens to the rows.
    auto spelled = std::make_shared<std::pair<std::string, std::vector<db::Value>>>(
        marked_texts[k], statements[k].values);
    statements[k].text = [spelled] { return SpelledOut(spelled->first, spelled->second); };
  }
  // The query holds the last statement, as if it had run it last.
  query.close();
  query.setStatement(statements.back().text, marked_texts.back(), statements.back().values);

  if (one_shape) {
    // One row's own check, asked by the engine for every row at once: each
    // row's values are its part's slice of its statement's values, all
    // parts of one width.
    const size_t width = statements[0].values.size() / asked_rows[0].size();
    std::vector<std::vector<db::Value>> runs;
    for (size_t k = 0; k < statements.size(); ++k)
      for (size_t part = 0; part < asked_rows[k].size(); ++part) {
        const auto from = statements[k].values.begin() + static_cast<std::ptrdiff_t>(part * width);
        runs.emplace_back(from, from + static_cast<std::ptrdiff_t>(width));
      }
    const std::string single = "select 0 from " + table + " where " + conditions.at(first_shape);
    if (const auto matched = connection.returnsRows(single, runs, statements)) {
      size_t run = 0;
      for (const auto& asked : asked_rows)
        for (const size_t row : asked)
          if ((*matched)[run++]) counts[row] = 1;
      return counts;
    }
  }
  const auto results = connection.queryBatch(statements);
  for (size_t k = 0; k < results.size(); ++k) {
    for (const auto& result_row : results[k]) {
      if (result_row.empty() || !result_row[0])
        throw db::DbError("the existence check returned a row it was not asked for");
      char* end = nullptr;
      const long long at = std::strtoll(result_row[0]->c_str(), &end, 10);
      if (at < 0 || static_cast<size_t>(at) >= asked_rows[k].size())
        throw db::DbError("the existence check returned a row it was not asked for");
      ++counts[asked_rows[k][static_cast<size_t>(at)]];
    }
  }
  return counts;
}

}  // namespace xb::import
