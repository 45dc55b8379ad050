// The main window as the operator: boxes, the overwrite prompt, the file
// dialog, the progress bar and letting pending messages run.

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <algorithm>

#include "app/frame_hints.h"
#include "app/main_window.h"
#include "app/window_helpers.h"
#include "operator/texts.h"
#include "text/ascii.h"

namespace xb::app {

namespace {

// Boxes show CR and CR LF as the line breaks they stand for.
QString DisplayText(const std::string& text) { return Q(text::WithLineBreaks(text, "\n")); }

// The overwrite prompt: Esc answers nothing, the close box answers Closed.
class OverwritePrompt : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;
  bool closedByFrame() const { return closed_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Cancel)) {
      event->accept();
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    // Without an escape button QMessageBox would refuse the close.
    closed_ = true;
    event->accept();
    done(-1);
  }

 private:
  bool closed_ = false;
};

// Keeps a top-level window's frame in the screen's centre. The window
// manager frames the window some time after it is shown (on a busy machine,
// seconds) and, keeping the client where it is, need send no event for it:
// so the frame is watched until its real size is known, and a little after,
// and the window is centred again whenever the frame's size changes. A move
// by the operator changes no size and is kept.
class FrameCentrer : public QObject {
 public:
  // `like` is a window already framed by the same window manager: its frame
  // stands in for this one's until this one's is known.
  FrameCentrer(QWidget* window, const QWidget* like) : QObject(window), window_(window) {
    if (like && like->isVisible()) {
      const QRect outer = like->frameGeometry(), inner = like->geometry();
      estimate_ = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                           outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    window->installEventFilter(this);
    watch_.setInterval(kTick);
    connect(&watch_, &QTimer::timeout, this, [this] {
      Centre();
      ++ticks_;
      // Framed: a little longer, for the window manager's last placement.
      // Never framed (a platform without frames): not for ever.
      if ((centred_framed_ && ++settled_ >= kSettleTicks) || ticks_ >= kGiveUpTicks) watch_.stop();
    });
  }

  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Resize:
        Centre();
        ticks_ = settled_ = 0;
        watch_.start();
        break;
      case QEvent::Move:
        // Framing moves the client without resizing it: look again.
        Centre();
        break;
      case QEvent::Hide: watch_.stop(); break;
      default: break;
    }
    return false;
  }

 private:
  static constexpr int kTick = 20;
  static constexpr int kSettleTicks = 25;
  static constexpr int kGiveUpTicks = 30000 / kTick;

  void Centre() {
    const QScreen* screen = window_->screen();
    if (!screen || !window_->isVisible()) return;
    const QRect client = window_->geometry();
    QRect frame = window_->frameGeometry();
    const bool framed = frame.size() != client.size();
    if (!framed) frame = client.marginsAdded(estimate_);
    if (frame.size() == centred_size_ && framed == centred_framed_) return;
    centred_size_ = frame.size();
    centred_framed_ = framed;
    const QPoint corner =
        screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2);
    const QRect target(corner + (client.topLeft() - frame.topLeft()), client.size());
    if (target != client) window_->setGeometry(target);
  }

  QWidget* window_;
  QMargins estimate_;
  QSize centred_size_;
  bool centred_framed_ = false;
  QTimer watch_;
  int ticks_ = 0;
  int settled_ = 0;
};

// The columns of Qt's file dialog: name, size, type, date changed.
constexpr int kFileTypeColumn = 2;
constexpr int kFileDateColumn = 3;

// Qt's file dialog spells a folder's type and every date through texts its
// Chinese translation lacks and the system's (often English) locale: these
// two columns are written here in Chinese.
class ChineseFileColumns : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files && role == Qt::DisplayRole && index.isValid()) {
      const QModelIndex source = mapToSource(index);
      if (index.column() == kFileDateColumn)
        return chinese_.toString(files->lastModified(source), QLocale::ShortFormat);
      if (index.column() == kFileTypeColumn && files->isDir(source)) return Q(texts::kFolder);
    }
    return QIdentityProxyModel::data(index, role);
  }

 private:
  QLocale chinese_{QLocale::Chinese, QLocale::China};
};

}  // namespace

