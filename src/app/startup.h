#pragma once
// What start-up sets on the application before the windows exist, shared by
// the program and the window tests so both run the same application.

#include <chrono>

class QApplication;
class QIcon;

namespace xb::app {

// Shown exports older than this are removed at start-up.
inline constexpr std::chrono::hours kShownExportLifetime{24 * 7};

// The program ends only through the main window's close confirmation, never
// because some other window closed; Qt's own dialogs and standard buttons
// speak Simplified Chinese; the Windows font names map to installed fonts;
// the windows carry the program's icon.
void ConfigureApplication(QApplication& app);

// The program's icon, from the PNG images drawn at build time (so no image
// plugin is needed to show it).
QIcon ProgramIcon();

// Loads Qt's Simplified Chinese translations; false when they are missing
// (the dialogs then stay in English).
bool LoadQtTranslations(QApplication& app);

// Removes this program's own shown exports older than a week from the data
// folder. Never fails: a folder it cannot read is left alone.
int RemoveOldShownExports();

}  // namespace xb::app
