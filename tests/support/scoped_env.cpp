#include "support/scoped_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace xb::test {

ScopedEnv::~ScopedEnv() {
  // Newest first, so a variable changed twice ends with its first value.
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second)
      setenv(it->first.c_str(), it->second->c_str(), 1);
    else
      unsetenv(it->first.c_str());
  }
}

void ScopedEnv::remember(const std::string& name) {
  const char* old = std::getenv(name.c_str());
  saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
}

ScopedEnv& ScopedEnv::set(const std::string& name, const std::string& value) {
  remember(name);
  setenv(name.c_str(), value.c_str(), 1);
  return *this;
}

ScopedEnv& ScopedEnv::unset(const std::string& name) {
  remember(name);
  unsetenv(name.c_str());
  return *this;
}

void UsePrivateSettings(ScopedEnv& env, const TempDir& dir) {
  if (!std::filesystem::exists(dir.file("aliases.ini")))
    std::ofstream(dir.file("aliases.ini")).close();
  env.set("XLSBRIDGE_ALIASES", dir.file("aliases.ini"))
      .set("ODBCINI", dir.file("odbc.ini"))
      .set("ODBCSYSINI", dir.path().string())
      .set("XDG_CONFIG_HOME", dir.file("config"))
      .set("XDG_DATA_HOME", dir.file("data"));
  // libpq's defaults (psqlODBC's too): no server, user, password file,
  // service file, session option, time zone or date style of the machine.
  for (const char* name : {"PGHOST",           "PGHOSTADDR",
                           "PGPORT",           "PGDATABASE",
                           "PGUSER",           "PGPASSWORD",
                           "PGSERVICE",        "PGOPTIONS",
                           "PGAPPNAME",        "PGSSLMODE",
                           "PGREQUIRESSL",     "PGSSLCERT",
                           "PGSSLKEY",         "PGSSLROOTCERT",
                           "PGGSSENCMODE",     "PGCONNECT_TIMEOUT",
                           "PGCLIENTENCODING", "PGTARGETSESSIONATTRS",
                           "PGDATESTYLE",      "PGTZ",
                           "PGGEQO",           "PGKRBSRVNAME",
                           "PGREQUIREAUTH",    "PGCHANNELBINDING"})
    env.unset(name);
  env.set("PGPASSFILE", dir.file("pgpass"))
      .set("PGSERVICEFILE", dir.file("pg_service.conf"))
      .set("PGSYSCONFDIR", dir.path().string());
}

}  // namespace xb::test