Answer Tfrm_main::showMessage(const MessageBox& box) {
  QMessageBox::Icon icon = QMessageBox::Information;
  switch (box.icon) {
    case Icon::Information: icon = QMessageBox::Information; break;
    case Icon::Warning: icon = QMessageBox::Warning; break;
    case Icon::Error: icon = QMessageBox::Critical; break;
    case Icon::Question: icon = QMessageBox::Question; break;
  }
  const QMessageBox::StandardButtons buttons = box.buttons == Buttons::YesNo
                                                   ? (QMessageBox::Yes | QMessageBox::No)
                                                   : QMessageBox::StandardButtons(QMessageBox::Ok);
  QWidget* owner = box.modality == Modality::Owned ? this : nullptr;
  QMessageBox dialog(icon, Q(box.caption), DisplayText(box.text), buttons, owner);
  CloseButtonOnly(&dialog);
  if (!owner) KeepAbove(&dialog, false);
  CursorPause pause;
  int result = QMessageBox::Ok;
  switch (box.modality) {
    case Modality::Owned:
      dialog.setWindowModality(Qt::WindowModal);
      result = dialog.exec();
      break;
    case Modality::TaskModal:
      dialog.setWindowModality(Qt::ApplicationModal);
      result = dialog.exec();
      break;
    case Modality::OwnerlessModeless: {
      // The code waits for the answer, yet the box blocks no window.
      dialog.setWindowModality(Qt::NonModal);
      QEventLoop loop;
      connect(&dialog, &QMessageBox::finished, &loop, &QEventLoop::quit);
      dialog.show();
      loop.exec();
      result = dialog.result();
      break;
    }
  }
  if (box.buttons == Buttons::YesNo) return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
  return Answer::Ok;
}

OverwriteAnswer Tfrm_main::askOverwrite(const std::string& text) {
  OverwritePrompt prompt(QMessageBox::Question, Q(texts::kOverwriteCaption), DisplayText(text),
                         QMessageBox::NoButton);
  prompt.setWindowFlag(Qt::WindowCloseButtonHint, true);
  // One role for all four keeps them in the order they are added.
  QPushButton* yes = prompt.addButton(Q(texts::kOverwriteYes), QMessageBox::ActionRole);
  QPushButton* abort = prompt.addButton(Q(texts::kOverwriteAbort), QMessageBox::ActionRole);
  QPushButton* ignore = prompt.addButton(Q(texts::kOverwriteIgnore), QMessageBox::ActionRole);
  QPushButton* all = prompt.addButton(Q(texts::kOverwriteAll), QMessageBox::ActionRole);
  prompt.setDefaultButton(yes);
  prompt.setWindowModality(Qt::ApplicationModal);
  CloseButtonOnly(&prompt);
  KeepAbove(&prompt, true);
  CursorPause pause;
  prompt.exec();
  const QAbstractButton* clicked = prompt.clickedButton();
  if (prompt.closedByFrame() || !clicked) return OverwriteAnswer::Closed;
  if (clicked == abort) return OverwriteAnswer::Abort;
  if (clicked == ignore) return OverwriteAnswer::Ignore;
  if (clicked == all) return OverwriteAnswer::All;
  return OverwriteAnswer::Yes;
}

std::optional<std::string> Tfrm_main::chooseWorkbook() {
  CursorPause pause;
  QFileDialog dialog(this, QString(), QString(), Q(texts::kWorkbookFilter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Qt's own dialog: folder types and dates as the Chinese locale writes
  // them, the columns wide enough to show them whole.
  dialog.setProxyModel(new ChineseFileColumns(&dialog));
  if (auto* details = dialog.findChild<QTreeView*>()) {
    details->header()->setSectionResizeMode(kFileTypeColumn, QHeaderView::ResizeToContents);
    details->header()->setSectionResizeMode(kFileDateColumn, QHeaderView::ResizeToContents);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString path = dialog.selectedFiles().constFirst();
  if (path.isEmpty()) return std::nullopt;
  ed_filepath->setText(path);
  return path.toStdString();
}

void Tfrm_main::start(int minimum, int maximum) {
  Progress1->setMinimum(minimum);
  Progress1->setMaximum(maximum);
}
void Tfrm_main::step() {
  if (Progress1->value() < Progress1->maximum()) advance(Progress1->value() + 1);
}
void Tfrm_main::done() { advance(0); }
void Tfrm_main::advance(int value) {
  // The bar holds a position inside its range, as the loops expect.
  Progress1->setValue(std::clamp(value, Progress1->minimum(), Progress1->maximum()));
  // A long import or export repaints at the bar's pace, so that closed
  // boxes do not stay painted over the window. Input waits until the end.
  if (repaint_clock_.elapsed() >= 16) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
    repaint_clock_.restart();
  }
}

void Tfrm_main::letPendingMessagesRun() {
  QCoreApplication::processEvents();
  // Painting every row would cost more than the read itself.
  if (repaint_clock_.elapsed() >= 16) {
    repaint();
    repaint_clock_.restart();
  }
}

void Tfrm_main::KeepAbove(QWidget* box, bool centre) {
  // A transient window stays above the window it belongs to; unlike an
  // owner, that blocks nothing.
  box->winId();
  if (QWindow* handle = box->windowHandle(); handle && isVisible() && windowHandle())
    handle->setTransientParent(windowHandle());
  if (centre) new FrameCentrer(box, this);
}

}  // namespace xb::app
