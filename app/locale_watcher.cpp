#include "app/locale_watcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <clocale>

#include "db/locale_formats.h"

bool TLocaleWatcher::eventFilter(QObject* watched, QEvent* event) {
  // Every widget receives its own LocaleChange as well; the application's one
  // is the single notice that the system's locale changed.
  if (event->type() == QEvent::LocaleChange && watched == QCoreApplication::instance()) {
    std::setlocale(LC_ALL, "");
    LoadLocaleFormats();
    std::setlocale(LC_NUMERIC, "C");
  }
  return QObject::eventFilter(watched, event);
}
