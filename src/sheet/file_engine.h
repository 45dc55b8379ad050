#pragma once
// The file engine: reads .xls (BIFF8/BIFF5) workbooks directly and writes
// the export as an .xlsx file, shown by handing it to the desktop's
// spreadsheet application.

#include <functional>
#include <memory>
#include <string>

#include "sheet/sheet.h"
#include "sheet/viewer.h"

namespace xb::sheet {

struct FileEngineOptions {
  // Where a shown export is saved ($XDG_DATA_HOME/xlsbridge/exports when empty).
  std::string exports_dir;
  // When set, a shown export is written here instead (replacing the file only
  // once the whole workbook was written) and no viewer is started.
  std::string output_path;
  // Shows a saved workbook and tells whether a spreadsheet application runs
  // already. Default: the desktop's (soffice -n, else xdg-open).
  std::shared_ptr<Viewer> viewer;
  // When set, starts the viewer in place of viewer->show; returns false
  // when nothing could open the workbook.
  std::function<bool(const std::string& path)> launch_viewer;
  // Told the saved file's path when no viewer could open it: with a viewer
  // this comes later, when the last one tried has failed, and on another
  // thread.
  std::function<void(const std::string& path)> on_unviewable;
  // The writer library prints lines of its own on stderr when it fails to
  // close a workbook, and offers no way to take them instead. When set, the
  // process's stderr points at /dev/null while the workbook is closed: for a
  // front whose stderr carries its own messages and that runs nothing else
  // meanwhile (the command line). The window leaves it unset: its stderr is
  // a log, where other threads may be writing at that moment.
  bool quiet_writer_library = false;
};

std::unique_ptr<Server> MakeFileServer(FileEngineOptions options = {});

}  // namespace xb::sheet
