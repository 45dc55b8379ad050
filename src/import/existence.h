#pragma once
// Whether the rows of a read already stand in the table, asked for many rows
// at once: one statement per chunk of rows instead of one per row, so that
// a run across a network pays a round trip per few hundred rows.

#include <cstddef>
#include <string>
#include <vector>

#include "db/connection.h"
#include "import/render.h"

namespace xb::import {

// At most this many rows are asked in one statement (SQLite refuses a
// compound select of more than 500 parts); on an engine that sends many
// statements in one round trip (Engine::pipelinesQueries), this many.
constexpr size_t kExistenceRowsPerStatement = 500;
constexpr size_t kExistenceRowsPerPipelinedStatement = 100;

// For rows [first, first + count) of rows: how many rows of table match each
// row's key condition, in row order (the run only asks whether it is more
// than none). Each row is asked with exactly the
// condition the row-at-a-time check "select count(*) from T where K"
// uses (bound, composite keys included), so a key that is NULL to the
// database matches nothing, as before. A row without key terms counts 0
// and is not asked. One bound statement through query per chunk of at most
// kExistenceRowsPerStatement asked rows, all sent together where the
// engine can (Connection::queryBatch):
//   select 0 from T where K0 union all select 1 from T where K1 ...
// Each match comes back as a row naming its part: no aggregate per part,
// which is most of what the server spends starting such a statement.
// The query is left holding the last statement (its Oracle text, values
// written in, is made when asked for), not open. A failure of the database
// escapes as DbError (a BatchError); no count is given.
std::vector<long long> CountExisting(db::Query& query, const std::string& table,
                                     const RowStore& rows, size_t first, size_t count);

}  // namespace xb::import
