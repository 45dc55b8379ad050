// The main window on a real X display under a real window manager (openbox),
// driven with real key presses and mouse clicks through xdotool: what the
// headless platform cannot show (window manager frames and buttons, the
// keyboard's focus, which window stays above which, quitting).
//
// Run through run_on_x.sh. With XLSBRIDGE_SHOTS=<folder> it also saves the
// screenshots of the maximised help window and the file dialog there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "app/main_window.h"
#include "app/startup.h"
#include "app/window_probe.h"
#include "db/connection.h"
#include "help/help_window.h"
#include "support/scoped_env.h"

namespace xb::app {
namespace {

constexpr int kWait = 10000;

// Runs xdotool with these arguments and waits for it; the X events it makes
// reach this program when its event loop runs next.
void Xdo(const QStringList& args) {
  QProcess xdo;
  xdo.start(QStringLiteral("xdotool"), args);
  ASSERT_TRUE(xdo.waitForFinished(kWait)) << args.join(' ').toStdString();
  EXPECT_EQ(xdo.exitCode(), 0) << args.join(' ').toStdString() << ": "
                               << xdo.readAllStandardError().toStdString();
}

void Key(const QString& keys) { Xdo({"key", "--clearmodifiers", keys}); }

void ClickAt(const QPoint& global, int repeat = 1) {
  // One xdotool run: the click lands where the pointer was moved.
  Xdo({"mousemove", QString::number(global.x()), QString::number(global.y()), "click", "--repeat",
       QString::number(repeat), "--delay", "60", "1"});
}

// Gives the window the keyboard focus through the window manager.
void Activate(QWidget* window) {
  Xdo({"windowactivate", "--sync", QString::number(window->winId())});
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->isActiveWindow(); }, kWait))
      << window->windowTitle().toStdString();
}

// Runs `blocking`, which opens a window with its own event loop, and runs
// `during` from inside that loop once `ready` holds. `blocking` may also
// only start what opens the window (a key press): then this waits for it.
void WhileOpen(const std::function<void()>& blocking, const std::function<bool()>& ready,
               const std::function<void()>& during) {
  QTimer poll;
  poll.setInterval(10);
  QElapsedTimer clock;
  clock.start();
  bool fired = false, finished = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (fired) return;
    if (!ready()) {
      if (clock.elapsed() < kWait) return;
      ADD_FAILURE() << "the window did not come up";
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
          ADD_FAILURE() << "visible: " << w->metaObject()->className() << " "
                        << w->windowTitle().toStdString()
                        << (w->isActiveWindow() ? " (active)" : "");
    }
    fired = true;
    poll.stop();
    during();
    finished = true;
  });
  poll.start();
  blocking();
  EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 2 * kWait));
}

template <typename T>
T* VisibleTopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
  return nullptr;
}

// The window manager's stacking order, bottom to top.
QStringList Stacking() {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {"-root", "_NET_CLIENT_LIST_STACKING"});
  xprop.waitForFinished(kWait);
  const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
  QStringList ids;
  for (const QString& part : out.mid(out.indexOf('#') + 1).split(',', Qt::SkipEmptyParts))
    ids << QString::number(part.trimmed().toULongLong(nullptr, 16));
  return ids;
}

bool Above(QWidget* upper, QWidget* lower) {
  const QStringList order = Stacking();
  const qsizetype u = order.indexOf(QString::number(upper->winId()));
  const qsizetype l = order.indexOf(QString::number(lower->winId()));
  return u >= 0 && l >= 0 && u > l;
}

