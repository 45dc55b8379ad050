// xlsbridge: the window. Reads no command line.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/startup.h"
#include "help/help_window.h"

namespace {

bool HasDisplay() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
  // Say it plainly instead of Qt's platform plugin abort.
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "xlsbridge: no display (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                 "Run it under a virtual display:  xvfb-run -a xlsbridge\n"
                 "or use the command-line front end:  xlsbridge-cli --help\n");
    return 1;
  }
  QApplication app(argc, argv);
  xb::app::ConfigureApplication(app);
  xb::app::RemoveOldShownExports();

  xb::app::Tfrm_main frm_main(argc > 0 ? argv[0] : "xlsbridge");
  frm_main.setQuitOnClose(true);
  frm_main.FormCreate();
  xb::help::Tfrm_help frm_help;
  frm_main.setHelpWindow(&frm_help);
  frm_main.ShowCentred();
  return app.exec();
}
