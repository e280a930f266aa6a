// TSelectDirectory: asks for a folder in the classic folder dialog
// TSelectDirDlg (a name box, the folder tree, its files and the drives), and
// can create the folder that was typed.
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <QTreeWidget>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

enum TSelectDirOpt : unsigned { sdAllowCreate = 1, sdPerformCreate = 2, sdPrompt = 4 };
// A set of TSelectDirOpt flags.
using TSelectDirOpts = unsigned;

// Creates a folder with every missing parent. One trailing "/" is ignored; a
// folder that exists (or the root) counts as done, and a folder that cannot
// be created is left to whoever uses it next. Throws EInOutError("Unable to
// create directory") for an empty path.
void ForceDirectories(const QString& path);

// The folder list: the chain of folders from the root down to the current
// folder (open), then the current folder's subfolders (closed). Double-click or
// Enter on an entry moves there, as soon as the event loop next turns.
class TDirectoryListBox : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);

  QString Directory() const { return m_directory; }
  // Moves to a folder (made absolute and clean); a path that is no folder is ignored.
  void SetDirectory(const QString& path);
  // The folder an entry stands for.
  static QString PathOf(const QTreeWidgetItem* item);
  // The entry of a folder shown in the list, or null.
  QTreeWidgetItem* ItemOf(const QString& path) const;

 signals:
  void directoryChanged(const QString& path);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // The entries are always open: no expand and collapse marks.
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}

 private:
  void Open(QTreeWidgetItem* item);

  QString m_directory;
};

class TSelectDirDlg : public QDialog {
  Q_OBJECT

 public:
  // Answers the question whether to create a missing folder; true for Yes.
  using Confirm = std::function<bool(QWidget* parent, const QString& question)>;

  // Opens at the process's current folder. With sdAllowCreate the name box is
  // shown, otherwise a label with the current folder; a help context other
  // than 0 shows the Help button.
  TSelectDirDlg(QWidget* parent, TSelectDirOpts options, int helpContext = 0);

  // The folder the list shows.
  QString Directory() const;
  void SetDirectory(const QString& path);
  // The answer of a confirmed run: the name box as typed, or the list's
  // folder when creating is not allowed.
  QString ChosenDirectory() const;

  // Replaces the question box (by default "Confirm" with "&Yes" and "&No").
  void SetConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
  static bool AskToCreate(QWidget* parent, const QString& question);

  QLabel* NameLabel() const { return m_nameLabel; }
  QLineEdit* NameEdit() const { return m_nameEdit; }
  QLabel* PathLabel() const { return m_pathLabel; }
  QLabel* DirectoriesLabel() const { return m_directoriesLabel; }
  TDirectoryListBox* DirectoryList() const { return m_directoryList; }
  QLabel* FilesLabel() const { return m_filesLabel; }
  QListWidget* FileList() const { return m_fileList; }
  QLabel* DrivesLabel() const { return m_drivesLabel; }
  QComboBox* DriveCombo() const { return m_driveCombo; }
  QPushButton* NetworkButton() const { return m_networkButton; }
  QPushButton* OkButton() const { return m_okButton; }
  QPushButton* CancelButton() const { return m_cancelButton; }
  QPushButton* HelpButton() const { return m_helpButton; }

 private:
  void DirectoryMoved(const QString& path);
  void OkClicked();

  TSelectDirOpts m_options;
  Confirm m_confirm;
  QLabel* m_nameLabel;
  QLineEdit* m_nameEdit;
  QLabel* m_pathLabel;
  QLabel* m_directoriesLabel;
  TDirectoryListBox* m_directoryList;
  QLabel* m_filesLabel;
  QListWidget* m_fileList;
  QLabel* m_drivesLabel;
  QComboBox* m_driveCombo;
  QPushButton* m_networkButton;
  QPushButton* m_okButton;
  QPushButton* m_cancelButton;
  QPushButton* m_helpButton;
};

class TSelectDirectory : public QObject {
  Q_OBJECT

 public:
  // The dialog opens modally over the owner's window.
  explicit TSelectDirectory(QWidget* owner = nullptr);

  // Where every run starts; empty: the process's current folder.
  QString InitialDir() const { return m_initialDir; }
  void SetInitialDir(const QString& value) { m_initialDir = value; }
  // The chosen folder after a confirmed run; InitialDir after any other.
  QString Directory() const { return m_directory; }

  // Shows the folder dialog; true when confirmed. With sdPerformCreate the
  // chosen folder is then created (see ForceDirectories, which may throw).
  bool RunDialog();

  // Replaces the dialog's question box (for tests, or the window's own message handling).
  void SetConfirm(TSelectDirDlg::Confirm confirm) { m_confirm = std::move(confirm); }

 private:
  QWidget* m_owner;
  static constexpr TSelectDirOpts kOptions = sdAllowCreate | sdPerformCreate | sdPrompt;
  QString m_initialDir;
  QString m_directory;
  TSelectDirDlg::Confirm m_confirm;
};
