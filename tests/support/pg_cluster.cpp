#include "pg_cluster.h"

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace xb::test {
namespace {

namespace fs = std::filesystem;

std::string RandomWord(size_t length) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::mt19937_64 random(device() ^ static_cast<uint64_t>(getpid()));
  std::string word;
  for (size_t i = 0; i < length; ++i) word += kLetters[random() % (sizeof kLetters - 1)];
  return word;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The user the server runs as: ourselves, or "nobody" when we are root.
struct ServerUser {
  bool switch_user = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

ServerUser WhoRunsTheServer() {
  ServerUser user;
  if (geteuid() != 0) return user;
  const passwd* nobody = getpwnam("nobody");
  if (!nobody)
    throw std::runtime_error("running as root and there is no user 'nobody' to run the server as");
  user.switch_user = true;
  user.uid = nobody->pw_uid;
  user.gid = nobody->pw_gid;
  return user;
}

// Runs a program of the server and waits for it; its output goes to
// output_file. Returns the exit status.
int RunServerProgram(const std::vector<std::string>& args, const fs::path& workdir,
                     const fs::path& output_file) {
  const ServerUser user = WhoRunsTheServer();
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The child's environment is made here: after fork, in a program with
  // threads, the child may not allocate.
  std::vector<std::string> env_strings = {"LC_ALL=C.UTF-8"};
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("LC_ALL=", 0) == 0 || entry.rfind("PGDATA=", 0) == 0 ||
        entry.rfind("PGHOST=", 0) == 0 || entry.rfind("PGPORT=", 0) == 0)
      continue;
    env_strings.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  const int out = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || null < 0) {
    if (out >= 0) close(out);
    if (null >= 0) close(null);
    throw std::runtime_error("cannot open " + output_file.string());
  }
  const pid_t pid = fork();
  if (pid < 0) {
    close(out);
    close(null);
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    // The server outlives this call: it must hold none of our descriptors
    // (ctest waits for its pipes to close), only its own output file.
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (chdir(workdir.c_str()) != 0) _exit(126);
    if (user.switch_user) {
      if (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0) _exit(126);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out);
  close(null);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void GiveToServerUser(const fs::path& path) {
  const ServerUser user = WhoRunsTheServer();
  if (user.switch_user && chown(path.c_str(), user.uid, user.gid) != 0)
    throw std::runtime_error("cannot hand " + path.string() + " to the server's user");
}

std::string Keyword(const std::string& value) {
  std::string quoted = "'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "'";
}

void PgCtl(const PgClusterInfo& cluster, const std::vector<std::string>& tail, const char* what) {
  std::vector<std::string> args = {cluster.bin + "/pg_ctl", "-D", cluster.folder + "/data"};
  args.insert(args.end(), tail.begin(), tail.end());
  const fs::path output = fs::path(cluster.folder) / "pg_ctl.out";
  if (RunServerProgram(args, cluster.folder, output) != 0)
    throw std::runtime_error(std::string("pg_ctl ") + what + " failed:\n" + Slurp(output) +
                             Slurp(fs::path(cluster.folder) / "server.log"));
}

}  // namespace

std::string PgClusterInfo::AdminConninfo(const std::string& database) const {
  return "host=" + Keyword(folder) + " port=" + std::to_string(port) +
         " user=" + Keyword(admin_user) + " password=" + Keyword(admin_password) +
         " dbname=" + Keyword(database) + " connect_timeout=15";
}

std::string PgBinFolder() {
  if (const char* bin = std::getenv("XB_PG_BIN"); bin && *bin)
    return fs::exists(fs::path(bin) / "initdb") ? bin : "";
  for (const char* version : {"17", "16", "15", "14", "13"}) {
    const fs::path bin = fs::path("/usr/lib/postgresql") / version / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") && fs::exists(bin / "postgres"))
      return bin.string();
  }
  return {};
}

PgClusterInfo StartPgCluster() {
  PgClusterInfo cluster;
  cluster.bin = PgBinFolder();
  if (cluster.bin.empty())
    throw std::runtime_error(
        "the PostgreSQL server binaries (Debian package postgresql) are not installed");
  char folder[] = "/tmp/xb_pg_XXXXXX";
  if (!mkdtemp(folder))
    throw std::runtime_error("cannot make a folder under /tmp for the test server");
  cluster.folder = folder;
  cluster.admin_user = "xbadmin";
  cluster.admin_password = RandomWord(24);
  GiveToServerUser(cluster.folder);
  const fs::path top(cluster.folder);
  { std::ofstream(top / "pwfile") << cluster.admin_password << "\n"; }
  GiveToServerUser(top / "pwfile");
  const fs::path output = top / "initdb.out";
  const int rc =
      RunServerProgram({cluster.bin + "/initdb", "-D", (top / "data").string(), "-U",
                        cluster.admin_user, "--pwfile=" + (top / "pwfile").string(),
                        "--auth=scram-sha-256", "--encoding=UTF8", "--locale=C.UTF-8", "--no-sync"},
                       top, output);
  fs::remove(top / "pwfile");
  if (rc != 0) {
    const std::string log = Slurp(output);
    fs::remove_all(top);
    throw std::runtime_error("initdb failed:\n" + log);
  }
  {
    std::ofstream conf(top / "data" / "postgresql.conf", std::ios::app);
    conf << "\n# the test server: a socket in its own folder, no TCP\n"
         << "listen_addresses = ''\n"
         << "unix_socket_directories = '" << cluster.folder << "'\n"
         << "port = " << cluster.port
         << "\n"
         // Speed without losing a commit when the server is stopped at once
         // (the fault tests): data reaches the operating system, which a
         // stopped server does not take back; an asynchronous commit would
         // still sit in the server's memory.
         << "fsync = off\nfull_page_writes = off\n"
         << "shared_buffers = 32MB\nmax_connections = 60\n"
         << "password_encryption = 'scram-sha-256'\n";
    std::ofstream hba(top / "data" / "pg_hba.conf", std::ios::trunc);
    hba << "local all all scram-sha-256\n";
  }
  try {
    RestartPgCluster(cluster);
    PgAdminExec(cluster, std::string("create database ") + kTestDatabase +
                             " template template0 encoding 'UTF8'");
    PgAdminExec(cluster, "revoke all on schema public from public", kTestDatabase);
  } catch (...) {
    StopPgCluster(cluster, true, true);
    fs::remove_all(top);
    throw;
  }
  return cluster;
}

void RestartPgCluster(const PgClusterInfo& cluster) {
  PgCtl(cluster, {"-l", cluster.folder + "/server.log", "-w", "-t", "60", "start"}, "start");
}

void StopPgCluster(const PgClusterInfo& cluster, bool immediate, bool keep_folder) {
  if (cluster.folder.empty()) return;
  try {
    PgCtl(cluster, {"-w", "-t", "60", "-m", immediate ? "immediate" : "fast", "stop"}, "stop");
  } catch (const std::runtime_error&) {
    // Already stopped: nothing to do but the folder.
  }
  if (!keep_folder) {
    std::error_code ec;
    fs::remove_all(cluster.folder, ec);
  }
}

void WriteClusterState(const std::string& path, const PgClusterInfo& cluster) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "folder=" << cluster.folder << "\nbin=" << cluster.bin
        << "\nadmin_user=" << cluster.admin_user << "\nadmin_password=" << cluster.admin_password
        << "\nport=" << cluster.port << "\n";
  }
  chmod(temporary.c_str(), 0600);
  fs::rename(temporary, path);
}

