// The real main window, offscreen, with real message boxes answered from the
// test, real SQLite files and a real workbook.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "app/main_window.h"
#include "app/startup.h"
#include "box_answerer.h"
#include "db/connection.h"
#include "help/help_window.h"
#include "support/query.h"
#include "support/schema.h"
#include "support/scoped_env.h"

namespace xb::app {
namespace {

using test::BoxAnswerer;
using test::SeenBox;

// Stands in for the desktop's spreadsheet application, whatever runs on
// this machine: notes what it was asked to show.
class RecordingViewer : public sheet::Viewer {
 public:
  bool running() override { return running_now; }
  void show(const std::string& path, std::function<void(bool)> done) override {
    shown.push_back(path);
    done(shows);
  }
  bool running_now = false;
  bool shows = true;
  std::vector<std::string> shown;
};

// Each test: its own folder with its alias file, an empty ODBC set-up and a
// database file; the window is created the way start-up creates it.
class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    WriteFile(
        "aliases.ini",
        "[Demo]\nengine=sqlite\ntarget=db.sqlite\n[beta]\nengine=sqlite\ntarget=none.sqlite\n");
    WriteFile("odbc.ini", "");
    WriteFile("db.sqlite", "");
    env_.set("XLSBRIDGE_ALIASES", Path("aliases.ini"))
        .set("ODBCINI", Path("odbc.ini"))
        .set("ODBCSYSINI", dir_.path().toStdString())
        .set("XDG_CONFIG_HOME", Path("config"))
        .set("XDG_DATA_HOME", Path("data"));
  }

  void Create(std::shared_ptr<sheet::Viewer> viewer = nullptr) {
    window_ = std::make_unique<Tfrm_main>("/usr/bin/xlsbridge", viewer ? viewer : viewer_);
    window_->FormCreate();
    window_->setHelpWindow(&help_);
    window_->ShowCentred();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }

  std::string Path(const std::string& name) const {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }
  // Every control the window shows lies whole inside it.
  void ExpectNothingCutOff() const {
    for (QWidget* control : window_->findChildren<QWidget*>()) {
      if (!control->isVisibleTo(window_.get()) || control->isWindow()) continue;
      const QRect at(control->mapTo(window_.get(), QPoint(0, 0)), control->size());
      EXPECT_TRUE(window_->rect().contains(at))
          << control->objectName().toStdString() << " reaches beyond the window";
    }
  }
  void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
  }

  // Connects to the test database through the window's own controls.
  void Connect(const std::string& data_source = "Demo") {
    window_->data_source->setEditText(QString::fromStdString(data_source));
    QTest::mouseClick(window_->bt_test, Qt::LeftButton);
  }

  void Exec(const std::string& sql) {
    db::Connection connection;
    connection.setConnectionString("data source=" + Path("db.sqlite"));
    test::Execute(connection, sql);
  }
  std::vector<std::string> Column(const std::string& sql) {
    db::Connection connection;
    connection.setConnectionString("data source=" + Path("db.sqlite"));
    return test::Column(connection, sql);
  }

  test::ScopedEnv env_;
  QTemporaryDir dir_;
  std::shared_ptr<RecordingViewer> viewer_ = std::make_shared<RecordingViewer>();
  BoxAnswerer answerer_;
  help::Tfrm_help help_;
  std::unique_ptr<Tfrm_main> window_;
};

TEST_F(MainWindowTest, StartsSmallWithNothingChosen) {
  Create();
  ExpectNothingCutOff();
  EXPECT_EQ(window_->windowTitle(), QString("通用EXCEL数据导入/导出"));
  EXPECT_TRUE(window_->data_source->isEnabled());
  EXPECT_TRUE(window_->user_name->isEnabled());
  EXPECT_TRUE(window_->bt_test->isEnabled());
  EXPECT_FALSE(window_->rd_czxm->isEnabled());
  EXPECT_EQ(window_->choiceIndex(), -1);
  EXPECT_FALSE(window_->GroupBox1->isVisible());
  EXPECT_FALSE(window_->GroupBox2->isVisible());
  EXPECT_FALSE(window_->BT_IMP->isEnabled());
  EXPECT_EQ(window_->data_source->count(), 2);
  EXPECT_EQ(window_->data_source->currentText(), QString());
  EXPECT_EQ(window_->focusWidget()->focusProxy() ? window_->focusWidget()->focusProxy()
                                                 : window_->focusWidget(),
            window_->data_source);
  EXPECT_TRUE(answerer_.boxes.empty());
}

