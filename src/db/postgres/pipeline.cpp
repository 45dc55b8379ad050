#include "db/postgres/pipeline.h"

#include <cstdlib>
#include <map>
#include <set>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/postgres/cursors.h"
#include "db/postgres/run_arrays.h"
#include "db/postgres/value_format.h"

namespace xb::db::postgres {

namespace {

// The values of one run of a statement, as libpq takes them (pointers
// into marked, the statement and numbers).
void Bind(const PgStatement& statement, const std::vector<Value>* marked,
          std::vector<const char*>& values, std::vector<unsigned>& types,
          std::vector<std::string>& numbers) {
  values.clear();
  types.clear();
  numbers.clear();
  numbers.reserve(statement.params.size());
  for (const auto& param : statement.params) {
    if (param.marker < 0) {
      types.push_back(param.oid);
      values.push_back(param.is_null ? nullptr : param.text.c_str());
      continue;
    }
    if (!marked || static_cast<size_t>(param.marker) >= marked->size())
      throw DbError("a value is missing for the statement's marker " +
                    std::to_string(param.marker + 1));
    const Value& v = (*marked)[static_cast<size_t>(param.marker)];
    // The value's own type: a number goes as numeric, a date read by
    // to_date as a timestamp; anything else the server types from where
    // the marker stands.
    types.push_back(!param.date_mask.empty()        ? param.oid
                    : v.kind == Value::Kind::Number ? kNumericOid
                                                    : 0u);
    if (v.kind == Value::Kind::Null ||
        (v.text.empty() && ((v.kind != Value::Kind::Text && v.kind != Value::Kind::Integer) ||
                            !param.date_mask.empty()))) {
      // As in Oracle, '' is NULL, to_date('') too; a text value keeps it as ''.
      values.push_back(nullptr);
    } else if (v.kind == Value::Kind::Integer) {
      numbers.push_back(std::to_string(v.integer));
      values.push_back(numbers.back().c_str());
    } else if (v.kind == Value::Kind::Number && param.date_mask.empty()) {
      // Oracle's number forms only: PostgreSQL's numeric also takes NaN,
      // Infinity and numbers beyond NUMBER's range.
      numbers.push_back(oracle::OracleNumberText(v.text));
      values.push_back(numbers.back().c_str());
    } else if (!param.date_mask.empty()) {
      // Read as strictly as Oracle's to_date reads it, here: PostgreSQL's
      // to_timestamp takes "2024-2" or "2024-2-29xyz" without a word.
      numbers.emplace_back();
      if (!DateByMask(v.text, param.date_mask, param.keeps_time, numbers.back()))
        throw DbError("to_date: '" + v.text + "' is not a valid date for the format '" +
                      param.date_mask + "'");
      values.push_back(numbers.back().c_str());
    } else {
      values.push_back(v.text.c_str());
    }
  }
}

// A data statement's name on the server, by its text and parameter types.
std::string PreparedKey(const PgStatement& statement, const std::vector<unsigned>& types) {
  std::string key = statement.text;
  for (const unsigned type : types) key += "\x01" + std::to_string(type);
  return key;
}

}  // namespace

PgPrepared::PgPrepared(Pipeline& pipeline, PgStatement statement)
    : pipeline_(pipeline), statement_(std::move(statement)) {
  for (const auto& param : statement_.params)
    if (param.marker >= 0) ++markers_;
}

void PgPrepared::execute(const std::vector<Value>& values) { pipeline_.Run(statement_, &values); }

std::unique_ptr<Cursor> PgPrepared::query(const std::vector<Value>& values) {
  Result result = pipeline_.Run(statement_, &values);
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) throw NoRowSetError();
  return std::make_unique<PgCursor>(std::move(result));
}

void Pipeline::Forget() {
  prepared_.clear();
  array_plans_.clear();
  array_types_.clear();
}

