// Keeps the number and date formats in step with the user's locale while the
// program runs.
#pragma once

#include <QObject>

// Installed as an event filter on the application: when the application is
// told that the locale changed, the C library's locale is taken from the
// environment again and the formats are read anew (once no transfer runs).
class TLocaleWatcher : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Reload();
  bool m_reloadPending = false;
};