TEST_F(MainWindowTest, TypeAheadTakesTheEntryCase) {
  Create();
  QTest::keyClicks(window_->data_source->lineEdit(), "dE");
  EXPECT_EQ(window_->data_source->currentText(), QString("Demo"));
  EXPECT_EQ(window_->data_source->lineEdit()->selectedText(), QString("mo"));
  // Backspace removes the completed tail and no completion comes back.
  QTest::keyClick(window_->data_source->lineEdit(), Qt::Key_Backspace);
  EXPECT_EQ(window_->data_source->currentText(), QString("De"));
}

TEST_F(MainWindowTest, SuccessfulAndFailedTests) {
  Create();
  const int start_height = window_->height();
  Connect();
  ASSERT_EQ(answerer_.boxes.size(), 1u);
  const SeenBox& ok = answerer_.boxes[0];
  EXPECT_EQ(ok.text, QString("当前数据库联系成功!"));
  EXPECT_EQ(ok.caption, QString("提示信息"));
  EXPECT_EQ(ok.icon, QMessageBox::Information);
  EXPECT_EQ(ok.parent, window_.get());
  // The window grows to show the import panel whole.
  EXPECT_GT(window_->height(), start_height);
  const QSize grown = window_->size();
  EXPECT_TRUE(window_->rd_czxm->isEnabled());
  EXPECT_EQ(window_->choiceIndex(), 0);
  EXPECT_TRUE(window_->GroupBox1->isVisible());
  EXPECT_FALSE(window_->GroupBox2->isVisible());
  ExpectNothingCutOff();

  // The operator chooses export; a new test goes back to import.
  QTest::mouseClick(window_->rd_czxm_export, Qt::LeftButton, {}, QPoint(5, 8));
  EXPECT_EQ(window_->choiceIndex(), 1);
  EXPECT_FALSE(window_->GroupBox1->isVisible());
  EXPECT_TRUE(window_->GroupBox2->isVisible());
  ExpectNothingCutOff();
  Connect();
  EXPECT_EQ(answerer_.boxes.size(), 2u);
  EXPECT_EQ(window_->choiceIndex(), 0);
  EXPECT_TRUE(window_->GroupBox1->isVisible());
  EXPECT_FALSE(window_->GroupBox2->isVisible());

  // A failed test says nothing and only clears the choice.
  Connect(Path("missing.sqlite"));
  EXPECT_EQ(answerer_.boxes.size(), 2u);
  EXPECT_EQ(window_->choiceIndex(), -1);
  EXPECT_TRUE(window_->rd_czxm->isEnabled());
  EXPECT_TRUE(window_->GroupBox1->isVisible());
  EXPECT_EQ(window_->size(), grown);
  EXPECT_FALSE(window_->session().myconnection.isOpen());
}

