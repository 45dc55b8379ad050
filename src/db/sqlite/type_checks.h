#pragma once
// Declared column types kept on a SQLite connection as Oracle keeps them.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace xb::db {

// Keeps every table of a SQLite connection to its declared types: temporary
// triggers (never written into the file, so tables made before, by this or
// another program, are covered alike) that check each inserted or updated
// value and store the kept one. Refresh after the schema may have changed.
//
// Checked inserts. The import inserts row after row with one prepared
// statement of a plain form (insert into T(c1,...) values(?, to_date(?,'m'),
// ...)); the trigger's program, its statement journal and its check cost
// that insert about a third of its time. Such a statement is given a check
// of its own (PlanInsert): a function in its first value that checks the
// row's values, as the trigger's WHEN would see them, before anything is
// written. While a transaction runs such rows, the table's insert trigger
// is left out (Suspend); a row the check cannot pass as it is (a value the
// trigger would refuse or rewrite) asks for the trigger back (Resume) and
// runs again with it, so its error or kept values are exactly the
// trigger's. Every other statement that writes resumes the trigger first,
// as does the commit; a rollback brings it back by itself (Forget).
class TypeChecks {
 public:
  // Registers the checking functions on the connection.
  explicit TypeChecks(sqlite3* db);
  ~TypeChecks();
  TypeChecks(const TypeChecks&) = delete;
  TypeChecks& operator=(const TypeChecks&) = delete;
  // Adds the triggers of tables that have none yet (cheap when the schema is
  // unchanged since the last call).
  void Refresh();

  // For a prepared text of the plain insert form (markers '?' only): the
  // text to prepare instead, with the row check in its first value, and the
  // plan's number; nullopt for any other statement.
  struct CheckedInsert {
    std::string text;
    int plan = -1;
  };
  std::optional<CheckedInsert> PlanInsert(const std::string& sql);
  // Leaves the plan's table without its insert trigger (inside a
  // transaction only); false when the plan cannot be checked here (the
  // statement then runs with the trigger).
  bool Suspend(int plan);
  // Brings back a trigger left out; DbError when it cannot be made again.
  void Resume();
  // After a rollback, which brought the trigger back itself.
  void Forget();
  // Set by the row check when a row is to run with the trigger.
  bool recheckAsked() const { return recheck_; }
  void clearRecheck() { recheck_ = false; }

 private:
  struct Plan;
  static void CheckedRow(sqlite3_context* context, int argc, sqlite3_value** argv);
  long long Versions();
  bool BuildPlan(Plan& plan);

  sqlite3* db_;
  long long schema_version_ = -1;
  // Moves whenever the triggers are made anew (the schema changed).
  long long generation_ = 0;
  // Each table's insert trigger (by upper-case table name): its name and
  // the statement that makes it.
  struct Trigger {
    std::string name, create;
  };
  std::map<std::string, Trigger> insert_triggers_;
  // The table whose insert trigger is left out, upper-case; empty when none.
  std::string suspended_;
  std::vector<std::unique_ptr<Plan>> plans_;
  // The plans by the text they were made for.
  std::map<std::string, CheckedInsert> planned_;
  bool recheck_ = false;
};

}  // namespace xb::db
