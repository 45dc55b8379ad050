#pragma once
// The program that shows a saved export on the desktop, kept apart from the
// writer so that the window and the tests choose what runs: the desktop's
// spreadsheet application (soffice -n, else xdg-open) or a stand-in.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace xb::sheet {

class Viewer {
 public:
  virtual ~Viewer() = default;
  // True when a desktop spreadsheet application already runs for this user.
  virtual bool running() = 0;
  // Starts showing the saved workbook and returns at once: a spreadsheet
  // application may take seconds to come up, or to fail, and the window
  // must not wait for it. `done` is told once, later and possibly on
  // another thread, whether anything showed the workbook.
  virtual void show(const std::string& path, std::function<void(bool shown)> done) = 0;
};

struct DesktopViewerOptions {
  // Tried in order; a command whose program is not on PATH is passed over,
  // and one that fails, however late, is followed by the next. The path is
  // appended.
  std::vector<std::vector<std::string>> commands = {{"soffice", "-n"}, {"xdg-open"}};
  // Tells whether a process of the given session (each viewer starts one of
  // its own, named by its process id) has a window on screen. A viewer with
  // a window has shown the workbook; one without is watched until it ends,
  // and counts as showing it only when it ends well.
  std::function<bool(int session)> has_window;
  // How often a running viewer is looked at.
  std::chrono::milliseconds poll{100};
  // Process names that count as a running spreadsheet application.
  std::vector<std::string> running_names = {"soffice.bin", "gnumeric"};
};

std::unique_ptr<Viewer> MakeDesktopViewer(DesktopViewerOptions options = {});

// The session of a running process; -1 when there is no such process.
int SessionOf(int pid);

// Where shown exports are saved: $XDG_DATA_HOME/xlsbridge/exports, else
// ~/.local/share/xlsbridge/exports. Throws SheetError when neither is known.
std::string DefaultExportsDir();
// The name of the n-th shown export saved at `stamp` (yyyymmdd-hhmmss).
std::string ShownExportName(const std::string& stamp, int n);
// Removes this program's own files from the exports folder — shown exports
// and left-over partial ones — last changed more than `age` ago. Nothing
// else is touched, and a folder that does not exist is no fault. Returns how
// many files were removed.
int RemoveOldShownExports(const std::string& dir, std::chrono::seconds age);

}  // namespace xb::sheet
