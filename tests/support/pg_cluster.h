#pragma once
// A private PostgreSQL cluster for the tests: initdb into a fresh folder
// under /tmp, a unix socket in that folder, no TCP, password (scram)
// authentication. As root the server runs as "nobody" (initdb and postgres
// refuse root). One cluster is shared by every test of a ctest run (started
// and stopped by the pg_cluster fixture program); a test program run by
// hand starts its own. Tests that need their own server (stopping it on
// purpose) start a private one.

#include <memory>
#include <string>

namespace xb::test {

struct PgClusterInfo {
  std::string folder;  // socket folder; the data folder is folder/data
  std::string bin;     // the server binaries
  std::string admin_user;
  std::string admin_password;
  int port = 5432;
  // libpq keyword string for the admin, in the given database.
  std::string AdminConninfo(const std::string& database = "postgres") const;
};

// The folder with initdb, pg_ctl and postgres; empty when not installed
// ($XB_PG_BIN overrides the search).
std::string PgBinFolder();

// Starts a new cluster; throws std::runtime_error with the server's log on
// failure.
PgClusterInfo StartPgCluster();
// Stops it (immediate: as after a crash) and removes its folder unless keep.
void StopPgCluster(const PgClusterInfo& cluster, bool immediate = false, bool keep_folder = false);
// Starts a stopped cluster again on the same folder.
void RestartPgCluster(const PgClusterInfo& cluster);

// The state file written by the fixture: key=value lines.
void WriteClusterState(const std::string& path, const PgClusterInfo& cluster);
bool ReadClusterState(const std::string& path, PgClusterInfo& cluster);

// The cluster of this test run: the fixture's (named by $XB_PG_CLUSTER),
// else one started for this process and stopped at its exit. Null when the
// server binaries are missing or the server did not start; why says which.
const PgClusterInfo* SharedPgCluster(std::string* why);

// Runs one statement as the admin; throws std::runtime_error.
void PgAdminExec(const PgClusterInfo& cluster, const std::string& sql,
                 const std::string& database = "postgres");

// The database the tests work in.
inline constexpr const char* kTestDatabase = "xbtests";

// A fresh login role with a schema of its own in the test database,
// dropped with everything in it at the end. The role's password holds characters that matter to
// connection strings, so every test proves they travel as parameters.
class PgDatabase {
 public:
  explicit PgDatabase(const PgClusterInfo& cluster, std::string password = "pw;=' \"{}\\x");
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  const std::string& name() const { return user_; }  // the role, and its schema
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // postgresql:// URI without user or password (those come from the window).
  std::string Uri() const;
  // libpq keyword string without user or password.
  std::string Conninfo() const;
  const PgClusterInfo& cluster() const { return cluster_; }

 private:
  const PgClusterInfo& cluster_;
  std::string user_;
  std::string password_;
};

}  // namespace xb::test
