#pragma once
// The operator interface: every question, box and progress report that the
// core logic (db, sheet, import, export) needs from the person at the screen.
// The core tells its callers what happened (a read succeeded, a run was
// rolled back...); each front keeps its own controls from that.
// The Qt window implements it for real, the command-line front end on a
// terminal, and the tests with scripted answers and a record of every box.

#include <exception>
#include <optional>
#include <string>

namespace xb {

enum class Icon { Information, Warning, Error, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

// Who owns a box and how much of the program it blocks while it is open.
enum class Modality {
  Owned,             // owned by the main window, which takes no input meanwhile
  TaskModal,         // no owner; every window of the program is disabled
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

// Where a long job reports how far it has got. A job of known length
// starts with its range and advances through it; the export, which does not
// know its length, steps within whatever range the sink last had.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // A job whose positions run from minimum to maximum begins.
  virtual void start(int minimum, int maximum) = 0;
  // The job has reached this position.
  virtual void advance(int position) = 0;
  // One position further, stopping at the end of the range.
  virtual void step() = 0;
  // The job is over, however it ended: back to the start.
  virtual void done() = 0;
};

// A sink that shows nothing: it keeps the range and position only, for
// fronts that draw no progress.
class SilentProgress : public ProgressSink {
 public:
  void start(int minimum, int maximum) override {
    minimum_ = minimum;
    maximum_ = maximum;
  }
  void advance(int position) override { position_ = position; }
  void step() override {
    if (position_ < maximum_) advance(position_ + 1);
  }
  void done() override { advance(0); }
  int position() const { return position_; }

 private:
  int minimum_ = 0, maximum_ = 100, position_ = 0;
};

class Operator {
 public:
  virtual ~Operator() = default;

  virtual Answer showMessage(const MessageBox& box) = 0;
  // The overwrite prompt: caption "Confirm", question icon, buttons
  // "&Yes" "&Abort" "&Ignore" "&All"; text lines joined by "\r".
  virtual OverwriteAnswer askOverwrite(const std::string& text) = 0;
  // The choice of the workbook to read (texts::kWorkbookFilter); nullopt
  // when cancelled.
  virtual std::optional<std::string> chooseWorkbook() = 0;
  // Where the read and the runs report their progress.
  virtual ProgressSink& progress() = 0;
  // Lets pending window messages run, so the screen follows a long job.
  virtual void letPendingMessagesRun() = 0;
};

// A box of the program's own with its text, caption, icon and modality
// (the buttons: Ok).
MessageBox Box(std::string text, std::string caption, Icon icon,
               Modality modality = Modality::Owned);

// The connection test's boxes, shown by each front from the test's outcome:
// the connection works; the server never answered within the wait.
MessageBox ConnectedBox();
MessageBox ConnectTimedOutBox();

// Default error report: the message with a "." appended unless it is empty or
// its last character's code is at most that of ".".
std::string DefaultErrorText(const std::string& message);
// The reason an error gives the operator: the catalogue's Chinese text for
// a code of the program's own, otherwise the error's message as it came
// (the database's, the system's).
std::string OperatorReason(const std::exception& error);
// The program's title from the program file's path: no folder, nothing from
// the first ".", lower case except the first letter ("xlsbridge" -> "Xlsbridge").
std::string ProgramTitle(const std::string& program_path);

}  // namespace xb
