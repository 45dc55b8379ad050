// The main window's handlers: the connection test, the import and the
// export, help, closing, and the key preview that sees every key first.

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <exception>
#include <mutex>

#include "app/main_window.h"
#include "app/window_helpers.h"
#include "app/window_probe.h"
#include "db/connection_test.h"
#include "export/exporter.h"
#include "help/help_window.h"
#include "operator/texts.h"
#include "sheet/file_engine.h"

namespace xb::app {

namespace {

bool IsInputEvent(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease: return true;
    default: return false;
  }
}

// The wait cursor while a handler waits on the database or the workbook.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Marks the window busy for the length of an operation.
class BusyScope {
 public:
  explicit BusyScope(int& busy) : busy_(busy) { ++busy_; }
  ~BusyScope() { --busy_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  int& busy_;
};

}  // namespace

std::unique_ptr<sheet::Server> Tfrm_main::MakeServer(std::shared_ptr<sheet::Viewer> viewer) {
  sheet::FileEngineOptions options;
  if (!viewer) {
    sheet::DesktopViewerOptions desktop;
    desktop.has_window = XWindowProbe();
    viewer = sheet::MakeDesktopViewer(std::move(desktop));
  }
  options.viewer = std::move(viewer);
  // Where nothing can show the export, the operator at least learns its
  // file. The viewer's watch tells it from its own thread, maybe long after
  // the export ended: the box is shown on the window's thread.
  mailbox_->window = this;
  options.on_unviewable = [mailbox = mailbox_](const std::string& path) {
    std::lock_guard lock(mailbox->mutex);
    if (Tfrm_main* window = mailbox->window)
      QMetaObject::invokeMethod(
          window, [window, path] { window->ExportNotShown(path); }, Qt::QueuedConnection);
  };
  return sheet::MakeFileServer(std::move(options));
}

void Tfrm_main::ExportNotShown(const std::string& path) {
  // Not in the middle of a read or an import run: after it.
  if (busy()) {
    QTimer::singleShot(100, this, [this, path] { ExportNotShown(path); });
    return;
  }
  MessageBox box;
  box.text = texts::ExportSavedAt(path);
  box.caption = texts::kInformation;
  box.icon = Icon::Information;
  box.modality = Modality::Owned;
  showMessage(box);
}

void Tfrm_main::Guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    DefaultErrorReport(OperatorReason(e));
  } catch (...) {
    DefaultErrorReport("");
  }
}

void Tfrm_main::DefaultErrorReport(const std::string& message) {
  MessageBox box;
  box.text = DefaultErrorText(message);
  box.caption = ProgramTitle(program_path_);
  box.icon = Icon::Error;
  box.modality = Modality::TaskModal;
  showMessage(box);
}

void Tfrm_main::FormKeyDown(int key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_F1) LbButton2Click();
}

void Tfrm_main::data_sourceClick() { user_name->setFocus(); }

void Tfrm_main::user_nameKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) user_pass->setFocus();
}

void Tfrm_main::user_passKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) bt_testClick();
}

void Tfrm_main::TypeAhead(const QString& typed) {
  // Complete only while the text grows, so Backspace and Delete still work.
  const bool grew = typed.size() > last_typed_.size();
  last_typed_ = typed;
  if (!grew || typed.isEmpty()) return;
  QLineEdit* edit = data_source->lineEdit();
  if (edit->cursorPosition() != typed.size()) return;
  for (int i = 0; i < data_source->count(); ++i) {
    const QString entry = data_source->itemText(i);
    if (entry.startsWith(typed, Qt::CaseInsensitive)) {
      edit->setText(entry);
      edit->setSelection(entry.size(), typed.size() - entry.size());
      return;
    }
  }
}

