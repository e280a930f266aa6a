// The browse dialogs driven as a user would: open, act, close, and what each
// hands back; the folder dialog's layout and folder creation.
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "controls/computer_name_dialog.h"
#include "controls/open_dialog.h"
#include "controls/select_directory.h"
#include "base/exceptions.h"

namespace {

// Runs `act` on the modal dialog of type D once it shows (while the caller
// sits in its RunDialog). Whatever `act` leaves open is rejected, so that a
// failed check cannot leave the test waiting.
template <typename D>
void WhenShown(std::function<void(D*)> act, bool* reached = nullptr) {
  QTimer::singleShot(0, qApp, [act, reached] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<D*>(modal);
    if (dialog) {
      if (reached) *reached = true;
      act(dialog);
    }
    if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget()); open && open->isVisible())
      open->reject();
  });
}

void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

void Write(const QString& path) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("x");
}

// A window-level click, which goes through the toolkit's modality check.
bool ClickReaches(QWidget* window, QPushButton* button) {
  int clicks = 0;
  const auto connection = QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                    button->mapTo(window, button->rect().center()));
  QObject::disconnect(connection);
  return clicks > 0;
}

// The file dialog's view that is on show (the list or the detail view).
QAbstractItemView* FileView(QFileDialog* dialog) {
  auto* list = dialog->findChild<QAbstractItemView*>("listView");
  return list && list->isVisible() ? list : dialog->findChild<QAbstractItemView*>("treeView");
}

QStringList ShownNames(QAbstractItemView* view) {
  QStringList names;
  const QModelIndex root = view->rootIndex();
  for (int row = 0; row < view->model()->rowCount(root); ++row)
    names << view->model()->index(row, 0, root).data().toString();
  names.sort(Qt::CaseInsensitive);
  return names;
}

}  // namespace

class BrowseDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void ComputerNamesComeFromThisComputerAndTheHostsFile();
  void ComputerIsPickedFromTheListOrTyped();
  void CancelledComputerChoiceKeepsTheLastName();

  void FilterMatchesFirebirdFilesInAnyCase();
  void OpenDialogReturnsTheFullPath();
  void TypedNameGetsTheDefaultExtension();
  void OpenDialogStartsFromTheLastFileAndCancelKeepsIt();

  void FolderDialogLayout();
  void FolderDialogLayoutWithHelpAndWithoutCreating();
  void FolderListMovesAndTheNameBoxFollows();
  void ConfirmedWithoutMovingGivesTheCurrentFolder();
  void NewPathIsCreatedAfterYes();
  void NoKeepsTheDialogOpenWithTheTypedText();
  void EmptyNameRaisesAfterYes();
  void CancelLeavesTheInitialFolder();
  void CreateQuestionBox();
  void ForceDirectoriesCreatesEveryMissingLevel();

  void MainWindowIsBlockedWhileADialogIsOpen_data();
  void MainWindowIsBlockedWhileADialogIsOpen();

 private:
  QString m_savedCwd;
  std::unique_ptr<QTemporaryDir> m_tmp;
  QString m_root;  // the temporary folder, as the process sees it after cd
};

void BrowseDialogsTest::init() {
  m_savedCwd = QDir::currentPath();
  m_tmp = std::make_unique<QTemporaryDir>();
  QVERIFY(m_tmp->isValid());
  QVERIFY(QDir::setCurrent(m_tmp->path()));
  m_root = QDir::currentPath();
}

void BrowseDialogsTest::cleanup() {
  QDir::setCurrent(m_savedCwd);
  m_tmp.reset();
}

void BrowseDialogsTest::ComputerNamesComeFromThisComputerAndTheHostsFile() {
  const QString hosts = m_root + "/hosts";
  QFile file(hosts);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(
      "127.0.0.1\tlocalhost\n"
      "# 10.1.1.1 commented\n"
      "10.0.0.5   dbserver db  # the database\n"
      "\n"
      "::1 ip6-localhost DBSERVER\n");
  file.close();
  const QStringList names = TComputerNameDialog::ComputerNames(hosts);
  QCOMPARE(names, (QStringList{QSysInfo::machineHostName(), "localhost", "dbserver", "db", "ip6-localhost"}));
  // Without a hosts file: this computer's names only.
  QCOMPARE(TComputerNameDialog::ComputerNames(m_root + "/none"),
           (QStringList{QSysInfo::machineHostName(), "localhost"}));
}