// The window manager's frame around a window, as the X server has it: the
// client's place widened by the frame extents the window manager set.
QRect FrameOf(QWidget* window) {
  auto run = [](const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(kWait);
    return QString::fromLatin1(p.readAllStandardOutput());
  };
  const QString id = QString::number(window->winId());
  const QString info = run("xwininfo", {"-id", id});
  auto field = [&](const QString& name) {
    const qsizetype at = info.indexOf(name);
    return at < 0 ? -1 : info.mid(at + name.size()).section('\n', 0, 0).trimmed().toInt();
  };
  const QRect client(field("Absolute upper-left X:"), field("Absolute upper-left Y:"),
                     field("Width:"), field("Height:"));
  const QString extents = run("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
  const QStringList parts = extents.section('=', 1).split(',', Qt::SkipEmptyParts);
  if (parts.size() != 4) return client;  // not framed yet
  return client.marginsAdded(QMargins(parts[0].trimmed().toInt(), parts[2].trimmed().toInt(),
                                      parts[1].trimmed().toInt(), parts[3].trimmed().toInt()));
}

// The name of the control that has the keyboard focus.
QString FocusName() {
  for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
    if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) return w->objectName();
  return QStringLiteral("(none)");
}

void SaveScreen(const QString& name) {
  const char* folder = std::getenv("XLSBRIDGE_SHOTS");
  if (!folder || !*folder) return;
  QDir().mkpath(folder);
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
  EXPECT_TRUE(shot.save(QDir(folder).filePath(name))) << name.toStdString();
}

// Stands in for the desktop's spreadsheet application: scripts that fail at
// once or after a while, or that show a window of their own (this test
// program, started as a stand-in) and note the file. The viewer tells their
// windows as the program does: from the X server.
class StandInViewer {
 public:
  explicit StandInViewer(const QString& dir) : dir_(dir) {}
  // "fails", "fails late" or "shows"; one command per word, tried in turn.
  std::shared_ptr<sheet::Viewer> Make(const QStringList& kinds) {
    sheet::DesktopViewerOptions options;
    options.commands.clear();
    for (int i = 0; i < kinds.size(); ++i) {
      const QString script = dir_ + "/viewer" + QString::number(i);
      std::string body = "#!/bin/sh\necho \"$1\" >> \"" + script.toStdString() + ".log\"\n";
      if (kinds[i] == "fails") body += "echo cannot open display >&2\nexit 1\n";
      if (kinds[i] == "fails late") body += "sleep 5\nexit 1\n";
      if (kinds[i] == "shows")
        body += "echo $$ >> \"" + (dir_ + "/stand-in.pids").toStdString() + "\"\nexec \"" +
                QCoreApplication::applicationFilePath().toStdString() + "\" --stand-in-window\n";
      std::ofstream(script.toStdString()) << body;
      QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
      options.commands.push_back({script.toStdString()});
    }
    options.has_window = XWindowProbe();
    options.running_names = {};  // whatever else runs on this machine
    return sheet::MakeDesktopViewer(options);
  }
  // The files each command was given.
  QString Log(int i) const {
    QFile log(dir_ + "/viewer" + QString::number(i) + ".log");
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
  }
  // Ends the stand-in windows still open.
  void EndWindows() const {
    QFile pids(dir_ + "/stand-in.pids");
    if (!pids.open(QIODevice::ReadOnly)) return;
    for (const QByteArray& pid : pids.readAll().split('\n'))
      if (pid.toInt() > 0) kill(pid.toInt(), SIGTERM);
  }

 private:
  QString dir_;
};

class RealWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    Write("aliases.ini", "[Demo]\nengine=sqlite\ntarget=db.sqlite\n");
    Write("odbc.ini", "");
    Write("db.sqlite", "");
    env_.set("XLSBRIDGE_ALIASES", Path("aliases.ini"))
        .set("ODBCINI", Path("odbc.ini"))
        .set("ODBCSYSINI", dir_.path().toStdString())
        .set("XDG_CONFIG_HOME", Path("config"))
        .set("XDG_DATA_HOME", Path("data"));
  }
  void TearDown() override {
    if (window_) window_->hide();
    help_.hide();
    viewers_.EndWindows();
  }

  void Create(const QStringList& viewers = {"shows"}) {
    window_ = std::make_unique<Tfrm_main>("/usr/bin/xlsbridge", viewers_.Make(viewers));
    window_->FormCreate();
    window_->setHelpWindow(&help_);
    window_->ShowCentred();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get(), kWait));
    Activate(window_.get());
  }

  // Connects through the window's own keys; the success box is answered
  // with Enter.
  void Connect() {
    window_->data_source->setFocus();
    WhileOpen(
        [&] {
          Xdo({"type", "--delay", "5", "Demo"});
          Key("Tab");
          Xdo({"type", "--delay", "5", "scott"});
          Key("Tab");
          Xdo({"type", "--delay", "5", "tiger"});
          Key("Return");
          (void)QTest::qWaitFor([&] { return window_->rd_czxm->isEnabled(); }, kWait);
        },
        [] {
          return VisibleTopLevel<QMessageBox>() && VisibleTopLevel<QMessageBox>()->isActiveWindow();
        },
        [] {
          Key("Return");
          (void)QTest::qWaitFor([] { return !VisibleTopLevel<QMessageBox>(); }, kWait);
        });
    ASSERT_EQ(window_->choiceIndex(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->GroupBox1->isVisible(); }, kWait));
  }

  // Presses Tab `count` times and names each control reached.
  QStringList Tabs(int count, const QString& key = "Tab") {
    QStringList names;
    for (int i = 0; i < count; ++i) {
      QWidget* before = QApplication::focusWidget();
      Key(key);
      (void)QTest::qWaitFor([&] { return QApplication::focusWidget() != before; }, 2000);
      names << FocusName();
    }
    return names;
  }

  std::string Path(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
  }

  test::ScopedEnv env_;
  QTemporaryDir dir_;
  StandInViewer viewers_{dir_.path()};
  help::Tfrm_help help_;
  std::unique_ptr<Tfrm_main> window_;
};

// The window manager offers maximising the help window; the viewer grows
// with it, and the normal size comes back.
TEST_F(RealWindowTest, HelpWindowMaximises) {
  Create();
  WhileOpen([&] { Key("F1"); }, [&] { return help_.isVisible() && help_.isActiveWindow(); },
            [&] {
              const QRect frame = help_.frameGeometry();
              const QPoint title(frame.center().x(),
                                 frame.top() + (help_.geometry().top() - frame.top()) / 2);
              ClickAt(title, 2);  // openbox: a double click on the title bar maximises
              EXPECT_TRUE(QTest::qWaitFor(
                  [&] {
                    return help_.isMaximized() && help_.viewer()->width() > 339 &&
                           help_.viewer()->height() > 444;
                  },
                  kWait));
              const QRect area = help_.screen()->availableGeometry();
              EXPECT_GE(help_.frameGeometry().width(), area.width() - 2);
              QTest::qWait(200);  // let the document lay out before the picture
              SaveScreen("help-maximised.png");
              ClickAt(QPoint(help_.frameGeometry().center().x(),
                             help_.frameGeometry().top() +
                                 (help_.geometry().top() - help_.frameGeometry().top()) / 2),
                      2);
              EXPECT_TRUE(QTest::qWaitFor(
                  [&] { return !help_.isMaximized() && help_.size() == QSize(349, 454); }, kWait));
              EXPECT_EQ(help_.viewer()->size(), QSize(339, 444));
              Key("alt+F4");
              (void)QTest::qWaitFor([&] { return !help_.isVisible(); }, kWait);
            });
}

// Tab goes round every control of the visible panel and the operation
// choice, in both states, and leaves the query box without typing a tab.
TEST_F(RealWindowTest, TabReachesEveryControlInBothStates) {
  Create();
  Connect();
  window_->data_source->setFocus();
  (void)QTest::qWaitFor([&] { return FocusName() == "data_source"; }, kWait);
  EXPECT_EQ(Tabs(9), (QStringList{"user_name", "user_pass", "bt_test", "bt_exit", "rd_czxm",
                                  "bt_open", "ed_filepath", "LbButton2", "data_source"}));

  // Choose export by keyboard: Tab to the choice, Down picks the second item.
  EXPECT_EQ(Tabs(5), (QStringList{"user_name", "user_pass", "bt_test", "bt_exit", "rd_czxm"}));
  Key("Down");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->GroupBox2->isVisible(); }, kWait));
  EXPECT_EQ(window_->choiceIndex(), 1);
  QTest::qWait(100);
  SaveScreen("export-panel.png");
  EXPECT_EQ(Tabs(3), (QStringList{"LbButton1", "memo_select", "data_source"}));
  EXPECT_EQ(Tabs(3, "shift+Tab"), (QStringList{"memo_select", "LbButton1", "rd_czxm"}));

  // Typing in the query box, then Tab: the text holds no tab character.
  window_->memo_select->setFocus();
  (void)QTest::qWaitFor([&] { return FocusName() == "memo_select"; }, kWait);
  Xdo({"type", "--delay", "5", "select 1 from dual"});
  EXPECT_EQ(Tabs(1), QStringList{"data_source"});
  EXPECT_EQ(window_->memo_select->toPlainText(), QString("select 1 from dual"));
}

