#pragma once
// The operator interface: every question, box and progress report that the
// core logic (db, sheet, import, export) needs from the person at the screen.
// The Qt window implements it for real, the command-line front end on a
// terminal, and the tests with scripted answers and a record of every box.

#include <optional>
#include <string>

namespace xb {

enum class Icon { Information, Warning, Error, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

// Who owns a box and how much of the program it blocks while it is open.
enum class Modality {
  Owned,          // owned by the main window, which takes no input meanwhile
  TaskModal,      // no owner; every window of the program is disabled
  OwnerlessModeless  // no owner, not task-modal: the code waits, the main window stays usable
};

struct MessageBox {
  std::string text;  // UTF-8; "\r" and "\n" as the message holds them
  std::string caption;
  Icon icon = Icon::Information;
  Buttons buttons = Buttons::Ok;
  Modality modality = Modality::Owned;
};

// The four answers of the overwrite prompt; Closed when the dialog was shut
// through its close box (treated like Yes by the import run).
enum class OverwriteAnswer { Yes, Abort, Ignore, All, Closed };

class Operator {
 public:
  virtual ~Operator() = default;

  virtual Answer showMessage(const MessageBox& box) = 0;
  // The overwrite prompt: caption "Confirm", question icon, buttons
  // "&Yes" "&Abort" "&Ignore" "&All"; text lines joined by "\r".
  virtual OverwriteAnswer askOverwrite(const std::string& text) = 0;
  // The file-open dialog (filter "EXCEL文件|*.xls"); nullopt when cancelled.
  virtual std::optional<std::string> chooseWorkbook() = 0;

  // Progress1
  virtual void setProgressMin(int value) = 0;
  virtual void setProgressMax(int value) = 0;
  virtual void setProgressPosition(int value) = 0;
  virtual int progressMin() const = 0;
  virtual int progressMax() const = 0;
  virtual int progressPosition() const = 0;
  // Advance by one, stopping at the maximum.
  void stepProgress() {
    if (progressPosition() < progressMax()) setProgressPosition(progressPosition() + 1);
  }

  // Let pending window messages run and repaint the main window.
  virtual void processEvents() = 0;

  // Controls of the main window that the operations change.
  virtual void setFilePath(const std::string& path) = 0;  // ed_filepath
  virtual void setImportEnabled(bool enabled) = 0;        // BT_IMP
  virtual bool importEnabled() const = 0;
};

// Default error report: the message with a "." appended unless it is empty or
// its last character's code is at most that of ".".
std::string DefaultErrorText(const std::string& message);
// The program's title from the program file's path: no folder, nothing from
// the first ".", lower case except the first letter ("xlsbridge" -> "Xlsbridge").
std::string ProgramTitle(const std::string& program_path);

}  // namespace xb