void BrowseDialogsTest::ComputerIsPickedFromTheListOrTyped() {
  const QString hosts = m_root + "/hosts";
  QFile file(hosts);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("10.0.0.5 dbserver\n");
  file.close();
  QWidget owner;
  TComputerNameDialog chooser(&owner);
  chooser.SetCaption("Browse Server");
  chooser.SetHostsFile(hosts);

  bool reached = false;
  WhenShown<TComputerNameDlg>(
      [](TComputerNameDlg* dialog) {
        QCOMPARE(dialog->windowTitle(), QString("Browse Server"));
        QVERIFY(!dialog->OkButton()->isEnabled());  // nothing chosen yet
        QListWidget* list = dialog->ComputerList();
        const QList<QListWidgetItem*> items = list->findItems("dbserver", Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items[0]).center());
        QCOMPARE(dialog->NameEdit()->text(), QString("dbserver"));
        Click(dialog->OkButton());
      },
      &reached);
  QVERIFY(chooser.RunDialog());
  QVERIFY(reached);
  QCOMPARE(chooser.ChosenComputer(), QString("dbserver"));

  WhenShown<TComputerNameDlg>([](TComputerNameDlg* dialog) {
    QTest::keyClicks(dialog->NameEdit(), "  fbhost ");
    QTest::keyClick(dialog->NameEdit(), Qt::Key_Return);
  });
  QVERIFY(chooser.RunDialog());
  QCOMPARE(chooser.ChosenComputer(), QString("fbhost"));

  WhenShown<TComputerNameDlg>([](TComputerNameDlg* dialog) {
    QListWidget* list = dialog->ComputerList();
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
  });
  QVERIFY(chooser.RunDialog());
  QCOMPARE(chooser.ChosenComputer(), QString("localhost"));
}

void BrowseDialogsTest::CancelledComputerChoiceKeepsTheLastName() {
  QWidget owner;
  TComputerNameDialog chooser(&owner);
  WhenShown<TComputerNameDlg>([](TComputerNameDlg* dialog) {
    QTest::keyClicks(dialog->NameEdit(), "first");
    Click(dialog->OkButton());
  });
  QVERIFY(chooser.RunDialog());
  WhenShown<TComputerNameDlg>([](TComputerNameDlg* dialog) {
    QTest::keyClicks(dialog->NameEdit(), "second");
    Click(dialog->CancelButton());
  });
  QVERIFY(!chooser.RunDialog());
  QCOMPARE(chooser.ChosenComputer(), QString("first"));
  WhenShown<TComputerNameDlg>([](TComputerNameDlg* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
  QVERIFY(!chooser.RunDialog());
  QCOMPARE(chooser.ChosenComputer(), QString("first"));
}

void BrowseDialogsTest::FilterMatchesFirebirdFilesInAnyCase() {
  QCOMPARE(TOpenDialog::NameFilters("Firebird database (*.GDB)|*.GDB"),
           QStringList{"Firebird database (*.GDB) (*.GDB *.FDB)"});
  QCOMPARE(TOpenDialog::NameFilters("Text (*.txt)|*.txt;*.csv|All|*.*"),
           (QStringList{"Text (*.txt) (*.txt *.csv)", "All (*.*)"}));

  for (const char* name : {"a.gdb", "b.FDB", "C.GdB", "d.fdb", "notes.txt", "gdb"})
    Write(m_root + "/" + name);
  QVERIFY(QDir(m_root).mkdir("sub"));
  QWidget owner;
  TOpenDialog open(&owner);
  open.SetFilter("Firebird database (*.GDB)|*.GDB");
  open.SetDefaultExt("GDB");
  bool reached = false;
  WhenShown<QFileDialog>(
      [](QFileDialog* dialog) {
        QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
        QAbstractItemView* view = FileView(dialog);
        QVERIFY(view && view->isVisible());
        const QStringList expected{"a.gdb", "b.FDB", "C.GdB", "d.fdb", "sub"};
        QTRY_COMPARE(ShownNames(view), expected);
        // The filter box shows the description alone.
        auto* filterBox = dialog->findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(filterBox);
        QCOMPARE(filterBox->currentText(), QString("Firebird database (*.GDB)"));
      },
      &reached);
  QVERIFY(!open.RunDialog());
  QVERIFY(reached);
}

void BrowseDialogsTest::OpenDialogReturnsTheFullPath() {
  QVERIFY(QDir(m_root).mkpath("data"));
  const QString folder = m_root + "/data";
  Write(folder + "/a.gdb");
  Write(folder + "/b.FDB");
  QWidget owner;
  TOpenDialog open(&owner);
  open.SetFilter("Firebird database (*.GDB)|*.GDB");
  open.SetDefaultExt("GDB");
  open.SetInitialDir(folder);
  WhenShown<QFileDialog>([](QFileDialog* dialog) {
    QAbstractItemView* view = FileView(dialog);
    QTRY_COMPARE(ShownNames(view), (QStringList{"a.gdb", "b.FDB"}));
    const QModelIndex root = view->rootIndex();
    QModelIndex target;
    for (int row = 0; row < view->model()->rowCount(root); ++row)
      if (view->model()->index(row, 0, root).data().toString() == "b.FDB")
        target = view->model()->index(row, 0, root);
    QTRY_COMPARE(view->indexAt(view->visualRect(target).center()), target);  // laid out
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(target).center());
    QCOMPARE(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), QString("b.FDB"));
    Click(dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open));
  });
  QVERIFY(open.RunDialog());
  QCOMPARE(open.FileName(), folder + "/b.FDB");
  QCOMPARE(open.FilterIndex(), 1);
}

