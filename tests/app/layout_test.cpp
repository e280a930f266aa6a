// The main window as it first shows: every control of its kind, under its
// parent, at its place, with its caption, in tab order; nothing clipped.
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/jpeg_image.h"
#include "app/main_window.h"
#include "controls/hyperlink_label.h"
#include "controls/special_progress.h"
#include "message_recorder.h"

namespace {

struct TControlRow {
  const char* name;
  const char* kind;
  const char* parent;
  QRect geometry;
  QString text;
  // Labels may be wider than their place where the font needs it.
  bool sizedByText = false;
};

const QString kNoText;

const TControlRow kControls[] = {
    {"GroupBox1", "QGroupBox", "frmMain", {0, 0, 313, 265}, "Database"},
    {"Label1", "QLabel", "GroupBox1", {8, 24, 65, 13}, "Server Name:", true},
    {"edtServerName", "QLineEdit", "GroupBox1", {80, 24, 145, 21}, "localhost"},
    {"btnBrowseServer", "QPushButton", "GroupBox1", {232, 24, 75, 25}, "Browse &Server"},
    {"Label2", "QLabel", "GroupBox1", {8, 56, 68, 13}, "Database File:", true},
    {"edtDBFile", "QLineEdit", "GroupBox1", {80, 56, 145, 21}, kNoText},
    {"btnBrowseDB", "QPushButton", "GroupBox1", {232, 56, 75, 25}, "Browse &Local"},
    {"Label5", "QLabel", "GroupBox1", {8, 88, 56, 13}, "User Name:", true},
    {"edtUserName", "QLineEdit", "GroupBox1", {80, 88, 145, 21}, "SYSDBA"},
    {"Label6", "QLabel", "GroupBox1", {10, 120, 49, 13}, "Password:", true},
    {"edtPassword", "QLineEdit", "GroupBox1", {80, 120, 145, 21}, kNoText},
    {"btnConnect", "QPushButton", "GroupBox1", {232, 120, 75, 25}, "&Connect"},
    {"Label3", "QLabel", "GroupBox1", {8, 152, 35, 13}, "Tables:", true},
    {"lbxTables", "QListWidget", "GroupBox1", {8, 168, 129, 89}, kNoText},
    {"Label4", "QLabel", "GroupBox1", {136, 152, 30, 13}, "Fields:", true},
    {"lbxFields", "QListWidget", "GroupBox1", {136, 168, 169, 89}, kNoText},
    {"btnExport", "QPushButton", "frmMain", {320, 8, 65, 25}, "Export ->"},
    {"btnImport", "QPushButton", "frmMain", {320, 40, 65, 25}, "<- Import"},
    {"btnExit", "QPushButton", "frmMain", {320, 72, 65, 25}, "E&xit"},
    {"btnOptions", "QPushButton", "frmMain", {320, 104, 65, 25}, "&Options..."},
    {"GroupBox2", "QGroupBox", "frmMain", {392, 8, 313, 89}, "CSV File"},
    {"Label7", "QLabel", "GroupBox2", {8, 24, 32, 13}, "Folder:", true},
    {"edtFolder", "QLineEdit", "GroupBox2", {56, 24, 169, 21}, kNoText},
    {"btnBrowseFolder", "QPushButton", "GroupBox2", {230, 24, 75, 25}, "Browse &Folder"},
    {"Label8", "QLabel", "GroupBox2", {8, 56, 45, 13}, "Filename:", true},
    {"edtFilename", "QLineEdit", "GroupBox2", {56, 56, 169, 21}, kNoText},
    {"Panel1", "QFrame", "frmMain", {392, 104, 313, 161}, kNoText},
    {"ProgramIcon", "QLabel", "Panel1", {12, 8, 118, 28}, kNoText},
    {"ProductName", "QLabel", "Panel1", {152, 24, 0, 13}, "Varnelo Pelmora", true},
    {"Version", "QLabel", "Panel1", {168, 40, 53, 13}, "Version 1.0", true},
    {"HyperlinkLabel1", "THyperlinkLabel", "Panel1", {16, 40, 111, 13}, "https://varnelo.example.org", true},
    {"Copyright",
     "QLabel",
     "Panel1",
     {8, 72, 279, 13},
     "Copyright (C) 2026 The Varnelo Pelmora developers",
     true},
    {"jspProgress", "TSpecialProgress", "frmMain", {0, 272, 705, 23}, kNoText},
};

QString TextOf(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
  if (auto* button = qobject_cast<const QPushButton*>(widget)) return button->text();
  if (auto* box = qobject_cast<const QGroupBox*>(widget)) return box->title();
  return QString();
}

QString WithoutAccelerator(QString text) { return text.remove(QLatin1Char('&')); }

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_window = std::make_unique<TfrmMain>();
    m_window->SetMessageBoxes(&m_recorder);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
  }
  void cleanup() { m_window.reset(); }

  void window() {
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Varnelo Pelmora"));
    QCOMPARE(m_window->size(), QSize(TfrmMain::kClientWidth, TfrmMain::kClientHeight));
    // Every control fits inside the window.
    for (QWidget* child : m_window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
      QVERIFY2(m_window->rect().contains(child->geometry()), qPrintable(child->objectName()));
    QCOMPARE(m_window->font().pointSize(), 8);
    if (QFontDatabase::families().contains(QStringLiteral("Liberation Sans")))
      QCOMPARE(QFontInfo(m_window->font()).family(), QStringLiteral("Liberation Sans"));
  }

  void controls_data() {
    QTest::addColumn<int>("row");
    for (int row = 0; row < int(std::size(kControls)); ++row) QTest::newRow(kControls[row].name) << row;
  }
  void controls() {
    QFETCH(int, row);
    const TControlRow& expected = kControls[row];
    auto* widget = m_window->findChild<QWidget*>(QString::fromLatin1(expected.name));
    QVERIFY(widget);
    QVERIFY2(widget->inherits(expected.kind), widget->metaObject()->className());
    QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(expected.parent));
    QCOMPARE(TextOf(widget), expected.text);
    QVERIFY(widget->isVisible());

    const QRect geometry = widget->geometry();
    QCOMPARE(geometry.topLeft(), expected.geometry.topLeft());
    if (!expected.sizedByText) {
      QCOMPARE(geometry.size(), expected.geometry.size());
      return;
    }
    // A label takes the width of its place or of its text, whichever is more.
    const QFontMetrics metrics = widget->fontMetrics();
    QCOMPARE(geometry.width(), std::max(expected.geometry.width(), metrics.horizontalAdvance(expected.text)));
    QCOMPARE(geometry.height(), std::max(expected.geometry.height(), metrics.height()));
  }

  void defaults() {
    QCOMPARE(m_window->edtPassword->echoMode(), QLineEdit::Password);
    m_window->edtPassword->setText(QStringLiteral("ab"));
    QCOMPARE(m_window->edtPassword->displayText(), QStringLiteral("**"));
    m_window->edtPassword->clear();
    QCOMPARE(m_window->lbxTables->count(), 0);
    QCOMPARE(m_window->lbxFields->count(), 0);
    QCOMPARE(m_window->jspProgress->Position(), 0);
    QVERIFY(m_window->CurrentTableName.empty());
    QVERIFY(!m_window->scnDatabase.Connected());
    QCOMPARE(m_window->sdsTable.CommandType(), ctTable);
    QCOMPARE(m_window->sdsTable.SQLConnection(), &m_window->scnDatabase);
    QCOMPARE(m_window->scnDatabase.Name(), std::string("scnDatabase"));
    QCOMPARE(m_window->sdsTable.Name(), std::string("sdsTable"));
  }

  void tabOrder() {
    const QStringList expected = {"edtServerName", "btnBrowseServer", "edtDBFile",       "btnBrowseDB",
                                  "btnConnect",    "lbxTables",       "lbxFields",       "edtUserName",
                                  "edtPassword",   "edtFolder",       "btnBrowseFolder", "edtFilename",
                                  "btnExport",     "btnImport",       "btnExit",         "btnOptions"};
    QStringList order;
    QWidget* widget = m_window->edtServerName;
    do {
      if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisible() && widget->isEnabled())
        order << widget->objectName();
      widget = widget->nextInFocusChain();
    } while (widget != m_window->edtServerName && order.size() <= expected.size());
    QCOMPARE(order, expected);
  }

  // Words and captions show whole in the font in use.
  void nothingClipped() {
    for (QLabel* label : m_window->findChildren<QLabel*>()) {
      if (label->text().isEmpty()) continue;
      const QFontMetrics metrics = label->fontMetrics();
      if (label->wordWrap()) {
        QVERIFY2(label->heightForWidth(label->width()) <= label->height(), qPrintable(label->objectName()));
      } else {
        QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), qPrintable(label->objectName()));
        QVERIFY2(metrics.height() <= label->height(), qPrintable(label->objectName()));
      }
    }
    for (QPushButton* button : m_window->findChildren<QPushButton*>()) {
      const int textWidth = button->fontMetrics().horizontalAdvance(WithoutAccelerator(button->text()));
      QVERIFY2(textWidth <= button->width() - 6, qPrintable(button->objectName()));
    }
    // The longer caption of the connect button fits as well.
    QVERIFY(m_window->btnConnect->fontMetrics().horizontalAdvance("Disconnect") <= 75 - 6);
  }

  // No control covers another, apart from the two lists, whose borders
  // share a column.
  void noOverlaps() {
    const QList<QWidget*> controls = Controls();
    for (QWidget* a : controls) {
      for (QWidget* b : controls) {
        if (a == b || a->parentWidget() != b->parentWidget()) continue;
        if (QSet<QString>{a->objectName(), b->objectName()} == QSet<QString>{"lbxTables", "lbxFields"})
          continue;
        QVERIFY2(!a->geometry().intersects(b->geometry()),
                 qPrintable(a->objectName() + " / " + b->objectName()));
      }
    }
  }

  void resizingMovesNothing() {
    QHash<QWidget*, QRect> before;
    for (QWidget* widget : Controls()) before[widget] = widget->geometry();
    for (QSize size : {QSize(900, 500), QSize(300, 200)}) {
      m_window->resize(size);
      QCoreApplication::processEvents();
      for (QWidget* widget : Controls()) QCOMPARE(widget->geometry(), before[widget]);
    }
  }

  void aboutPanel() {
    auto* panel = m_window->Panel1;
    QCOMPARE(panel->frameShape(), QFrame::Panel);
    QCOMPARE(panel->frameShadow(), QFrame::Sunken);
    QVERIFY(panel->autoFillBackground());
    QCOMPARE(panel->palette().color(QPalette::Window), QColor(Qt::white));

    QCOMPARE(m_window->Label9->geometry().topLeft(), QPoint(8, 96));
    QCOMPARE(m_window->Label9->width(), 297);
    QVERIFY(m_window->Label9->wordWrap());
    QVERIFY(!m_window->Label9->text().isEmpty());

    auto* link = m_window->HyperlinkLabel1;
    QVERIFY(link->font().underline());
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
  }

  // The logo is the program's own JPEG picture, decoded when the window is made.
  void logo() {
    const QPixmap pixmap = m_window->ProgramIcon->pixmap();
    QCOMPARE(pixmap.size(), QSize(118, 28));
    QFile file(":/logo.jpg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QImage decoded = DecodeJpeg(file.readAll());
    QCOMPARE(decoded.size(), QSize(118, 28));
    QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_RGB32), decoded);
  }

  void listItemsAreThirteenPixelsHigh() {
    TfrmMain::SetListItems(m_window->lbxTables, {"ONE", "TWO"});
    const int expected = std::max(13, m_window->lbxTables->fontMetrics().height());
    QCOMPARE(m_window->lbxTables->visualItemRect(m_window->lbxTables->item(1)).top(), expected);
  }

  // Alt with the underlined letter presses the button.
  void accelerators_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::newRow("Browse Server") << "btnBrowseServer" << int(Qt::Key_S);
    QTest::newRow("Browse Local") << "btnBrowseDB" << int(Qt::Key_L);
    QTest::newRow("Connect") << "btnConnect" << int(Qt::Key_C);
    QTest::newRow("Browse Folder") << "btnBrowseFolder" << int(Qt::Key_F);
    QTest::newRow("Exit") << "btnExit" << int(Qt::Key_X);
    QTest::newRow("Options") << "btnOptions" << int(Qt::Key_O);
  }
  void accelerators() {
    QFETCH(QString, button);
    QFETCH(int, key);
    QSignalSpy clicked(m_window->findChild<QPushButton*>(button), &QPushButton::clicked);
    // The browse buttons open their dialogs; cancel each as it appears.
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [] {
      if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
    });
    canceller.start(20);
    QTest::keyClick(m_window.get(), Qt::Key(key), Qt::AltModifier);
    // The button shows itself pressed for a moment before it clicks.
    QTRY_COMPARE(clicked.count(), 1);
  }

  void exitClosesTheWindow() {
    QTest::mouseClick(m_window->btnExit, Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
  }

 private:
  // Every control of the layout, the word-wrapped note included.
  QList<QWidget*> Controls() const {
    QList<QWidget*> controls{m_window->Label9};
    for (const TControlRow& row : kControls)
      controls << m_window->findChild<QWidget*>(QString::fromLatin1(row.name));
    return controls;
  }

  std::unique_ptr<TfrmMain> m_window;
  TMessageRecorder m_recorder;
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