void Tfrm_main::bt_testClick() {
  WaitCursor wait;
  Guarded([this] {
    db::ConnectionSettings settings;
    settings.password = user_pass->text().toStdString();
    settings.user = user_name->text().toStdString();
    settings.data_source = data_source->currentText().toStdString();
    const db::ConnectionTestOutcome outcome = db::TestConnection(session_, settings);
    if (outcome == db::ConnectionTestOutcome::TimedOut) showMessage(ConnectTimedOutBox());
    if (outcome == db::ConnectionTestOutcome::Connected) {
      showMessage(ConnectedBox());
      rd_czxm->setEnabled(true);
      setChoiceIndex(0);
      rd_czxmClick();
    } else {
      setChoiceIndex(-1);
    }
  });
}

void Tfrm_main::bt_exitClick() {
  Guarded([this] {
    session_.myconnection.close();
    close();
  });
}

void Tfrm_main::bt_openClick() {
  BusyScope busy(busy_);
  WaitCursor wait;
  Guarded([this] {
    const import::ReadOutcome read = importer_.ReadWorkbook([this] { bt_testClick(); });
    // A partial list must not be imported; one that was never replaced
    // (cancelled, or the file would not open) keeps BT_IMP as it was.
    if (read == import::ReadOutcome::Failed) BT_IMP->setEnabled(false);
    if (read != import::ReadOutcome::Succeeded) return;
    BT_IMP->setEnabled(true);
    const std::optional<import::RunOutcome> run = importer_.OfferImport();
    if (run && *run != import::RunOutcome::NothingRead) BT_IMP->setEnabled(false);
  });
}

void Tfrm_main::BT_IMPClick() {
  BusyScope busy(busy_);
  WaitCursor wait;
  Guarded([this] {
    // A list goes in once: after any run the next import needs a new read.
    if (importer_.Import() != import::RunOutcome::NothingRead) BT_IMP->setEnabled(false);
  });
}

void Tfrm_main::LbButton1Click() {
  BusyScope busy(busy_);
  WaitCursor wait;
  Guarded([this] {
    exporting::Export(session_, *server_, *this, memo_select->toPlainText().toStdString());
  });
}

void Tfrm_main::LbButton2Click() {
  Guarded([this] {
    if (!frm_help_) return;
    CursorPause pause;
    frm_help_->ShowModal();
  });
}

void Tfrm_main::closeEvent(QCloseEvent* event) {
  // No closing in the middle of a read or an import transaction.
  if (busy()) {
    event->ignore();
    return;
  }
  bool accepted = false;
  Guarded([&] {
    MessageBox box;
    box.text = texts::kReallyQuit;
    box.caption = texts::kConfirmation;
    box.icon = Icon::Warning;
    box.buttons = Buttons::YesNo;
    box.modality = Modality::Owned;
    accepted = showMessage(box) == Answer::Yes;
  });
  if (!accepted) {
    event->ignore();
    return;
  }
  event->accept();
  if (quit_on_close_) QCoreApplication::quit();
}

bool Tfrm_main::eventFilter(QObject* watched, QEvent* event) {
  if (!watched->isWidgetType() || !IsInputEvent(event->type())) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this) return false;
  if (busy()) return true;  // swallowed; paint events still pass

  if (event->type() != QEvent::KeyPress) return false;
  // A key the focused control ignores travels on to its parents; the key
  // preview must see it only once.
  auto* key = static_cast<QKeyEvent*>(event);
  if (event == last_key_event_ && key->key() == last_key_ && last_key_receiver_ &&
      widget != last_key_receiver_ && widget->isAncestorOf(last_key_receiver_))
    return false;
  last_key_event_ = event;
  last_key_receiver_ = widget;
  last_key_ = key->key();

  Guarded([&] { FormKeyDown(key->key(), key->modifiers()); });
  if (watched == user_name) Guarded([&] { user_nameKeyDown(key->key()); });
  if (watched == user_pass || watched == ed_filepath)
    Guarded([&] { user_passKeyDown(key->key()); });
  // Enter presses the focused button, as Space does: Return and the keypad's
  // Enter alike (the latter comes with the keypad modifier).
  if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
      (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier)
    if (auto* button = qobject_cast<QPushButton*>(widget);
        button && button->isEnabled() && button->isVisible()) {
      button->click();
      return true;
    }
  return false;  // the key goes on to the control as usual
}

}  // namespace xb::app
