// The help window and its document, run headless.
#include <QApplication>
#include <QFile>
#include <QFont>
#include <QKeyEvent>
#include <QLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextTable>
#include <QTimer>
#include <QtTest>

#include "help/help_window.h"

using xb::help::Tfrm_help;

namespace {

// One top-level item of the document: a paragraph or a table (rows of cells).
struct Item {
  bool isTable = false;
  QString text;
  QList<QStringList> rows;
  QTextTable* table = nullptr;
  QTextBlock block;
};

QList<Item> walk(QTextDocument* doc) {
  QList<Item> items;
  for (auto it = doc->rootFrame()->begin(); !it.atEnd(); ++it) {
    if (QTextFrame* f = it.currentFrame()) {
      auto* t = qobject_cast<QTextTable*>(f);
      if (!t) {
        QTest::qFail("only tables are nested in the document", __FILE__, __LINE__);
        return {};
      }
      Item item;
      item.isTable = true;
      item.table = t;
      for (int r = 0; r < t->rows(); ++r) {
        QStringList row;
        for (int c = 0; c < t->columns(); ++c) {
          QTextTableCell cell = t->cellAt(r, c);
          QTextCursor cur = cell.firstCursorPosition();
          cur.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
          row << cur.selectedText();
        }
        item.rows << row;
      }
      items << item;
    } else {
      Item item;
      item.text = it.currentBlock().text();
      item.block = it.currentBlock();
      items << item;
    }
  }
  return items;
}

const QStringList kFirst = {
    "系统要求:",
    "1.此程序只适合oracle数据库(oracle8.05以上测试通过)",
    "2.Oracle客户端,并与服务器正确联接,用户必须有connect权限",
    "3.Excel办公软件(2000以上)",
    "4.系统最好为Win2000以上(WIn98也可以)",
    "一导入Excel文件",
    "(一)操作步骤",
    "1 在oracle数据库建立一个表(table-name),如果已经存在跳到2",
    "2 组织Excel文件内容",
    "Excel文件头格式：（在表头的第一单元格(A1)写下表的定义）",
    "数据库中表名称:主键名称:字段名列表（逗号分隔）",
    "    例如：Table_name:pk1:pk1,Field1,Field2,Field3,Field4,Field5(字段名不能重复)",
    "第二行为：Table_name表的中文名称（可以任意，没有时可以为空行，但必需有一行）",
    "第三行为字段名列表：必需与第一行中字段名称列表相一致中英文都可以,既为字段的中文名称",
    "第四行到最后为数据区，必需按正确的数据写入",
    "Excel文件可以是.xls或.xlsx(.xlsm)格式,程序按文件内容识别,数据区最多1048576行",
    "试例:(Excel文件格式)",
    "1,有主键,(可以无主键,但必须空位如 zorvat::aa,bb,cc)",
};
const QString kBetween = "2.有主键及序列号(序列号必须放在最后形式为:字段名称(序列号名)";
const QStringList kLast = {
    "",
    "二.导出数据到Excel",
    "直接写SQL语句就可以,",
    "使用*操作时,数据库中字段不能为BLOB字段,可以多表联接查询,只在SQLPLUS中的语句都可以正确执行,"
    "并得到结果!",
};

QList<QStringList> table1() {
  QList<QStringList> t = {
      {"zorvat:AA:AA,BB,CC", "", ""}, {"", "", "zorvat测试"}, {"AA", "BB", "CC"}};
  for (int i = 1; i <= 11; ++i)
    t << QStringList{QString::number(i), QString::number(32 + i),
                     QStringLiteral("2003-8-%1").arg(i)};
  return t;
}

QList<QStringList> table2() {
  QList<QStringList> t = {{"ZORVAT:aa:AA,bb,seq_nn(seq_tbxh),dd(seq_tbxh)", "", ""},
                          {"", "", "zorvat测试"},
                          {"AA", "BB", ""}};
  for (int i = 1; i <= 11; ++i) t << QStringList{QString::number(i), QString::number(32 + i), ""};
  return t;
}

void closeSoon(Tfrm_help* w) {
  QTimer::singleShot(0, w, [w] { w->close(); });
}

}  // namespace

class HelpTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    QFont::insertSubstitutions("宋体", {"WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    QFont::insertSubstitutions("SimSun", {"WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans"});
  }

  void resourceIsCompiledIn() { QVERIFY(QFile(":/help.html").exists()); }

  void documentText() {
    Tfrm_help w;
    const QList<Item> items = walk(w.viewer()->document());
    const int expected = kFirst.size() + 1 + 1 + 1 + kLast.size();
    QCOMPARE(items.size(), expected);
    int i = 0;
    for (const QString& p : kFirst) {
      QVERIFY(!items[i].isTable);
      QCOMPARE(items[i++].text, p);
    }
    QVERIFY(items[i].isTable);
    QCOMPARE(items[i++].rows, table1());
    QVERIFY(!items[i].isTable);
    QCOMPARE(items[i++].text, kBetween);
    QVERIFY(items[i].isTable);
    QCOMPARE(items[i++].rows, table2());
    for (const QString& p : kLast) {
      QVERIFY(!items[i].isTable);
      QCOMPARE(items[i++].text, p);
    }
  }

  void tableWidthsAreFixed() {
    Tfrm_help w;
    for (const Item& item : walk(w.viewer()->document())) {
      if (!item.isTable) continue;
      const QTextTableFormat f = item.table->format();
      QCOMPARE(item.table->columns(), 3);
      QCOMPARE(item.table->rows(), 14);
      const auto widths = f.columnWidthConstraints();
      QCOMPARE(widths.size(), 3);
      const qreal expected[] = {212, 82, 105};
      for (int c = 0; c < 3; ++c) {
        QCOMPARE(widths[c].type(), QTextLength::FixedLength);
        QCOMPARE(widths[c].rawValue(), expected[c]);
      }
      // Cells: black, 12 pt, plain.
      const QTextCharFormat cf = item.table->cellAt(0, 0).firstCursorPosition().charFormat();
      QCOMPARE(cf.foreground().color(), QColor(Qt::black));
      QCOMPARE(cf.fontPointSize(), 12.0);
    }
  }

  void formattingOfParagraphs() {
    Tfrm_help w;
    const QList<Item> items = walk(w.viewer()->document());
    // Every character of every paragraph: blue 8 pt before table 1, default colour 10 pt after.
    bool afterFirstTable = false;
    for (const Item& item : items) {
      if (item.isTable) {
        afterFirstTable = true;
        continue;
      }
      for (auto f = item.block.begin(); !f.atEnd(); ++f) {
        const QTextCharFormat cf = f.fragment().charFormat();
        const QString what = f.fragment().text();
        QVERIFY2(cf.fontWeight() <= QFont::Normal && !cf.fontItalic() && !cf.fontUnderline(),
                 qPrintable(what));
        if (!afterFirstTable) {
          QCOMPARE(cf.foreground().color(), QColor(0, 0, 255));
          QCOMPARE(cf.fontPointSize(), 8.0);
        } else {
          QVERIFY2(!cf.hasProperty(QTextFormat::ForegroundBrush), qPrintable(what));
          QCOMPARE(cf.fontPointSize(), 10.0);
        }
      }
    }
    // Latin words carry a Latin face; Chinese text the Song face.
    const QTextBlock second = items[1].block;
    QStringList families;
    for (auto f = second.begin(); !f.atEnd(); ++f)
      families << f.fragment().text() + "=" +
                      f.fragment().charFormat().fontFamilies().toStringList().value(0);
    QVERIFY2(families.contains("oracle=Arial"), qPrintable(families.join('|')));
    QVERIFY2(families.contains("1.此程序只适合=宋体"), qPrintable(families.join('|')));
  }

  void windowShape() {
    Tfrm_help w;
    QCOMPARE(w.windowTitle(), QStringLiteral("帮助助手"));
    QVERIFY(w.isWindow());
    QVERIFY(!w.isVisible());
    QVERIFY(w.windowFlags() & Qt::WindowMinMaxButtonsHint);
    QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(w.size(), QSize(349, 454));
    // A window manager offers maximising only to a window that may grow.
    QCOMPARE(w.minimumSize(), QSize(349, 454));
    QVERIFY(w.maximumSize().width() > 349 && w.maximumSize().height() > 454);
    auto* panel = w.findChild<QFrame*>("help_Panel");
    QVERIFY(panel);
    w.ensurePolished();
    w.layout()->activate();
    panel->layout()->activate();
    QCOMPARE(panel->geometry(), QRect(0, 0, 349, 454));
    QCOMPARE(w.viewer()->geometry(), QRect(5, 5, 339, 444));
    QVERIFY(w.viewer()->parentWidget() == panel);
    QVERIFY(!w.viewer()->isReadOnly());
    QCOMPARE(w.viewer()->lineWrapMode(), QTextEdit::WidgetWidth);
    QCOMPARE(w.viewer()->font().pixelSize(), 13);
    QCOMPARE(w.viewer()->font().family(), QStringLiteral("宋体"));
    QVERIFY(!(w.viewer()->textInteractionFlags() & Qt::LinksAccessibleByMouse));
  }

  void showingTwiceKeepsWindowPlaceAndText() {
    Tfrm_help w;
    QTextDocument* doc = w.viewer()->document();

    closeSoon(&w);
    w.ShowModal();
    QVERIFY(!w.isVisible());
    QCOMPARE(w.pos(), QPoint(207, 119));  // outer frame, as the operator sees it

    // The operator moves the window and types into the viewer.
    w.move(300, 200);
    QTextCursor cur(doc);
    cur.insertText("typed by hand");
    QTimer::singleShot(0, &w, [&w] {
      QVERIFY(w.isVisible());
      QVERIFY(w.isModal());
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(&w, &esc);
      QKeyEvent escMemo(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(w.viewer(), &escMemo);
      QVERIFY2(w.isVisible(), "Esc must not close the window");
      w.close();
    });
    w.ShowModal();
    QVERIFY(!w.isVisible());
    QCOMPARE(w.pos(), QPoint(300, 200));
    QCOMPARE(w.viewer()->document(), doc);
    QVERIFY(doc->toPlainText().startsWith("typed by hand系统要求:"));
  }

  void maximisedViewerGrows() {
    Tfrm_help w;
    closeSoon(&w);
    w.ShowModal();
    w.show();
    w.showMaximized();
    QApplication::processEvents();
    QVERIFY(w.maximumSize().width() > 349);
    QVERIFY(w.width() > 349);
    QCOMPARE(w.viewer()->size(), w.size() - QSize(10, 10));
    w.showNormal();
    QTRY_COMPARE(w.size(), QSize(349, 454));
    w.hide();
  }

  // Not maximised, a size dragged by the operator does not stay.
  void draggedSizeIsUndone() {
    Tfrm_help w;
    closeSoon(&w);
    w.ShowModal();
    w.show();
    w.resize(520, 600);
    QCOMPARE(w.size(), QSize(520, 600));
    QTRY_COMPARE(w.size(), QSize(349, 454));
    QCOMPARE(w.viewer()->size(), QSize(339, 444));
    w.hide();
  }
};

QTEST_MAIN(HelpTest)
#include "test_help.moc"