void BrowseDialogsTest::TypedNameGetsTheDefaultExtension() {
  QWidget owner;
  TOpenDialog open(&owner);
  open.SetFilter("Firebird database (*.GDB)|*.GDB");
  open.SetDefaultExt("GDB");
  struct Case {
    const char* typed;
    QString expected;
  };
  for (const Case& c : {Case{"newdb", m_root + "/newdb.GDB"}, Case{"old.fdb", m_root + "/old.fdb"}}) {
    WhenShown<QFileDialog>([&c](QFileDialog* dialog) {
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      name->clear();
      QTest::keyClicks(name, c.typed);
      Click(dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open));
    });
    QVERIFY2(open.RunDialog(), c.typed);
    QCOMPARE(open.FileName(), c.expected);
    open.SetFileName("");
  }
}

void BrowseDialogsTest::OpenDialogStartsFromTheLastFileAndCancelKeepsIt() {
  QVERIFY(QDir(m_root).mkpath("data"));
  const QString file = m_root + "/data/db.gdb";
  Write(file);
  QWidget owner;
  TOpenDialog open(&owner);
  open.SetFilter("Firebird database (*.GDB)|*.GDB");
  open.SetFileName(file);
  bool reached = false;
  WhenShown<QFileDialog>(
      [&](QFileDialog* dialog) {
        QCOMPARE(dialog->directory().absolutePath(), m_root + "/data");
        QCOMPARE(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), QString("db.gdb"));
        QTest::keyClicks(dialog->findChild<QLineEdit*>("fileNameEdit"), "x");
        Click(dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Cancel));
      },
      &reached);
  QVERIFY(!open.RunDialog());
  QVERIFY(reached);
  QCOMPARE(open.FileName(), file);
}

