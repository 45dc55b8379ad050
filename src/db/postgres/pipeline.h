#pragma once
// The program's statements prepared on the server once per shape and run
// again with new values: alone (a new shape's preparation and its run in
// one round trip, libpq's pipeline mode), many in one pipeline with one
// sync (a batch), or one statement asked for many runs' values at once
// over arrays (run_arrays.h).

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/engine.h"
#include "db/postgres/session.h"
#include "db/postgres/translate.h"

namespace xb::db::postgres {

class Pipeline;

// A statement of the program's with '?' markers: translated once, prepared
// on the server at its first run, then only bound and run.
class PgPrepared : public Statement {
 public:
  PgPrepared(Pipeline& pipeline, PgStatement statement);
  int parameterCount() const override { return markers_; }
  const PgStatement& statement() const { return statement_; }
  void execute(const std::vector<Value>& values) override;
  std::unique_ptr<Cursor> query(const std::vector<Value>& values) override;

 private:
  Pipeline& pipeline_;
  PgStatement statement_;
  int markers_ = 0;
};

class Pipeline {
 public:
  // schema_changed: called before a statement that may change the schema
  // is sent.
  Pipeline(Session& session, std::function<void()> schema_changed)
      : session_(session), schema_changed_(std::move(schema_changed)) {}

  // Binds and runs one statement (with the values of its markers, if any);
  // returns its result.
  Result Run(const PgStatement& statement, const std::vector<Value>* marked);
  // Items [from, to) sent in one pipeline with one sync: a shape new to the
  // server is prepared on the way. The first failure is the one reported
  // (the server skips the rest of the pipeline after it), as BatchError.
  // With results: each item's result.
  void RunPipelined(const std::vector<BatchItem>& items, size_t from, size_t to,
                    std::vector<Result>* results = nullptr);
  // Engine::returnsRows for a statement of this engine's.
  std::optional<std::vector<bool>> RowsReturned(const PgStatement& single,
                                                const std::vector<std::vector<Value>>& runs);

  // A new session: nothing is prepared on it.
  void Forget();
  // The schema may have changed: the types the plans over arrays were made
  // for may be stale.
  void ForgetPlans() { array_plans_.clear(); }

 private:
  // A statement asked for many runs at once: its parameters typed as the
  // server types the statement's own markers, each marker's as an array of
  // that type.
  struct ArrayPlan {
    PgStatement statement;  // the markers' parameters still to be given their arrays
  };
  const ArrayPlan* PlanOverArrays(const PgStatement& single, const std::vector<unsigned>& types);
  std::vector<unsigned> DescribeParams(const PgStatement& statement,
                                       const std::vector<unsigned>& types);
  unsigned ArrayTypeOf(unsigned type);
  void EndPipeline();

  static constexpr size_t kMaxPrepared = 64;
  Session& session_;
  std::function<void()> schema_changed_;
  std::unordered_map<std::string, std::string> prepared_;  // PreparedKey -> name on the server
  std::string next_name_;
  long long statement_number_ = 0;
  // By the statement's PreparedKey; nullopt: not to be asked over arrays.
  std::unordered_map<std::string, std::optional<ArrayPlan>> array_plans_;
  std::unordered_map<unsigned, unsigned> array_types_;  // beyond the built-in types
};

}  // namespace xb::db::postgres
