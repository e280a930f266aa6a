// Export and import from the window's buttons, against an embedded database.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <regex>
#include <sstream>
#include <tuple>

#include "app/main_window.h"
#include "common/test_database.h"
#include "message_recorder.h"

namespace {

using testdb::ReadFile;

std::int64_t CountLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::int64_t lines = 0;
  std::string line;
  while (std::getline(in, line)) ++lines;
  return lines;
}

// The rows of the large table; the benchmark table has a million.
constexpr int kLargeRows = 1000000;

enum TStopBy { kByButton, kByEsc, kByClosing };

// What a transfer must give back: every control's enabled state, the
// captions of the buttons that change, and the focus.
struct TWindowState {
  std::vector<std::pair<QString, bool>> enabled;
  QString exportCaption, importCaption;
  QString focus;

  static TWindowState Of(TfrmMain& w) {
    TWindowState state;
    for (QWidget* child : w.findChildren<QWidget*>())
      if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
        state.enabled.emplace_back(child->objectName(), child->isEnabled());
    state.exportCaption = w.btnExport->text();
    state.importCaption = w.btnImport->text();
    state.focus = w.focusWidget() ? w.focusWidget()->objectName() : QString();
    return state;
  }
  bool operator==(const TWindowState&) const = default;
};

char* toString(const TWindowState& state) {
  QString text = state.exportCaption + " | " + state.importCaption + " | focus " + state.focus + " |";
  for (const auto& [name, enabled] : state.enabled)
    if (!enabled) text += " " + name + " disabled";
  return qstrdup(qPrintable(text));
}

// While a transfer runs, the button that started it reads "&Stop" and is the
// only control of the window that can start anything.
void VerifyBusy(TfrmMain& w, QPushButton* button) {
  QVERIFY(w.TransferRunning());
  QCOMPARE(button->text(), QStringLiteral("&Stop"));
  QVERIFY(button->isEnabled());
  const QWidget* idle[] = {w.edtServerName, w.btnBrowseServer, w.edtDBFile,   w.btnBrowseDB,
                           w.edtUserName,   w.edtPassword,     w.btnConnect,  w.lbxTables,
                           w.lbxFields,     w.btnExport,       w.btnImport,   w.btnExit,
                           w.edtFolder,     w.btnBrowseFolder, w.edtFilename, w.btnOptions};
  for (const QWidget* control : idle)
    if (control != button) QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
}

void SelectTable(TfrmMain& window, const QString& name) {
  const auto items = window.lbxTables->findItems(name, Qt::MatchExactly);
  QVERIFY(!items.isEmpty());
  window.lbxTables->setCurrentItem(items.first());
}

}  // namespace

class TransferTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_database = std::make_unique<testdb::TestDatabase>(
        false,
        "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL, NAME VARCHAR(40), NOTE VARCHAR(40));\n"
        "CREATE TABLE CUSTOMER_COPY (ID INTEGER NOT NULL, NAME VARCHAR(40), NOTE VARCHAR(40));\n"
        "INSERT INTO CUSTOMER VALUES (7, 'Anna', NULL);\n"
        "INSERT INTO CUSTOMER VALUES (8, 'O''Brien, Pat', 'x');\n");
    m_window = std::make_unique<TfrmMain>();
    m_window->SetMessageBoxes(&m_recorder);
    m_window->show();
    m_folder = m_database->Dir() / "csv";
    std::filesystem::create_directory(m_folder);
  }
  void cleanupTestCase() { m_large.reset(); }
  void cleanup() {
    m_window.reset();
    m_database.reset();
    m_recorder = TMessageRecorder();
  }

  void checksComeInOrderAndShowOneMessage() {
    TfrmMain& w = *m_window;
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    QCOMPARE(m_recorder.messages, std::vector<std::string>{"Database not connected yet!"});

    Connect();
    m_recorder = TMessageRecorder();
    QTest::mouseClick(w.btnImport, Qt::LeftButton);
    QCOMPARE(m_recorder.messages, std::vector<std::string>{"Table not selected yet!"});

    SelectTable(w, "CUSTOMER");
    struct Case {
      std::string folder, file, message;
    };
    const std::string existingFile = m_database->Path();
    const Case cases[] = {
        {m_folder.string(), "", "Destination file not entered!"},
        {"", "out.csv", "Destination file not entered!"},
        {"   ", "out.csv", "Destination folder not exists!"},
        {existingFile, "out.csv", "Destination folder not exists!"},
        {(m_folder / "missing").string(), "out.csv", "Destination folder not exists!"},
    };
    for (const auto& c : cases) {
      m_recorder = TMessageRecorder();
      w.edtFolder->setText(QString::fromStdString(c.folder));
      w.edtFilename->setText(QString::fromStdString(c.file));
      QTest::mouseClick(w.btnExport, Qt::LeftButton);
      QCOMPARE(m_recorder.messages, std::vector<std::string>{c.message});
      QVERIFY(m_recorder.errors.empty());
    }
    QVERIFY(!std::filesystem::exists(m_folder / "out.csv"));
  }

  void exportThenImportIntoACopy() {
    TfrmMain& w = *m_window;
    Connect();
    SelectTable(w, "CUSTOMER");
    w.edtFolder->setText(QString::fromStdString(m_folder.string()));
    w.edtFilename->setText(QStringLiteral("customer.csv"));
    ClickAndWait(w.btnExport);
    const std::string path = m_folder.string() + "/customer.csv";
    QCOMPARE(
        m_recorder.messages,
        std::vector<std::string>{"2 records of table 'CUSTOMER' has been exported into file '" + path + "'"});
    QCOMPARE(ReadFile(path), std::string("ID,NAME,NOTE\r\n7,Anna,\r\n8,\"O'Brien, Pat\",x\r\n"));

    m_recorder = TMessageRecorder();
    SelectTable(w, "CUSTOMER_COPY");
    ClickAndWait(w.btnImport);
    QCOMPARE(m_recorder.messages,
             std::vector<std::string>{"2 records of table 'CUSTOMER_COPY' has been imported into file '" +
                                      path + "'"});
    QVERIFY(m_recorder.errors.empty());
    TSQLDataSet query("", &w.scnDatabase);
    query.SetCommandText("SELECT NAME FROM CUSTOMER_COPY WHERE ID = 8");
    query.SetActive(true);
    QCOMPARE(query.FieldAt(0).ValueText(), std::string("O'Brien, Pat"));
  }

  // Names with letters beyond ASCII show as themselves, and the window
  // connects in the character set of the locale: a UTF-8 locale gives the
  // WIN1252 column's text in UTF-8, the C locale its bytes as stored.
  void namesAndTextFollowTheLocale() {
    TfrmMain& w = *m_window;
    m_database->Execute(
        "CREATE TABLE \"\u00C4PFEL\" (\"GR\u00D6SSE\" VARCHAR(10) CHARACTER SET WIN1252);\n"
        "INSERT INTO \"\u00C4PFEL\" VALUES (_UTF8 'gr\u00FC\u00DF');\n");
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    const std::pair<const char*, std::string> cases[] = {
        {"C.UTF-8", "GR\u00D6SSE\r\ngr\u00FC\u00DF\r\n"},
        {"C", "GR\u00D6SSE\r\ngr\xFC\xDF\r\n"},
    };
    for (const auto& [locale, file] : cases) {
      QVERIFY(std::setlocale(LC_CTYPE, locale));
      Connect();
      SelectTable(w, QStringLiteral("\u00C4PFEL"));
      QCOMPARE(w.CurrentTableName, std::string("\u00C4PFEL"));
      QCOMPARE(w.lbxFields->item(0)->text(), QStringLiteral("GR\u00D6SSE"));
      w.edtFolder->setText(QString::fromStdString(m_folder.string()));
      w.edtFilename->setText(QStringLiteral("names.csv"));
      ClickAndWait(w.btnExport);
      QVERIFY(m_recorder.errors.empty());
      QCOMPARE(ReadFile(m_folder / "names.csv"), file);
      QTest::mouseClick(w.btnConnect, Qt::LeftButton);
    }
    std::setlocale(LC_CTYPE, previous.c_str());
  }

  // A failed transfer: the error box, and the window as it was before.
  void aFileThatCannotBeWrittenShowsTheErrorBox() {
    TfrmMain& w = *m_window;
    Connect();
    SelectTable(w, "CUSTOMER");
    std::filesystem::create_directory(m_folder / "taken");
    w.edtFolder->setText(QString::fromStdString(m_folder.string()));
    w.edtFilename->setText(QStringLiteral("taken"));
    w.btnExport->setFocus();
    const TWindowState before = TWindowState::Of(w);
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    VerifyBusy(w, w.btnExport);
    QTRY_VERIFY(!w.TransferRunning());
    QCOMPARE(m_recorder.errors, std::vector<std::string>{"Cannot use '" + (m_folder / "taken").string() +
                                                         "': it is a folder, not a regular file."});
    QVERIFY(m_recorder.messages.empty());
    QVERIFY(!w.sdsTable.Active());
    QCOMPARE(TWindowState::Of(w), before);
  }

  // The whole large table goes out while a timer on the GUI thread keeps
  // firing; meanwhile only Stop can be used, and afterwards the window is as
  // it was.
  void theWindowStaysAliveDuringALargeExport() {
    TfrmMain& w = *LargeTableWindow();
    w.btnExport->setFocus();
    const TWindowState before = TWindowState::Of(w);
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    connect(&ticker, &QTimer::timeout, [&] {
      longestGap = std::max(longestGap, clock.elapsed() - lastTick);
      lastTick = clock.elapsed();
    });
    clock.start();
    ticker.start();
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    VerifyBusy(w, w.btnExport);
    QTRY_VERIFY_WITH_TIMEOUT(!w.TransferRunning(), 120000);
    ticker.stop();
    const qint64 took = clock.elapsed();
    longestGap = std::max(longestGap, took - lastTick);
    qInfo("export of %d rows: %lld ms; longest pause of the event loop %lld ms", kLargeRows, took,
          longestGap);
    QVERIFY2(longestGap < 100, qPrintable(QString::number(longestGap)));
    const std::string path = m_folder.string() + "/big.csv";
    QCOMPARE(m_recorder.messages,
             std::vector<std::string>{std::to_string(kLargeRows) +
                                      " records of table 'BIG' has been exported into file '" + path + "'"});
    QVERIFY(m_recorder.errors.empty());
    QCOMPARE(CountLines(path), std::int64_t(kLargeRows) + 1);
    QCOMPARE(TWindowState::Of(w), before);
  }

  // Every way to stop a transfer ends it within a second and leaves the
  // window as it was; a stopped export leaves the earlier file as it was and
  // nothing beside it; a stopped import keeps exactly the rows its message
  // counts and names the first line it did not import.
  void stoppingATransfer_data() {
    QTest::addColumn<bool>("import");
    QTest::addColumn<int>("how");
    QTest::newRow("export, Stop button") << false << int(kByButton);
    QTest::newRow("export, Esc") << false << int(kByEsc);
    QTest::newRow("export, closing the window") << false << int(kByClosing);
    QTest::newRow("import, Stop button") << true << int(kByButton);
    QTest::newRow("import, Esc") << true << int(kByEsc);
  }
  void stoppingATransfer() {
    QFETCH(bool, import);
    QFETCH(int, how);
    TfrmMain& w = *LargeTableWindow();
    const std::string path = m_folder.string() + "/big.csv";
    const std::string earlier = "ID,NAME,AMOUNT\r\n1,earlier,2.50\r\n";
    if (import) {
      SelectTable(w, "BIG_COPY");
      WriteLargeFile(path);
    } else {
      std::ofstream(path, std::ios::binary) << earlier;
    }
    QPushButton* button = import ? w.btnImport : w.btnExport;
    button->setFocus();
    const TWindowState before = TWindowState::Of(w);

    QTest::mouseClick(button, Qt::LeftButton);
    VerifyBusy(w, button);
    QTest::qWait(700);
    QVERIFY(w.TransferRunning());
    QElapsedTimer clock;
    clock.start();
    switch (how) {
      case kByButton:
        QTest::mouseClick(button, Qt::LeftButton);
        break;
      case kByEsc:
        QTest::keyClick(&w, Qt::Key_Escape);
        break;
      case kByClosing:
        QVERIFY(!w.close());
        QCOMPARE(m_recorder.questions, std::vector<std::string>{TfrmMain::kStopQuestion});
        break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w.TransferRunning(), 5000);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(m_recorder.errors.empty());
    QCOMPARE(m_recorder.messages.size(), size_t(1));
    const std::string& message = m_recorder.messages[0];

    if (import) {
      const std::string tail = "; that line and the ones after it were not imported";
      const std::regex pattern(
          "([0-9]+) records of table 'BIG_COPY' has been imported into file '(.*)'\\. The import stopped at "
          "line ([0-9]+)");
      std::smatch parts;
      QVERIFY2(message.size() > tail.size() && message.ends_with(tail), message.c_str());
      const std::string head = message.substr(0, message.size() - tail.size());
      QVERIFY2(std::regex_match(head, parts, pattern), message.c_str());
      const std::int64_t rows = std::stoll(parts[1]);
      QCOMPARE(parts[2].str(), path);
      QVERIFY(rows > 0 && rows < kLargeRows);
      // One line per row after the header line.
      QCOMPARE(std::stoll(parts[3]), rows + 2);
      TSQLDataSet query("", &w.scnDatabase);
      query.SetCommandText("SELECT COUNT(*), MIN(ID), MAX(ID) FROM BIG_COPY");
      query.SetActive(true);
      QCOMPARE(query.FieldAt(0).ValueText(), std::to_string(rows));
      QCOMPARE(query.FieldAt(1).ValueText(), std::string("0"));
      QCOMPARE(query.FieldAt(2).ValueText(), std::to_string(rows - 1));
    } else {
      QCOMPARE(message, "Export of table 'BIG' stopped: nothing was written into file '" + path + "'");
      // Passes once the export writes into a temporary file first.
      QCOMPARE(ReadFile(path), earlier);
      std::vector<std::string> files;
      for (const auto& entry : std::filesystem::directory_iterator(m_folder))
        files.push_back(entry.path().filename().string());
      QCOMPARE(files, std::vector<std::string>{"big.csv"});
    }

    if (how == kByClosing) {
      QVERIFY(!w.isVisible());
    } else {
      QVERIFY(w.isVisible());
      QCOMPARE(TWindowState::Of(w), before);
    }
  }

  // No closes nothing: the transfer goes on to its end.
  void closingCanBeDeclined() {
    TfrmMain& w = *LargeTableWindow();
    m_recorder.yesNoAnswer = false;
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    QVERIFY(!w.close());
    QCOMPARE(m_recorder.questions.size(), size_t(1));
    QTRY_VERIFY_WITH_TIMEOUT(!w.TransferRunning(), 120000);
    QVERIFY(w.isVisible());
    QCOMPARE(m_recorder.messages.size(), size_t(1));
    QVERIFY(m_recorder.messages[0].find("has been exported") != std::string::npos);
  }

 private:
  void ClickAndWait(QPushButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->TransferRunning(), 60000);
  }

  // The window connected to the large table BIG (ID, NAME, AMOUNT) and its
  // empty copy BIG_COPY, with BIG chosen and the file big.csv in the folder.
  // The database is made once for all tests, embedded, without forced writes.
  TfrmMain* LargeTableWindow() {
    if (!m_large) {
      m_large = std::make_unique<testdb::TestDatabase>(
          false,
          "CREATE TABLE BIG (ID INTEGER NOT NULL, NAME VARCHAR(40), AMOUNT NUMERIC(12,2));\n"
          "CREATE TABLE BIG_COPY (ID INTEGER NOT NULL, NAME VARCHAR(40), AMOUNT NUMERIC(12,2));\n");
      const std::string gfix = "gfix -write async -user SYSDBA -password '" + testdb::Password() + "' '" +
                               m_large->Path() + "' >/dev/null 2>&1";
      std::ignore = std::system(gfix.c_str());
      m_large->Execute("SET TERM ^;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " +
                       std::to_string(kLargeRows) +
                       ") DO BEGIN INSERT INTO BIG VALUES (:I, 'name ' || :I, :I / 100.0); I = I + 1; END "
                       "END^\nSET TERM ;^");
    }
    m_large->Execute("DELETE FROM BIG_COPY;");
    TfrmMain& w = *m_window;
    Connect(*m_large);
    SelectTable(w, "BIG");
    w.edtFolder->setText(QString::fromStdString(m_folder.string()));
    w.edtFilename->setText(QStringLiteral("big.csv"));
    return &w;
  }

  // The large table's rows as an export writes them.
  void WriteLargeFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "ID,NAME,AMOUNT\r\n";
    for (int i = 0; i < kLargeRows; ++i) {
      out << i << ",name " << i << "," << i / 100 << "." << std::setw(2) << std::setfill('0') << i % 100
          << "\r\n";
    }
  }

  void Connect() { Connect(*m_database); }
  void Connect(const testdb::TestDatabase& database) {
    TfrmMain& w = *m_window;
    w.edtServerName->clear();
    w.edtDBFile->setText(QString::fromStdString(database.Path()));
    w.edtPassword->setText(QStringLiteral("any"));
    QTest::mouseClick(w.btnConnect, Qt::LeftButton);
    QVERIFY(w.scnDatabase.Connected());
  }

  std::unique_ptr<testdb::TestDatabase> m_database;
  std::unique_ptr<testdb::TestDatabase> m_large;
  std::unique_ptr<TfrmMain> m_window;
  std::filesystem::path m_folder;
  TMessageRecorder m_recorder;
};

QTEST_MAIN(TransferTest)
#include "transfer_test.moc"