void BrowseDialogsTest::FolderDialogLayout() {
  TSelectDirDlg dialog(nullptr, sdAllowCreate | sdPerformCreate | sdPrompt);
  QCOMPARE(dialog.windowTitle(), QString("Select Directory"));
  QCOMPARE(dialog.size(), QSize(424, 255));
  QCOMPARE(dialog.minimumSize(), dialog.maximumSize());  // a dialog border: no resizing

  struct Control {
    QWidget* widget;
    QRect bounds;
    QString text;
    bool shown;
  };
  const auto textOf = [](QWidget* w) -> QString {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
    return {};
  };
  const Control controls[] = {
      {dialog.NameLabel(), {8, 8, 92, 13}, "Directory &Name:", true},
      {dialog.NameEdit(), {8, 24, 313, 20}, "", true},
      {dialog.PathLabel(), {8, 24, 313, 20}, dialog.PathLabel()->text(), false},
      {dialog.DirectoriesLabel(), {8, 56, 66, 13}, "&Directories:", true},
      {dialog.DirectoryList(), {8, 72, 213, 138}, "", true},
      {dialog.FilesLabel(), {232, 56, 57, 13}, "&Files: (*.*)", true},
      {dialog.FileList(), {232, 72, 185, 93}, "", true},
      {dialog.DrivesLabel(), {232, 176, 41, 13}, "D&rives:", true},
      {dialog.DriveCombo(), {232, 192, 185, 19}, "", true},
      {dialog.NetworkButton(), {8, 224, 77, 27}, "Ne&twork...", false},
      {dialog.OkButton(), {256, 224, 77, 27}, "OK", true},
      {dialog.CancelButton(), {340, 224, 77, 27}, "Cancel", true},
      {dialog.HelpButton(), {340, 224, 77, 27}, "&Help", false},
  };
  for (const Control& c : controls) {
    const QRect g = c.widget->geometry();
    QCOMPARE(g.topLeft(), c.bounds.topLeft());
    if (qobject_cast<QLabel*>(c.widget)) {
      // Labels may grow to their text, never shrink below it.
      QVERIFY(g.width() >= c.bounds.width() && g.width() >= c.widget->sizeHint().width());
    } else {
      QCOMPARE(g.size(), c.bounds.size());
    }
    QCOMPARE(textOf(c.widget), c.text);
    QCOMPARE(!c.widget->isHidden(), c.shown);
  }
  QVERIFY(dialog.OkButton()->isDefault());
  QCOMPARE(dialog.NameLabel()->buddy(), dialog.NameEdit());
  QCOMPARE(dialog.DirectoriesLabel()->buddy(), dialog.DirectoryList());
  QCOMPARE(dialog.FilesLabel()->buddy(), dialog.FileList());
  QCOMPARE(dialog.DrivesLabel()->buddy(), dialog.DriveCombo());

  const QList<QWidget*> order{dialog.DirectoryList(), dialog.NameEdit(),  dialog.DriveCombo(),
                              dialog.NetworkButton(), dialog.OkButton(),  dialog.CancelButton(),
                              dialog.FileList(),      dialog.HelpButton()};
  QList<QWidget*> chain;
  QWidget* w = dialog.DirectoryList();
  do {
    if (order.contains(w)) chain << w;
    w = w->nextInFocusChain();
  } while (w != dialog.DirectoryList());
  QCOMPARE(chain, order);

  // The directory list is where the dialog opens.
  dialog.show();
  QVERIFY(QTest::qWaitForWindowActive(&dialog));
  QCOMPARE(QApplication::focusWidget(), dialog.DirectoryList());
}

void BrowseDialogsTest::FolderDialogLayoutWithHelpAndWithoutCreating() {
  TSelectDirDlg dialog(nullptr, sdPrompt, 7);
  QVERIFY(!dialog.HelpButton()->isHidden());
  QCOMPARE(dialog.OkButton()->geometry(), QRect(172, 224, 77, 27));
  QCOMPARE(dialog.CancelButton()->geometry(), QRect(256, 224, 77, 27));
  QCOMPARE(dialog.HelpButton()->geometry(), QRect(340, 224, 77, 27));
  QVERIFY(dialog.NameEdit()->isHidden());
  QVERIFY(!dialog.PathLabel()->isHidden());
  QCOMPARE(dialog.PathLabel()->text(), m_root);
  QCOMPARE(dialog.ChosenDirectory(), m_root);
}

void BrowseDialogsTest::FolderListMovesAndTheNameBoxFollows() {
  QDir root(m_root);
  QVERIFY(root.mkpath("alpha/inner"));
  QVERIFY(root.mkpath("beta"));
  Write(m_root + "/one.txt");
  Write(m_root + "/.hidden");
  Write(m_root + "/alpha/two.csv");

  TSelectDirDlg dialog(nullptr, sdAllowCreate | sdPerformCreate | sdPrompt);
  TDirectoryListBox* list = dialog.DirectoryList();
  QCOMPARE(dialog.Directory(), m_root);
  QCOMPARE(dialog.NameEdit()->text(), m_root);
  QCOMPARE(dialog.NameEdit()->selectedText(), m_root);
  QCOMPARE(dialog.FileList()->count(), 1);
  QCOMPARE(dialog.FileList()->item(0)->text(), QString("one.txt"));
  QCOMPARE(dialog.FileList()->palette().color(QPalette::Text),
           dialog.FileList()->palette().color(QPalette::Disabled, QPalette::Text));
  QCOMPARE(dialog.DriveCombo()->currentData().toString(), QStorageInfo(m_root).rootPath());
  // The chain from the root down, then the subfolders.
  QVERIFY(list->ItemOf("/"));
  QVERIFY(list->ItemOf(m_root + "/alpha"));
  QVERIFY(list->ItemOf(m_root + "/beta"));
  QVERIFY(!list->ItemOf(m_root + "/alpha/inner"));
  QCOMPARE(list->currentItem(), list->ItemOf(m_root));

  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  // A double-click: the first click, then the second.
  const QPoint alpha = list->visualItemRect(list->ItemOf(m_root + "/alpha")).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, alpha);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, alpha);
  QTRY_COMPARE(dialog.Directory(), m_root + "/alpha");
  QCOMPARE(dialog.NameEdit()->text(), m_root + "/alpha");
  QCOMPARE(dialog.NameEdit()->selectedText(), m_root + "/alpha");
  QCOMPARE(dialog.FileList()->item(0)->text(), QString("two.csv"));
  QVERIFY(list->ItemOf(m_root + "/alpha/inner"));

  // Enter on the parent's entry goes back up and does not close the dialog.
  list->setFocus();
  list->setCurrentItem(list->ItemOf(m_root));
  QTest::keyClick(list, Qt::Key_Return);
  QTRY_COMPARE(dialog.Directory(), m_root);
  QVERIFY(dialog.isVisible());

  // A drive moves the list to its root.
  QComboBox* drives = dialog.DriveCombo();
  const int rootDrive = drives->findData("/");
  if (rootDrive >= 0) {
    emit drives->activated(rootDrive);
    QCOMPARE(dialog.Directory(), QString("/"));
    QCOMPARE(dialog.NameEdit()->text(), QString("/"));
  }
  // The user may type anything into the name box.
  dialog.NameEdit()->setFocus();
  QTest::keyClicks(dialog.NameEdit(), "typed");
  QCOMPARE(dialog.ChosenDirectory(), QString("typed"));
}

