#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <exception>

#include "app/fonts.h"
#include "sheet/viewer.h"

namespace xb::app {

void ConfigureApplication(QApplication& app) {
  // The main window is a tool window, which Qt does not count as a main
  // window: without this, closing the help window or any box without an
  // owner would start quitting and bring up the close confirmation.
  QApplication::setQuitOnLastWindowClosed(false);
  // Every text of the program is Chinese; so are the ones Qt writes from the
  // locale (file types in the file dialog, numbers and dates in controls).
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  LoadQtTranslations(app);
  InstallFontSubstitutions();
  QApplication::setWindowIcon(ProgramIcon());
}

QIcon ProgramIcon() {
  QIcon icon;
  const QDir images(QStringLiteral(":/icons"));
  for (const QString& name : images.entryList({QStringLiteral("xlsbridge-*.png")}, QDir::Files))
    icon.addFile(images.filePath(name));
  return icon;
}

bool LoadQtTranslations(QApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QApplication::installTranslator(translator);
  return true;
}

int RemoveOldShownExports() {
  try {
    return sheet::RemoveOldShownExports(sheet::DefaultExportsDir(), kShownExportLifetime);
  } catch (const std::exception&) {
    return 0;  // no home folder: there is nothing of ours to clean
  }
}

}  // namespace xb::app
