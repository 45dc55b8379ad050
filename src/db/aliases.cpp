#include "db/aliases.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>

#include "db/errors.h"
#include "db/registry.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

namespace fs = std::filesystem;

struct Alias {
  std::string name;
  EngineTarget target;
};

// Reads the alias file. A missing file holds no alias; a file that exists
// but cannot be read, or holds what is not an alias, is an error.
std::vector<Alias> ReadAliasFile() {
  const std::string path = AliasFilePath();
  std::error_code ec;
  if (!fs::exists(path, ec)) return {};
  std::ifstream in(path);
  if (!in || !fs::is_regular_file(path, ec))
    throw DbError("cannot read the alias file " + path).because(Reason::AliasFileUnreadable, path);
  const fs::path folder = fs::path(path).parent_path();

  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad())
    throw DbError("cannot read the alias file " + path).because(Reason::AliasFileUnreadable, path);

  std::vector<Alias> aliases;
  int number = 0;
  auto fail = [&](const std::string& why) {
    throw DbError("alias file " + path + ", line " + std::to_string(number) + ": " + why)
        .because(Reason::AliasFileFault, path, number);
  };
  // Lines end in LF, CR LF or CR, whichever editor wrote the file.
  for (const std::string_view line : text::Lines(content)) {
    ++number;
    const std::string entry(text::Trimmed(line));
    if (entry.empty() || entry[0] == ';' || entry[0] == '#') continue;
    if (entry.front() == '[') {
      if (entry.back() != ']' || entry.size() < 3)
        fail("a section name must stand between [ and ]");
      Alias alias{std::string(text::Trimmed(std::string_view(entry).substr(1, entry.size() - 2))),
                  {}};
      if (const EngineEntry* engine = Registry::instance().aliasDefault())
        alias.target.engine = engine->name;
      aliases.push_back(std::move(alias));
      continue;
    }
    const auto eq = entry.find('=');
    if (eq == std::string::npos) fail("expected key=value");
    if (aliases.empty()) fail("key=value outside an alias section");
    const std::string key = text::LowerCased(text::Trimmed(std::string_view(entry).substr(0, eq)));
    std::string value(text::Trimmed(std::string_view(entry).substr(eq + 1)));
    // A comment may follow the value.
    if (const auto semi = value.find(" ;"); semi != std::string::npos)
      value = std::string(text::Trimmed(std::string_view(value).substr(0, semi)));
    EngineTarget& target = aliases.back().target;
    if (key == "engine") {
      const std::string engine = text::LowerCased(value);
      if (!Registry::instance().find(engine)) {
        std::string known;
        for (const auto& name : Registry::instance().names())
          known += (known.empty() ? "" : ", ") + name;
        fail("unknown engine '" + value + "' (" + known + ")");
      }
      target.engine = engine;
    } else if (key == "target") {
      target.where = value;
    } else if (key == "lock_timeout" || key == "connect_timeout" || key == "response_timeout") {
      // Seconds a statement waits for another session's lock (0 = forever),
      // that connecting waits for the server, or that a connected server
      // may stay silent (0 = forever).
      char* end = nullptr;
      const long seconds = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || seconds < 0 || seconds > 86400)
        fail(key + " must be a number of seconds from 0 to 86400");
      (key == "lock_timeout"      ? target.lock_timeout
       : key == "connect_timeout" ? target.connect_timeout
                                  : target.response_timeout) = static_cast<int>(seconds);
    } else {
      fail("unknown key '" + key + "'");
    }
  }
  for (auto& alias : aliases) {
    if (alias.target.engine.empty())
      throw DbError("alias file " + path + ": alias [" + alias.name + "] names no engine")
          .because(Reason::AliasFileFault, path);
    if (alias.target.where.empty())
      throw DbError("alias file " + path + ": alias [" + alias.name + "] has no target")
          .because(Reason::AliasFileFault, path);
    const EngineEntry* engine = Registry::instance().find(alias.target.engine);
    if (engine && engine->target_is_file && fs::path(alias.target.where).is_relative())
      alias.target.where = (folder / alias.target.where).string();
  }
  return aliases;
}

}  // namespace

std::string AliasFilePath() {
  if (const char* file = std::getenv("XLSBRIDGE_ALIASES"); file && *file) return file;
  fs::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    config = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    config = fs::path(home) / ".config";
  else
    config = ".";
  return (config / "xlsbridge" / "aliases.ini").string();
}

std::optional<EngineTarget> FindAlias(const std::string& name) {
  for (const auto& alias : ReadAliasFile())
    if (text::EqualsIgnoringCase(alias.name, name)) return alias.target;
  return std::nullopt;
}

EngineTarget ResolveDataSource(const std::string& data_source) {
  // A broken alias file was already reported when the list was filled; it
  // must not also stop a DSN or a file path typed by hand from connecting.
  std::optional<EngineTarget> alias;
  try {
    alias = FindAlias(data_source);
  } catch (const DbError&) {
  }
  if (alias) return *alias;
  for (const EngineEntry* entry : Registry::instance().claimers())
    if (entry->claims(data_source)) {
      EngineTarget target;
      target.engine = entry->name;
      target.where = data_source;
      return target;
    }
  throw DbError(DbError::Kind::NoSuchDataSource,
                "no such data source: '" + data_source +
                    "' is neither an alias, an ODBC data source nor an existing database file")
      .because(Reason::NoSuchDataSource, data_source);
}

std::vector<std::string> AliasList() {
  std::vector<std::string> names;
  for (const auto& alias : ReadAliasFile()) names.push_back(alias.name);
  for (auto& name : Registry::instance().dataSources()) names.push_back(std::move(name));

  // Each name once: of names differing only in case, the first read stays.
  std::vector<std::string> unique;
  for (const auto& name : names) {
    const bool seen = std::any_of(unique.begin(), unique.end(), [&](const std::string& n) {
      return text::EqualsIgnoringCase(n, name);
    });
    if (!seen) unique.push_back(name);
  }
  std::locale locale = std::locale::classic();
  try {
    locale = std::locale("");
  } catch (const std::runtime_error&) {
    // An unknown LANG leaves the byte order.
  }
  const auto& collate = std::use_facet<std::collate<char>>(locale);
  std::stable_sort(unique.begin(), unique.end(), [&](const std::string& a, const std::string& b) {
    const std::string la = text::LowerCased(a), lb = text::LowerCased(b);
    return collate.compare(la.data(), la.data() + la.size(), lb.data(), lb.data() + lb.size()) < 0;
  });
  return unique;
}

}  // namespace xb::db
