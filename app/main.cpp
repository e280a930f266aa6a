// Starts the program: reads the user's locale, shows the main window and runs
// until the window closes.
#include <QApplication>

#include "app/locale_watcher.h"
#include "app/main_window.h"
#include "db/locale_formats.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  SetUpProcessLocale(TFormatsSource::fsUserLocale);
  // The title of the task bar button and of every message box. (A display
  // name would be appended to the captions of the other windows.)
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  TLocaleWatcher localeWatcher;
  application.installEventFilter(&localeWatcher);

  TfrmMain frmMain;
  frmMain.show();
  return application.exec();
}
