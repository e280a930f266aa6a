#include "controls/open_dialog.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>

TOpenDialog::TOpenDialog(QWidget* owner) : QObject(owner), m_owner(owner) {}

QStringList TOpenDialog::NameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns << pattern.trimmed();
      if (pattern.trimmed().compare(QLatin1String("*.gdb"), Qt::CaseInsensitive) == 0)
        patterns << QStringLiteral("*.FDB");
    }
    // The dialog shows the text before the last parentheses (its details are
    // hidden) and matches the patterns inside them.
    result << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

bool TOpenDialog::RunDialog() {
  QWidget* ownerWindow = m_owner ? m_owner->window() : nullptr;
  QFileDialog dialog(ownerWindow, tr("Open"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix(m_defaultExt);
  const QStringList filters = NameFilters(m_filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(m_filterIndex - 1, filters.first()));
  }
  if (!m_initialDir.isEmpty()) dialog.setDirectory(m_initialDir);
  if (!m_fileName.isEmpty()) dialog.selectFile(m_fileName);

  // Centred across, a third of the free height down.
  QScreen* screen = ownerWindow ? ownerWindow->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    const QSize size = dialog.size();
    dialog.move(area.left() + (area.width() - size.width()) / 2,
                area.top() + (area.height() - size.height()) / 3);
  }

  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  m_fileName = dialog.selectedFiles().first();
  const qsizetype index = filters.indexOf(dialog.selectedNameFilter());
  if (index >= 0) m_filterIndex = int(index) + 1;
  return true;
}