void Pipeline::RunPipelined(const std::vector<BatchItem>& items, size_t from, size_t to,
                            std::vector<Result>* results) {
  session_.EnsureConnected();
  session_.Settle();
  if (results) results->resize(to - from);
  std::vector<const PgStatement*> statements;
  for (size_t i = from; i < to; ++i) {
    const auto* prepared = dynamic_cast<const PgPrepared*>(items[i].statement);
    if (!prepared || !prepared->statement().data) {
      // Not a data statement of this engine's: one by one.
      for (size_t k = from; k < to; ++k) {
        try {
          if (!results) {
            items[k].statement->execute(*items[k].values);
            continue;
          }
          const auto* own = dynamic_cast<const PgPrepared*>(items[k].statement);
          if (!own) throw DbError("a statement of another engine");
          (*results)[k - from] = Run(own->statement(), items[k].values);
        } catch (const DbError& e) {
          throw BatchError(k, e);
        }
      }
      return;
    }
    statements.push_back(&prepared->statement());
  }
  if (prepared_.size() + statements.size() > kMaxPrepared) {
    // Rarely more shapes than this: start again rather than keep them all.
    std::set<std::string> fresh;
    for (const auto* st : statements) fresh.insert(st->text);
    if (prepared_.size() + fresh.size() > kMaxPrepared) {
      session_.Simple("deallocate all");
      prepared_.clear();
    }
  }

  struct Command {
    size_t item;
    bool prepare;
    std::string key, name;
  };
  std::vector<Command> commands;
  commands.reserve(statements.size() + 4);
  std::map<std::string, std::string> new_names;
  std::vector<const char*> values;
  std::vector<unsigned> types;
  std::vector<std::string> numbers;
  if (PQenterPipelineMode(session_.conn()) != 1) session_.Fail(nullptr);
  bool sent = true;
  for (size_t k = 0; k < statements.size() && sent; ++k) {
    const PgStatement& statement = *statements[k];
    if (statement.schema_change) schema_changed_();
    try {
      Bind(statement, items[from + k].values, values, types, numbers);
    } catch (const DbError& e) {
      PQexitPipelineMode(session_.conn());
      throw BatchError(from + k, e);
    }
    std::string key = PreparedKey(statement, types);
    const std::string* name = nullptr;
    if (const auto it = prepared_.find(key); it != prepared_.end()) {
      name = &it->second;
    } else if (const auto fresh = new_names.find(key); fresh != new_names.end()) {
      name = &fresh->second;
    } else {
      const std::string made = "xb" + std::to_string(++statement_number_);
      name = &new_names.emplace(key, made).first->second;
      sent = PQsendPrepare(session_.conn(), name->c_str(), statement.text.c_str(),
                           static_cast<int>(types.size()), types.data()) == 1;
      commands.push_back({from + k, true, key, *name});
    }
    sent =
        sent && PQsendQueryPrepared(session_.conn(), name->c_str(), static_cast<int>(values.size()),
                                    values.data(), nullptr, nullptr, 0) == 1;
    commands.push_back({from + k, false, {}, {}});
  }
  sent = sent && PQpipelineSync(session_.conn()) == 1;
  if (!sent) {
    PQexitPipelineMode(session_.conn());
    try {
      session_.Fail(nullptr);
    } catch (const DbError& e) {
      throw BatchError(from, e);
    }
  }

  Result failure;
  size_t failed_item = from;
  bool lost = false;
  for (const Command& command : commands) {
    if (PQstatus(session_.conn()) != CONNECTION_OK) {
      if (!failure) failed_item = command.item;
      lost = true;
      break;
    }
    while (PGresult* r = session_.NextResult()) {
      Result held(r);
      const auto status = PQresultStatus(r);
      // A statement prepared on the server stays known even when its run fails.
      if (command.prepare && status == PGRES_COMMAND_OK)
        prepared_.emplace(command.key, command.name);
      if (status == PGRES_FATAL_ERROR && !failure) {
        failure = std::move(held);
        failed_item = command.item;
      } else if (results && !command.prepare && status == PGRES_TUPLES_OK) {
        (*results)[command.item - from] = std::move(held);
      }
    }
  }
  EndPipeline();
  if (failure || lost) {
    try {
      session_.Fail(failure.get());
    } catch (const DbError& e) {
      throw BatchError(failed_item, e);
    }
  }
}