// Enter on a focused button presses it, Return and the keypad's Enter
// alike: LbButton2 opens the help window.
TEST_F(RealWindowTest, EnterPressesTheFocusedButton) {
  Create();
  Connect();
  for (const QString key : {"Return", "KP_Enter"}) {
    SCOPED_TRACE(key.toStdString());
    window_->LbButton2->setFocus();
    (void)QTest::qWaitFor([&] { return FocusName() == "LbButton2"; }, kWait);
    WhileOpen([&] { Key(key); }, [&] { return help_.isVisible() && help_.isActiveWindow(); },
              [&] {
                Key("alt+F4");
                (void)QTest::qWaitFor([&] { return !help_.isVisible(); }, kWait);
              });
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->isActiveWindow(); }, kWait));
  }
}

// What the window manager lets the operator do with a window (openbox
// writes it on the window): close and move, never minimise or maximise.
QString AllowedActions(QWidget* window) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"),
              {"-id", QString::number(window->winId()), "_NET_WM_ALLOWED_ACTIONS"});
  xprop.waitForFinished(kWait);
  return QString::fromLatin1(xprop.readAllStandardOutput());
}

void ExpectCloseOnly(QWidget* window) {
  QString actions;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return (actions = AllowedActions(window)).contains("_NET_WM_ACTION_CLOSE"); }, kWait))
      << actions.toStdString();
  EXPECT_FALSE(actions.contains("MINIMIZE"))
      << window->windowTitle().toStdString() << ": " << actions.toStdString();
  EXPECT_FALSE(actions.contains("MAXIMIZE"))
      << window->windowTitle().toStdString() << ": " << actions.toStdString();
}

// The main window, the boxes (owned or not) and the overwrite prompt offer
// a close button only.
TEST_F(RealWindowTest, FramesOfferCloseOnly) {
  Create();
  ExpectCloseOnly(window_.get());
  for (const Modality modality :
       {Modality::Owned, Modality::TaskModal, Modality::OwnerlessModeless}) {
    MessageBox box;
    box.text = "文件格式不对";
    box.caption = "错误信息";
    box.modality = modality;
    WhileOpen([&] { window_->showMessage(box); },
              [] { return VisibleTopLevel<QMessageBox>() != nullptr; },
              [&] {
                QMessageBox* shown = VisibleTopLevel<QMessageBox>();
                ExpectCloseOnly(shown);
                shown->button(QMessageBox::Ok)->click();
              });
  }
  WhileOpen([&] { window_->askOverwrite("是否覆盖?"); },
            [] { return VisibleTopLevel<QMessageBox>() != nullptr; },
            [&] {
              QMessageBox* prompt = VisibleTopLevel<QMessageBox>();
              ExpectCloseOnly(prompt);
              prompt->buttons().constFirst()->click();
            });
}