void BrowseDialogsTest::ConfirmedWithoutMovingGivesTheCurrentFolder() {
  QWidget owner;
  TSelectDirectory select(&owner);
  int questions = 0;
  select.SetConfirm([&](QWidget*, const QString&) { return ++questions, true; });
  WhenShown<TSelectDirDlg>([](TSelectDirDlg* dialog) { Click(dialog->OkButton()); });
  QVERIFY(select.RunDialog());
  QCOMPARE(select.Directory(), m_root);
  QCOMPARE(questions, 0);
  // Enter in the name box confirms as well.
  WhenShown<TSelectDirDlg>(
      [](TSelectDirDlg* dialog) { QTest::keyClick(dialog->NameEdit(), Qt::Key_Return); });
  QVERIFY(select.RunDialog());
  QCOMPARE(select.Directory(), m_root);
}

void BrowseDialogsTest::NewPathIsCreatedAfterYes() {
  QWidget owner;
  TSelectDirectory select(&owner);
  QStringList questions;
  select.SetConfirm([&](QWidget*, const QString& question) { return questions << question, true; });
  const QString typed = m_root + "/a/b/c";
  WhenShown<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
    QTest::keyClicks(dialog->NameEdit(), typed);  // replaces the selected text
    Click(dialog->OkButton());
  });
  QVERIFY(select.RunDialog());
  QCOMPARE(questions, QStringList{"The specified directory does not exist. Create it?"});
  QCOMPARE(select.Directory(), typed);
  QVERIFY(QFileInfo(typed).isDir());
}

void BrowseDialogsTest::NoKeepsTheDialogOpenWithTheTypedText() {
  QWidget owner;
  TSelectDirectory select(&owner);
  int questions = 0;
  select.SetConfirm([&](QWidget*, const QString&) { return ++questions, false; });
  const QString typed = m_root + "/not/yet";
  bool stayedOpen = false;
  WhenShown<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
    QTest::keyClicks(dialog->NameEdit(), typed);
    Click(dialog->OkButton());
    stayedOpen = dialog->isVisible() && dialog->NameEdit()->text() == typed;
    Click(dialog->CancelButton());
  });
  QVERIFY(!select.RunDialog());
  QCOMPARE(questions, 1);
  QVERIFY(stayedOpen);
  QCOMPARE(select.Directory(), QString());
  QVERIFY(!QFileInfo::exists(m_root + "/not"));
}

void BrowseDialogsTest::EmptyNameRaisesAfterYes() {
  QWidget owner;
  TSelectDirectory select(&owner);
  select.SetConfirm([](QWidget*, const QString&) { return true; });
  WhenShown<TSelectDirDlg>([](TSelectDirDlg* dialog) {
    dialog->NameEdit()->setFocus();
    QTest::keyClick(dialog->NameEdit(), Qt::Key_Delete);
    QCOMPARE(dialog->NameEdit()->text(), QString());
    Click(dialog->OkButton());
  });
  try {
    select.RunDialog();
    QFAIL("no error");
  } catch (const EInOutError& e) {
    QCOMPARE(QString(e.what()), QString("Unable to create directory"));
  }
}

