// Export and import from the window's buttons, against an embedded database.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "common/test_database.h"
#include "message_recorder.h"

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    const std::string path = m_folder.string() + "/customer.csv";
    QCOMPARE(
        m_recorder.messages,
        std::vector<std::string>{"2 records of table 'CUSTOMER' has been exported into file '" + path + "'"});
    QCOMPARE(ReadFile(path), std::string("ID,NAME,NOTE\r\n7,Anna,\r\n8,\"O'Brien, Pat\",x\r\n"));

    m_recorder = TMessageRecorder();
    SelectTable(w, "CUSTOMER_COPY");
    QTest::mouseClick(w.btnImport, Qt::LeftButton);
    QCOMPARE(m_recorder.messages,
             std::vector<std::string>{"2 records of table 'CUSTOMER_COPY' has been imported into file '" +
                                      path + "'"});
    QVERIFY(m_recorder.errors.empty());
    TSQLDataSet query("", &w.scnDatabase);
    query.SetCommandText("SELECT NAME FROM CUSTOMER_COPY WHERE ID = 8");
    query.SetActive(true);
    QCOMPARE(query.FieldAt(0).ValueText(), std::string("O'Brien, Pat"));
  }

  void aFileThatCannotBeWrittenShowsTheErrorBox() {
    TfrmMain& w = *m_window;
    Connect();
    SelectTable(w, "CUSTOMER");
    std::filesystem::create_directory(m_folder / "taken");
    w.edtFolder->setText(QString::fromStdString(m_folder.string()));
    w.edtFilename->setText(QStringLiteral("taken"));
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    QCOMPARE(m_recorder.errors, std::vector<std::string>{"File access denied: '" + (m_folder / "taken").string() +
                                                         "' is a folder, not a regular file."});
    QVERIFY(m_recorder.messages.empty());
    QVERIFY(!w.sdsTable.Active());
  }

 private:
  void Connect() {
    TfrmMain& w = *m_window;
    w.edtServerName->clear();
    w.edtDBFile->setText(QString::fromStdString(m_database->Path()));
    w.edtPassword->setText(QStringLiteral("any"));
    QTest::mouseClick(w.btnConnect, Qt::LeftButton);
    QVERIFY(w.scnDatabase.Connected());
  }

  std::unique_ptr<testdb::TestDatabase> m_database;
  std::unique_ptr<TfrmMain> m_window;
  std::filesystem::path m_folder;
  TMessageRecorder m_recorder;
};

QTEST_MAIN(TransferTest)
#include "transfer_test.moc"
