// TOpenDialog: asks for the path of a file to open, in the toolkit's own file
// dialog. A typed name without extension gets DefaultExt, and a file that does
// not exist yet is accepted.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class TOpenDialog : public QObject {
  Q_OBJECT

 public:
  // The dialog opens modally over the owner's window.
  explicit TOpenDialog(QWidget* owner = nullptr);

  // Description and pattern pairs, every part separated by "|"; patterns of
  // one entry separated by ";". Patterns match in any letter case, and a
  // "*.GDB" pattern also matches "*.FDB" (both name Firebird databases).
  QString Filter() const { return m_filter; }
  void SetFilter(const QString& value) { m_filter = value; }
  // The entry of Filter shown first, counted from 1; updated by a confirmed run.
  int FilterIndex() const { return m_filterIndex; }
  QString DefaultExt() const { return m_defaultExt; }
  void SetDefaultExt(const QString& value) { m_defaultExt = value; }
  // The full path chosen in the last confirmed run; a run starts from it.
  QString FileName() const { return m_fileName; }
  void SetFileName(const QString& value) { m_fileName = value; }
  QString InitialDir() const { return m_initialDir; }
  void SetInitialDir(const QString& value) { m_initialDir = value; }

  // Shows the dialog; true when the user confirmed a file name.
  bool RunDialog();

  // Filter as the file dialog's name filters, one per entry.
  static QStringList NameFilters(const QString& filter);

 private:
  QWidget* m_owner;
  QString m_filter;
  int m_filterIndex = 1;
  QString m_defaultExt;
  QString m_fileName;
  QString m_initialDir;
};
