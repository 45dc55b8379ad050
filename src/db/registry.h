#pragma once
// The engines the program knows, by name. Built-in engines are registered
// on first use (the build lists them, see db/engine.h); tests may add their
// own.

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
};

class Registry {
 public:
  // The registry with every built-in engine in it.
  static Registry& instance();
  // Replaces an entry of the same name.
  void add(EngineEntry entry);
  const EngineEntry* find(const std::string& name) const;  // case-insensitive
  std::vector<std::string> names() const;
  // The entries with claims(), in order.
  std::vector<const EngineEntry*> claimers() const;

 private:
  std::vector<EngineEntry> entries_;
};

// Opens the engine the target names; DbError for an unknown engine.
std::unique_ptr<Engine> OpenEngine(const EngineTarget& target);

}  // namespace xb::db
