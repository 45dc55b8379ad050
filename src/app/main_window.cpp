#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <exception>

#include "app/frame_hints.h"
#include "app/window_probe.h"
#include "db/aliases.h"
#include "db/connection_string.h"
#include "db/connection_test.h"
#include "export/exporter.h"
#include "help/help_window.h"
#include "operator/texts.h"
#include "sheet/file_engine.h"
#include "text/ascii.h"

namespace xb::app {

namespace {

constexpr int kDesignedClientWidth = 284;
constexpr int kDesignedClientHeight = 366;
constexpr int kOuterWidth = 280;
constexpr int kOuterHeight = 285;
constexpr int kOuterHeightWithPanel = 395;
constexpr int kBevel = 2;
constexpr int kConnectionGroupHeight = 233;
constexpr int kProgressHeight = 19;
constexpr int kMemoTop = 32;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Boxes show CR and CR LF as the line breaks they stand for.
QString DisplayText(const std::string& text) { return Q(text::WithLineBreaks(text, "\n")); }

QFont SongTi() {
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(13);
  return font;
}

QFont SansSerif() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  return font;
}

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

// The wait cursor while a handler waits on the database or the workbook.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

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

// Where the style draws a group box's frame line, from the box's top: the
// top of its contents (the frame rectangle itself may start at the caption).
int GroupBoxLineTop(QGroupBox* box) {
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.rect = QRect(0, 0, 280, 110);
  option.text = box->title();
  option.lineWidth = 1;
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  option.textAlignment = box->alignment();
  return box->style()
      ->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, box)
      .top();
}

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