// What is left of the pipeline read up to its sync (a failure skips the
// commands after it), then out of pipeline mode.
void Pipeline::EndPipeline() {
  while (PQstatus(session_.conn()) == CONNECTION_OK) {
    Result r(session_.NextResult());
    if (!r || PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
  }
  PQexitPipelineMode(session_.conn());
}

Result Pipeline::Run(const PgStatement& statement, const std::vector<Value>* marked) {
  session_.EnsureConnected();
  session_.Settle();
  if (statement.schema_change) schema_changed_();

  std::vector<const char*> values;
  std::vector<unsigned> types;
  std::vector<std::string> numbers;  // integer values as text, alive until sent
  Bind(statement, marked, values, types, numbers);
  const int count = static_cast<int>(values.size());
  std::string key;
  const std::string* name = nullptr;
  bool prepare = false;
  if (statement.data) {
    key = PreparedKey(statement, types);
    if (auto it = prepared_.find(key); it != prepared_.end()) {
      name = &it->second;
    } else {
      if (prepared_.size() >= kMaxPrepared) {
        session_.Simple("deallocate all");
        prepared_.clear();
      }
      next_name_ = "xb" + std::to_string(++statement_number_);
      name = &next_name_;
      prepare = true;
    }
  }

  if (!prepare) {
    // One round trip either way: a shape prepared before, or a statement
    // that is not worth keeping (the schema's, say).
    Result result(name ? session_.ExecPrepared(name->c_str(), count, values.data())
                       : session_.ExecParams(statement.text.c_str(), count, values.data(),
                                             count ? types.data() : nullptr));
    if (!Ok(result.get())) session_.Fail(result.get());
    return result;
  }

  // A new shape: prepared and run in one round trip.
  if (PQenterPipelineMode(session_.conn()) != 1) session_.Fail(nullptr);
  bool sent = true;
  int commands = 0;
  const int prepare_command = prepare ? commands : -1;
  if (prepare) {
    sent = sent && PQsendPrepare(session_.conn(), name->c_str(), statement.text.c_str(), count,
                                 types.data()) == 1;
    ++commands;
  }
  const int main_command = commands++;
  if (name)
    sent = sent && PQsendQueryPrepared(session_.conn(), name->c_str(), count, values.data(),
                                       nullptr, nullptr, 0) == 1;
  else
    sent = sent && PQsendQueryParams(session_.conn(), statement.text.c_str(), count,
                                     count ? types.data() : nullptr, values.data(), nullptr,
                                     nullptr, 0) == 1;
  sent = sent && PQpipelineSync(session_.conn()) == 1;
  if (!sent) {
    PQexitPipelineMode(session_.conn());
    session_.Fail(nullptr);
  }

  // Every command's result, then the sync; the first failure is the one
  // to report (later commands of the pipeline were skipped because of it).
  Result main, failure;
  bool prepared = false;
  for (int c = 0; c < commands && PQstatus(session_.conn()) == CONNECTION_OK; ++c) {
    while (PGresult* r = session_.NextResult()) {
      Result held(r);
      const auto status = PQresultStatus(r);
      if (c == prepare_command && status == PGRES_COMMAND_OK) prepared = true;
      if (status == PGRES_FATAL_ERROR && !failure)
        failure = std::move(held);
      else if (c == main_command && !main && status != PGRES_PIPELINE_ABORTED)
        main = std::move(held);
    }
  }
  EndPipeline();
  // A statement prepared on the server stays known even when its first run fails.
  if (prepared) prepared_.emplace(key, *name);

  if (failure || !main) {
    session_.Fail(failure.get());
  }
  return main;
}

std::optional<std::vector<bool>> Pipeline::RowsReturned(
    const PgStatement& single, const std::vector<std::vector<Value>>& runs) {
  std::vector<bool> returned(runs.size(), false);
  if (runs.empty()) return returned;
  // Each run bound exactly as it would be alone (the same texts, the same
  // types), its values gathered into one array per marker.
  std::vector<const char*> values;
  std::vector<unsigned> types, first_types;
  std::vector<std::string> numbers;
  std::vector<std::string> arrays(single.params.size(), "{");
  for (size_t r = 0; r < runs.size(); ++r) {
    Bind(single, &runs[r], values, types, numbers);
    if (r == 0)
      first_types = types;
    else if (types != first_types)
      return std::nullopt;  // values of other types: one statement cannot take them
    for (size_t p = 0; p < single.params.size(); ++p)
      if (single.params[p].marker >= 0) AppendArrayElement(arrays[p], values[p]);
  }
  const ArrayPlan* plan = PlanOverArrays(single, first_types);
  if (!plan) return std::nullopt;
  PgStatement asked = plan->statement;
  for (size_t p = 0; p < single.params.size(); ++p)
    if (single.params[p].marker >= 0) asked.params[p].text = std::move(arrays[p] += '}');
  Result result = Run(asked, nullptr);
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    const long long run = std::strtoll(PQgetvalue(result.get(), row, 0), nullptr, 10);
    if (run < 1 || static_cast<size_t>(run) > runs.size())
      throw DbError("the database answered for a row that was not asked");
    returned[static_cast<size_t>(run - 1)] = true;
  }
  return returned;
}

