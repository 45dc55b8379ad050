#pragma once
// Answers the real message boxes, file dialogs and the help window of a test
// as they come up, and records what each showed.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

#include "help/help_window.h"

namespace xb::test {

struct SeenBox {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;   // left to right, as shown
  QStringList standard;  // the same buttons' standard names ("Yes", "No", "Ok"), "" for others
  QWidget* parent = nullptr;
  Qt::WindowModality modality = Qt::NonModal;
};

class BoxAnswerer {
 public:
  // Given what a box shows, the button to click: its text ("&" is ignored)
  // or its standard name ("Ok", "Yes", "No"; case is ignored), so that a
  // translated standard button is found too; an empty answer leaves the
  // box open for now.
  using Policy = std::function<QString(QMessageBox* box, const SeenBox& seen)>;

  BoxAnswerer() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  Policy policy = [](QMessageBox*, const SeenBox& seen) {
    return seen.buttons.contains("&Yes") || seen.standard.contains("Yes") ? QString("Yes")
                                                                          : QString("OK");
  };
  QString workbook;  // chosen in the file dialog; empty cancels it
  std::vector<SeenBox> boxes;
  int file_dialogs = 0;
  int help_shown = 0;

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible() || w->property("xb_answered").toBool()) continue;
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        SeenBox seen;
        seen.text = box->text();
        seen.caption = box->windowTitle();
        seen.icon = box->icon();
        seen.parent = box->parentWidget();
        seen.modality = box->windowModality();
        auto buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
          return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (auto* b : buttons) {
          seen.buttons << b->text();
          seen.standard << StandardName(box->standardButton(b));
        }
        const QString answer = policy(box, seen);
        if (answer.isEmpty()) continue;
        box->setProperty("xb_answered", true);
        boxes.push_back(seen);
        for (auto* b : buttons)
          if (QString(b->text()).remove('&') == QString(answer).remove('&') ||
              StandardName(box->standardButton(b)).compare(answer, Qt::CaseInsensitive) == 0) {
            b->click();
            break;
          }
      } else if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
        dialog->setProperty("xb_answered", true);
        ++file_dialogs;
        if (workbook.isEmpty()) {
          dialog->reject();
        } else {
          dialog->selectFile(workbook);
          static_cast<QDialog*>(dialog)->accept();
        }
      } else if (auto* help = qobject_cast<help::Tfrm_help*>(w)) {
        ++help_shown;
        help->close();
      }
    }
  }

  static QString StandardName(QMessageBox::StandardButton button) {
    switch (button) {
      case QMessageBox::Ok: return QStringLiteral("Ok");
      case QMessageBox::Yes: return QStringLiteral("Yes");
      case QMessageBox::No: return QStringLiteral("No");
      case QMessageBox::Cancel: return QStringLiteral("Cancel");
      default: return QString();
    }
  }

  QTimer timer_;
};

}  // namespace xb::test