TEST_F(MainWindowTest, KeysOfTheWindow) {
  Create();
  // F1 with or without Shift opens the help window before any connection.
  QTest::keyClick(window_->user_name, Qt::Key_F1);
  EXPECT_EQ(answerer_.help_shown, 1);
  QTest::keyClick(window_->data_source->lineEdit(), Qt::Key_F1, Qt::ShiftModifier);
  EXPECT_EQ(answerer_.help_shown, 2);
  QTest::keyClick(window_->bt_test, Qt::Key_F1, Qt::ControlModifier);
  EXPECT_EQ(answerer_.help_shown, 3);

  // Limits: the 13th and the 17th character are not taken.
  QTest::keyClicks(window_->user_name, "abcdefghijklm");
  EXPECT_EQ(window_->user_name->text(), QString("abcdefghijkl"));
  QTest::keyClicks(window_->user_pass, "0123456789abcdefg");
  EXPECT_EQ(window_->user_pass->text(), QString("0123456789abcdef"));
  EXPECT_EQ(window_->user_pass->echoMode(), QLineEdit::Password);

  // Enter in user_name only moves on; Enter in user_pass tests.
  window_->user_name->setFocus();
  window_->data_source->setEditText(QStringLiteral("Demo"));
  QTest::keyClick(window_->user_name, Qt::Key_Return);
  EXPECT_EQ(window_->focusWidget(), window_->user_pass);
  EXPECT_TRUE(answerer_.boxes.empty());
  QTest::keyClick(window_->user_pass, Qt::Key_Return);
  ASSERT_EQ(answerer_.boxes.size(), 1u);
  EXPECT_EQ(answerer_.boxes[0].caption, QString("提示信息"));
  EXPECT_EQ(window_->choiceIndex(), 0);
}

TEST_F(MainWindowTest, ClosingAsksFirst) {
  Create();
  Connect();
  answerer_.policy = [](QMessageBox*, const SeenBox& seen) {
    return seen.standard.contains("No") ? QString("No") : QString("OK");
  };
  window_->close();
  ASSERT_EQ(answerer_.boxes.size(), 2u);
  const SeenBox& ask = answerer_.boxes[1];
  EXPECT_EQ(ask.text, QString("您真的确认退出本程序吗？"));
  EXPECT_EQ(ask.caption, QString("确认信息"));
  EXPECT_EQ(ask.icon, QMessageBox::Warning);
  EXPECT_EQ(ask.parent, window_.get());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->session().myconnection.isOpen());

  // bt_exit closes the connection before it asks; No keeps the panel.
  QTest::mouseClick(window_->bt_exit, Qt::LeftButton);
  EXPECT_EQ(answerer_.boxes.size(), 3u);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(window_->session().myconnection.isOpen());
  EXPECT_TRUE(window_->GroupBox1->isVisible());
  EXPECT_EQ(window_->choiceIndex(), 0);
}

TEST_F(MainWindowTest, UnreadableAliasFileIsReportedAndNothingIsCutOff) {
  QDir(dir_.path()).mkdir("aliases.d");
  env_.set("XLSBRIDGE_ALIASES", Path("aliases.d"));
  Create();
  ASSERT_EQ(answerer_.boxes.size(), 1u);
  const SeenBox& report = answerer_.boxes[0];
  EXPECT_EQ(report.caption, QString("Xlsbridge"));
  EXPECT_EQ(report.icon, QMessageBox::Critical);
  ASSERT_EQ(report.buttons.size(), 1);
  EXPECT_EQ(report.standard[0], QString("Ok"));
  EXPECT_EQ(report.buttons[0], QString("确定"));  // Qt's own Chinese
  EXPECT_EQ(report.parent, nullptr);
  EXPECT_EQ(report.modality, Qt::ApplicationModal);
  ExpectNothingCutOff();
  EXPECT_EQ(window_->data_source->count(), 0);
}

TEST_F(MainWindowTest, OverwritePromptButtonsAndEscape) {
  Create();
  bool escape_ignored = false;
  answerer_.policy = [&](QMessageBox* box, const SeenBox&) {
    EXPECT_EQ(box->defaultButton() ? box->defaultButton()->text() : QString(), QString("&Yes"));
    QTest::keyClick(box, Qt::Key_Escape);
    escape_ignored = box->isVisible();
    return QString("&Ignore");
  };
  EXPECT_EQ(window_->askOverwrite("line 1\rline 2"), OverwriteAnswer::Ignore);
  EXPECT_TRUE(escape_ignored);
  ASSERT_EQ(answerer_.boxes.size(), 1u);
  EXPECT_EQ(answerer_.boxes[0].caption, QString("Confirm"));
  EXPECT_EQ(answerer_.boxes[0].text, QString("line 1\nline 2"));
  EXPECT_EQ(answerer_.boxes[0].icon, QMessageBox::Question);
  EXPECT_EQ(answerer_.boxes[0].buttons, (QStringList{"&Yes", "&Abort", "&Ignore", "&All"}));

  // The close box gives its own answer.
  answerer_.policy = [](QMessageBox* box, const SeenBox&) {
    box->close();
    return QString();
  };
  EXPECT_EQ(window_->askOverwrite("x"), OverwriteAnswer::Closed);
}

