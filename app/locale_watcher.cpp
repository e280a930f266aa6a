#include "app/locale_watcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include "app/transfer_runner.h"
#include "db/locale_formats.h"

void TLocaleWatcher::Reload() {
  // A transfer reads the formats on its own thread: they change only
  // between transfers.
  if (TTransferRunner::AnyRunning()) {
    if (!m_reloadPending) QTimer::singleShot(200, this, [this] {
      m_reloadPending = false;
      Reload();
    });
    m_reloadPending = true;
    return;
  }
  SetUpProcessLocale(TFormatsSource::fsUserLocale);
}

bool TLocaleWatcher::eventFilter(QObject* watched, QEvent* event) {
  // Every widget receives its own LocaleChange as well; the application's one
  // is the single notice that the system's locale changed.
  if (event->type() == QEvent::LocaleChange && watched == QCoreApplication::instance()) Reload();
  return QObject::eventFilter(watched, event);
}
