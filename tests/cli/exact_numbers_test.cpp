// Long numbers through the whole program: imported from text cells into
// NUMBER columns of a SQLite file, overwritten by their 20-digit key, read
// back by `sql` and exported, every digit kept.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/cli.h"
#include "support/schema.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string k17 = "12345678901234567";
const std::string k20 = "12345678901234567890";
const std::string k38 = "12345678901234567890123456789012345678";
const std::string kLongDecimal = "0.1234567890123456789";

class CliExactNumbers : public ::testing::Test {
 protected:
  void SetUp() override {
    xb::test::UsePrivateSettings(env_, dir_);
    db_ = dir_.file("db.sqlite");
    xb::test::MakeDatabase(db_,
                           "create table BIG (K number primary key, N number, D number(38), "
                           "S varchar2(30));\n");
  }

  // A workbook of text cells (a number cell could not hold these digits),
  // written by xlwt; rows are "K,N,D,S".
  std::string Workbook(const std::string& name, const std::string& rows) {
    const std::string path = dir_.file(name);
    const std::string make =
        "/usr/bin/python3 -c \"import xlwt,sys\n"
        "wb=xlwt.Workbook(); ws=wb.add_sheet('S'); ws.write(0,0,'BIG:K:K,N,D,S')\n"
        "for r,line in enumerate(sys.argv[2].split(';')):\n"
        "    for c,v in enumerate(line.split(',')): ws.write(r+3,c,v)\n"
        "wb.save(sys.argv[1])\" " +
        path + " '" + rows + "'";
    EXPECT_EQ(std::system(make.c_str()), 0);
    return path;
  }

  xb::test::CliOutcome Run(std::vector<std::string> args) {
    return xb::test::RunCli(std::move(args));
  }

  xb::test::TempDir dir_;
  xb::test::ScopedEnv env_;
  std::string db_;
};

TEST_F(CliExactNumbers, ImportOverwriteSqlAndExportKeepEveryDigit) {
  auto r = Run({"import", "--data-source", db_,
                Workbook("a.xls", k20 + "," + kLongDecimal + "," + k38 + ",12345678901234567891;" +
                                      k17 + ",1,-" + k20 + ",x")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // The same 20-digit key again: found, and its row overwritten.
  r = Run({"import", "--data-source", db_, "--existing", "all",
           Workbook("b.xls", k20 + ",0.9876543210987654321," + k38 + ",y")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = Run({"sql", "--data-source", db_, "select K, N, D, S from BIG order by K"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string expected_sql = "K\tN\tD\tS\n" + k17 + "\t1\t-" + k20 + "\tx\n" + k20 +
                                   "\t0.9876543210987654321\t" + k38 + "\ty\n";
  EXPECT_EQ(r.out, expected_sql);
  r = Run({"sql", "--data-source", db_,
           "select count(*) from BIG where K = to_number('" + k20 + "') and D = " + k38});
  EXPECT_EQ(r.out, "COUNT(*)\n1\n");

  // Every export cell is text, so the digits reach the workbook as written;
  // read back by a reader nobody here wrote.
  const fs::path out = dir_.path() / "out.xlsx";
  r = Run({"export", "--data-source", db_, "--query", "select K, N, D from BIG order by K",
           "--output", out.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const fs::path dump = dir_.path() / "dump.txt";
  const std::string read_back =
      "/usr/bin/python3 -c \"import openpyxl,sys; ws=openpyxl.load_workbook(sys.argv[1]).active; "
      "print(repr([[c.value for c in row] for row in ws.iter_rows(min_row=3)]))\" " +
      out.string() + " > " + dump.string();
  ASSERT_EQ(std::system(read_back.c_str()), 0);
  std::ifstream in(dump);
  std::stringstream text;
  text << in.rdbuf();
  // (The fourth column is the one the table's name takes in row 1.)
  EXPECT_EQ(text.str(), "[['" + k17 + "', '1', '-" + k20 + "', None], ['" + k20 +
                            "', '0.9876543210987654321', '" + k38 + "', None]]\n");
}

}  // namespace
