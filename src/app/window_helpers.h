#pragma once
// Small pieces the main window's files share.

#include <QApplication>
#include <QString>
#include <string>

namespace xb::app {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

// The usual cursor while a box, a prompt or a dialog waits for the operator.
class CursorPause {
 public:
  CursorPause() {
    while (QApplication::overrideCursor()) {
      QApplication::restoreOverrideCursor();
      ++paused_;
    }
  }
  ~CursorPause() {
    for (int i = 0; i < paused_; ++i) QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  CursorPause(const CursorPause&) = delete;
  CursorPause& operator=(const CursorPause&) = delete;

 private:
  int paused_ = 0;
};

}  // namespace xb::app