bool ReadClusterState(const std::string& path, PgClusterInfo& cluster) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "folder")
      cluster.folder = value;
    else if (key == "bin")
      cluster.bin = value;
    else if (key == "admin_user")
      cluster.admin_user = value;
    else if (key == "admin_password")
      cluster.admin_password = value;
    else if (key == "port")
      cluster.port = std::atoi(value.c_str());
  }
  return !cluster.folder.empty() && !cluster.admin_password.empty();
}

namespace {

struct Shared {
  std::mutex mutex;
  bool tried = false;
  bool own = false;
  std::string why;
  std::unique_ptr<PgClusterInfo> cluster;
};

Shared& TheShared() {
  static Shared shared;
  return shared;
}

void StopOwnCluster() {
  Shared& shared = TheShared();
  if (shared.own && shared.cluster) StopPgCluster(*shared.cluster);
}

}  // namespace

const PgClusterInfo* SharedPgCluster(std::string* why) {
  Shared& shared = TheShared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (!shared.tried) {
    shared.tried = true;
    if (PgBinFolder().empty()) {
      shared.why =
          "the PostgreSQL server binaries (Debian package postgresql) are not installed: "
          "the postgres engine is NOT tested";
    } else if (const char* state = std::getenv("XB_PG_CLUSTER"); state && *state) {
      PgClusterInfo cluster;
      if (ReadClusterState(state, cluster))
        shared.cluster = std::make_unique<PgClusterInfo>(cluster);
      else
        shared.why = std::string("the test server did not start (no state in ") + state +
                     "; see the pg_cluster_start test's output)";
    } else {
      try {
        shared.cluster = std::make_unique<PgClusterInfo>(StartPgCluster());
        shared.own = true;
        std::atexit(StopOwnCluster);
      } catch (const std::exception& e) {
        shared.why = std::string("the test server did not start: ") + e.what();
      }
    }
  }
  if (why) *why = shared.why;
  return shared.cluster.get();
}

