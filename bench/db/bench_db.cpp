// The embedded engine under the import's load: an existence check and an
// insert per row in one transaction, and the per-cell dictionary lookup.
// Usage: bench_db [rows] [lookups]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/dictionary.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
  const long lookups = argc > 2 ? std::atol(argv[2]) : 1000000;
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("xb_bench_db_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "bench.sqlite").string();
  std::ofstream(path).close();
  std::ofstream(dir / "aliases.ini").close();
  setenv("XLSBRIDGE_ALIASES", (dir / "aliases.ini").c_str(), 1);

  xb::db::DbSession s;
  s.myconnection.setConnectionString(xb::db::BuildConnectionString({path, "", ""}));
  s.exe.setSql("create table T (AA varchar2(10) primary key, BB varchar2(20), CC date)");
  s.exe.execute();

  const auto start = Clock::now();
  s.myconnection.beginTransaction();
  for (long i = 0; i < rows; ++i) {
    const std::string key = std::to_string(i);
    s.init.close();
    s.init.setSql("select count(*) from T where AA='" + key + "' ");
    s.init.open();
    if (s.init.fieldInt(0) > 0) return 1;
    s.exe.close();
    s.exe.setSql("insert into T(AA,BB,CC) values('" + key +
                 "','x',to_date('2003-8-1','yyyy-mm-dd'))");
    s.exe.execute();
  }
  s.myconnection.commitTransaction();
  const double per_row = Micros(Clock::now() - start) / static_cast<double>(rows);

  // The loader's per-cell lookups go to the dictionary of the read, which
  // asks the database once.
  const auto lookup_start = Clock::now();
  size_t check = 0;
  xb::db::Dictionary dictionary(s.init);
  xb::db::Dictionary::Read read(dictionary);
  for (long i = 0; i < lookups; ++i)
    check +=
        dictionary
            .ask("select DATA_TYPE from user_tab_columns where table_name='T' and column_name='CC'")
            .text()
            .size();
  const double per_lookup = Micros(Clock::now() - lookup_start) / static_cast<double>(lookups);
  if (check != static_cast<size_t>(lookups) * 4) return 1;

  std::printf("existence check + insert: %ld rows, %.2f us per row (target <= 20)\n", rows,
              per_row);
  std::printf("DATA_TYPE lookup of a read: %ld queries, %.2f us per query (target <= 3)\n", lookups,
              per_lookup);
  s.myconnection.close();
  fs::remove_all(dir);
  return 0;
}