// The export is shown without the window waiting for the spreadsheet
// application: a viewer that fails, at once or seconds later, hands on to
// the next; one that shows a window ends the watch; when none shows the
// file, the box naming it comes, whenever that is known.
TEST_F(RealWindowTest, ViewersAreWatchedWithoutBlocking) {
  struct Case {
    QStringList viewers;
    bool box;        // the box naming the saved file comes
    int last_tried;  // the last viewer given the file
  };
  for (const Case& c :
       {Case{{"shows", "fails"}, false, 0}, Case{{"fails", "fails"}, true, 1},
        Case{{"fails late", "shows"}, false, 1}, Case{{"fails late", "fails"}, true, 1}}) {
    SCOPED_TRACE(c.viewers.join(", ").toStdString());
    QDir(QString::fromStdString(Path("data/xlsbridge/exports"))).removeRecursively();
    for (int i = 0; i < 2; ++i)
      QFile::remove(dir_.filePath("viewer" + QString::number(i) + ".log"));
    Create(c.viewers);
    Connect();
    window_->setChoiceIndex(1);
    window_->rd_czxmClick();
    window_->memo_select->setPlainText("select 'x' AS A from dual");
    window_->LbButton1->setFocus();
    (void)QTest::qWaitFor([&] { return FocusName() == "LbButton1"; }, kWait);
    QElapsedTimer clock;
    clock.start();
    // The box comes from the event loop whenever the watch ends: answered
    // here, as it comes, with what it said and when.
    QString seen;
    qint64 seen_at = -1;
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      QMessageBox* box = VisibleTopLevel<QMessageBox>();
      if (!box || !box->text().startsWith("导出的文件")) return;
      seen = box->text();
      seen_at = clock.elapsed();
      box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    Key("space");
    const QString exports = QString::fromStdString(Path("data/xlsbridge/exports"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !QDir(exports).entryList({"export-*.xlsx"}, QDir::Files).isEmpty(); }, kWait));
    const QString saved = QDir(exports).entryList({"export-*.xlsx"}, QDir::Files).constFirst();
    // The window is the operator's again at once, long before a late
    // failure is known: its handler has returned, and typing reaches it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->busy(); }, 2000));
    EXPECT_LT(clock.elapsed(), 4000);
    if (c.viewers[0] == "fails late") {
      Activate(window_.get());
      window_->memo_select->setFocus();
      (void)QTest::qWaitFor([&] { return FocusName() == "memo_select"; }, kWait);
      Xdo({"type", "--delay", "5", "Z"});
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return window_->memo_select->toPlainText().contains('Z'); }, 2000));
      EXPECT_LT(clock.elapsed(), 5000);
    }

    if (c.box) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 15000));
      EXPECT_TRUE(seen.endsWith(saved)) << seen.toStdString();
      if (c.viewers[0] == "fails late") EXPECT_GE(seen_at, 5000);
    } else {
      EXPECT_TRUE(QTest::qWaitFor(
          [&] {
            QFile pids(dir_.filePath("stand-in.pids"));
            return pids.exists() && pids.size() > 0;
          },
          15000));
      QTest::qWait(1000);  // a box would come now
      EXPECT_TRUE(seen.isEmpty()) << seen.toStdString();
    }
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(viewers_.Log(i).isEmpty(), i > c.last_tried) << "viewer " << i;
    EXPECT_TRUE(viewers_.Log(c.last_tried).contains(saved));
    viewers_.EndWindows();
    QFile::remove(dir_.filePath("stand-in.pids"));
    window_->hide();
    window_.reset();
  }
}

// The overwrite prompt: its frame in the screen's centre, above the main
// window even after the operator clicks the main window.
TEST_F(RealWindowTest, OverwritePromptCentredAndKeptAbove) {
  Create();
  OverwriteAnswer answer = OverwriteAnswer::Closed;
  WhileOpen(
      [&] { answer = window_->askOverwrite("表 ZORVAT 中已经存在记录\r是否覆盖?"); },
      [] { return VisibleTopLevel<QMessageBox>() != nullptr; },
      [&] {
        QMessageBox* prompt = VisibleTopLevel<QMessageBox>();
        Activate(prompt);
        const QPoint centre = prompt->screen()->availableGeometry().center();
        // The frame settles once the window manager has framed the prompt.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return (FrameOf(prompt).center() - centre).manhattanLength() <= 2; }, kWait))
            << "frame " << FrameOf(prompt).x() << "," << FrameOf(prompt).y() << " "
            << FrameOf(prompt).width() << "x" << FrameOf(prompt).height();
        ClickAt(window_->mapToGlobal(QPoint(5, 5)));
        QTest::qWait(100);
        EXPECT_TRUE(Above(prompt, window_.get()));
        Activate(prompt);
        Key("Return");
      });
  EXPECT_EQ(answer, OverwriteAnswer::Yes);
}