TEST_F(MainWindowTest, ImportsTheSampleWorkbookWithoutReentry) {
  {
    std::ifstream schema(std::string(XB_IMPORT_DATA) + "/schema.sql");
    std::string line, statement;
    while (std::getline(schema, line)) {
      if (line.rfind("--", 0) == 0) continue;
      statement += line + "\n";
      if (!line.empty() && line.back() == ';') {
        statement.erase(statement.find_last_of(';'));
        Exec(statement);
        statement.clear();
      }
    }
  }
  Create();
  Connect();
  answerer_.workbook = QString(XB_IMPORT_DATA) + "/sample1.xls";
  bool blocked_while_open = false;
  bool cursor_during_boxes = false;
  answerer_.policy = [&](QMessageBox* box, const SeenBox& seen) {
    cursor_during_boxes = cursor_during_boxes || QApplication::overrideCursor();
    if (seen.text == QString("数据已经成功导入到数据库中!")) {
      // The run's last box leaves the window visible behind it, but the
      // window takes no input until the run ends.
      EXPECT_TRUE(window_->busy());
      EXPECT_EQ(seen.parent, nullptr);
      EXPECT_EQ(box->windowModality(), Qt::NonModal);
      QTest::mouseClick(window_->bt_open, Qt::LeftButton);
      QTest::mouseClick(window_->BT_IMP, Qt::LeftButton);
      blocked_while_open = answerer_.file_dialogs == 1;
    }
    return seen.standard.contains("Yes") ? QString("Yes") : QString("OK");
  };
  // While the read and the run work (no box open), the cursor says so.
  bool waited_with_cursor = false;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (window_->busy() && !QApplication::activeModalWidget() && QApplication::overrideCursor() &&
        QApplication::overrideCursor()->shape() == Qt::WaitCursor)
      waited_with_cursor = true;
  });
  watch.start();
  QTest::mouseClick(window_->bt_open, Qt::LeftButton);
  watch.stop();
  EXPECT_TRUE(waited_with_cursor);
  EXPECT_FALSE(cursor_during_boxes);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(blocked_while_open);
  EXPECT_FALSE(window_->busy());
  EXPECT_EQ(answerer_.file_dialogs, 1);
  ASSERT_EQ(answerer_.boxes.size(), 3u);
  EXPECT_EQ(answerer_.boxes[1].text,
            QString("数据已经成功的从Excel文件中提取,是否导入到数据库中?"));
  EXPECT_EQ(answerer_.boxes[2].caption, QString("提示信息"));
  EXPECT_EQ(window_->ed_filepath->text(), answerer_.workbook);
  EXPECT_FALSE(window_->BT_IMP->isEnabled());
  EXPECT_EQ(window_->Progress1->value(), 0);
  EXPECT_EQ(Column("select AA from ZORVAT order by BB"),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}));
  EXPECT_EQ(Column("select to_char(CC,'yyyy-mm-dd') from ZORVAT where AA='11'"),
            std::vector<std::string>{"2003-08-11"});
}

