// The number and date formats are read again when the locale changes.
#include "app/locale_watcher.h"

#include <QWidget>
#include <QtTest>

#include "db/locale_formats.h"

class LocaleWatcherTest : public QObject {
  Q_OBJECT

 private slots:
  void readAgainOnTheApplicationsNotice() {
    TLocaleWatcher watcher;
    qApp->installEventFilter(&watcher);
    QWidget widget;

    // A widget's own notice (one for each widget) does not read the locale.
    LocaleFormats().DecimalSeparator = '#';
    QEvent widgetNotice(QEvent::LocaleChange);
    QCoreApplication::sendEvent(&widget, &widgetNotice);
    QCOMPARE(LocaleFormats().DecimalSeparator, '#');

    QEvent notice(QEvent::LocaleChange);
    QCoreApplication::sendEvent(qApp, &notice);
    QVERIFY(LocaleFormats().DecimalSeparator != '#');
    qApp->removeEventFilter(&watcher);
  }
};

QTEST_MAIN(LocaleWatcherTest)
#include "locale_watcher_test.moc"
