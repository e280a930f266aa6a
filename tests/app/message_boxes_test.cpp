// The error box's full stop, the boxes on screen, and the wrapper that keeps
// a handler's failure from leaving the click.
#include "app/message_boxes.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <stdexcept>

#include "app/main_window.h"
#include "base/exceptions.h"
#include "message_recorder.h"

namespace {

struct TShownBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
  bool wordWrap = false;
  bool centred = false;
};

// Waits for the modal box, reads it and answers it with key.
void AnswerNextBox(TShownBox* shown, Qt::Key key) {
  QTimer::singleShot(10, [shown, key] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) {
      AnswerNextBox(shown, key);
      return;
    }
    shown->title = box->windowTitle();
    shown->text = box->text();
    shown->icon = box->icon();
    for (QAbstractButton* button : box->buttons()) shown->buttons << button->text();
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    shown->wordWrap = label && label->wordWrap();
    const QRect screen = box->screen()->availableGeometry();
    shown->centred = (box->frameGeometry().center() - screen.center()).manhattanLength() <= 4;
    // Letters are the buttons' accelerators.
    QTest::keyClick(box, key, key >= Qt::Key_A && key <= Qt::Key_Z ? Qt::AltModifier : Qt::NoModifier);
  });
}

}  // namespace

class MessageBoxesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Varnelo Pelmora")); }

  void errorBoxText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Table unknown"
                            << "Table unknown.";
    QTest::newRow("digit") << "Error code 335544344"
                           << "Error code 335544344.";
    QTest::newRow("question mark") << "Why?"
                                   << "Why?.";
    QTest::newRow("slash sorts after the stop") << "path/"
                                                << "path/.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("exclamation mark") << "Stop!"
                                      << "Stop!";
    QTest::newRow("closing parenthesis") << "failed (5)"
                                         << "failed (5)";
    QTest::newRow("comma sorts before the stop") << "a,"
                                                 << "a,";
    QTest::newRow("blank") << "ends with a blank "
                           << "ends with a blank ";
    QTest::newRow("line break") << "two\nlines\n"
                                << "two\nlines\n";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("letter above code 127")
        << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f") << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f.");
  }
  // The window takes its close question away once the transfer has ended.
  void aQuestionClosedFromOutsideAnswersNo() {
    TMessageBoxes boxes;
    QTimer::singleShot(50, [&boxes] { boxes.CloseQuestion(); });
    QVERIFY(!boxes.AskYesNo("Stop it?"));
    QVERIFY(!QApplication::activeModalWidget());
  }

  void errorBoxText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(QString::fromStdString(ErrorBoxText(message.toStdString())), shown);
  }

  void handlerFailures_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("errors");
    QTest::newRow("database error") << 0 << QStringList{"sdsTable: Cursor not returned from Query."};
    QTest::newRow("in-out error") << 1 << QStringList{"File not found."};
    QTest::newRow("silent abort") << 2 << QStringList{};
    QTest::newRow("standard library failure") << 3 << QStringList{"vector::_M_range_check."};
    QTest::newRow("no failure") << 4 << QStringList{};
  }
  void handlerFailures() {
    QFETCH(int, kind);
    QFETCH(QStringList, errors);
    TfrmMain window;
    TMessageRecorder recorder;
    window.SetMessageBoxes(&recorder);
    bool ranToEnd = false;
    window.RunHandler([&] {
      switch (kind) {
        case 0:
          throw EDatabaseError("sdsTable: Cursor not returned from Query");
        case 1:
          throw EInOutError(2, "File not found");
        case 2:
          throw EAbort();
        case 3:
          throw std::out_of_range("vector::_M_range_check");
      }
      ranToEnd = true;
    });
    QStringList shown;
    for (const std::string& text : recorder.errors) shown << QString::fromStdString(text);
    QCOMPARE(shown, errors);
    QVERIFY(recorder.messages.empty());
    QCOMPARE(ranToEnd, kind == 4);
  }

  // A failure inside a button's handler is shown and the program goes on.
  void clickedHandlerFailureIsShown() {
    TfrmMain window;
    TMessageRecorder recorder;
    window.SetMessageBoxes(&recorder);
    window.edtServerName->clear();
    window.edtDBFile->setText("/nonexistent/folder/db.fdb");
    window.edtPassword->setText("x");
    window.scnDatabase.SetLibraryName("libno-such-driver.so");
    QTest::mouseClick(window.btnConnect, Qt::LeftButton);
    QCOMPARE(recorder.errors.size(), size_t(1));
    QVERIFY(recorder.messages.empty());
    QCOMPARE(window.btnConnect->text(), QStringLiteral("&Connect"));
  }

  void messageBox_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
  }
  void messageBox() {
    QFETCH(int, key);
    TShownBox shown;
    AnswerNextBox(&shown, Qt::Key(key));
    TMessageBoxes().ShowMessage("Please enter the necessary connection parameters to connect!");
    QCOMPARE(shown.title, QStringLiteral("Varnelo Pelmora"));
    QCOMPARE(shown.text, QStringLiteral("Please enter the necessary connection parameters to connect!"));
    QCOMPARE(shown.icon, QMessageBox::NoIcon);
    QCOMPARE(shown.buttons, QStringList{"OK"});
    QVERIFY(shown.wordWrap);
    QVERIFY(shown.centred);
  }

  // The refusal box: each button gives its answer; Enter and Esc give OK.
  void refusalBox_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("answer");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(TRefusalAnswer::raOk);
    QTest::newRow("Esc") << int(Qt::Key_Escape) << int(TRefusalAnswer::raOk);
    QTest::newRow("Alt+A") << int(Qt::Key_A) << int(TRefusalAnswer::raSkipAll);
    QTest::newRow("Alt+S") << int(Qt::Key_S) << int(TRefusalAnswer::raStop);
  }
  void refusalBox() {
    QFETCH(int, key);
    QFETCH(int, answer);
    TShownBox shown;
    AnswerNextBox(&shown, Qt::Key(key));
    const TRefusalAnswer given =
        TMessageBoxes().AskRefusedLine({"/data/c.csv", 12, "conversion error from string \"x\""});
    QCOMPARE(int(given), answer);
    QCOMPARE(shown.title, QStringLiteral("Varnelo Pelmora"));
    QCOMPARE(shown.text, QStringLiteral("Invalid data!\n\nLine 12: conversion error from string \"x\""));
    shown.buttons.sort();
    QCOMPARE(shown.buttons, (QStringList{"&Stop", "OK", "Skip &All"}));
  }

  void errorBox() {
    TShownBox shown;
    AnswerNextBox(&shown, Qt::Key_Return);
    TMessageBoxes().ShowError("Connection refused <b>here</b>");
    QCOMPARE(shown.title, QStringLiteral("Varnelo Pelmora"));
    QCOMPARE(shown.text, QStringLiteral("Connection refused <b>here</b>."));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QStringList{"OK"});
  }
};

QTEST_MAIN(MessageBoxesTest)
#include "message_boxes_test.moc"
