// Every cell the export writes must read back as the value it came from:
// raw bytes, control characters, NUL and escape look-alikes, and numbers
// spelled as the workbook spells them. Read back by openpyxl and, where it
// is installed, by LibreOffice.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "export/cell_value.h"
#include "export/exporter.h"
#include "sheet/file_engine.h"
#include "support/recording_operator.h"
#include "test_database.h"

namespace xb::exporting {
namespace {

using test::TestDatabase;

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class ExportValuesTest : public testing::Test {
 protected:
  void SetUp() override { database_.Connect(session_); }
  void Exec(const std::string& sql) { test::Execute(session_.myconnection, sql); }
  bool ExportTo(const std::string& query, const std::string& out) {
    sheet::FileEngineOptions options;
    options.output_path = out;
    options.launch_viewer = [](const std::string&) { return true; };
    auto server = sheet::MakeFileServer(options);
    return Export(session_, *server, op_, query);
  }
  // Column A from row 3 down, one Python repr() a line, as openpyxl reads it.
  std::string OpenpyxlColumnA(const std::string& xlsx) {
    const std::string script = dir_.file("read.py");
    std::ofstream(script)
        << "import sys, openpyxl\n"
           "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
           "for r in range(3, ws.max_row + 1): print(repr(ws.cell(r, 1).value))\n";
    return RunCommand("PYTHONUTF8=1 /usr/bin/python3 " + script + " " + xlsx + " 2>&1");
  }
  // The active sheet as LibreOffice converts it to CSV (UTF-8, every cell
  // quoted); nullopt when LibreOffice is not installed.
  std::optional<std::string> LibreOfficeCsv(const std::string& xlsx) {
    if (!std::filesystem::exists("/usr/bin/soffice")) return std::nullopt;
    RunCommand("/usr/bin/soffice -env:UserInstallation=file://" + dir_.file("lo") +
               " --headless --convert-to 'csv:Text - txt - csv "
               "(StarCalc):44,34,76,1,,0,true,true,false,false' --outdir " +
               dir_.file("csv") + " " + xlsx + " >/dev/null 2>&1");
    std::ifstream in(dir_.file("csv/out.csv"), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  test::TempDir dir_;
  TestDatabase database_{dir_};
  db::DbSession session_;
  test::RecordingOperator op_;
};

TEST_F(ExportValuesTest, RawBytesAndControlCharactersReadBackWhole) {
  Exec("create table B (K number, V blob)");
  Exec("insert into B values (1, x'FF00FE41')");             // raw bytes: hexadecimal
  Exec("insert into B values (2, 'A' || char(0) || 'BC')");  // NUL inside
  Exec("insert into B values (3, 'x' || char(1) || 'y' || char(13) || 'z')");
  Exec("insert into B values (4, '_x0041_')");  // reads like an escape
  Exec("insert into B values (5, '数据' || char(9) || 'é')");
  const std::string out = dir_.file("out.xlsx");
  ASSERT_TRUE(ExportTo("select V from B order by K", out));
  EXPECT_TRUE(op_.boxes.empty());

  // openpyxl opens the file and sees every record; it leaves the workbook's
  // escapes of inline text as they are stored.
  EXPECT_EQ(OpenpyxlColumnA(out),
            "'FF00FE41'\n'A_x0000_BC'\n'x_x0001_y_x000D_z'\n'_x005F_x0041_'\n'数据\\té'\n");

  const auto csv = LibreOfficeCsv(out);
  if (!csv)
    GTEST_SKIP()
        << "LibreOffice (/usr/bin/soffice) is not installed: the LibreOffice read-back is skipped";
  using namespace std::string_literals;
  EXPECT_EQ(
      *csv,
      ",,,\"B\"\n\"V\",,,\n\"FF00FE41\",,,\n\"A\0BC\",,,\n\"x\1y\rz\",,,\n\"_x0041_\",,,\n\"数据\té\",,,\n"s);
}

TEST_F(ExportValuesTest, TextThatIsNotUtf8FailsWithTheExportBox) {
  Exec("create table L (K number, V varchar2(20))");
  Exec("insert into L values (1, 'fine')");
  Exec("insert into L values (2, cast(x'43E9' as text))");  // Latin-1 "Cé" from another program
  const std::string out = dir_.file("out.xlsx");
  EXPECT_FALSE(ExportTo("select K, V from L order by K", out));
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].caption, "导出失败");
  EXPECT_EQ(op_.boxes[0].text, "导出到Excel文件时出现下列错误:\r单元格B4的值不是UTF-8文本。");
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CellTextTest, RefusesMalformedUtf8AndNamesTheCell) {
  struct Case {
    const char* name;
    std::string value;
    bool ok;
  };
  const Case cases[] = {
      {"ascii", "abc", true},
      {"chinese", "导出", true},
      {"four-byte", "\xF0\x9F\x98\x80", true},
      {"nul", std::string("a\0b", 3), true},
      {"latin1", "\xE9", false},
      {"truncated", "\xE5\xAF", false},
      {"overlong", "\xC0\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"above-unicode", "\xF4\x90\x80\x80", false},
      {"noncharacter-fffe", "\xEF\xBF\xBE", false},
  };
  for (const auto& c : cases) {
    if (c.ok) {
      EXPECT_EQ(CellText(c.value, 3, 1), c.value) << c.name;
    } else {
      EXPECT_THROW(CellText(c.value, 3, 1), CellValueError) << c.name;
    }
  }
  EXPECT_EQ(CellName(3, 1), "A3");
  EXPECT_EQ(CellName(17, 27), "AA17");
  EXPECT_EQ(CellName(1, 16384), "XFD1");
}

}  // namespace
}  // namespace xb::exporting
