// Import benchmark driver: reads a workbook and imports it into an SQLite
// table through the same loader and run as the window, with an operator
// that answers nothing and never waits. Prints seconds and rows imported.
//   bench_import WORKBOOK DATABASE SCHEMA.sql
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "db/connection.h"
#include "db/connection_string.h"
#include "import/importer.h"
#include "sheet/file_engine.h"

namespace {

class QuietOperator : public xb::Operator {
 public:
  xb::Answer showMessage(const xb::MessageBox& box) override {
    std::cerr << box.caption << ": " << box.text << "\n";
    return xb::Answer::No;
  }
  xb::OverwriteAnswer askOverwrite(const std::string&) override {
    return xb::OverwriteAnswer::Abort;
  }
  std::optional<std::string> chooseWorkbook() override { return workbook; }
  xb::ProgressSink& progress() override { return progress_; }
  void letPendingMessagesRun() override {}
  std::string workbook;

 private:
  xb::SilentProgress progress_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: bench_import WORKBOOK DATABASE SCHEMA.sql\n";
    return 2;
  }
  std::ofstream(argv[2]).close();
  std::ifstream schema_file(argv[3]);
  std::stringstream schema;
  schema << schema_file.rdbuf();

  xb::db::DbSession session;
  xb::db::ConnectionSettings settings;
  settings.data_source = argv[2];
  session.myconnection.setConnectionString(xb::db::BuildConnectionString(settings));
  session.myconnection.open();
  session.exe.setSql(schema.str());
  session.exe.execute();

  QuietOperator op;
  op.workbook = argv[1];
  auto server = xb::sheet::MakeFileServer();
  xb::import::Importer importer(session, *server, op);
  importer.setCheckRunningInstance(false);
  if (const char* rows = std::getenv("XB_BENCH_BATCH_ROWS"))
    importer.setBatchRows(std::strtoul(rows, nullptr, 10));

  const auto start = std::chrono::steady_clock::now();
  if (importer.LoadWorkbook() != xb::import::ReadOutcome::Succeeded) return 1;
  const auto loaded = std::chrono::steady_clock::now();
  importer.Run();
  const auto end = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(end - start).count();
  std::fprintf(stderr, "read %.3f s, import run %.3f s\n",
               std::chrono::duration<double>(loaded - start).count(),
               std::chrono::duration<double>(end - loaded).count());
  if (!importer.lastRunSucceeded()) return 1;

  session.init.close();
  session.init.setSql("select count(*) from BENCH");
  session.init.open();
  std::printf("%.3f %lld\n", seconds, session.init.fieldInt(0));
  return 0;
}
