// Starts the program: answers --help and --version, or reads the user's
// locale, shows the main window and runs until the window closes.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/locale_watcher.h"
#include "app/main_window.h"
#include "db/locale_formats.h"

namespace {

QtMessageHandler g_qtMessages = nullptr;

// While QApplication starts: Qt's fatal message for a display it cannot open
// (after its warning that says which) ends the program with status 1 rather
// than an abort.
void EndWithoutWindow(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    g_qtMessages(type, context, message);
    return;
  }
  std::fputs(
      "varnelo-pelmora: the window cannot be opened on this display (varnelo-pelmora-cli needs none)\n",
      stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Before QApplication, which needs a display.
  if (const auto status = AnswerCommandLine(argc, argv, stdout)) return *status;
  if (const auto status = RefuseWithoutDisplay(argc, argv, stderr)) return *status;
  g_qtMessages = qInstallMessageHandler(EndWithoutWindow);
  QApplication application(argc, argv);
  qInstallMessageHandler(g_qtMessages);
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
