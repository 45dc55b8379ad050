// The desktop viewer with stand-in programs: which one runs, that a failure
// at once or late hands on to the next, and that a window or a good end
// counts as showing the workbook, all without the caller waiting.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

// What a viewer's watch told, and when.
struct Told {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<bool> shown;
  int times = 0;

  std::function<void(bool)> Callback() {
    return [this](bool value) {
      std::lock_guard lock(mutex);
      shown = value;
      ++times;
      changed.notify_all();
    };
  }
  std::optional<bool> Wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, limit, [&] { return shown.has_value(); });
    return shown;
  }
};

TEST_F(ViewerTest, AFailureAtOnceOrLateHandsOnToTheNextViewer) {
  for (const std::string failure : {"exit 1", "sleep 3; exit 1", "kill -9 $$"}) {
    SCOPED_TRACE(failure);
    std::remove((dir_ + "/soffice.log").c_str());
    std::remove((dir_ + "/opener.log").c_str());
    DesktopViewerOptions options;
    options.commands = {{Program("soffice", failure), "-n"}, {Program("opener", "exit 0")}};
    options.poll = 20ms;
    Told told;
    const auto start = std::chrono::steady_clock::now();
    MakeDesktopViewer(options)->show("/data/export-1.xlsx", told.Callback());
    // The caller never waits for the viewer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(told.Wait(10s), std::optional<bool>(true));
    EXPECT_EQ(Log("soffice"), "-n /data/export-1.xlsx\n");
    EXPECT_EQ(Log("opener"), "/data/export-1.xlsx\n");
  }
}

TEST_F(ViewerTest, NothingThatCanShowIsToldOnce) {
  DesktopViewerOptions options;
  options.commands = {{Program("soffice", "sleep 1; exit 1"), "-n"},
                      {Program("opener", "exit 4")},
                      {dir_ + "/absent"}};
  options.poll = 20ms;
  Told told;
  MakeDesktopViewer(options)->show("f.xlsx", told.Callback());
  EXPECT_EQ(told.Wait(10s), std::optional<bool>(false));
  EXPECT_EQ(Log("opener"), "f.xlsx\n");
  std::this_thread::sleep_for(200ms);
  std::lock_guard lock(told.mutex);
  EXPECT_EQ(told.times, 1);
}

// A viewer that puts up a window has shown the workbook, however long it
// runs after; without a window it is watched until it ends.
TEST_F(ViewerTest, AWindowOrAGoodEndCountsAsShown) {
  DesktopViewerOptions options;
  // The stand-in "shows a window" by writing its session's marker file.
  options.commands = {{Program("soffice", "echo $$ > \"" + dir_ + "/pid\"; touch \"" + dir_ +
                                              "/window\"; exec sleep 30"),
                       "-n"},
                      {Program("opener", "exit 0")}};
  options.has_window = [this](int session) { return session > 0 && fs::exists(dir_ + "/window"); };
  options.poll = 20ms;
  Told told;
  MakeDesktopViewer(options)->show("f.xlsx", told.Callback());
  EXPECT_EQ(told.Wait(5s), std::optional<bool>(true));
  EXPECT_EQ(Log("opener"), "");  // the first one was enough
  int pid = 0;
  std::ifstream(dir_ + "/pid") >> pid;
  if (pid > 0) kill(pid, SIGTERM);

  // No window to see: a viewer that runs on is still watched, and its
  // failure after the old 2.5 s limit hands on.
  options.commands = {{Program("slow", "sleep 3; exit 2")}, {Program("late", "exit 0")}};
  options.has_window = nullptr;
  Told later;
  MakeDesktopViewer(options)->show("g.xlsx", later.Callback());
  EXPECT_FALSE(later.Wait(2500ms).has_value());
  EXPECT_EQ(later.Wait(5s), std::optional<bool>(true));
  EXPECT_EQ(Log("late"), "g.xlsx\n");
}

TEST_F(ViewerTest, ProgramsAreFoundOnPath) {
  Program("xdg-open", "exit 0");
  Told told;
  {
    xb::test::ScopedEnv env;
    env.set("PATH", dir_);
    DesktopViewerOptions options;  // soffice is not on this PATH: xdg-open is used
    MakeDesktopViewer(options)->show("f.xlsx", told.Callback());
    EXPECT_EQ(told.Wait(5s), std::optional<bool>(true));
  }
  EXPECT_EQ(Log("xdg-open"), "f.xlsx\n");
}

TEST_F(ViewerTest, SessionOfAProcess) {
  EXPECT_EQ(SessionOf(getpid()), getsid(0));
  EXPECT_EQ(SessionOf(-1), -1);
  EXPECT_EQ(SessionOf(0x3fffffff), -1);
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
