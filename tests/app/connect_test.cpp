// Connecting and disconnecting from the window, against real Firebird
// databases: embedded files, and the loopback server when FB_TEST_SERVER
// names it.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "app/main_window.h"
#include "common/test_database.h"
#include "message_recorder.h"

namespace {

const char kSampleTables[] =
    "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL, NAME VARCHAR(40), CITY VARCHAR(30));\n"
    "CREATE TABLE ORDERS (ORDER_ID INTEGER, CUSTOMER_ID INTEGER, AMOUNT NUMERIC(12,2), PLACED DATE);\n"
    "CREATE TABLE \"Mixed Case\" (X INTEGER, \"y\" VARCHAR(5));\n"
    "CREATE VIEW BIG_CUSTOMERS AS SELECT ID, NAME FROM CUSTOMER;\n";

const QString kRefusal = QStringLiteral("Please enter the necessary connection parameters to connect!");

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int row = 0; row < list->count(); ++row) items << list->item(row)->text();
  return items;
}

// A fresh database, or null with isql's words in failure.
std::unique_ptr<testdb::TestDatabase> MakeDatabase(bool throughServer, const std::string& sql,
                                                   std::string* failure) {
  try {
    return std::make_unique<testdb::TestDatabase>(throughServer, sql);
  } catch (const std::exception& error) {
    *failure = error.what();
    return nullptr;
  }
}

