// Export benchmark driver: fills an SQLite table with ROWS x 10 columns (not
// timed), then exports "select * from BENCH" to an .xlsx through the same
// export as the window. Prints the seconds of the export.
//   bench_export DATABASE OUT.xlsx ROWS
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"
#include "export/exporter.h"
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
  std::optional<std::string> chooseWorkbook() override { return std::nullopt; }
  xb::ProgressSink& progress() override { return progress_; }
  void letPendingMessagesRun() override {}

 private:
  xb::SilentProgress progress_;
};

void Execute(xb::db::Query& q, const std::string& sql) {
  q.close();
  q.setSql(sql);
  q.execute();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: bench_export DATABASE OUT.xlsx ROWS\n";
    return 2;
  }
  const int rows = std::stoi(argv[3]);
  std::ofstream(argv[1]).close();
  xb::db::DbSession session;
  xb::db::ConnectionSettings settings;
  settings.data_source = argv[1];
  session.myconnection.setConnectionString(xb::db::BuildConnectionString(settings));
  session.myconnection.open();
  Execute(session.exe,
          "create table BENCH (ID number primary key, NAME varchar2(20), D date, AMOUNT number, "
          "CODE varchar2(10), QTY number, NOTE varchar2(40), RATE number, CITY varchar2(20), FLAG "
          "number)");
  session.myconnection.beginTransaction();
  for (int i = 0; i < rows; ++i) {
    const std::string n = std::to_string(i);
    Execute(session.exe, "insert into BENCH values (" + n + ", 'name " + n + "', to_date('20" +
                             std::to_string(10 + i % 10) + "-0" + std::to_string(1 + i % 9) + "-1" +
                             std::to_string(i % 10) + "','yyyy-mm-dd'), " +
                             std::to_string(i * 1.25) + ", 'C" + std::to_string(i % 1000) + "', " +
                             std::to_string(i % 97) + ", 'a note for row " + n + "', " +
                             std::to_string(i % 13) + ".5, 'city" + std::to_string(i % 50) + "', " +
                             (i % 7 ? std::string("1") : std::string("null")) + ")");
  }
  session.myconnection.commitTransaction();

  QuietOperator op;
  xb::sheet::FileEngineOptions options;
  options.output_path = argv[2];
  options.launch_viewer = [](const std::string&) { return true; };
  auto server = xb::sheet::MakeFileServer(options);

  const auto start = std::chrono::steady_clock::now();
  const bool ok = xb::exporting::Export(session, *server, op, "select * from BENCH order by ID");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!ok) return 1;
  std::printf("%.3f\n", seconds);
  return 0;
}
