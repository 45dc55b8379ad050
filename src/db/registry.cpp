#include "db/registry.h"

#include <algorithm>

#include "db/errors.h"
#include "text/ascii.h"

namespace xb::db {

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

std::vector<std::string> Registry::dataSources() const {
  std::vector<std::string> names;
  for (const auto& e : entries_)
    if (e.data_sources)
      for (auto& name : e.data_sources()) names.push_back(std::move(name));
  return names;
}

const EngineEntry* Registry::aliasDefault() const {
  for (const auto& e : entries_)
    if (e.alias_default) return &e;
  return nullptr;
}

std::unique_ptr<Engine> Registry::open(const EngineTarget& target) const {
  const EngineEntry* entry = find(target.engine);
  if (!entry)
    throw DbError("unknown database engine '" + target.engine + "'")
        .because(Reason::UnknownEngine, target.engine);
  return entry->open(target);
}

}  // namespace xb::db
