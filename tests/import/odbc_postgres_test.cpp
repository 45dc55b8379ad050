// The import through psqlODBC into a PostgreSQL server started here in a
// private folder, given Oracle's dictionary by scripts/sql/postgres_dictionary.sql:
// values bound whatever the server's string settings, a table locked by
// another session, a connection that breaks before the commit is answered.
// Skipped, saying so, without the server binaries or psqlODBC.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "import/importer.h"
#include "recording_operator.h"
#include "sheet/file_engine.h"
#include "test_database.h"

namespace xb::import {
namespace {

namespace fs = std::filesystem;
using test::RecordingOperator;

constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
constexpr const char* kDriver = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

// One server for the whole program, stopped at its exit.
class Server {
 public:
  static Server* Get(std::string* why) {
    static Server server;
    if (!server.why_.empty()) *why = server.why_;
    return server.why_.empty() ? &server : nullptr;
  }
  ~Server() {
    if (started_)
      Run(As() + std::string(kBin) + "/pg_ctl -D " + dir_ + "/data -m immediate -s stop");
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  // Runs SQL through psql as the superuser; the output's first line.
  std::string Psql(const std::string& sql) const {
    const std::string file = dir_ + "/q.sql";
    std::ofstream(file) << "set client_min_messages = warning;\n" << sql << "\n";
    return Run(std::string(kBin) + "/psql -X -q -At -v ON_ERROR_STOP=1 -h " + dir_ + " -p " +
               std::to_string(port_) + " -U postgres -d postgres -f " + file + " 2>&1");
  }
  // Starts SQL in a psql of its own that runs in the background.
  void PsqlInBackground(const std::string& sql) const {
    const std::string file = dir_ + "/bg.sql";
    std::ofstream(file) << sql << "\n";
    Run(std::string(kBin) + "/psql -X -q -h " + dir_ + " -p " + std::to_string(port_) +
        " -U postgres -d postgres -f " + file + " >/dev/null 2>&1 &");
  }
  const std::string& dir() const { return dir_; }
  int port() const { return port_; }

 private:
  Server() {
    if (access((std::string(kBin) + "/initdb").c_str(), X_OK) != 0) {
      why_ = "the PostgreSQL 15 server binaries are not installed";
      return;
    }
    if (access(kDriver, R_OK) != 0) {
      why_ = "psqlODBC (odbc-postgresql) is not installed";
      return;
    }
    // Under /tmp whatever $TMPDIR says: as root the server runs as postgres,
    // who must reach the folder, and its socket path must stay short.
    char templ[] = "/tmp/xb-odbcpg-XXXXXX";
    if (!mkdtemp(templ)) {
      why_ = "no temporary folder";
      return;
    }
    dir_ = templ;
    chmod(dir_.c_str(), 0777);
    port_ = 20000 + static_cast<int>(std::random_device{}() % 20000);
    Run(As() + std::string(kBin) + "/initdb -D " + dir_ +
        "/data -A trust -U postgres >/dev/null 2>&1");
    Run(As() + std::string(kBin) + "/pg_ctl -D " + dir_ + "/data -s -w -l " + dir_ +
        "/log -o \"-p " + std::to_string(port_) + " -k " + dir_ +
        " -c listen_addresses=''\" start >/dev/null 2>&1");
    started_ = true;
    if (Psql("select 1") != "1") why_ = "the server did not start (see " + dir_ + "/log)";
  }
  // initdb and the server refuse root: as root they run as postgres.
  static std::string As() { return geteuid() == 0 ? "runuser -u postgres -- " : ""; }
  static std::string Run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
      pclose(pipe);
    }
    if (const auto nl = out.find('\n'); nl != std::string::npos) out.erase(nl);
    return out;
  }

  std::string dir_, why_;
  int port_ = 0;
  bool started_ = false;
};

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class OdbcPostgres : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    server_ = Server::Get(&why);
    if (!server_) GTEST_SKIP() << why << ": psqlODBC not tested";
    std::ofstream(dir_.file("aliases.ini"))
        << "[PGQUICK]\nengine=odbc\ntarget=XBPG\nlock_timeout=1\n";
    std::ofstream(dir_.file("odbcinst.ini")) << "[PostgreSQL]\nDriver=" << kDriver << "\n";
    std::ofstream(dir_.file("odbc.ini"))
        << "[XBPG]\nDriver=PostgreSQL\nServername=" << server_->dir()
        << "\nPort=" << server_->port()
        << "\nDatabase=postgres\nUsername=postgres\n"
           // A server that reads backslashes in literals as escapes.
           "ConnSettings=set standard_conforming_strings=off\n";
    // The alias and DSN files above, and nothing of the machine's; put back afterwards.
    test::UsePrivateSettings(env_, dir_);
    ASSERT_EQ(server_->Psql(
                  "drop table if exists zorvat; create table zorvat (aa varchar(10), bb text);\n" +
                  FileText(std::string(XB_SOURCE_DIR) + "/scripts/sql/postgres_dictionary.sql") +
                  "\nselect 'ok'"),
              "ok");
  }

  // The whole import of injection.xls through the alias.
  void Import(Operator& op, bool* succeeded = nullptr) {
    db::DbSession session;
    session.myconnection.setConnectionString(
        db::BuildConnectionString({"PGQUICK", "postgres", ""}));
    auto server = sheet::MakeFileServer();
    Importer importer(session, *server, op);
    importer.setCheckRunningInstance(false);
    ASSERT_EQ(importer.LoadWorkbook(), ReadOutcome::Succeeded);
    importer.Run();
    if (succeeded) *succeeded = importer.lastRunSucceeded();
  }

  Server* server_ = nullptr;
  test::TempDir dir_;
  test::ScopedEnv env_;
};

