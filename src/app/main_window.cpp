// The main window's controls, their layout and the window's size; the
// handlers that fill the window and switch its panels.

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <algorithm>

#include "app/frame_hints.h"
#include "app/main_window.h"
#include "app/window_helpers.h"
#include "db/aliases.h"

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

}  // namespace

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

}  // namespace xb::app