void PgAdminExec(const PgClusterInfo& cluster, const std::string& sql,
                 const std::string& database) {
  PGconn* conn = PQconnectdb(cluster.AdminConninfo(database).c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string message = PQerrorMessage(conn);
    PQfinish(conn);
    throw std::runtime_error("cannot connect to the test server as its admin: " + message);
  }
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  PGresult* result = PQexec(conn, sql.c_str());
  const bool ok =
      PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
  const std::string message = PQresultErrorMessage(result);
  PQclear(result);
  PQfinish(conn);
  if (!ok) throw std::runtime_error(sql + ": " + message);
}

PgDatabase::PgDatabase(const PgClusterInfo& cluster, std::string password)
    : cluster_(cluster), password_(std::move(password)) {
  static std::atomic<int> counter{0};
  user_ = "xbt_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" + RandomWord(6);
  PGconn* conn = PQconnectdb(cluster.AdminConninfo().c_str());
  std::string literal = "''";
  if (PQstatus(conn) == CONNECTION_OK) {
    char* escaped = PQescapeLiteral(conn, password_.c_str(), password_.size());
    if (escaped) literal = escaped;
    PQfreemem(escaped);
  }
  PQfinish(conn);
  PgAdminExec(cluster, "create role " + user_ + " login password " + literal);
  // The role's own schema, first on its search path, as a user's schema in
  // Oracle: its tables are its alone, whatever the other tests make.
  PgAdminExec(cluster, "create schema authorization " + user_, kTestDatabase);
}

PgDatabase::~PgDatabase() {
  try {
    PgAdminExec(
        cluster_,
        "select pg_terminate_backend(pid) from pg_stat_activity where usename = '" + user_ + "'");
    PgAdminExec(cluster_, "drop schema if exists " + user_ + " cascade", kTestDatabase);
    PgAdminExec(cluster_, "drop role if exists " + user_);
  } catch (const std::exception&) {
    // A server stopped by the test takes its roles with it.
  }
}

std::string PgDatabase::Uri() const {
  // The socket folder goes in the host parameter, percent-encoded.
  std::string host;
  for (const char c : cluster_.folder) {
    if (c == '/')
      host += "%2F";
    else
      host += c;
  }
  return "postgresql://" + host + ":" + std::to_string(cluster_.port) + "/" + kTestDatabase;
}

std::string PgDatabase::Conninfo() const {
  return "host=" + Keyword(cluster_.folder) + " port=" + std::to_string(cluster_.port) +
         " dbname=" + kTestDatabase;
}

}  // namespace xb::test
