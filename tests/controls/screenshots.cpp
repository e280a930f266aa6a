// Shows each of the controls and dialogs as a user sees them and saves a
// picture of each into the folder given as the argument, to be looked at.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "controls/computer_name_dialog.h"
#include "controls/hyperlink_label.h"
#include "controls/open_dialog.h"
#include "controls/select_directory.h"
#include "controls/special_progress.h"

namespace {

QString g_folder;

void Save(QWidget* w, const QString& name) {
  const QString path = g_folder + "/" + name + ".png";
  w->grab().save(path);
  qInfo("%s", qPrintable(path));
}

// Saves the modal dialog once it shows, after `prepare`, then closes it.
void SaveWhenShown(const QString& name, std::function<void(QWidget*)> prepare = {}) {
  QTimer::singleShot(300, qApp, [name, prepare] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (prepare) prepare(modal);
    QTimer::singleShot(300, qApp, [name] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      Save(modal, name);
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    });
  });
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Varnelo Pelmora");
  QApplication::setFont(QFont("Liberation Sans", 8));
  g_folder = argc > 1 ? argv[1] : QDir::currentPath();
  QDir().mkpath(g_folder);

  // A window with the bar and the link placed as the main window places them.
  QWidget window;
  window.resize(718, 330);
  auto* bar = new TSpecialProgress(&window);
  bar->BeginLoading();
  bar->setGeometry(0, 272, 705, 23);
  bar->SetBorderStyle(bsSingle);
  bar->SetSolid(true);
  bar->SetEndColor(10053120);
  bar->EndLoading();
  bar->SetPosition(60);
  auto* blocks = new TSpecialProgress(&window);
  blocks->setGeometry(8, 240, 150, 15);
  blocks->SetGradientBlocks(true);
  blocks->SetTextOption(toPercent);
  blocks->SetTextCentered(true);
  blocks->SetPosition(70);
  auto* panel = new QFrame(&window);
  panel->setGeometry(392, 104, 313, 161);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  panel->setPalette(white);
  auto* link = new THyperlinkLabel(panel);
  link->SetCaption("www.varnelo-pelmora.example");
  link->SetFontColor(clRed);
  link->move(16, 40);
  window.show();
  QTimer::singleShot(300, &app, [&] { Save(&window, "controls"); });

  QTimer::singleShot(600, &app, [&] {
    TComputerNameDialog chooser(&window);
    chooser.SetCaption("Browse Server");
    SaveWhenShown("computer-dialog");
    chooser.RunDialog();

    TOpenDialog open(&window);
    open.SetFilter("Firebird database (*.GDB)|*.GDB");
    open.SetDefaultExt("GDB");
    SaveWhenShown("open-dialog");
    open.RunDialog();

    TSelectDirectory select(&window);
    SaveWhenShown("folder-dialog");
    select.RunDialog();

    TSelectDirectory create(&window);
    SaveWhenShown("folder-dialog-confirm", [](QWidget* dialog) {
      auto* folders = qobject_cast<TSelectDirDlg*>(dialog);
      folders->NameEdit()->setText("/tmp/not/there/yet");
      // The question box opens inside; picture it, then answer No.
      QTimer::singleShot(300, qApp, [] {
        QWidget* box = QApplication::activeModalWidget();
        Save(box, "confirm-box");
        if (auto* message = qobject_cast<QMessageBox*>(box)) message->reject();
      });
      QTimer::singleShot(0, folders->OkButton(), &QPushButton::click);
    });
    create.RunDialog();
    app.quit();
  });
  return app.exec();
}