// Boxes without an owner stay above the main window when it is clicked; the
// one that is not task-modal leaves the main window usable.
TEST_F(RealWindowTest, OwnerlessBoxesStayAboveTheMainWindow) {
  Create();
  for (const Modality modality : {Modality::TaskModal, Modality::OwnerlessModeless}) {
    MessageBox box;
    box.text = "文件格式不对";
    box.caption = "错误信息";
    box.icon = Icon::Error;
    box.modality = modality;
    WhileOpen([&] { window_->showMessage(box); },
              [] {
                return VisibleTopLevel<QMessageBox>() &&
                       VisibleTopLevel<QMessageBox>()->isActiveWindow();
              },
              [&] {
                QMessageBox* shown = VisibleTopLevel<QMessageBox>();
                ClickAt(window_->mapToGlobal(QPoint(window_->width() / 2, 8)));
                QTest::qWait(100);
                EXPECT_TRUE(Above(shown, window_.get()));
                if (modality == Modality::OwnerlessModeless) {
                  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->isActiveWindow(); }, kWait));
                }
                Activate(shown);
                Key("Return");
                (void)QTest::qWaitFor([] { return !VisibleTopLevel<QMessageBox>(); }, kWait);
              });
  }
}

// The file dialog in Chinese, with the workbook filter.
TEST_F(RealWindowTest, FileDialogSpeaksChinese) {
  Create();
  std::optional<std::string> chosen = std::string("unset");
  WhileOpen(
      [&] { chosen = window_->chooseWorkbook(); },
      [] {
        return VisibleTopLevel<QFileDialog>() && VisibleTopLevel<QFileDialog>()->isActiveWindow();
      },
      [&] {
        QFileDialog* dialog = VisibleTopLevel<QFileDialog>();
        QStringList texts;
        for (auto* b : dialog->findChildren<QPushButton*>()) texts << b->text();
        EXPECT_TRUE(texts.contains("取消")) << texts.join('|').toStdString();
        EXPECT_EQ(dialog->nameFilters(), QStringList{"EXCEL文件 (*.xls *.xlsx)"});
        // A folder's type and a date in the Chinese locale's words,
        // each shown whole.
        QDir(dir_.path()).mkdir("folder");
        dialog->setDirectory(dir_.path());
        auto* details = dialog->findChild<QTreeView*>();
        ASSERT_NE(details, nullptr);
        QAbstractItemModel* files = details->model();
        QModelIndex folder;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
              const QModelIndex root = details->rootIndex();
              for (int r = 0; r < files->rowCount(root); ++r)
                if (files->index(r, 0, root).data().toString() == "folder")
                  folder = files->index(r, 0, root);
              return folder.isValid();
            },
            kWait));
        if (folder.isValid()) {
          const QString type = folder.siblingAtColumn(2).data().toString();
          const QString date = folder.siblingAtColumn(3).data().toString();
          EXPECT_EQ(type, QString("文件夹"));
          const QDateTime changed = QFileInfo(dir_.filePath("folder")).lastModified();
          EXPECT_EQ(
              date,
              QLocale(QLocale::Chinese, QLocale::China).toString(changed, QLocale::ShortFormat));
          QTest::qWait(200);
          const QFontMetrics metrics(details->font());
          EXPECT_GE(details->header()->sectionSize(3), metrics.horizontalAdvance(date))
              << "the date is cut";
          EXPECT_GE(details->header()->sectionSize(2), metrics.horizontalAdvance(type));
        }
        QTest::qWait(200);
        SaveScreen("file-dialog-zh.png");
        Key("Escape");
        (void)QTest::qWaitFor([] { return !VisibleTopLevel<QFileDialog>(); }, kWait);
      });
  EXPECT_FALSE(chosen.has_value());
}

// The running window shows the program's own icon, drawn at build time in
// its usual sizes (no image plugin needed), and hands it to the window
// manager.
TEST_F(RealWindowTest, WindowCarriesTheProgramsIcon) {
  Create();
  EXPECT_GE(window_->windowIcon().availableSizes().size(), 4);
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {"-id", QString::number(window_->winId()), "_NET_WM_ICON"});
  xprop.waitForFinished(kWait);
  const QString icon = QString::fromUtf8(xprop.readAllStandardOutput());
  EXPECT_GE(icon.count("Icon ("), 2) << icon.left(200).toStdString();
}