Tfrm_main::Tfrm_main(std::string program_path, std::shared_ptr<sheet::Viewer> viewer)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      program_path_(std::move(program_path)),
      server_(MakeServer(std::move(viewer))),
      importer_(session_, *server_, *this) {
  setObjectName(QStringLiteral("frm_main"));
  setWindowTitle(QStringLiteral("通用EXCEL数据导入/导出"));
  setFont(SongTi());
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);

  AdvPanel1 = new QFrame(this);
  AdvPanel1->setObjectName(QStringLiteral("AdvPanel1"));
  AdvPanel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  AdvPanel1->setLineWidth(kBevel);

  suiGroupBox1 = new QGroupBox(QStringLiteral("数据库联接"), AdvPanel1);
  suiGroupBox1->setObjectName(QStringLiteral("suiGroupBox1"));
  suiGroupBox1->setFont(SansSerif());

  data_source = new QComboBox(suiGroupBox1);
  data_source->setObjectName(QStringLiteral("data_source"));
  data_source->setEditable(true);
  data_source->setInsertPolicy(QComboBox::NoInsert);
  // Our own type-ahead keeps the list entry's case; Qt's completer would
  // keep the typed case of the prefix.
  data_source->setCompleter(nullptr);
  data_source->setFont(SongTi());
  data_source->setGeometry(81, 20, 145, 21);
  data_source->setCurrentIndex(-1);
  data_source->setEditText(QString());
  LabelLeftOf(data_source, QStringLiteral("数据库别名:"));

  user_name = new QLineEdit(suiGroupBox1);
  user_name->setObjectName(QStringLiteral("user_name"));
  user_name->setFont(SongTi());
  user_name->setMaxLength(12);
  user_name->setGeometry(81, 56, 142, 21);
  LabelLeftOf(user_name, QStringLiteral("用户名:"));

  user_pass = new QLineEdit(suiGroupBox1);
  user_pass->setObjectName(QStringLiteral("user_pass"));
  user_pass->setFont(SongTi());
  user_pass->setMaxLength(16);
  user_pass->setEchoMode(QLineEdit::Password);
  user_pass->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  user_pass->setGeometry(82, 92, 140, 21);
  LabelLeftOf(user_pass, QStringLiteral("密码:"));

  bt_test = new QPushButton(QStringLiteral("联接测试"), suiGroupBox1);
  bt_test->setObjectName(QStringLiteral("bt_test"));
  bt_test->setGeometry(47, 130, 90, 23);
  bt_exit = new QPushButton(QStringLiteral("退出程序"), suiGroupBox1);
  bt_exit->setObjectName(QStringLiteral("bt_exit"));
  bt_exit->setGeometry(147, 131, 86, 23);

  rd_czxm = new QGroupBox(QStringLiteral("操作项目"), suiGroupBox1);
  rd_czxm->setObjectName(QStringLiteral("rd_czxm"));
  rd_czxm->setGeometry(48, 160, 185, 58);
  rd_czxm_import = new QRadioButton(QStringLiteral("从Excel文件中导入数据"), rd_czxm);
  rd_czxm_import->setGeometry(8, 16, 170, 17);
  rd_czxm_export = new QRadioButton(QStringLiteral("从数据库中导出Excel文件"), rd_czxm);
  rd_czxm_export->setGeometry(8, 35, 170, 17);
  rd_czxm_items = new QButtonGroup(rd_czxm);
  rd_czxm_items->addButton(rd_czxm_import, 0);
  rd_czxm_items->addButton(rd_czxm_export, 1);
  rd_czxm->setEnabled(false);

  GroupBox1 = new QGroupBox(QStringLiteral("从Excel文件中导入数据"), AdvPanel1);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setFont(SansSerif());
  ed_filepath = new QLineEdit(GroupBox1);
  ed_filepath->setObjectName(QStringLiteral("ed_filepath"));
  ed_filepath->setFont(SongTi());
  ed_filepath->setReadOnly(true);
  ed_filepath->setStyleSheet(QStringLiteral(
      "QLineEdit { background: silver; } QLineEdit:focus { background: palette(button); }"));
  ed_filepath->setGeometry(66, 20, 183, 21);
  LabelLeftOf(ed_filepath, QStringLiteral("文件路径:"));
  bt_open = new QPushButton(QStringLiteral("读入文件"), GroupBox1);
  bt_open->setObjectName(QStringLiteral("bt_open"));
  bt_open->setGeometry(58, 66, 70, 23);
  BT_IMP = new QPushButton(QStringLiteral("导入文件"), GroupBox1);
  BT_IMP->setObjectName(QStringLiteral("BT_IMP"));
  BT_IMP->setGeometry(133, 66, 66, 23);
  BT_IMP->setEnabled(false);
  LbButton2 = new QPushButton(QStringLiteral("帮助"), GroupBox1);
  LbButton2->setObjectName(QStringLiteral("LbButton2"));
  LbButton2->setGeometry(205, 65, 46, 23);
  GroupBox1->hide();

  GroupBox2 = new QGroupBox(QStringLiteral("从数据库中导出Excel文件"), AdvPanel1);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setFont(SansSerif());
  Label1 = new QLabel(QStringLiteral("请输入查询语句"), GroupBox2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->adjustSize();
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The style draws the group box's frame line (and its light edge) below
  // its caption, where the designed top (16) would cross the text: the label
  // goes below it, its height what is left above the query box.
  const int label_top = std::max(16, GroupBoxLineTop(GroupBox2) + 2);
  Label1->setGeometry(16, label_top, Label1->width(),
                      std::clamp(kMemoTop - label_top, 1, Label1->height()));
  suiCheckBox1 = new QCheckBox(QStringLiteral("多表操作"), GroupBox2);
  suiCheckBox1->setObjectName(QStringLiteral("suiCheckBox1"));
  suiCheckBox1->setGeometry(80, 16, 73, 17);
  suiCheckBox1->hide();
  memo_select = new QPlainTextEdit(GroupBox2);
  memo_select->setObjectName(QStringLiteral("memo_select"));
  memo_select->setFont(SongTi());
  memo_select->setGeometry(16, kMemoTop, 249, 49);
  // Tab moves on to the next control instead of typing a tab character.
  memo_select->setTabChangesFocus(true);
  LbButton1 = new QPushButton(QStringLiteral("导出"), GroupBox2);
  LbButton1->setObjectName(QStringLiteral("LbButton1"));
  LbButton1->setGeometry(174, 82, 90, 23);
  GroupBox2->hide();

  Progress1 = new QProgressBar(AdvPanel1);
  Progress1->setObjectName(QStringLiteral("Progress1"));
  Progress1->setRange(0, 100);
  Progress1->setValue(0);
  Progress1->setTextVisible(false);

  setTabOrder(data_source, user_name);
  setTabOrder(user_name, user_pass);
  setTabOrder(user_pass, bt_test);
  setTabOrder(bt_test, bt_exit);
  // Qt lets Tab reach only the chosen item of the radio group, so both
  // items stand in the chain: whichever is chosen is reached.
  setTabOrder(bt_exit, rd_czxm_import);
  setTabOrder(rd_czxm_import, rd_czxm_export);
  setTabOrder(rd_czxm_export, bt_open);
  setTabOrder(bt_open, BT_IMP);
  setTabOrder(BT_IMP, ed_filepath);
  setTabOrder(ed_filepath, LbButton2);
  setTabOrder(LbButton2, LbButton1);
  setTabOrder(LbButton1, memo_select);

  connect(data_source, &QComboBox::activated, this,
          [this] { Guarded([this] { data_sourceClick(); }); });
  connect(data_source->lineEdit(), &QLineEdit::textEdited, this,
          [this](const QString& text) { TypeAhead(text); });
  connect(bt_test, &QPushButton::clicked, this, [this] { bt_testClick(); });
  connect(bt_exit, &QPushButton::clicked, this, [this] { bt_exitClick(); });
  connect(rd_czxm_items, &QButtonGroup::idClicked, this, [this] { rd_czxmClick(); });
  connect(bt_open, &QPushButton::clicked, this, [this] { bt_openClick(); });
  connect(BT_IMP, &QPushButton::clicked, this, [this] { BT_IMPClick(); });
  connect(LbButton1, &QPushButton::clicked, this, [this] { LbButton1Click(); });
  connect(LbButton2, &QPushButton::clicked, this, [this] { LbButton2Click(); });

  // Key preview and the input block while busy see every event of the
  // program first.
  qApp->installEventFilter(this);

  setFixedSize(kDesignedClientWidth, kDesignedClientHeight);
  CloseButtonOnly(this);
  data_source->setFocus();
  repaint_clock_.start();
}

