#pragma once
// The engines the program knows, by name. Below the engines: an engine
// registers itself with add() and knows nothing of the others. The build
// lists the built-in engines (db/engine.h) and fills instance() with them on
// first use; tests may add their own.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/engine.h"

namespace xb::db {

struct EngineEntry {
  std::string name;  // lower case, as in an alias file's engine=NAME
  std::function<std::unique_ptr<Engine>(const EngineTarget&)> open;
  // Whether a data source typed without an alias is this engine's (an ODBC
  // DSN, an existing SQLite file). Asked in `order`, lowest first; empty =
  // only through an alias.
  std::function<bool(const std::string& data_source)> claims;
  int order = 100;
  // The data sources of this engine the machine knows (ODBC DSNs), for the
  // data-source list; empty = none.
  std::function<std::vector<std::string>()> data_sources;
  // Whether a target is a file path: an alias's relative one is taken from
  // the alias file's folder.
  bool target_is_file = false;
  // The engine of an alias that names none.
  bool alias_default = false;
};

class Registry {
 public:
  // The registry with every built-in engine in it: defined above the
  // engines, by the build's list of them (xb_db).
  static Registry& instance();
  // Replaces an entry of the same name.
  void add(EngineEntry entry);
  const EngineEntry* find(const std::string& name) const;  // case-insensitive
  std::vector<std::string> names() const;
  // The entries with claims(), in order.
  std::vector<const EngineEntry*> claimers() const;
  // Every engine's data sources, engine after engine as registered.
  std::vector<std::string> dataSources() const;
  // The engine of an alias without engine=; null when none is.
  const EngineEntry* aliasDefault() const;
  // Opens the engine the target names; DbError for an unknown engine.
  std::unique_ptr<Engine> open(const EngineTarget& target) const;

 private:
  std::vector<EngineEntry> entries_;
};

// Opens the engine the target names among the built-in ones.
inline std::unique_ptr<Engine> OpenEngine(const EngineTarget& target) {
  return Registry::instance().open(target);
}

}  // namespace xb::db