// The program itself, started as the operator starts it (its own
// application loop decides when it ends), watched and driven from outside.
class RealProgram : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    std::ofstream(dir_.filePath("aliases.ini").toStdString())
        << "[Demo]\nengine=sqlite\ntarget=db.sqlite\n";
    std::ofstream(dir_.filePath("db.sqlite").toStdString());
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("XLSBRIDGE_ALIASES", dir_.filePath("aliases.ini"));
    env_.insert("XDG_DATA_HOME", dir_.filePath("data"));
    // No DSN or setting of the machine reaches the program.
    std::ofstream(dir_.filePath("odbc.ini").toStdString());
    env_.insert("ODBCINI", dir_.filePath("odbc.ini"));
    env_.insert("ODBCSYSINI", dir_.path());
    env_.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    env_.remove("QT_QPA_PLATFORM");
    // In a sanitizer build the program's leak report leaves out the session
    // bus library's buffer, as this test program's does.
    std::ofstream(dir_.filePath("lsan.supp").toStdString()) << "leak:libdbus-1.so\n";
    env_.insert("LSAN_OPTIONS",
                "suppressions=" + dir_.filePath("lsan.supp") + ":print_suppressions=0");
  }
  void TearDown() override {
    if (program_.state() != QProcess::NotRunning) {
      program_.kill();
      program_.waitForFinished(kWait);
    }
  }

  void Start() {
    program_.setProcessEnvironment(env_);
    program_.start(QStringLiteral(XB_PROGRAM), {});
    ASSERT_TRUE(program_.waitForStarted(kWait));
  }

  static QString Output(const QStringList& args) {
    QProcess xdo;
    xdo.start("xdotool", args);
    xdo.waitForFinished(kWait);
    return QString::fromUtf8(xdo.readAllStandardOutput()).trimmed();
  }
  // The program's visible windows: id to title.
  QMap<QString, QString> Windows() {
    QMap<QString, QString> windows;
    const QString ids = Output(
        {"search", "--onlyvisible", "--pid", QString::number(program_.processId()), "--name", "."});
    for (const QString& id : ids.split('\n', Qt::SkipEmptyParts))
      windows[id] = Output({"getwindowname", id});
    return windows;
  }
  QStringList Titles() { return Windows().values(); }
  // Waits for a visible window of the program whose title holds `name`
  // (compared here: xdotool's own pattern match is not sure with Chinese).
  QString Find(const QString& name) {
    QString found;
    (void)QTest::qWaitFor(
        [&] {
          const auto windows = Windows();
          for (auto it = windows.begin(); it != windows.end(); ++it)
            if (it.value().contains(name)) found = it.key();
          return !found.isEmpty();
        },
        kWait);
    return found;
  }
  // Waits until the window manager has given `id` the focus.
  static bool Active(const QString& id) {
    return QTest::qWaitFor([&] { return Output({"getactivewindow"}) == id; }, kWait);
  }
  static bool Gone(const QString& id) {
    return QTest::qWaitFor(
        [&] {
          QProcess info;
          info.start("xwininfo", {"-id", id});
          info.waitForFinished(kWait);
          return !QString::fromLatin1(info.readAllStandardOutput()).contains("IsViewable");
        },
        kWait);
  }
  // Waits for the box titled `title`, presses `key` in it, waits for it to go.
  void Answer(const QString& title, const QString& key) {
    const QString box = Find(title);
    ASSERT_FALSE(box.isEmpty()) << title.toStdString() << " not among "
                                << Titles().join('|').toStdString();
    ASSERT_TRUE(Active(box));
    Key(key);
    ASSERT_TRUE(Gone(box));
  }
  // The main window's close asks; Yes (the default: Enter) ends the program.
  void CloseAndConfirm(const QString& main_window) {
    Xdo({"windowactivate", "--sync", main_window});
    Key("alt+F4");
    const QString question = Find("确认信息");
    ASSERT_FALSE(question.isEmpty());
    ASSERT_TRUE(Active(question));
    Key("Return");
    EXPECT_TRUE(program_.waitForFinished(kWait));
    EXPECT_EQ(program_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program_.exitCode(), 0);
  }

  QTemporaryDir dir_;
  QProcessEnvironment env_;
  QProcess program_;
};