// The window keeps BT_IMP and the file path from what the read did: a good
// read answered No leaves the list waiting, a cancelled choice changes
// nothing, a read that fails part-way leaves nothing to import.
TEST_F(MainWindowTest, ImportButtonFollowsWhatTheReadDid) {
  {
    db::Connection connection;
    connection.setConnectionString("data source=" + Path("db.sqlite"));
    connection.open();
    test::LoadSchemaFile(connection, std::string(XB_IMPORT_DATA) + "/schema.sql");
  }
  Create();
  Connect();
  answerer_.policy = [](QMessageBox*, const SeenBox& seen) {
    return seen.standard.contains("No") ? QString("No") : QString("OK");
  };
  const QString good = QString(XB_IMPORT_DATA) + "/sample1.xls";
  answerer_.workbook = good;
  QTest::mouseClick(window_->bt_open, Qt::LeftButton);
  EXPECT_TRUE(window_->BT_IMP->isEnabled());
  EXPECT_EQ(window_->ed_filepath->text(), good);
  EXPECT_EQ(window_->Progress1->value(), 0);

  answerer_.workbook.clear();  // the file dialog is cancelled
  QTest::mouseClick(window_->bt_open, Qt::LeftButton);
  EXPECT_TRUE(window_->BT_IMP->isEnabled());
  EXPECT_EQ(window_->ed_filepath->text(), good);

  answerer_.workbook = QString(XB_IMPORT_DATA) + "/error_cell.xls";
  QTest::mouseClick(window_->bt_open, Qt::LeftButton);
  EXPECT_FALSE(window_->BT_IMP->isEnabled());
  EXPECT_EQ(window_->ed_filepath->text(), answerer_.workbook);
  EXPECT_TRUE(Column("select AA from ZORVAT").empty());
}

// The export from the window: the workbook is saved under the data folder and
// handed to the desktop's opener (a stand-in here); a faulty statement gives
// the two boxes and leaves no workbook.
TEST_F(MainWindowTest, ExportsAQueryAndReportsAFaultyOne) {
  Exec("create table EMP (ENAME varchar2(10), SAL number)");
  Exec("insert into EMP values ('SMITH', 800)");
  Exec("insert into EMP values ('王五', 1250.5)");
  WriteFile("xdg-open", "#!/bin/sh\necho \"$1\" >> \"" + Path("opened") + "\"\n");
  QFile::setPermissions(QString::fromStdString(Path("xdg-open")),
                        QFile::ReadOwner | QFile::ExeOwner);
  env_.set("PATH", dir_.path().toStdString());
  // The desktop viewer, finding only the stand-in opener on PATH and never
  // what else runs here.
  sheet::DesktopViewerOptions desktop;
  desktop.running_names = {};
  Create(sheet::MakeDesktopViewer(desktop));
  Connect();
  QTest::mouseClick(window_->rd_czxm_export, Qt::LeftButton, {}, QPoint(5, 8));
  window_->memo_select->setPlainText("select ENAME, SAL\nfrom EMP order by SAL");
  QTest::mouseClick(window_->LbButton1, Qt::LeftButton);

  const QDir exports(QString::fromStdString(Path("data/xlsbridge/exports")));
  const QStringList saved = exports.entryList({"*.xlsx"}, QDir::Files);
  ASSERT_EQ(saved.size(), 1);
  // The opener runs detached.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return QFile(QString::fromStdString(Path("opened"))).size() > 0; }, 5000));
  std::ifstream opened(Path("opened"));
  std::string line;
  std::getline(opened, line);
  EXPECT_EQ(line, exports.filePath(saved[0]).toStdString());
  EXPECT_EQ(answerer_.boxes.size(), 1u);  // only the connection test's
  EXPECT_EQ(window_->Progress1->value(), 0);

  window_->memo_select->setPlainText("select * from NO_SUCH_TABLE");
  QTest::mouseClick(window_->LbButton1, Qt::LeftButton);
  ASSERT_EQ(answerer_.boxes.size(), 3u);
  EXPECT_EQ(answerer_.boxes[1].caption, QString("导出失败"));
  // Carriage returns are shown as line breaks.
  EXPECT_TRUE(answerer_.boxes[1].text.startsWith("SQl语句有问题,如下:\n"))
      << answerer_.boxes[1].text.toStdString();
  EXPECT_EQ(answerer_.boxes[2].caption, QString("错误信息"));
  EXPECT_EQ(answerer_.boxes[2].text.toStdString(),
            "错误的SQL语句如下:\nselect * from NO_SUCH_TABLE\n");
  EXPECT_EQ(exports.entryList({"*.xlsx"}, QDir::Files).size(), 1);
  EXPECT_EQ(window_->Progress1->value(), 0);
}

