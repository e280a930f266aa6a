// Starts the program: reads the user's locale, shows the main window and runs
// until the window closes.
#include <QApplication>
#include <clocale>

#include "app/locale_watcher.h"
#include "app/main_window.h"
#include "db/locale_formats.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  LoadLocaleFormats();

  QApplication application(argc, argv);
  // The user's number formats are in LocaleFormats now; the C library's own
  // number texts stay in the C locale, which the embedded engine, running in
  // this process, relies on.
  std::setlocale(LC_NUMERIC, "C");
  // The title of the task bar button and of every message box. (A display
  // name would be appended to the captions of the other windows.)
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  TLocaleWatcher localeWatcher;
  application.installEventFilter(&localeWatcher);

  TfrmMain frmMain;
  frmMain.show();
  return application.exec();
}
