// What the window remembers between runs, in a settings folder and a home of
// the test's own: the boxes of the last connection that opened and of the
// last transfer that started come back in the next window; the password
// never reaches the disk.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/main_window.h"
#include "common/test_database.h"
#include "message_recorder.h"
#include "own_home.h"

namespace {

// Typed into every window; the embedded engine takes any password.
const QString kPassword = QStringLiteral("Pelmora-Secret-4711");

struct TBoxes {
  QString server, database, user, password, folder, fileName;
  bool operator==(const TBoxes&) const = default;

  static TBoxes Of(const TfrmMain& w) {
    return {w.edtServerName->text(), w.edtDBFile->text(), w.edtUserName->text(),
            w.edtPassword->text(),   w.edtFolder->text(), w.edtFilename->text()};
  }
};

char* toString(const TBoxes& boxes) {
  const QStringList texts = {boxes.server,   boxes.database, boxes.user,
                             boxes.password, boxes.folder,   boxes.fileName};
  return qstrdup(qPrintable(texts.join(QStringLiteral(" | "))));
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 public:
  explicit SettingsTest(QString root) : m_root(std::move(root)) {}

 private slots:
  void firstStartShowsTheDefaults() {
    auto w = OpenWindow();
    QCOMPARE(TBoxes::Of(*w), (TBoxes{"localhost", "", "SYSDBA", "", "", ""}));
  }

  void connectionAndTransferComeBackWithoutThePassword() {
    const testdb::TestDatabase database(false,
                                        "CREATE TABLE CUSTOMER (ID INTEGER, NAME VARCHAR(20));\n"
                                        "INSERT INTO CUSTOMER VALUES (1, 'Ann');\n");
    const QString path = QString::fromStdString(database.Path());
    const QString folder = QString::fromStdString(database.Dir().string());
    {
      auto w = OpenWindow();
      w->edtServerName->clear();
      w->edtDBFile->setText(path);
      w->edtUserName->setText(QStringLiteral("sysdba"));
      QTest::keyClicks(w->edtPassword, kPassword);
      // Enter in the password box connects as the button does, and only that.
      QTest::keyClick(w->edtPassword, Qt::Key_Return);
      QVERIFY2(m_recorder.Empty(), m_recorder.errors.empty() ? "" : m_recorder.errors[0].c_str());
      QVERIFY(w->scnDatabase.Connected());
      QCOMPARE(w->lbxTables->count(), 1);
      QTest::keyClick(w->edtPassword, Qt::Key_Enter);
      QVERIFY(w->scnDatabase.Connected());

      w->lbxTables->setCurrentRow(0);
      w->edtFolder->setText(folder);
      w->edtFilename->setText(QStringLiteral("customers.csv"));
      QTest::mouseClick(w->btnExport, Qt::LeftButton);
      QTRY_VERIFY(!w->TransferRunning());
      QVERIFY(QFile::exists(folder + QStringLiteral("/customers.csv")));
    }
    const TBoxes remembered{"", path, "sysdba", "", folder, "customers.csv"};
    {
      auto w = OpenWindow();
      QCOMPARE(TBoxes::Of(*w), remembered);
      // A connection that does not open and a transfer that does not start
      // change nothing of what is remembered.
      w->edtDBFile->setText(folder + QStringLiteral("/missing.fdb"));
      w->edtPassword->setText(kPassword);
      QTest::keyClick(w->edtPassword, Qt::Key_Return);
      QCOMPARE(m_recorder.errors.size(), size_t(1));
      w->edtFilename->setText(QStringLiteral("other.csv"));
      QTest::mouseClick(w->btnExport, Qt::LeftButton);
      QVERIFY(!w->TransferRunning());
    }
    QCOMPARE(TBoxes::Of(*OpenWindow()), remembered);

    const QString settingsFile = m_root + QStringLiteral("/config/varnelo-pelmora/varnelo-pelmora.conf");
    QVERIFY2(QFile::exists(settingsFile), qPrintable(settingsFile));
    QDirIterator files(m_root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
      QFile file(files.next());
      QVERIFY(file.open(QIODevice::ReadOnly));
      QVERIFY2(!file.readAll().contains(kPassword.toUtf8()), qPrintable(file.fileName()));
    }
  }

  // A settings file larger than settings ever are is not read (QSettings
  // would read all of it before the window shows), nor written over.
  void aSettingsFileLargerThanTheBoundIsNotRead() {
    const QString settingsFile = m_root + QStringLiteral("/config/varnelo-pelmora/varnelo-pelmora.conf");
    const struct {
      qint64 size;
      QString serverShown;
    } cases[] = {{TfrmMain::kMaxSettingsBytes, QStringLiteral("from-the-file")},
                 {TfrmMain::kMaxSettingsBytes + 1, QStringLiteral("localhost")}};
    for (const auto& c : cases) {
      QByteArray bytes = "[Connection]\nServerName=from-the-file\n;";
      bytes += QByteArray(c.size - bytes.size() - 1, 'x') + '\n';
      QFile file(settingsFile);
      QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
      QCOMPARE(file.write(bytes), c.size);
      file.close();
      {
        auto w = OpenWindow();
        QCOMPARE(w->edtServerName->text(), c.serverShown);
      }
      QCOMPARE(QFileInfo(settingsFile).size(), c.size);
    }
    QFile::remove(settingsFile);
  }

 private:
  std::unique_ptr<TfrmMain> OpenWindow() {
    auto w = std::make_unique<TfrmMain>();
    m_recorder = TMessageRecorder();
    w->SetMessageBoxes(&m_recorder);
    w->RememberIn(TfrmMain::UserSettings());
    w->show();
    return w;
  }

  QString m_root;
  TMessageRecorder m_recorder;
};

int main(int argc, char** argv) { return RunInOwnHome<SettingsTest>(argc, argv); }

#include "settings_test.moc"
