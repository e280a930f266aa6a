// TComputerNameDialog: lets the user pick a computer by name, from this
// computer's own names and the hosts file, or typed.
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;

// The chooser window that RunDialog shows for one run.
class TComputerNameDlg : public QDialog {
  Q_OBJECT

 public:
  TComputerNameDlg(QWidget* parent, const QString& caption, const QStringList& names);

  // The name confirmed with OK: the name box text without surrounding blanks.
  QString ChosenComputer() const;

  QListWidget* ComputerList() const { return m_list; }
  QLineEdit* NameEdit() const { return m_nameEdit; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 private:
  QListWidget* m_list;
  QLineEdit* m_nameEdit;
  QPushButton* m_ok;
  QPushButton* m_cancel;
};

class TComputerNameDialog : public QObject {
  Q_OBJECT

 public:
  // The chooser opens modally over the owner's window.
  explicit TComputerNameDialog(QWidget* owner = nullptr);

  QString Caption() const { return m_caption; }
  void SetCaption(const QString& value) { m_caption = value; }
  // The name chosen in the last confirmed run; kept when a run is cancelled.
  QString ChosenComputer() const { return m_chosenComputer; }

  // Shows the chooser; true when the user confirmed a name.
  bool RunDialog();

  // The names offered: this computer's host name, "localhost", then the host
  // names of the hosts file in their order, each once.
  static QStringList ComputerNames(const QString& hostsFile);
  void SetHostsFile(const QString& path) { m_hostsFile = path; }

 private:
  QWidget* m_owner;
  QString m_caption;
  QString m_chosenComputer;
  QString m_hostsFile = QStringLiteral("/etc/hosts");
};
