// The program's one window: the connection boxes and the table and field
// lists, the CSV file boxes, the transfer buttons, the about panel and the
// progress bar along the bottom. It owns the database connection and the
// dataset that export and import work through.
#pragma once

#include <QPointer>
#include <QSettings>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "app/transfer_options.h"
#include "app/transfer_runner.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "transfer/reporting.h"
#include "transfer/table_transfer.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class TComputerNameDialog;
class THyperlinkLabel;
class TOpenDialog;
class TSelectDirectory;
class TSpecialProgress;
class TTransferOptionsDialog;
class QPushButton;
class QShortcut;

// The application's title: the window's caption and the message boxes'.
inline constexpr char kApplicationTitle[] = "Varnelo Pelmora";

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  // Builds every control at its place with its defaults; nothing is connected.
  explicit TfrmMain(QWidget* parent = nullptr);
  // A transfer still running is stopped first (its boxes are no longer shown).
  ~TfrmMain() override;

  // The window's width and height inside its frame; nothing moves or
  // stretches when the user resizes the window.
  static constexpr int kClientWidth = 710;
  static constexpr int kClientHeight = 303;

  // Controls, named as the user interface knows them. Qt owns them through
  // their parents.
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* edtServerName = nullptr;
  QPushButton* btnBrowseServer = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtDBFile = nullptr;
  QPushButton* btnBrowseDB = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* edtUserName = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* edtPassword = nullptr;
  QPushButton* btnConnect = nullptr;
  QLabel* Label3 = nullptr;
  QListWidget* lbxTables = nullptr;
  QLabel* Label4 = nullptr;
  QListWidget* lbxFields = nullptr;
  QPushButton* btnExport = nullptr;
  QPushButton* btnImport = nullptr;
  QPushButton* btnExit = nullptr;
  QPushButton* btnOptions = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* edtFolder = nullptr;
  QPushButton* btnBrowseFolder = nullptr;
  QLabel* Label8 = nullptr;
  QLineEdit* edtFilename = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  THyperlinkLabel* HyperlinkLabel1 = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* Label9 = nullptr;
  TSpecialProgress* jspProgress = nullptr;

  // The browse dialogs; the window owns them.
  TComputerNameDialog* jcnBrowseServer = nullptr;
  TOpenDialog* OpenDialog1 = nullptr;
  TSelectDirectory* SelectDirectory1 = nullptr;

  // The database connection and the dataset bound to it (table mode, blobs
  // read whole). The dataset is declared second so that it goes first.
  TSQLConnection scnDatabase{"scnDatabase"};
  TSQLDataSet sdsTable{"sdsTable", &scnDatabase};

  // The table chosen last in the table list; kept across disconnects. Export
  // and import work on it.
  std::string CurrentTableName;

  // Click handlers. Each may throw; the buttons run them through RunHandler.
  void btnBrowseServerClick();
  void btnBrowseDBClick();
  // Connects with the four boxes' values and lists the tables, or, when the
  // button reads "&Disconnect", disconnects and empties both lists.
  void btnConnectClick();
  // Makes the first selected table the current table and lists its fields;
  // runs on every selection change of the table list, by mouse or keyboard.
  void lbxTablesClick();
  void ShowDeclaredTypes();
  void btnBrowseFolderClick();
  // Writes the current table into the folder's file, or reads the file into
  // it, once CheckEntries allows. The transfer runs on a thread of its own:
  // meanwhile every other control that starts something is disabled and the
  // button reads "&Stop"; a click on it then stops the transfer. Afterwards
  // every control is as it was.
  void btnExportClick();
  void btnImportClick();
  // True while an export or import runs.
  bool TransferRunning() const;
  // Asks the running transfer to stop (Stop, Esc, closing the window): it
  // ends at its next row, and a database call still waiting on the server a
  // moment later is cancelled. Does nothing when no transfer runs.
  void StopTransfer();
  // True when a transfer may start; otherwise shows what is missing.
  bool CheckEntries();
  // Closes the window, which ends the program.
  void btnExitClick();
  // Opens the Options dialog over the window; what it accepts holds for the
  // transfers from then on and is remembered.
  void btnOptionsClick();
  // The Options dialog while it is open, else nullptr.
  TTransferOptionsDialog* OptionsDialog() const;
  // The transfer options in effect: the defaults until the dialog changes them.
  const TTransferOptions& TransferOptions() const { return m_options; }
  // Fills the table list with the database's tables and views; a failed
  // listing leaves the list as it was.
  void RefreshTable();

  // The settings of the user running the program, where the desktop keeps
  // them: $XDG_CONFIG_HOME/varnelo-pelmora/varnelo-pelmora.conf. None, after
  // saying why on standard error, when that is larger than kMaxSettingsBytes
  // (settings take a few hundred bytes) or no regular file: it is not read.
  static std::unique_ptr<QSettings> UserSettings();
  static constexpr qint64 kMaxSettingsBytes = 1 << 20;
  // Fills the boxes with what settings remembers, and from now on keeps there
  // the server name, the database file and the user name of each connection
  // that opens, the folder and the file name of each transfer that starts,
  // and the transfer options the Options dialog accepts; never the password. A window without settings reads
  // and writes none.
  void RememberIn(std::unique_ptr<QSettings> settings);

  // Runs handler; a failure it throws is shown in the error box (a silent
  // abort shows nothing) and goes no further.
  void RunHandler(const std::function<void()>& handler);

  // The message and error boxes; SetMessageBoxes(nullptr) returns to the
  // boxes on screen. The window does not own a replacement.
  IMessageBoxes& Messages() { return *m_messages; }
  void SetMessageBoxes(IMessageBoxes* messages);
  // The progress bar, for export and import.
  IProgress& Progress() { return *m_progress; }

  // The question closing the window asks while a transfer runs.
  static constexpr char kStopQuestion[] = "A transfer is running. Stop it and close the window?";

  // The names a list shows, exactly as the database gave them.
  static std::vector<std::string> ListItems(const QListWidget* list);
  // Replaces the list's items by names; no item is selected afterwards.
  static void SetListItems(QListWidget* list, const std::vector<std::string>& names);

 protected:
  // While a transfer runs, asks whether to stop it; Yes stops it and the
  // window closes once it has ended, No leaves both running.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateDatabaseGroup();
  void CreateTransferButtons();
  void CreateFileGroup();
  void CreateAboutPanel();
  void CreateProgressBar();
  THyperlinkLabel* CreateHyperlinkLabel(QWidget* parent);
  void CreateDialogs();
  void SetTabOrder();
  void ConnectHandlers();
  void ConnectClick(QPushButton* button, void (TfrmMain::*handler)());
  void RememberConnection();
  void RememberTransferFile();
  TTransferRequest TransferRequest() const;
  void ShowOptionsInEffect();
  void SetUpFormats();
  void StartTransfer(QPushButton* button, TTransferRunner::TTransfer transfer);
  void TransferEnded(std::exception_ptr failure);

  TMessageBoxes m_screenMessages;
  IMessageBoxes* m_messages = &m_screenMessages;
  std::unique_ptr<IProgress> m_progress;
  std::unique_ptr<QSettings> m_settings;
  TTransferOptions m_options;
  QPointer<TTransferOptionsDialog> m_optionsDialog;
  // The last transfer read and wrote portable forms: the locale's are to be read again.
  bool m_portableFormats = false;

  // The running transfer and what it changed in the window.
  struct TSavedControl {
    QWidget* widget;
    bool enabled;
  };
  TTransferRunner* m_runner = nullptr;
  std::uint64_t m_transferNumber = 0;
  QPushButton* m_transferButton = nullptr;
  QString m_transferCaption;
  std::vector<TSavedControl> m_savedControls;
  QPointer<QWidget> m_savedFocus;
  QShortcut* m_stopShortcut = nullptr;
  bool m_closeWhenEnded = false;
};
