#pragma once
// The program that shows a saved export on the desktop, kept apart from the
// writer so that the window and the tests choose what runs: the desktop's
// spreadsheet application (soffice -n, else xdg-open) or a stand-in.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace xb::sheet {

class Viewer {
 public:
  virtual ~Viewer() = default;
  // True when a desktop spreadsheet application already runs for this user.
  virtual bool running() = 0;
  // Shows the saved workbook; false when nothing could show it.
  virtual bool show(const std::string& path) = 0;
};

struct DesktopViewerOptions {
  // Tried in order; a command whose program is not on PATH is passed over,
  // and one that fails is followed by the next. The path is appended.
  std::vector<std::vector<std::string>> commands = {{"soffice", "-n"}, {"xdg-open"}};
  // A viewer that cannot show anything (no display, a headless build, no
  // handler for the file type) exits with a failure at once; one still
  // running after this long, or that ended well, counts as shown.
  std::chrono::milliseconds watch{2500};
  // Process names that count as a running spreadsheet application.
  std::vector<std::string> running_names = {"soffice.bin", "gnumeric"};
};

std::unique_ptr<Viewer> MakeDesktopViewer(DesktopViewerOptions options = {});

// Starts args[0] (searched on PATH) in a session of its own, output to
// /dev/null, and watches it for at most `watch`: false when it could not be
// started or ended with a failure meanwhile. A viewer still running is left
// to run; it is reaped when it ends.
bool StartWatched(const std::vector<std::string>& args, std::chrono::milliseconds watch);

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
