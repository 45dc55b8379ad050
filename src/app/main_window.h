#pragma once
// The main window: connection settings, the operation choice, the import and
// export panels and the progress bar. It owns the database session and is
// the operator that the import and export logic talk to.

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "db/connection.h"
#include "import/importer.h"
#include "operator/operator.h"
#include "sheet/sheet.h"
#include "sheet/viewer.h"

class QButtonGroup;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QCheckBox;

namespace xb::help {
class Tfrm_help;
}

namespace xb::app {

class Tfrm_main : public QWidget, public Operator, private ProgressSink {
  Q_OBJECT
 public:
  // program_path gives the title of the default error report; viewer shows
  // the exports and tells whether a spreadsheet application runs (the
  // desktop's when none is given).
  explicit Tfrm_main(std::string program_path, std::shared_ptr<sheet::Viewer> viewer = nullptr);
  ~Tfrm_main() override;

  void setHelpWindow(help::Tfrm_help* help) { frm_help_ = help; }
  // The program ends when the window closes (off in tests).
  void setQuitOnClose(bool quit) { quit_on_close_ = quit; }

  void FormCreate();
  // First showing: centred on the screen.
  void ShowCentred();

  // Handlers; the ones other handlers call take no sender.
  void FormKeyDown(int key, Qt::KeyboardModifiers state);
  void data_sourceClick();
  void user_nameKeyDown(int key);
  void user_passKeyDown(int key);
  void bt_testClick();
  void bt_exitClick();
  void rd_czxmClick();
  void bt_openClick();
  void BT_IMPClick();
  void LbButton1Click();
  void LbButton2Click();

  // The operation choice from code: marks the item (index -1 clears both)
  // without running rd_czxmClick.
  void setChoiceIndex(int index);
  int choiceIndex() const;
  bool busy() const { return busy_ > 0; }

  db::DbSession& session() { return session_; }
  const import::Importer& importer() const { return importer_; }

  // Operator
  Answer showMessage(const MessageBox& box) override;
  OverwriteAnswer askOverwrite(const std::string& text) override;
  std::optional<std::string> chooseWorkbook() override;
  ProgressSink& progress() override { return *this; }
  void letPendingMessagesRun() override;

  // Controls, under the names the handlers use.
  QFrame* AdvPanel1 = nullptr;
  QGroupBox* suiGroupBox1 = nullptr;
  QComboBox* data_source = nullptr;
  QLineEdit* user_name = nullptr;
  QLineEdit* user_pass = nullptr;
  QPushButton* bt_test = nullptr;
  QPushButton* bt_exit = nullptr;
  QGroupBox* rd_czxm = nullptr;
  QButtonGroup* rd_czxm_items = nullptr;
  QRadioButton* rd_czxm_import = nullptr;
  QRadioButton* rd_czxm_export = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* ed_filepath = nullptr;
  QPushButton* bt_open = nullptr;
  QPushButton* BT_IMP = nullptr;
  QPushButton* LbButton2 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLabel* Label1 = nullptr;
  QCheckBox* suiCheckBox1 = nullptr;
  QPlainTextEdit* memo_select = nullptr;
  QPushButton* LbButton1 = nullptr;
  QProgressBar* Progress1 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;  // FormClose
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Every handler body runs here: an error no one caught goes to the
  // default error report and the program goes on with the next event.
  void Guarded(const std::function<void()>& body);
  void DefaultErrorReport(const std::string& message);
  void SetOuterSize(int width, int height);
  void ApplyOuterSize();
  QLabel* LabelLeftOf(QWidget* box, const QString& text);
  void TypeAhead(const QString& typed);
  std::unique_ptr<sheet::Server> MakeServer(std::shared_ptr<sheet::Viewer> viewer);
  // Keeps a box without owner above the main window while the window waits
  // for it, and centres it on the screen once its frame is known.
  void KeepAbove(QWidget* box, bool centre);
  // ProgressSink: Progress1 shows the read's and the runs' progress.
  void start(int minimum, int maximum) override;
  void advance(int position) override;
  void step() override;
  void done() override;

  // Where the viewer's watch, on its own thread, reaches the window: empty
  // once the window is gone.
  struct Mailbox {
    std::mutex mutex;
    Tfrm_main* window = nullptr;
  };
  // The box naming a saved export that nothing could show.
  void ExportNotShown(const std::string& path);

  std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
  std::string program_path_;
  help::Tfrm_help* frm_help_ = nullptr;
  bool quit_on_close_ = false;
  bool centre_pending_ = false;
  // Import, import run or export in progress: the window takes no input.
  int busy_ = 0;
  std::optional<QSize> outer_;
  QElapsedTimer repaint_clock_;
  QString last_typed_;
  QEvent* last_key_event_ = nullptr;
  QPointer<QWidget> last_key_receiver_;
  int last_key_ = 0;

  db::DbSession session_;
  std::unique_ptr<sheet::Server> server_;
  import::Importer importer_;
};

}  // namespace xb::app
