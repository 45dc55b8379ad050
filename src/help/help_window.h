#pragma once
// The help window: one fixed rich-text document about the workbook layout,
// created hidden at start-up and shown modally for F1 and the help button.

#include <QTimer>
#include <QWidget>

class QEventLoop;
class QFrame;
class QTextEdit;

namespace xb::help {

class Tfrm_help : public QWidget {
  Q_OBJECT
 public:
  explicit Tfrm_help(QWidget* parent = nullptr);

  // Shows the window modally; returns when the operator closes it. Every
  // showing reuses this window and its document, as the operator left them.
  void ShowModal();

  QTextEdit* viewer() const { return help_memo; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QFrame* help_Panel = nullptr;
  QTextEdit* help_memo = nullptr;
  bool shown_before_ = false;
  QEventLoop* loop_ = nullptr;
  QTimer snap_back_;
};

}  // namespace xb::help
