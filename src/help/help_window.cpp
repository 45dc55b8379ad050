#include "help/help_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QFrame>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTimer>
#include <QVBoxLayout>

namespace xb::help {

namespace {
constexpr int kClientWidth = 349;
constexpr int kClientHeight = 454;
constexpr int kFirstLeft = 207;
constexpr int kFirstTop = 119;
// Outer bevel 2 + border 1 + inner bevel 2 around the viewer.
constexpr int kPanelInset = 5;

QString loadDocument() {
  QFile file(QStringLiteral(":/help.html"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

// The HTML reader always leaves an empty block after a table and then adds
// the document's own empty paragraph; keep only one of them.
void dropDoubleEmptyAfterTables(QTextDocument* doc) {
  QTextFrame* root = doc->rootFrame();
  bool afterTable = false;
  for (auto it = root->begin(); !it.atEnd(); ++it) {
    if (it.currentFrame()) {
      afterTable = true;
      continue;
    }
    const QTextBlock block = it.currentBlock();
    if (afterTable && block.text().isEmpty() && block.next().isValid() &&
        block.next().text().isEmpty() && !QTextCursor(block.next()).currentTable()) {
      // Join the paragraph after the pair into the second empty block.
      QTextCursor cur(block.next());
      cur.deleteChar();
      return dropDoubleEmptyAfterTables(doc);
    }
    afterTable = false;
  }
}
}  // namespace

Tfrm_help::Tfrm_help(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frm_help"));
  setWindowTitle(QStringLiteral("帮助助手"));

  help_Panel = new QFrame(this);
  help_Panel->setObjectName(QStringLiteral("help_Panel"));
  help_Panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  help_Panel->setLineWidth(2);
  help_Panel->setMidLineWidth(1);

  help_memo = new QTextEdit(help_Panel);
  help_memo->setObjectName(QStringLiteral("help_memo"));
  help_memo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  help_memo->setLineWidth(2);
  help_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  help_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  help_memo->setLineWrapMode(QTextEdit::WidgetWidth);
  help_memo->setAcceptRichText(true);
  // Editable like the original viewer, but links stay plain text.
  help_memo->setTextInteractionFlags(Qt::TextEditorInteraction);
  QFont base(QStringLiteral("宋体"));
  base.setPixelSize(13);
  help_memo->setFont(base);
  help_memo->document()->setDefaultFont(base);
  help_memo->setHtml(loadDocument());
  dropDoubleEmptyAfterTables(help_memo->document());
  help_memo->document()->clearUndoRedoStacks();
  help_memo->document()->setModified(false);
  help_memo->moveCursor(QTextCursor::Start);

  auto* inner = new QVBoxLayout(help_Panel);
  inner->setContentsMargins(
      kPanelInset - help_Panel->frameWidth(), kPanelInset - help_Panel->frameWidth(),
      kPanelInset - help_Panel->frameWidth(), kPanelInset - help_Panel->frameWidth());
  inner->setSpacing(0);
  inner->addWidget(help_memo);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addWidget(help_Panel);

  // Single fixed border with a maximise button. Window managers offer
  // maximising only to a window that may change size, so the window may; a
  // size the operator drags while it is not maximised is undone once the
  // drag settles (the short wait lets a maximise arrive first).
  setMinimumSize(kClientWidth, kClientHeight);
  resize(kClientWidth, kClientHeight);
  snap_back_.setSingleShot(true);
  snap_back_.setInterval(150);
  connect(&snap_back_, &QTimer::timeout, this, [this] {
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
      resize(kClientWidth, kClientHeight);
  });
}

void Tfrm_help::ShowModal() {
  if (!shown_before_) {
    shown_before_ = true;
    move(kFirstLeft, kFirstTop);
  }
  setWindowModality(Qt::ApplicationModal);
  show();
  raise();
  activateWindow();
  QEventLoop loop;
  loop_ = &loop;
  if (isVisible()) loop.exec();
  loop_ = nullptr;
}

void Tfrm_help::keyPressEvent(QKeyEvent* event) {
  // Esc must not close the window; only the caption bar does.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void Tfrm_help::closeEvent(QCloseEvent* event) {
  // Only hidden: the next showing reuses this window and its document.
  event->accept();
  hide();
  if (loop_) loop_->quit();
}

void Tfrm_help::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) snap_back_.start();
  QWidget::changeEvent(event);
}

void Tfrm_help::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (size() != QSize(kClientWidth, kClientHeight)) snap_back_.start();
}

}  // namespace xb::help