// Closing the help window (Alt+F4) leaves the program running without a
// question, twice over; only the main window's close asks.
TEST_F(RealProgram, ClosingHelpAsksNothing) {
  Start();
  const QString main_window = Find("EXCEL");
  ASSERT_FALSE(main_window.isEmpty());
  for (int round = 0; round < 2; ++round) {
    // Round two's F1 opens help only when no question holds the program.
    Xdo({"windowactivate", "--sync", main_window});
    Key("F1");
    const QString help = Find("帮助助手");
    ASSERT_FALSE(help.isEmpty()) << "round " << round;
    ASSERT_TRUE(Active(help));
    Key("alt+F4");
    ASSERT_TRUE(Gone(help));
  }
  EXPECT_EQ(program_.state(), QProcess::Running);
  CloseAndConfirm(main_window);
}

// OK on a box without owner leaves the program running, with no question:
// here the import's success box (the main window stays usable behind it),
// reached with the keyboard alone: connect, Tab to 读入文件, the file
// dialog, Yes to import now, OK. (On this machine's Qt only the help
// window's close started quitting; the boxes are held to the same rule.)
TEST_F(RealProgram, AnsweringABoxWithoutOwnerAsksNothing) {
  {
    db::Connection connection;
    connection.setConnectionString("data source=" + dir_.filePath("db.sqlite").toStdString());
    connection.open();
    db::Query query(connection);
    query.setSql(
        "create table ZORVAT (AA varchar2(10) primary key, BB number, CC date, SEQ_NN number, DD "
        "number)");
    query.execute();
  }
  Start();
  const QString main_window = Find("EXCEL");
  ASSERT_FALSE(main_window.isEmpty());
  ASSERT_TRUE(Active(main_window));
  Xdo({"type", "--delay", "5", "Demo"});
  Key("Tab");
  Xdo({"type", "--delay", "5", "scott"});
  Key("Tab");
  Xdo({"type", "--delay", "5", "tiger"});
  Key("Return");
  Answer("提示信息", "Return");  // connected
  ASSERT_TRUE(Active(main_window));
  for (int i = 0; i < 4; ++i) Key("Tab");  // bt_test, bt_exit, rd_czxm, bt_open
  Key("space");
  // A spreadsheet application of this user may run: its box comes first.
  QString first;
  (void)QTest::qWaitFor(
      [&] {
        for (const QString& title : Titles())
          if (title.contains("打开") || title.contains("ZQ_提示")) first = title;
        return !first.isEmpty();
      },
      kWait);
  if (first.contains("ZQ_提示")) Answer("ZQ_提示", "Return");
  const QString dialog = Find("打开");
  ASSERT_FALSE(dialog.isEmpty()) << Titles().join('|').toStdString();
  ASSERT_TRUE(Active(dialog));
  Xdo({"type", "--delay", "2", QStringLiteral(XB_IMPORT_DATA) + "/sample1.xls"});
  Key("Return");
  Answer("确认信息", "Return");  // import now: Yes
  Answer("提示信息", "Return");  // imported
  QTest::qWait(300);             // a question would come at once
  EXPECT_FALSE(Titles().join('|').contains("确认信息")) << Titles().join('|').toStdString();
  EXPECT_EQ(program_.state(), QProcess::Running);
  CloseAndConfirm(main_window);
}

}  // namespace
}  // namespace xb::app

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  // Started as a stand-in spreadsheet application: a window until ended.
  if (argc > 1 && std::string(argv[1]) == "--stand-in-window") {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("stand-in spreadsheet"));
    window.resize(200, 100);
    window.show();
    return app.exec();
  }
  QApplication app(argc, argv);
  xb::app::ConfigureApplication(app);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
