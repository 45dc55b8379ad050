#pragma once
// Environment changes that last as long as the object: each variable it
// touched gets its earlier value (or absence) back when it goes.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xb::test {

class TempDir;

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  ScopedEnv& set(const std::string& name, const std::string& value);
  ScopedEnv& unset(const std::string& name);

 private:
  void remember(const std::string& name);
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Points everything the program reads from the user's set-up into `dir`: the
// alias file (dir/aliases.ini, created empty when missing), the ODBC user and
// system files (dir/odbc.ini, dir/odbcinst.ini), the config and data folders,
// libpq's password and service files; libpq's PG* defaults are unset.
// No alias, DSN or saved file of the machine reaches the test, and the test
// writes nothing into the user's home.
void UsePrivateSettings(ScopedEnv& env, const TempDir& dir);

}  // namespace xb::test
