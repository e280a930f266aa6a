// Starts the program: answers --help and --version, or reads the user's
// locale, shows the main window and runs until the window closes.
#include <QApplication>
#include <cstdio>

#include "app/command_line.h"
#include "app/locale_watcher.h"
#include "app/main_window.h"
#include "db/locale_formats.h"

int main(int argc, char** argv) {
  // Before QApplication, which needs a display.
  if (const auto status = AnswerCommandLine(argc, argv, stdout)) return *status;
  QApplication application(argc, argv);
  SetUpProcessLocale(TFormatsSource::fsUserLocale);
  // The title of the task bar button and of every message box. (A display
  // name would be appended to the captions of the other windows.)
  QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
  TLocaleWatcher localeWatcher;
  application.installEventFilter(&localeWatcher);

  TfrmMain frmMain;
  frmMain.RememberIn(TfrmMain::UserSettings());
  frmMain.show();
  return application.exec();
}