// A viewer that cannot show the saved export (a stand-in soffice that fails
// at once) leaves the operator a box with the file's path.
TEST_F(MainWindowTest, AViewerThatFailsNamesTheSavedFile) {
  Exec("create table EMP (ENAME varchar2(10))");
  Exec("insert into EMP values ('SMITH')");
  WriteFile("soffice", "#!/bin/sh\necho 'cannot open display' >&2\nexit 1\n");
  QFile::setPermissions(QString::fromStdString(Path("soffice")),
                        QFile::ReadOwner | QFile::ExeOwner);
  sheet::DesktopViewerOptions desktop;
  desktop.commands = {{Path("soffice"), "-n"}};
  desktop.running_names = {};
  Create(sheet::MakeDesktopViewer(desktop));
  Connect();
  QTest::mouseClick(window_->rd_czxm_export, Qt::LeftButton, {}, QPoint(5, 8));
  window_->memo_select->setPlainText("select ENAME from EMP");
  QTest::mouseClick(window_->LbButton1, Qt::LeftButton);
  const QDir exports(QString::fromStdString(Path("data/xlsbridge/exports")));
  const QStringList saved = exports.entryList({"*.xlsx"}, QDir::Files);
  ASSERT_EQ(saved.size(), 1);
  // The viewer is watched on its own thread: the box comes when it failed.
  EXPECT_TRUE(QTest::qWaitFor([&] { return answerer_.boxes.size() >= 2; }, 5000));
  ASSERT_EQ(answerer_.boxes.size(), 2u);
  EXPECT_EQ(answerer_.boxes[1].text, "导出的文件已经保存在:\n" + exports.filePath(saved[0]));
  EXPECT_EQ(answerer_.boxes[1].caption, QString("提示信息"));
  EXPECT_EQ(answerer_.boxes[1].parent, window_.get());
}

