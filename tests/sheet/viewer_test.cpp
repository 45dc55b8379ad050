// The desktop viewer with stand-in programs: which one runs, how a failure
// that comes at once is seen, and that a viewer that keeps running counts as
// showing the workbook.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "sheet/viewer.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace xb::sheet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ViewerTest : public testing::Test {
 protected:
  // A stand-in program: notes its arguments in `name`.log, then runs `tail`.
  std::string Program(const std::string& name, const std::string& tail) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" << path << ".log\"\n"
                        << tail << "\n";
    chmod(path.c_str(), 0700);
    return path;
  }
  std::string Log(const std::string& name) {
    std::ifstream in(dir_ + "/" + name + ".log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  xb::test::TempDir folder_;
  const std::string dir_ = folder_.path().string();
};

TEST_F(ViewerTest, FailureAtOnceIsSeenAndTheNextViewerTried) {
  DesktopViewerOptions options;
  options.commands = {{Program("soffice", "exit 1"), "-n"}, {Program("opener", "exit 0")}};
  options.watch = 5s;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(MakeDesktopViewer(options)->show("/data/export-1.xlsx"));
  // Both ended at once: no waiting out the watch.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  EXPECT_EQ(Log("soffice"), "-n /data/export-1.xlsx\n");
  EXPECT_EQ(Log("opener"), "/data/export-1.xlsx\n");
}

TEST_F(ViewerTest, NothingThatCanShowIsAFailure) {
  DesktopViewerOptions options;
  options.commands = {
      {Program("soffice", "exit 1"), "-n"}, {Program("opener", "exit 4")}, {dir_ + "/absent"}};
  EXPECT_FALSE(MakeDesktopViewer(options)->show("f.xlsx"));
  EXPECT_EQ(Log("opener"), "f.xlsx\n");
  // Killed by a signal is no success either.
  options.commands = {{Program("crasher", "kill -9 $$")}};
  EXPECT_FALSE(MakeDesktopViewer(options)->show("f.xlsx"));
}

TEST_F(ViewerTest, AViewerStillRunningAfterTheWatchShowsTheWorkbook) {
  DesktopViewerOptions options;
  options.commands = {{Program("soffice", "exec sleep 5"), "-n"}, {Program("opener", "exit 0")}};
  options.watch = 200ms;
  EXPECT_TRUE(MakeDesktopViewer(options)->show("f.xlsx"));
  EXPECT_EQ(Log("opener"), "");  // the first one was enough
}

TEST_F(ViewerTest, ProgramsAreFoundOnPath) {
  Program("xdg-open", "exit 0");
  bool shown = false;
  {
    xb::test::ScopedEnv env;
    env.set("PATH", dir_);
    DesktopViewerOptions options;  // soffice is not on this PATH: xdg-open is used
    shown = MakeDesktopViewer(options)->show("f.xlsx");
  }
  EXPECT_TRUE(shown);
  EXPECT_EQ(Log("xdg-open"), "f.xlsx\n");
}

TEST_F(ViewerTest, RunningLooksForTheNamedProcessesOfThisUser) {
  DesktopViewerOptions options;
  options.running_names = {};
  EXPECT_FALSE(MakeDesktopViewer(options)->running());
  // This test program itself runs under its own name.
  std::ifstream comm("/proc/self/comm");
  std::string self;
  std::getline(comm, self);
  options.running_names = {self};
  EXPECT_TRUE(MakeDesktopViewer(options)->running());
}

}  // namespace
}  // namespace xb::sheet