// The plan for a statement whose runs bind with types; null when it
// cannot be asked so (a marker of a type without arrays). The first time:
// the statement described by the server, in one round trip.
const Pipeline::ArrayPlan* Pipeline::PlanOverArrays(const PgStatement& single,
                                                    const std::vector<unsigned>& types) {
  const std::string key = PreparedKey(single, types);
  if (const auto it = array_plans_.find(key); it != array_plans_.end())
    return it->second ? &*it->second : nullptr;
  const std::vector<unsigned> described = DescribeParams(single, types);
  ArrayPlan plan;
  plan.statement.text = RowsReturnedText(single);
  plan.statement.data = true;
  plan.statement.params = single.params;
  bool offered = described.size() == single.params.size();
  for (size_t p = 0; offered && p < single.params.size(); ++p) {
    PgParam& param = plan.statement.params[p];
    if (param.marker < 0) continue;
    param = {};
    param.oid = ArrayTypeOf(described[p]);
    offered = param.oid != 0;
  }
  auto& slot = array_plans_[key];
  if (offered) slot = std::move(plan);
  return slot ? &*slot : nullptr;
}

// The types the server gives the statement's parameters when they are
// sent with types (0: the server's choice).
std::vector<unsigned> Pipeline::DescribeParams(const PgStatement& statement,
                                               const std::vector<unsigned>& types) {
  session_.EnsureConnected();
  session_.Settle();
  if (PQenterPipelineMode(session_.conn()) != 1) session_.Fail(nullptr);
  bool sent = PQsendPrepare(session_.conn(), "", statement.text.c_str(),
                            static_cast<int>(types.size()), types.data()) == 1 &&
              PQsendDescribePrepared(session_.conn(), "") == 1 &&
              PQpipelineSync(session_.conn()) == 1;
  if (!sent) {
    PQexitPipelineMode(session_.conn());
    session_.Fail(nullptr);
  }
  Result failure, description;
  for (int command = 0; command < 2 && PQstatus(session_.conn()) == CONNECTION_OK; ++command) {
    while (PGresult* r = session_.NextResult()) {
      Result held(r);
      if (PQresultStatus(r) == PGRES_FATAL_ERROR && !failure)
        failure = std::move(held);
      else if (command == 1 && PQresultStatus(r) == PGRES_COMMAND_OK)
        description = std::move(held);
    }
  }
  EndPipeline();
  if (failure || !description) session_.Fail(failure.get());
  std::vector<unsigned> described(static_cast<size_t>(PQnparams(description.get())));
  for (size_t p = 0; p < described.size(); ++p)
    described[p] = PQparamtype(description.get(), static_cast<int>(p));
  return described;
}

// The array type of a type (the catalogue asked once for one that is
// not built in); 0 when it has none or its arrays are not written with
// commas.
unsigned Pipeline::ArrayTypeOf(unsigned type) {
  if (const unsigned builtin = BuiltinArrayType(type)) return builtin;
  if (const auto it = array_types_.find(type); it != array_types_.end()) return it->second;
  const std::string oid = std::to_string(type);
  const char* values[] = {oid.c_str()};
  Result result(session_.ExecParams(
      "select typarray from pg_catalog.pg_type where oid = $1::oid and typdelim = ','", 1, values));
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) session_.Fail(result.get());
  const unsigned array =
      PQntuples(result.get()) == 1
          ? static_cast<unsigned>(std::strtoul(PQgetvalue(result.get(), 0, 0), nullptr, 10))
          : 0u;
  array_types_[type] = array;
  return array;
}

}  // namespace xb::db::postgres