// The reasons the program gives in its boxes are its catalogue's Chinese,
// not the engines' English: a statement that returns no rows, a database
// locked by another program, a database deleted while connected. The
// database's own message stays as the database wrote it.
TEST_F(MainWindowTest, ExportReasonsAreChinese) {
  WriteFile("aliases.ini", "[Demo]\nengine=sqlite\ntarget=db.sqlite\nlock_timeout=1\n");
  Exec("create table EMP (ENAME varchar2(10))");
  Create();
  Connect();
  QTest::mouseClick(window_->rd_czxm_export, Qt::LeftButton, {}, QPoint(5, 8));
  auto export_text = [&](const QString& sql) {
    const size_t before = answerer_.boxes.size();
    window_->memo_select->setPlainText(sql);
    QTest::mouseClick(window_->LbButton1, Qt::LeftButton);
    return answerer_.boxes.size() > before ? answerer_.boxes[before].text : QString();
  };

  EXPECT_EQ(export_text("update EMP set ENAME = 'X'"),
            QString("SQl语句有问题,如下:\n该语句已经执行,但它不返回可以打开的记录。"));
  // The database's own words are kept.
  EXPECT_TRUE(export_text("select * from NO_SUCH_TABLE").contains("NO_SUCH_TABLE"));

  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(Path("db.sqlite").c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(export_text("select * from EMP"),
            QString::fromStdString("SQl语句有问题,如下:\n数据库\"" + Path("db.sqlite") +
                                   "\"正被另一个程序锁定,请稍后再试。"));
  sqlite3_exec(holder, "rollback", nullptr, nullptr, nullptr);
  sqlite3_close(holder);

  // Deleted while connected: a read may still see the open file, a write
  // finds it gone.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(Path("db.sqlite"))));
  EXPECT_EQ(export_text("insert into EMP values ('A')"),
            QString::fromStdString("SQl语句有问题,如下:\n数据库文件\"" + Path("db.sqlite") +
                                   "\"已经不在了:连接期间它被删除或移走了。"));
}

// Reading a workbook: a mistyped data source is named as such, not blamed
// on the file; a file that is no workbook is said in Chinese.
TEST_F(MainWindowTest, ReadReasonsAreChinese) {
  Create();
  Connect("NoSuchSource");
  EXPECT_EQ(window_->choiceIndex(), -1);
  answerer_.workbook = QString(XB_IMPORT_DATA) + "/sample1.xls";
  window_->bt_openClick();
  ASSERT_FALSE(answerer_.boxes.empty());
  EXPECT_EQ(answerer_.boxes.back().text,
            QString("无法联接数据库！具体错误信息如下：\n数据源\"NoSuchSource\"不存在:它既不是别名,"
                    "也不是ODBC数据源或已有的数据库文件。"));
  EXPECT_EQ(answerer_.boxes.back().caption, QString("ZQ 错误信息"));

  WriteFile("notes.xls", "these are notes, not a workbook\n");
  answerer_.workbook = QString::fromStdString(Path("notes.xls"));
  Connect();
  const size_t before = answerer_.boxes.size();
  window_->bt_openClick();
  ASSERT_EQ(answerer_.boxes.size(), before + 1);
  EXPECT_TRUE(answerer_.boxes.back().text.endsWith("\n该文件不是Excel工作簿(.xls或.xlsx文件)。"))
      << answerer_.boxes.back().text.toStdString();
}

// Qt's standard buttons speak Chinese; the overwrite prompt keeps its own.
TEST_F(MainWindowTest, StandardButtonsInChinese) {
  Create();
  answerer_.policy = [](QMessageBox*, const SeenBox& seen) {
    return seen.standard.contains("No") ? QString("No") : QString("&Abort");
  };
  window_->close();
  ASSERT_EQ(answerer_.boxes.size(), 1u);
  EXPECT_EQ(answerer_.boxes[0].standard, (QStringList{"Yes", "No"}));
  EXPECT_TRUE(answerer_.boxes[0].buttons[0].startsWith("是"))
      << answerer_.boxes[0].buttons[0].toStdString();
  EXPECT_TRUE(answerer_.boxes[0].buttons[1].startsWith("否"))
      << answerer_.boxes[0].buttons[1].toStdString();
  EXPECT_EQ(window_->askOverwrite("x"), OverwriteAnswer::Abort);
  EXPECT_EQ(answerer_.boxes[1].buttons, (QStringList{"&Yes", "&Abort", "&Ignore", "&All"}));
}

// Tab leaves the query box without typing; Enter presses a focused button.
TEST_F(MainWindowTest, TabAndEnterKeys) {
  Create();
  Connect();
  QTest::mouseClick(window_->rd_czxm_export, Qt::LeftButton, {}, QPoint(5, 8));
  window_->memo_select->setFocus();
  QTest::keyClicks(window_->memo_select, "select");
  QTest::keyClick(window_->memo_select, Qt::Key_Tab);
  EXPECT_EQ(window_->memo_select->toPlainText(), QString("select"));
  EXPECT_NE(QApplication::focusWidget(), window_->memo_select);

  QTest::mouseClick(window_->rd_czxm_import, Qt::LeftButton, {}, QPoint(5, 8));
  window_->LbButton2->setFocus();
  QTest::keyClick(window_->LbButton2, Qt::Key_Return);
  EXPECT_EQ(answerer_.help_shown, 1);
  QTest::keyClick(window_->LbButton2, Qt::Key_Enter);
  EXPECT_EQ(answerer_.help_shown, 2);
  // A disabled button takes no Enter.
  window_->BT_IMP->setFocus();
  QTest::keyClick(window_->BT_IMP, Qt::Key_Return);
  EXPECT_EQ(answerer_.boxes.size(), 1u);
}

// Label1 lies clear of the group box's frame line as drawn, in device
// pixels: the box is painted without the label, and no row the label takes
// may hold the line. The suite runs this again at 125 % and 150 %.
TEST_F(MainWindowTest, Label1ClearOfTheFrame) {
  Create();
  window_->setChoiceIndex(1);
  window_->rd_czxmClick();
  QWidget* box = window_->GroupBox2;
  const QRect label = window_->Label1->geometry();
  window_->Label1->hide();
  const QImage image = box->grab().toImage();
  window_->Label1->show();
  const qreal scale = image.devicePixelRatio();
  // The face is the colour most of the box shows; the line is clearly
  // darker (scaled painting leaves faint seams that are no line).
  QMap<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
  QRgb face = 0;
  for (auto it = counts.begin(); it != counts.end(); ++it)
    if (it.value() > counts.value(face)) face = it.key();
  auto line_at = [&](int y) {
    int marked = 0, total = 0;
    for (int x = int(label.left() * scale); x < int((label.right() + 1) * scale); ++x, ++total)
      marked += std::abs(qGray(image.pixel(x, y)) - qGray(face)) > 8;
    return marked * 2 > total;
  };
  int line = -1;
  for (int y = 0; y < image.height() && line < 0; ++y)
    if (line_at(y)) line = y;
  ASSERT_GE(line, 0) << "no frame line found at scale " << scale;
  for (int y = int(label.top() * scale); y < int(std::ceil((label.bottom() + 1) * scale)); ++y)
    EXPECT_FALSE(line_at(y)) << "the frame line crosses Label1 at device row " << y << ", scale "
                             << scale;
  EXPECT_LE(label.bottom(), window_->memo_select->geometry().top());
  EXPECT_EQ(label.left(), 16);
}

// A long import or export lets the window repaint at the bar's pace.
TEST_F(MainWindowTest, ProgressLetsTheWindowRepaint) {
  Create();
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  QTest::qSleep(20);
  window_->progress().advance(5);
  EXPECT_TRUE(ran);
  EXPECT_EQ(window_->Progress1->value(), 5);
}

// Start-up removes this program's own shown exports older than a week, and
// nothing else.
TEST_F(MainWindowTest, StartUpRemovesOldShownExports) {
  const QString dir = QString::fromStdString(Path("data/xlsbridge/exports"));
  ASSERT_TRUE(QDir().mkpath(dir));
  const std::time_t old = std::time(nullptr) - 8 * 24 * 3600;
  auto make = [&](const QString& name, bool aged) {
    const std::string path = (dir + "/" + name).toStdString();
    std::ofstream(path) << "x";
    if (aged) {
      utimbuf times{old, old};
      utime(path.c_str(), &times);
    }
  };
  make("export-20260101-101010-1.xlsx", true);
  make("export-20260101-101010-12.xlsx", true);
  make(".xlsbridge-export-a1B2c3", true);
  make("export-20261209-080000-1.xlsx", false);  // this week's
  make("report.xlsx", true);                     // the operator's own
  make("export-2026.xlsx", true);
  make("export-20260101-101010-1.xlsx.bak", true);
  ASSERT_EQ(symlink((dir + "/report.xlsx").toLocal8Bit().constData(),
                    (dir + "/export-20260101-101011-1.xlsx").toLocal8Bit().constData()),
            0);
  EXPECT_EQ(RemoveOldShownExports(), 3);
  QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
  left.sort();
  EXPECT_EQ(left, (QStringList{"export-2026.xlsx", "export-20260101-101010-1.xlsx.bak",
                               "export-20260101-101011-1.xlsx", "export-20261209-080000-1.xlsx",
                               "report.xlsx"}));
  // No data folder at all is no fault.
  env_.set("XDG_DATA_HOME", Path("nowhere"));
  EXPECT_EQ(RemoveOldShownExports(), 0);
}

}  // namespace
}  // namespace xb::app

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  xb::app::ConfigureApplication(app);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
