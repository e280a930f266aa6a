// The Options dialog of the window: its controls, found by the command-line
// program's long option names, change the files the window writes and how
// its import changes the table; what it refuses keeps it open; what it
// accepts is remembered for the next window.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "app/transfer_options_dialog.h"
#include "common/test_database.h"
#include "message_recorder.h"
#include "own_home.h"

namespace {

using testdb::ReadFile;

// The dialog's control that screen readers know by name.
QWidget* Control(QWidget* dialog, const QString& name) {
  for (QWidget* child : dialog->findChildren<QWidget*>()) {
    if (child->accessibleName() == name) return child;
  }
  return nullptr;
}

// Puts value into the control of option name as a user would: typed text,
// a chosen item, or "true" / "false" for a check box.
void Set(QWidget* dialog, const QString& name, const QString& value) {
  QWidget* control = Control(dialog, name);
  QVERIFY2(control, qPrintable(name));
  if (auto* check = qobject_cast<QCheckBox*>(control)) {
    check->setChecked(value == QLatin1String("true"));
  } else if (auto* box = qobject_cast<QComboBox*>(control)) {
    if (box->isEditable()) {
      box->setEditText(value);
    } else {
      const int index = box->findText(value);
      QVERIFY2(index >= 0, qPrintable(name + ": " + value));
      box->setCurrentIndex(index);
    }
  } else {
    auto* edit = qobject_cast<QLineEdit*>(control);
    QVERIFY2(edit, qPrintable(name));
    edit->clear();
    QTest::keyClicks(edit, value);
  }
}

QString Shown(QWidget* dialog, const QString& name) {
  QWidget* control = Control(dialog, name);
  if (auto* check = qobject_cast<QCheckBox*>(control)) return check->isChecked() ? "true" : "false";
  if (auto* box = qobject_cast<QComboBox*>(control)) return box->currentText();
  return qobject_cast<QLineEdit*>(control)->text();
}

void PressOk(QDialog* dialog) {
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT

 public:
  explicit OptionsTest(QString root) : m_root(std::move(root)) {}

 private slots:
  void init() {
    QFile::remove(m_root + QStringLiteral("/config/varnelo-pelmora/varnelo-pelmora.conf"));
    m_database = std::make_unique<testdb::TestDatabase>(
        false,
        "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), AMOUNT NUMERIC(9,2), "
        "SEEN DATE);\n"
        "INSERT INTO CUSTOMER VALUES (7, 'Anna', 12.5, '2004-03-05');\n"
        "INSERT INTO CUSTOMER VALUES (8, NULL, NULL, NULL);\n");
    m_folder = m_database->Dir();
  }
  void cleanup() { m_database.reset(); }

  // Each value the command-line program refuses is refused here too, with a
  // message, and the dialog stays open; nothing of it takes effect.
  void wrongValuesKeepTheDialogOpen() {
    auto w = OpenWindow();
    const struct {
      const char* option;
      const char* value;
      std::string message;
    } cases[] = {
        {"delimiter", "ab", "The delimiter is , ; | or tab."},
        {"null", "a,b", "The NULL text may not hold the delimiter, a double quote or a line end."},
        {"max-refusals", "0",
         "The refused lines to stop after are a number of 1 or more, or none when empty."},
        {"max-refusals", "ten",
         "The refused lines to stop after are a number of 1 or more, or none when empty."},
        {"key", "ID", "A key names the columns an upsert matches; it needs the import mode upsert."},
        {"charset", "UTF-8",
         "A character set is named with letters, digits and underscores, such as UTF8, WIN1252, ISO8859_1 or "
         "NONE; leave it empty for the locale's."},
    };
    for (const auto& c : cases) {
      m_recorder = TMessageRecorder();
      QTest::mouseClick(w->btnOptions, Qt::LeftButton);
      TTransferOptionsDialog* dialog = w->OptionsDialog();
      QVERIFY(dialog);
      Set(dialog, c.option, c.value);
      PressOk(dialog);
      QCOMPARE(m_recorder.messages, std::vector<std::string>{c.message});
      QVERIFY2(dialog->isVisible(), c.option);
      dialog->reject();
      QTRY_VERIFY(!w->OptionsDialog());
      QCOMPARE(w->btnOptions->text(), QStringLiteral("&Options..."));
    }
  }

  // The options written by the dialog make the export's file, and the import
  // mode changes the table as it says.
  void optionsChangeTheFileAndTheImport() {
    auto w = OpenWindow();
    Connect(*w);
    ChooseOptions(*w, {{"delimiter", ";"}, {"null", "NULL"}, {"line-end", "lf"}, {"portable", "true"}});
    QCOMPARE(w->btnOptions->text(), QStringLiteral("&Options... (4)"));
    QVERIFY(w->btnOptions->fontMetrics().horizontalAdvance("Options... (4)") <= w->btnOptions->width() - 6);

    const std::string header = "ID;NAME;AMOUNT;SEEN\n";
    QCOMPARE(Export(*w), header + "7;Anna;12.5;2004-03-05\n8;NULL;NULL;NULL\n");

    // Line 3 has a null key: an upsert refuses it, the others update or add.
    std::ofstream(m_folder / "in.csv", std::ios::binary)
        << header << "7;Anne;NULL;2004-03-06\n9;New;1.25;NULL\nNULL;Nobody;1;NULL\n";
    ChooseOptions(*w, {{"mode", "upsert"}});
    std::vector<std::string> messages = Import(*w);
    QCOMPARE(messages.size(), std::size_t(2));
    QVERIFY2(messages[0].starts_with("Invalid data!\n\nLine 4: "), messages[0].c_str());
    QVERIFY2(messages[1].starts_with("2 records of table 'CUSTOMER' has been imported"), messages[1].c_str());
    const std::string upserted = header + "7;Anne;NULL;2004-03-06\n8;NULL;NULL;NULL\n9;New;1.25;NULL\n";
    QCOMPARE(Export(*w), upserted);

    // A dry run reports what it would have done and changes nothing.
    std::ofstream(m_folder / "in.csv", std::ios::binary) << header << "10;Ten;NULL;NULL\n";
    ChooseOptions(*w, {{"mode", "append"}, {"dry-run", "true"}});
    QCOMPARE(w->btnOptions->text(), QStringLiteral("&Options... (5)"));
    messages = Import(*w);
    QCOMPARE(messages.size(), std::size_t(1));
    QVERIFY2(messages[0].find("generators and identity columns may have advanced") != std::string::npos,
             messages[0].c_str());
    QCOMPARE(Export(*w), upserted);

    // Every value quoted and the file packed: out.csv is written as out.csv.gz,
    // and a replace reads it back into the same rows.
    ChooseOptions(*w, {{"dry-run", "false"}, {"quote", "all"}, {"compress", "gz"}});
    Export(*w);
    QVERIFY(ReadFile(m_folder / "out.csv.gz").starts_with("\x1f\x8b"));
    std::filesystem::rename(m_folder / "out.csv.gz", m_folder / "in.csv.gz");
    ChooseOptions(*w, {{"mode", "replace"}});
    messages = Import(*w);
    QVERIFY2(messages.back().starts_with("3 records"), messages.back().c_str());
    ChooseOptions(*w, {{"mode", "append"}, {"quote", "minimal"}, {"compress", ""}});
    QCOMPARE(Export(*w), upserted);
  }

  // What the dialog accepts comes back in the next window, as the button's
  // count and in the dialog; a value edited by hand into something the dialog
  // refuses is not taken.
  void acceptedOptionsAreRemembered() {
    const std::vector<std::pair<QString, QString>> chosen = {
        {"charset", "WIN1252"}, {"delimiter", "tab"}, {"no-header", "true"}, {"mode", "upsert"},
        {"key", "ID,NAME"},     {"atomic", "true"},   {"max-refusals", "12"}};
    {
      auto w = OpenWindow();
      ChooseOptions(*w, chosen);
      // Cancel forgets what was set.
      QTest::mouseClick(w->btnOptions, Qt::LeftButton);
      Set(w->OptionsDialog(), "delimiter", ";");
      w->OptionsDialog()->reject();
    }
    {
      auto w = OpenWindow();
      QCOMPARE(w->btnOptions->text(), QStringLiteral("&Options... (7)"));
      const TTransferRequest& request = w->TransferOptions().request;
      QCOMPARE(request.dialect.delimiter, '\t');
      QCOMPARE(request.keyColumns, (std::vector<std::string>{"ID", "NAME"}));
      QCOMPARE(request.maxRefusals, std::int64_t(12));
      QTest::mouseClick(w->btnOptions, Qt::LeftButton);
      for (const auto& [name, value] : chosen) QCOMPARE(Shown(w->OptionsDialog(), name), value);
      w->OptionsDialog()->reject();
    }
    QSettings settings(m_root + QStringLiteral("/config/varnelo-pelmora/varnelo-pelmora.conf"),
                       QSettings::IniFormat);
    settings.setValue("Options/delimiter", "::");
    settings.setValue("Options/max-refusals", "-3");
    settings.sync();
    auto w = OpenWindow();
    QCOMPARE(w->btnOptions->text(), QStringLiteral("&Options... (5)"));
    QCOMPARE(w->TransferOptions().request.dialect.delimiter, ',');
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

  void Connect(TfrmMain& w) {
    w.edtServerName->clear();
    w.edtDBFile->setText(QString::fromStdString(m_database->Path()));
    w.edtPassword->setText(QStringLiteral("any"));
    QTest::mouseClick(w.btnConnect, Qt::LeftButton);
    QVERIFY(w.scnDatabase.Connected());
    w.lbxTables->setCurrentRow(0);
    w.edtFolder->setText(QString::fromStdString(m_folder.string()));
  }

  void ChooseOptions(TfrmMain& w, const std::vector<std::pair<QString, QString>>& values) {
    m_recorder = TMessageRecorder();
    QTest::mouseClick(w.btnOptions, Qt::LeftButton);
    TTransferOptionsDialog* dialog = w.OptionsDialog();
    QVERIFY(dialog);
    for (const auto& [name, value] : values) Set(dialog, name, value);
    PressOk(dialog);
    QVERIFY2(m_recorder.messages.empty(), m_recorder.messages.empty() ? "" : m_recorder.messages[0].c_str());
    QTRY_VERIFY(!w.OptionsDialog());
  }

  std::string Export(TfrmMain& w) {
    w.edtFilename->setText(QStringLiteral("out.csv"));
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(!w.TransferRunning(), 20000); }();
    return ReadFile(m_folder / "out.csv");
  }

  // The messages the import showed, the count message last.
  std::vector<std::string> Import(TfrmMain& w) {
    m_recorder = TMessageRecorder();
    w.edtFilename->setText(QStringLiteral("in.csv"));
    QTest::mouseClick(w.btnImport, Qt::LeftButton);
    [&] { QTRY_VERIFY_WITH_TIMEOUT(!w.TransferRunning(), 20000); }();
    return m_recorder.messages;
  }

  QString m_root;
  std::unique_ptr<testdb::TestDatabase> m_database;
  std::filesystem::path m_folder;
  TMessageRecorder m_recorder;
};

int main(int argc, char** argv) { return RunInOwnHome<OptionsTest>(argc, argv); }

#include "options_test.moc"
