// The file engine: opening a workbook through the readers (its cells, its
// error cells, its faults) and the .xlsx export read back by openpyxl.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "sheet/file_engine.h"
#include "sheet/sheet.h"

#include "support/temp_dir.h"

namespace xb::sheet {
namespace {

namespace fs = std::filesystem;

TEST(FileEngine, OpenReportsTheFileAndItsFault) {
  auto instance = MakeFileServer()->create();
  EXPECT_THROW(instance->cellText(1, 1), SheetError);
  try {
    instance->openWorkbook("/nonexistent/book.xls");
    FAIL() << "opened a missing file";
  } catch (const SheetError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/book.xls"), std::string::npos) << e.what();
  }
  instance->openWorkbook(XB_SHEET_DATA "/active.xls");
  EXPECT_EQ(instance->cellText(1, 1), "Third");
  // Error cells read as their texts and say that they are errors.
  instance->openWorkbook(XB_SHEET_DATA "/formulas.xls");
  EXPECT_EQ(instance->cellText(6, 1), "#DIV/0!");
  EXPECT_TRUE(instance->cellIsError(6, 1));
  EXPECT_TRUE(instance->cellIsError(7, 1));
  EXPECT_FALSE(instance->cellIsError(3, 1));
  EXPECT_FALSE(instance->cellIsError(8, 1));
  EXPECT_FALSE(instance->cellIsError(100, 100));
  instance->quit();
  EXPECT_THROW(instance->cellIsError(6, 1), SheetError);
}

class FileExport : public testing::Test {
 protected:
  void SetUp() override { dir_ = temp_.path(); }

  // Each non-empty cell as "row,column,type,value" per openpyxl.
  std::vector<std::string> ReadBack(const fs::path& xlsx) {
    const fs::path script = dir_ / "read.py";
    std::ofstream(script)
        << "import sys, openpyxl\n"
           "ws = openpyxl.load_workbook(sys.argv[1], read_only=True).active\n"
           "for row in ws.iter_rows():\n"
           "    for c in row:\n"
           "        if c.value is not None:\n"
           "            print('%d,%d,%s,%s' % (c.row, c.column, c.data_type, c.value))\n";
    FILE* pipe = popen(
        ("PYTHONUTF8=1 /usr/bin/python3 " + script.string() + " " + xlsx.string()).c_str(), "r");
    std::vector<std::string> lines;
    if (!pipe) return lines;
    std::string all;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) all.append(buf, n);
    pclose(pipe);
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  test::TempDir temp_;
  fs::path dir_;
};

TEST_F(FileExport, EveryValueIsATextCell) {
  if (system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3-openpyxl is not installed: the export is not read back";
  FileEngineOptions options;
  options.output_path = (dir_ / "out.xlsx").string();
  auto instance = MakeFileServer(options)->create();
  instance->addWorkbook();
  const std::vector<std::tuple<int, int, std::string>> cells = {{1, 1, "id"},
                                                                {1, 2, "名称"},
                                                                {2, 1, "00123"},
                                                                {2, 2, "1E+20"},
                                                                {2, 3, "=1+2"},
                                                                {2, 4, "TRUE"},
                                                                {3, 2, ""},
                                                                {5, 1, "2003-8-1"},
                                                                {5, 16384, "last column"},
                                                                {6, 1, std::string(32767, 'x')}};
  for (const auto& [row, column, text] : cells) instance->setCell(row, column, text);
  instance->setVisible(true);
  EXPECT_EQ(ReadBack(dir_ / "out.xlsx"),
            (std::vector<std::string>{
                "1,1,s,id", "1,2,s,名称", "2,1,s,00123", "2,2,s,1E+20", "2,3,s,=1+2", "2,4,s,TRUE",
                "5,1,s,2003-8-1", "5,16384,s,last column", "6,1,s," + std::string(32767, 'x')}));
  // Only the finished workbook is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(FileExport, WhatDoesNotFitFailsAndNothingIsLeftBehind) {
  FileEngineOptions options;
  options.exports_dir = dir_.string();
  auto instance = MakeFileServer(options)->create();
  EXPECT_THROW(instance->setCell(1, 1, "x"), SheetError);
  instance->addWorkbook();
  instance->setCell(1, 1, "first");
  instance->setCell(1048576, 1, "last row");
  EXPECT_THROW(instance->setCell(1048577, 1, "one too many"), SheetError);
  EXPECT_THROW(instance->setCell(1048576, 16385, "one column too many"), SheetError);
  EXPECT_THROW(instance->setCell(10, 1, "written after a later row"), SheetError);
  EXPECT_THROW(instance->setCell(1048576, 2, std::string(32768, 'x')), SheetError);
  instance->quit();
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(FileExport, ShownWorkbooksGetNewNamesAndThePathWhenNothingOpensThem) {
  std::vector<std::string> launched, told;
  FileEngineOptions options;
  options.exports_dir = (dir_ / "exports").string();
  options.launch_viewer = [&](const std::string& path) {
    launched.push_back(path);
    return false;
  };
  options.on_unviewable = [&](const std::string& path) { told.push_back(path); };
  auto instance = MakeFileServer(options)->create();
  for (int i = 0; i < 2; ++i) {
    instance->addWorkbook();
    instance->setCell(1, 1, "a");
    instance->setVisible(true);
  }
  ASSERT_EQ(launched.size(), 2u);
  EXPECT_EQ(told, launched);
  EXPECT_NE(launched[0], launched[1]);
  for (const auto& path : launched) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "exports"), fs::directory_iterator()), 2);
}

// What the process writes on its stderr while `run` runs.
std::string StderrOf(const fs::path& file, const std::function<void()>& run) {
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  const int to = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_TRUE(saved >= 0 && to >= 0 && dup2(to, STDERR_FILENO) >= 0);
  close(to);
  run();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The writer library's own lines on a failed close are held back only where
// asked (the command line), and stderr works again afterwards; the window's
// engine leaves the process's stderr alone.
TEST_F(FileExport, TheWriterLibrarysLinesAreHeldBackOnlyWhereAsked) {
  for (const bool quiet : {true, false}) {
    const fs::path folder = dir_ / (quiet ? "quiet" : "loud");
    fs::create_directory(folder);
    FileEngineOptions options;
    options.output_path = (folder / "out.xlsx").string();
    options.quiet_writer_library = quiet;
    auto instance = MakeFileServer(options)->create();
    instance->addWorkbook();
    instance->setCell(1, 1, "a");
    // Its folder gone, the workbook cannot be closed.
    fs::remove_all(folder);
    const std::string err = StderrOf(dir_ / "stderr.txt", [&] {
      EXPECT_THROW(instance->setVisible(true), SheetError);
      std::fputs("after the close\n", stderr);
    });
    EXPECT_EQ(err.find("[ERROR]") == std::string::npos, quiet) << err;
    EXPECT_NE(err.find("after the close\n"), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace xb::sheet
