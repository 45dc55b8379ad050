#include "db/registry.h"

#include <algorithm>
#include <mutex>

#include "db/errors.h"
#include "text/ascii.h"

namespace xb::db {

// Made by the build from the list of engine targets (engines.cpp.in).
void RegisterBuiltInEngines(Registry& registry);

Registry& Registry::instance() {
  static Registry registry;
  static std::once_flag once;
  std::call_once(once, [] { RegisterBuiltInEngines(registry); });
  return registry;
}

void Registry::add(EngineEntry entry) {
  entry.name = text::LowerCased(entry.name);
  for (auto& e : entries_)
    if (e.name == entry.name) {
      e = std::move(entry);
      return;
    }
  entries_.push_back(std::move(entry));
}

const EngineEntry* Registry::find(const std::string& name) const {
  const std::string wanted = text::LowerCased(name);
  for (const auto& e : entries_)
    if (e.name == wanted) return &e;
  return nullptr;
}

std::vector<std::string> Registry::names() const {
  std::vector<std::string> names;
  for (const auto& e : entries_) names.push_back(e.name);
  return names;
}

std::vector<const EngineEntry*> Registry::claimers() const {
  std::vector<const EngineEntry*> list;
  for (const auto& e : entries_)
    if (e.claims) list.push_back(&e);
  std::stable_sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->order < b->order; });
  return list;
}

std::unique_ptr<Engine> OpenEngine(const EngineTarget& target) {
  const EngineEntry* entry = Registry::instance().find(target.engine);
  if (!entry)
    throw DbError("unknown database engine '" + target.engine + "'")
        .because(Reason::UnknownEngine, target.engine);
  return entry->open(target);
}

}  // namespace xb::db