TEST_F(OdbcPostgres, ValuesAreBoundWhateverTheServerMakesOfLiterals) {
  RecordingOperator op;
  op.workbook = std::string(XB_IMPORT_DATA) + "/../cli/injection.xls";
  bool succeeded = false;
  Import(op, &succeeded);
  ASSERT_TRUE(succeeded) << (op.boxes.empty() ? "" : op.boxes.back().text);
  EXPECT_EQ(server_->Psql("select count(*) from zorvat"), "14");
  EXPECT_EQ(server_->Psql("select bb from zorvat where aa = 'k4'"), "x'); drop table ZORVAT; --");
  EXPECT_EQ(server_->Psql("select bb from zorvat where aa = 'k9'"), "'';''");
}

TEST_F(OdbcPostgres, ATableLockedByAnotherSessionEndsTheRunWithItsBox) {
  server_->PsqlInBackground(
      "begin; lock table zorvat in access exclusive mode; select pg_sleep(4); commit;");
  // The lock is taken before the run starts.
  for (int i = 0;
       i < 100 &&
       server_->Psql("select count(*) from pg_locks where mode = 'AccessExclusiveLock' and "
                     "relation = 'zorvat'::regclass") != "1";
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  RecordingOperator op;
  op.workbook = std::string(XB_IMPORT_DATA) + "/../cli/injection.xls";
  // Reading waits on the lock too (the dictionary views read the catalog,
  // not the table): only the run meets it.
  Import(op);
  ASSERT_FALSE(op.boxes.empty());
  EXPECT_EQ(op.boxes.back().caption, "导入失败");
  EXPECT_EQ(
      op.boxes.back().text,
      "表\"ZORVAT\"正被另一个会话锁定,等待超时!\r该次导入已经撤销,没有写入任何数据,请稍后再试。");
  EXPECT_EQ(server_->Psql("select count(*) from zorvat"), "0");
}

// Two imports at once into a table without a key constraint, overlapping
// keys: the table lock makes the second wait for the first and find its
// rows, so no key is inserted twice.
TEST_F(OdbcPostgres, TwoRunsIntoOneTableNeverDuplicateAKey) {
  ASSERT_EQ(
      server_->Psql("drop table zorvat; create table zorvat (aa varchar(10), bb numeric, cc date); "
                    "select 'ok'"),
      "ok");
  std::ofstream(dir_.file("aliases.ini"))
      << "[PGQUICK]\nengine=odbc\ntarget=XBPG\nlock_timeout=60\n";
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    if (child == 0) {
      RecordingOperator op;
      op.workbook = std::string(XB_IMPORT_DATA) + "/sample1.xls";
      op.overwrite_answers = {OverwriteAnswer::All};
      bool succeeded = false;
      Import(op, &succeeded);
      _exit(succeeded ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_NE(server_->Psql("select count(*) from zorvat"), "0");
  EXPECT_EQ(server_->Psql("select count(*) from zorvat"),
            server_->Psql("select count(distinct aa) from zorvat"));
}

// The connection breaks between the last statement and the commit: nobody
// can know whether the data was saved, and the box says exactly that.
class KillingOperator : public RecordingOperator {
 public:
  explicit KillingOperator(const Server& server) : server_(server) {}
  OverwriteAnswer askOverwrite(const std::string& text) override {
    RecordingOperator::askOverwrite(text);
    server_.Psql(
        "select pg_terminate_backend(pid) from pg_stat_activity where pid <> pg_backend_pid() "
        "and datname = 'postgres' and backend_type = 'client backend'");
    return OverwriteAnswer::Ignore;
  }

 private:
  const Server& server_;
};

TEST_F(OdbcPostgres, ACommitWhoseOutcomeIsUnknownIsSaidToBe) {
  // The last row of the workbook is there already: its prompt comes last.
  server_->Psql("insert into zorvat values ('K16', 'old')");
  KillingOperator op(*server_);
  op.workbook = std::string(XB_IMPORT_DATA) + "/../cli/injection.xls";
  bool succeeded = true;
  Import(op, &succeeded);
  EXPECT_FALSE(succeeded);
  ASSERT_FALSE(op.boxes.empty());
  EXPECT_EQ(op.boxes.back().caption, "导入结果不确定");
  EXPECT_EQ(op.boxes.back().text.rfind("提交数据时与数据库的连接中断,无法确定数据是否已经保存!\r"
                                       "再次导入前请先检查数据库中的数据。\r具体错误信息如下:\r",
                                       0),
            0u)
      << op.boxes.back().text;
}

}  // namespace
}  // namespace xb::import