Tfrm_main::~Tfrm_main() {
  qApp->removeEventFilter(this);
  std::lock_guard lock(mailbox_->mutex);
  mailbox_->window = nullptr;
}

QLabel* Tfrm_main::LabelLeftOf(QWidget* box, const QString& text) {
  auto* label = new QLabel(text, box->parentWidget());
  label->setFont(SongTi());
  label->adjustSize();
  const QRect r = box->geometry();
  label->move(r.left() - 4 - label->width(), r.top() + (r.height() - label->height()) / 2);
  label->setBuddy(box);
  return label;
}

void Tfrm_main::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  AdvPanel1->setGeometry(rect());
  const QRect inner = AdvPanel1->rect().adjusted(kBevel, kBevel, -kBevel, -kBevel);
  suiGroupBox1->setGeometry(inner.left(), inner.top(), inner.width(), kConnectionGroupHeight);
  Progress1->setGeometry(inner.left(), inner.bottom() + 1 - kProgressHeight, inner.width(),
                         kProgressHeight);
  const int top = inner.top() + kConnectionGroupHeight;
  const QRect room(inner.left(), top, inner.width(),
                   std::max(0, inner.bottom() + 1 - kProgressHeight - top));
  GroupBox1->setGeometry(room);
  GroupBox2->setGeometry(room);
}

bool Tfrm_main::event(QEvent* event) {
  const bool result = QWidget::event(event);
  // The window manager's frame arrives after the window is shown; the
  // outer size is what counts, so the client size follows the frame.
  if (outer_ && (event->type() == QEvent::Show || event->type() == QEvent::Move ||
                 event->type() == QEvent::WindowActivate))
    ApplyOuterSize();
  // Some window managers place a new window at the corner when they frame
  // it; once the frame is there, centre it again, once.
  if (centre_pending_ && event->type() == QEvent::Move &&
      frameGeometry().size() != geometry().size()) {
    centre_pending_ = false;
    QTimer::singleShot(0, this, [this] {
      if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() -
             QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    });
  }
  return result;
}

void Tfrm_main::SetOuterSize(int width, int height) {
  outer_ = QSize(width, height);
  ApplyOuterSize();
}

void Tfrm_main::ApplyOuterSize() {
  if (!outer_) return;
  QSize frame(0, 0);
  if (isVisible()) frame = frameGeometry().size() - geometry().size();
  const QSize client = *outer_ - frame;
  if (size() != client) setFixedSize(client);
}

void Tfrm_main::ShowCentred() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize outer = outer_.value_or(size());
  if (screen) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
  }
  show();
  centre_pending_ = true;
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

// ---- handlers ----

void Tfrm_main::FormCreate() {
  Guarded([this] {
    const std::vector<std::string> aliases = db::AliasList();
    data_source->clear();
    for (const auto& name : aliases) data_source->addItem(Q(name));
    data_source->setCurrentIndex(-1);
    data_source->setEditText(QString());
    SetOuterSize(size().width(), kOuterHeight);
    SetOuterSize(kOuterWidth, kOuterHeight);
  });
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

void Tfrm_main::setChoiceIndex(int index) {
  if (index < -1 || index > 1) return;
  if (index == -1) {
    // An exclusive group never lets its last checked button go.
    rd_czxm_items->setExclusive(false);
    rd_czxm_import->setChecked(false);
    rd_czxm_export->setChecked(false);
    rd_czxm_items->setExclusive(true);
    return;
  }
  rd_czxm_items->button(index)->setChecked(true);
}

int Tfrm_main::choiceIndex() const { return rd_czxm_items->checkedId(); }

void Tfrm_main::rd_czxmClick() {
  Guarded([this] {
    SetOuterSize(outer_ ? outer_->width() : frameGeometry().width(), kOuterHeightWithPanel);
    switch (choiceIndex()) {
      case 0:
        GroupBox1->show();
        GroupBox2->hide();
        break;
      case 1:
        GroupBox1->hide();
        GroupBox2->show();
        break;
      default: GroupBox1->hide(); GroupBox2->hide();
    }
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

// ---- the operator ----

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