void BrowseDialogsTest::CancelLeavesTheInitialFolder() {
  QVERIFY(QDir(m_root).mkpath("start"));
  QWidget owner;
  TSelectDirectory select(&owner);
  select.SetInitialDir(m_root + "/start");
  QString shown;
  WhenShown<TSelectDirDlg>([&](TSelectDirDlg* dialog) {
    shown = dialog->Directory();
    QTest::keyClicks(dialog->NameEdit(), "/elsewhere");
    QTest::keyClick(dialog, Qt::Key_Escape);
  });
  QVERIFY(!select.RunDialog());
  QCOMPARE(shown, m_root + "/start");
  QCOMPARE(select.Directory(), m_root + "/start");
}

void BrowseDialogsTest::CreateQuestionBox() {
  QWidget owner;
  for (const QString answer : {"&No", "&Yes"}) {
    bool checked = false;
    QTimer::singleShot(0, qApp, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      checked = box->windowTitle() == "Confirm" && box->icon() == QMessageBox::Question &&
                box->text() == "The specified directory does not exist. Create it?";
      QStringList texts;
      for (QAbstractButton* b : box->buttons()) texts << b->text();
      texts.sort();
      checked = checked && texts == QStringList{"&No", "&Yes"};
      for (QAbstractButton* b : box->buttons())
        if (b->text() == answer) Click(b);
    });
    const bool yes = TSelectDirDlg::AskToCreate(&owner, "The specified directory does not exist. Create it?");
    QVERIFY(checked);
    QCOMPARE(yes, answer == "&Yes");
  }
}

void BrowseDialogsTest::ForceDirectoriesCreatesEveryMissingLevel() {
  Write(m_root + "/file");
  struct Case {
    QString path;
    QString mustExist;
  };
  const Case cases[] = {
      {m_root + "/x/y/z", m_root + "/x/y/z"},
      {m_root + "/t/", m_root + "/t"},
      {"ab/c", m_root + "/ab/c"},  // short relative names are created too
      {"q", m_root + "/q"},
      {m_root + "/x", m_root + "/x"},  // exists already
  };
  for (const Case& c : cases) {
    ForceDirectories(c.path);
    QVERIFY2(QFileInfo(c.mustExist).isDir(), qPrintable(c.path));
  }
  // What cannot be created is left for the next user of the folder to report.
  ForceDirectories(m_root + "/file/sub");
  QVERIFY(!QFileInfo::exists(m_root + "/file/sub"));
  try {
    ForceDirectories("");
    QFAIL("no error");
  } catch (const EInOutError& e) {
    QCOMPARE(QString(e.what()), QString("Unable to create directory"));
  }
}

void BrowseDialogsTest::MainWindowIsBlockedWhileADialogIsOpen_data() {
  QTest::addColumn<QString>("which");
  QTest::newRow("computer") << "computer";
  QTest::newRow("file") << "file";
  QTest::newRow("folder") << "folder";
}

void BrowseDialogsTest::MainWindowIsBlockedWhileADialogIsOpen() {
  QFETCH(QString, which);
  QWidget window;
  window.resize(300, 200);
  auto* button = new QPushButton("Exit", &window);
  button->setGeometry(10, 10, 80, 25);
  auto* inner = new QWidget(&window);  // the dialogs' owner sits inside the window
  inner->setGeometry(100, 100, 50, 50);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(ClickReaches(&window, button));

  bool blocked = false;
  bool reached = false;
  const auto check = [&](QDialog* dialog) {
    reached = true;
    blocked = QApplication::activeModalWidget() == dialog && dialog->parentWidget() == &window &&
              !ClickReaches(&window, button);
    dialog->reject();
  };
  if (which == "computer") {
    TComputerNameDialog chooser(inner);
    WhenShown<TComputerNameDlg>(check);
    chooser.RunDialog();
  } else if (which == "file") {
    TOpenDialog open(inner);
    WhenShown<QFileDialog>(check);
    open.RunDialog();
  } else {
    TSelectDirectory select(inner);
    WhenShown<TSelectDirDlg>(check);
    select.RunDialog();
  }
  QVERIFY(reached);
  QVERIFY(blocked);
  QVERIFY(window.isEnabled());
  QVERIFY(ClickReaches(&window, button));
}

QTEST_MAIN(BrowseDialogsTest)
#include "browse_dialogs_test.moc"