void ClickItem(QListWidget* list, int row) {
  const QRect rect = list->visualItemRect(list->item(row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

}  // namespace

class ConnectTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_window = std::make_unique<TfrmMain>();
    m_window->SetMessageBoxes(&m_recorder);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_recorder = TMessageRecorder();
  }
  void cleanup() { m_window.reset(); }

  // Missing entries are refused before the connection is touched.
  void refusals_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("empty password") << "localhost"
                                    << "/tmp/x.fdb"
                                    << "SYSDBA"
                                    << "";
    QTest::newRow("empty user name") << "localhost"
                                     << "/tmp/x.fdb"
                                     << ""
                                     << "masterkey";
    QTest::newRow("no server and no file") << ""
                                           << ""
                                           << "SYSDBA"
                                           << "masterkey";
    QTest::newRow("nothing at all") << ""
                                    << ""
                                    << ""
                                    << "";
  }
  void refusals() {
    QFETCH(QString, server);
    QFETCH(QString, file);
    QFETCH(QString, user);
    QFETCH(QString, password);
    const std::vector<std::string> paramsBefore = m_window->scnDatabase.Params().Lines();
    Fill(server, file, user, password);
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QCOMPARE(m_recorder.messages, std::vector<std::string>{kRefusal.toStdString()});
    QVERIFY(m_recorder.errors.empty());
    QCOMPARE(m_window->scnDatabase.Params().Lines(), paramsBefore);
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!m_window->scnDatabase.Connected());
  }

  // Blanks are content: nothing is trimmed before the test for emptiness.
  void blanksAreNotRefused() {
    Fill("", " ", "SYSDBA", " ");
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QVERIFY(m_recorder.messages.empty());
    QCOMPARE(m_recorder.errors.size(), size_t(1));
    // A bare name that is no file here goes as typed: the engine looks it up
    // among its aliases.
    QCOMPARE(m_window->scnDatabase.Params().Value("Database"), std::string(" "));
    QCOMPARE(m_window->scnDatabase.Params().Value("Password"), std::string(" "));
  }

  // A failed connect is shown in the error box; the typed values stay in the
  // parameters and the button still offers to connect.
  void missingDatabase() {
    const auto dir = testdb::MakeTempDir();
    const std::string path = (dir / "missing.fdb").string();
    Fill("", QString::fromStdString(path), "SYSDBA", "masterkey");
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    std::filesystem::remove_all(dir);
    QVERIFY(m_recorder.messages.empty());
    QCOMPARE(m_recorder.errors.size(), size_t(1));
    qInfo() << "shown:" << m_recorder.errors[0].c_str();
    QVERIFY(m_recorder.errors[0].size() > 1);
    QCOMPARE(m_recorder.errors[0].back(), '.');
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Connect"));
    QCOMPARE(m_window->scnDatabase.Params().Value("Database"), path);
    QCOMPARE(m_window->scnDatabase.Params().Value("User_Name"), std::string("SYSDBA"));
    QCOMPARE(m_window->scnDatabase.Params().Value("Password"), std::string("masterkey"));
    QCOMPARE(m_window->lbxTables->count(), 0);
    QVERIFY(!m_window->scnDatabase.Connected());
  }

  void embeddedCatalogue() { Catalogue(false); }
  void serverCatalogue() {
    if (testdb::Server().empty()) QSKIP("FB_TEST_SERVER is not set");
    Catalogue(true);
  }

  void emptyDatabaseListsNothing() {
    std::string failure;
    const auto database = MakeDatabase(false, {}, &failure);
    QVERIFY2(database, failure.c_str());
    Fill("", QString::fromStdString(database->Path()), "SYSDBA", "masterkey");
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QVERIFY(m_recorder.Empty());
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Disconnect"));
    QCOMPARE(m_window->lbxTables->count(), 0);
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
  }

  void wrongPasswordThroughServer() {
    if (testdb::Server().empty()) QSKIP("FB_TEST_SERVER is not set");
    std::string failure;
    const auto database = MakeDatabase(true, kSampleTables, &failure);
    QVERIFY2(database, failure.c_str());
    Fill(QString::fromStdString(database->ServerName()), QString::fromStdString(database->Path()), "SYSDBA",
         "not-the-password");
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QVERIFY(m_recorder.messages.empty());
    QCOMPARE(m_recorder.errors.size(), size_t(1));
    qInfo() << "shown:" << m_recorder.errors[0].c_str();
    QCOMPARE(m_recorder.errors[0].back(), '.');
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Connect"));
    QCOMPARE(m_window->scnDatabase.Params().Value("Database"), database->Connect());
    QVERIFY(!m_window->scnDatabase.Connected());

    // The user corrects the password and connects.
    m_recorder = TMessageRecorder();
    m_window->edtPassword->setText(QString::fromStdString(testdb::Password()));
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QVERIFY(m_recorder.Empty());
    QCOMPARE(m_window->lbxTables->count(), 4);
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
  }

  // A server name with no file still passes the test for emptiness: the
  // server is asked for "host:" and its refusal is shown.
  void serverWithoutFile() {
    if (testdb::Server().empty()) QSKIP("FB_TEST_SERVER is not set");
    Fill(QString::fromStdString(testdb::Server()), "", "SYSDBA", QString::fromStdString(testdb::Password()));
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QVERIFY(m_recorder.messages.empty());
    QCOMPARE(m_recorder.errors.size(), size_t(1));
    QCOMPARE(m_window->scnDatabase.Params().Value("Database"), testdb::Server() + ":");
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Connect"));
  }

 private:
  void Fill(const QString& server, const QString& file, const QString& user, const QString& password) {
    m_window->edtServerName->setText(server);
    m_window->edtDBFile->setText(file);
    m_window->edtUserName->setText(user);
    m_window->edtPassword->setText(password);
  }

  // Connect, list, choose tables by mouse and keyboard, disconnect, reconnect.
  void Catalogue(bool throughServer) {
    std::string failure;
    const auto database = MakeDatabase(throughServer, kSampleTables, &failure);
    QVERIFY2(database, failure.c_str());
    Fill(QString::fromStdString(database->ServerName()), QString::fromStdString(database->Path()), "SYSDBA",
         QString::fromStdString(testdb::Password()));
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QVERIFY2(m_recorder.Empty(), m_recorder.errors.empty() ? "" : m_recorder.errors[0].c_str());
    QCOMPARE(m_window->scnDatabase.Params().Value("Database"), database->Connect());
    QVERIFY(m_window->scnDatabase.Connected());
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Disconnect"));
    const QStringList tables = {"BIG_CUSTOMERS", "CUSTOMER", "Mixed Case", "ORDERS"};
    QCOMPARE(Items(m_window->lbxTables), tables);
    QVERIFY(m_window->lbxTables->selectedItems().isEmpty());
    QCOMPARE(m_window->lbxFields->count(), 0);
    QVERIFY(m_window->CurrentTableName.empty());

    ClickItem(m_window->lbxTables, 1);
    QCOMPARE(m_window->CurrentTableName, std::string("CUSTOMER"));
    QCOMPARE(Items(m_window->lbxFields), (QStringList{"ID", "NAME", "CITY"}));

    // Another table replaces the fields.
    ClickItem(m_window->lbxTables, 3);
    QCOMPARE(m_window->CurrentTableName, std::string("ORDERS"));
    QCOMPARE(Items(m_window->lbxFields), (QStringList{"ORDER_ID", "CUSTOMER_ID", "AMOUNT", "PLACED"}));
    // Each field shows its declared type as its tip.
    QCOMPARE(m_window->lbxFields->item(2)->toolTip(), QStringLiteral("NUMERIC(12,2)"));

    // The arrow keys choose as a click does.
    m_window->lbxTables->setFocus();
    QTest::keyClick(m_window->lbxTables, Qt::Key_Up);
    QCOMPARE(m_window->CurrentTableName, std::string("Mixed Case"));
    QCOMPARE(Items(m_window->lbxFields), (QStringList{"X", "y"}));
    QTest::keyClick(m_window->lbxTables, Qt::Key_Home);
    QCOMPARE(m_window->CurrentTableName, std::string("BIG_CUSTOMERS"));
    QCOMPARE(Items(m_window->lbxFields), (QStringList{"ID", "NAME"}));

    // The handler with nothing selected changes nothing.
    m_window->lbxTables->clearSelection();
    m_window->lbxTablesClick();
    QCOMPARE(m_window->CurrentTableName, std::string("BIG_CUSTOMERS"));
    QCOMPARE(m_window->lbxFields->count(), 2);

    // Disconnecting empties both lists and keeps the current table.
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QCOMPARE(m_window->btnConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!m_window->scnDatabase.Connected());
    QCOMPARE(m_window->lbxTables->count(), 0);
    QCOMPARE(m_window->lbxFields->count(), 0);
    QCOMPARE(m_window->CurrentTableName, std::string("BIG_CUSTOMERS"));

    // Connecting again lists the tables anew with none chosen.
    QTest::mouseClick(m_window->btnConnect, Qt::LeftButton);
    QCOMPARE(Items(m_window->lbxTables), tables);
    QVERIFY(m_window->lbxTables->selectedItems().isEmpty());
    QCOMPARE(m_window->lbxFields->count(), 0);
    QCOMPARE(m_window->CurrentTableName, std::string("BIG_CUSTOMERS"));

    // Alt+D reaches the renamed button.
    QTest::keyClick(m_window.get(), Qt::Key_D, Qt::AltModifier);
    QTRY_COMPARE(m_window->btnConnect->text(), QStringLiteral("&Connect"));
    QVERIFY(!m_window->scnDatabase.Connected());
    QVERIFY(m_recorder.Empty());
  }

  std::unique_ptr<TfrmMain> m_window;
  TMessageRecorder m_recorder;
};

QTEST_MAIN(ConnectTest)
#include "connect_test.moc"
