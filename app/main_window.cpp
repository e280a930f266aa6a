#include "app/main_window.h"

#include <langinfo.h>

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/jpeg_image.h"
#include "app/transfer_options_dialog.h"
#include "base/exceptions.h"
#include "controls/colors.h"
#include "controls/computer_name_dialog.h"
#include "controls/font_styles.h"
#include "controls/hyperlink_label.h"
#include "controls/open_dialog.h"
#include "controls/select_directory.h"
#include "controls/special_progress.h"
#include "db/catalogue.h"
#include "db/locale_charset.h"
#include "db/locale_formats.h"
#include "driver/connect_string.h"
#include "transfer/check_entries.h"
#include "transfer/table_transfer.h"

// The logo is compiled into the library; a static library's resources must be
// registered by hand. Q_INIT_RESOURCE may not stand inside a namespace.
static void InitResources() { Q_INIT_RESOURCE(app_resources); }

namespace {

const QString kConnectCaption = QStringLiteral("&Connect");
const QString kDisconnectCaption = QStringLiteral("&Disconnect");
const QString kStopCaption = QStringLiteral("&Stop");
const QString kOptionsCaption = QStringLiteral("&Options...");
// A transfer sees a stop between rows at once; one that has not ended this
// long after the stop is waiting on the server, and that call is cancelled.
// (Cancelling at once could end a statement that was about to finish.)
constexpr int kCancelDelayMs = 300;
const char kHyperlinkAddress[] = "https://varnelo.example.org";

// Where the settings keep what the window remembers.
const QString kServerNameKey = QStringLiteral("Connection/ServerName");
const QString kDatabaseFileKey = QStringLiteral("Connection/DatabaseFile");
const QString kUserNameKey = QStringLiteral("Connection/UserName");
const QString kFolderKey = QStringLiteral("Transfer/Folder");
const QString kFileNameKey = QStringLiteral("Transfer/FileName");

// Items of the lists keep the name as the database gave it (bytes), so that a
// name that is not valid UTF-8 still reaches the database unchanged.
constexpr int kNameRole = Qt::UserRole;

// The least space between a label's text and the control beside it, and
// between a button's caption and each side of its frame.
constexpr int kLabelGap = 3;
constexpr int kButtonPadding = 4;

std::string ToText(const QLineEdit* edit) { return edit->text().toStdString(); }

// A name as the connection hands it over, shown: in the locale's codeset,
// the set the window connects in; through a connection of set NONE in the
// catalogue's own UTF-8.
QString ShownName(const std::string& name) {
  const QByteArrayView bytes(name.data(), static_cast<qsizetype>(name.size()));
  const std::string charSet = LocaleCharSet();
  if (charSet == "NONE" || charSet == "UTF8") return QString::fromUtf8(bytes);
  QStringDecoder decoder(nl_langinfo(CODESET));
  return decoder.isValid() ? QString(decoder(bytes)) : QString::fromUtf8(bytes);
}

std::string ItemName(const QListWidgetItem* item) {
  const QVariant name = item->data(kNameRole);
  if (!name.isValid()) return item->text().toStdString();
  const QByteArray bytes = name.toByteArray();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// List items one fixed height, as in the layout, but never less than a line
// of the list's font.
class TFixedHeightDelegate : public QStyledItemDelegate {
 public:
  TFixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), m_height(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(m_height, option.fontMetrics.height()));
    return size;
  }

 private:
  int m_height;
};

// Where a caption needs more room than its place gives, its letters move
// closer together (by at most half a pixel each) rather than touch the frame or
// the control beside it.
void CondenseToFit(QWidget* widget, const QString& caption, int room) {
  const int needed = widget->fontMetrics().horizontalAdvance(caption);
  if (needed <= room || caption.isEmpty()) return;
  QFont font = widget->font();
  const qreal spacing = std::max<qreal>(-0.5, -qreal(needed - room) / caption.size());
  font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  widget->setFont(font);
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

// A label is at least as wide and as high as its text needs in the font in
// use. A label with a control beside it keeps clear of it: room is the space
// up to that control's left edge.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top, int width,
                  int height, int room = 0) {
  auto* label = new QLabel(caption, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  if (room > 0) CondenseToFit(label, caption, room - kLabelGap);
  const QFontMetrics metrics = label->fontMetrics();
  width = std::max(width, metrics.horizontalAdvance(caption));
  height = std::max(height, metrics.height());
  return Place(label, name, left, top, width, height);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
                    int height) {
  return Place(new QLineEdit(text, parent), name, left, top, width, height);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                        int width, int height) {
  auto* button = new QPushButton(caption, parent);
  QString shown = caption;
  shown.remove(QLatin1Char('&'));
  CondenseToFit(button, shown, width - 2 * kButtonPadding);
  return Place(button, name, left, top, width, height);
}

QListWidget* MakeList(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* list = new QListWidget(parent);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  list->setItemDelegate(new TFixedHeightDelegate(13, list));
  return Place(list, name, left, top, width, height);
}

// The bar draws itself at once when its fill moves, from inside the setter.
class TBarProgress : public IProgress {
 public:
  explicit TBarProgress(TSpecialProgress* bar) : m_bar(bar) {}
  void SetPosition(int position) override { m_bar->SetPosition(position); }

 private:
  TSpecialProgress* m_bar;
};

}  // namespace

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
  InitResources();
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromLatin1(kApplicationTitle));
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);
  move(192, 114);
  resize(kClientWidth, kClientHeight);

  sdsTable.SetCommandType(ctTable);

  CreateDatabaseGroup();
  CreateTransferButtons();
  CreateFileGroup();
  CreateAboutPanel();
  CreateProgressBar();
  CreateDialogs();
  SetTabOrder();
  m_runner = new TTransferRunner(this);
  m_stopShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  m_stopShortcut->setEnabled(false);
  ConnectHandlers();
  edtServerName->setFocus();
}

TfrmMain::~TfrmMain() {
  if (!TransferRunning()) return;
  // Cancel until the transfer has ended: a call may start waiting on the
  // server just after a cancel.
  std::atomic<bool> ended{false};
  std::thread canceller([this, &ended] {
    while (!ended) {
      scnDatabase.CancelOperation();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  delete m_runner;
  m_runner = nullptr;
  ended = true;
  canceller.join();
}

void TfrmMain::CreateDatabaseGroup() {
  GroupBox1 = Place(new QGroupBox(QStringLiteral("Database"), this), "GroupBox1", 0, 0, 313, 265);
  QWidget* box = GroupBox1;
  Label1 = MakeLabel(box, "Label1", QStringLiteral("Server Name:"), 8, 24, 65, 13, 72);
  edtServerName = MakeEdit(box, "edtServerName", QStringLiteral("localhost"), 80, 24, 145, 21);
  btnBrowseServer = MakeButton(box, "btnBrowseServer", QStringLiteral("Browse &Server"), 232, 24, 75, 25);
  Label2 = MakeLabel(box, "Label2", QStringLiteral("Database File:"), 8, 56, 68, 13, 72);
  edtDBFile = MakeEdit(box, "edtDBFile", QString(), 80, 56, 145, 21);
  btnBrowseDB = MakeButton(box, "btnBrowseDB", QStringLiteral("Browse &Local"), 232, 56, 75, 25);
  Label5 = MakeLabel(box, "Label5", QStringLiteral("User Name:"), 8, 88, 56, 13, 72);
  edtUserName = MakeEdit(box, "edtUserName", QStringLiteral("SYSDBA"), 80, 88, 145, 21);
  Label6 = MakeLabel(box, "Label6", QStringLiteral("Password:"), 10, 120, 49, 13, 70);
  edtPassword = MakeEdit(box, "edtPassword", QString(), 80, 120, 145, 21);
  edtPassword->setEchoMode(QLineEdit::Password);
  edtPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  btnConnect = MakeButton(box, "btnConnect", kConnectCaption, 232, 120, 75, 25);
  Label3 = MakeLabel(box, "Label3", QStringLiteral("Tables:"), 8, 152, 35, 13);
  lbxTables = MakeList(box, "lbxTables", 8, 168, 129, 89);
  Label4 = MakeLabel(box, "Label4", QStringLiteral("Fields:"), 136, 152, 30, 13);
  lbxFields = MakeList(box, "lbxFields", 136, 168, 169, 89);
}

void TfrmMain::CreateTransferButtons() {
  btnExport = MakeButton(this, "btnExport", QStringLiteral("Export ->"), 320, 8, 65, 25);
  btnImport = MakeButton(this, "btnImport", QStringLiteral("<- Import"), 320, 40, 65, 25);
  btnExit = MakeButton(this, "btnExit", QStringLiteral("E&xit"), 320, 72, 65, 25);
  btnOptions = MakeButton(this, "btnOptions", kOptionsCaption, 320, 104, 65, 25);
}

void TfrmMain::CreateFileGroup() {
  GroupBox2 = Place(new QGroupBox(QStringLiteral("CSV File"), this), "GroupBox2", 392, 8, 313, 89);
  QWidget* box = GroupBox2;
  Label7 = MakeLabel(box, "Label7", QStringLiteral("Folder:"), 8, 24, 32, 13, 48);
  edtFolder = MakeEdit(box, "edtFolder", QString(), 56, 24, 169, 21);
  btnBrowseFolder = MakeButton(box, "btnBrowseFolder", QStringLiteral("Browse &Folder"), 230, 24, 75, 25);
  Label8 = MakeLabel(box, "Label8", QStringLiteral("Filename:"), 8, 56, 45, 13, 48);
  edtFilename = MakeEdit(box, "edtFilename", QString(), 56, 56, 169, 21);
}

void TfrmMain::CreateAboutPanel() {
  Panel1 = Place(new QFrame(this), "Panel1", 392, 104, 313, 161);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);
  QPalette white = Panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  Panel1->setPalette(white);
  Panel1->setAutoFillBackground(true);

  // The logo sizes the image to itself.
  QFile logoFile(QStringLiteral(":/logo.jpg"));
  const QImage logo = logoFile.open(QIODevice::ReadOnly) ? DecodeJpeg(logoFile.readAll()) : QImage();
  ProgramIcon = Place(new QLabel(Panel1), "ProgramIcon", 12, 8, 118, 28);
  if (!logo.isNull()) {
    ProgramIcon->setPixmap(QPixmap::fromImage(logo));
    ProgramIcon->resize(logo.size());
  }

  ProductName = MakeLabel(Panel1, "ProductName", QString::fromLatin1(kApplicationTitle), 152, 24, 0, 13);
  Version = MakeLabel(Panel1, "Version", QStringLiteral("Version 1.0"), 168, 40, 53, 13);
  HyperlinkLabel1 = CreateHyperlinkLabel(Panel1);
  Copyright = MakeLabel(Panel1, "Copyright",
                        QStringLiteral("Copyright (C) 2026 The Varnelo Pelmora developers"), 8, 72, 279, 13);
  Label9 = MakeLabel(Panel1, "Label9", QString(), 8, 96, 297, 26);
  Label9->setWordWrap(true);
  Label9->setText(
      QStringLiteral("Get the latest version from the address above. This program may be copied and passed "
                     "on freely."));
  Label9->resize(Label9->width(), std::max(Label9->height(), Label9->heightForWidth(Label9->width())));
}

// The maker's address, red and underlined, under a hand pointer.
THyperlinkLabel* TfrmMain::CreateHyperlinkLabel(QWidget* parent) {
  auto* label = new THyperlinkLabel(parent);
  label->setObjectName(QStringLiteral("HyperlinkLabel1"));
  label->setFont(font());
  label->SetFontStyle(fsUnderline);
  label->SetFontColor(clRed);
  label->SetClickedHyperlinkColor(clPurple);
  label->SetUseClickedHyperlinkColor(true);
  label->SetHoverColor(clRed);
  label->SetUseHoverColor(true);
  label->SetHoverFontStyle(fsUnderline);
  label->SetUseHoverFontStyle(false);
  label->setCursor(Qt::PointingHandCursor);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->SetCaption(QString::fromLatin1(kHyperlinkAddress));
  const QFontMetrics metrics(label->font());
  label->setGeometry(16, 40, std::max(111, metrics.horizontalAdvance(label->text())),
                     std::max(13, metrics.height()));
  label->SetErrorReporter([this](const std::exception& error) { Messages().ShowError(error.what()); });
  return label;
}

// The bar along the bottom: solid fill from red 0, green 102, blue 153, at 0.
void TfrmMain::CreateProgressBar() {
  jspProgress = new TSpecialProgress(this);
  jspProgress->setObjectName(QStringLiteral("jspProgress"));
  jspProgress->BeginLoading();
  jspProgress->setGeometry(0, 272, 705, 23);
  jspProgress->SetBorderStyle(bsSingle);
  jspProgress->SetSolid(true);
  jspProgress->SetEndColor(10053120);
  jspProgress->SetCaption(QStringLiteral("jspProgress"));
  jspProgress->EndLoading();
  m_progress = std::make_unique<TBarProgress>(jspProgress);
}

void TfrmMain::CreateDialogs() {
  jcnBrowseServer = new TComputerNameDialog(this);
  jcnBrowseServer->SetCaption(QStringLiteral("Browse Server"));
  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetFilter(QStringLiteral("Firebird database (*.GDB)|*.GDB"));
  OpenDialog1->SetDefaultExt(QStringLiteral("GDB"));
  SelectDirectory1 = new TSelectDirectory(this);
}

void TfrmMain::SetTabOrder() {
  const QWidget* order[] = {edtServerName, btnBrowseServer, edtDBFile,       btnBrowseDB,
                            btnConnect,    lbxTables,       lbxFields,       edtUserName,
                            edtPassword,   edtFolder,       btnBrowseFolder, edtFilename,
                            btnExport,     btnImport,       btnExit,         btnOptions};
  for (size_t i = 1; i < std::size(order); ++i)
    setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void TfrmMain::ConnectClick(QPushButton* button, void (TfrmMain::*handler)()) {
  connect(button, &QPushButton::clicked, this,
          [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
}

void TfrmMain::ConnectHandlers() {
  ConnectClick(btnBrowseServer, &TfrmMain::btnBrowseServerClick);
  ConnectClick(btnBrowseDB, &TfrmMain::btnBrowseDBClick);
  ConnectClick(btnConnect, &TfrmMain::btnConnectClick);
  ConnectClick(btnBrowseFolder, &TfrmMain::btnBrowseFolderClick);
  ConnectClick(btnExport, &TfrmMain::btnExportClick);
  ConnectClick(btnImport, &TfrmMain::btnImportClick);
  ConnectClick(btnExit, &TfrmMain::btnExitClick);
  ConnectClick(btnOptions, &TfrmMain::btnOptionsClick);
  // A selection change by mouse or keyboard chooses the table.
  connect(lbxTables, &QListWidget::itemSelectionChanged, this,
          [this] { RunHandler([this] { lbxTablesClick(); }); });
  connect(m_stopShortcut, &QShortcut::activated, this, &TfrmMain::StopTransfer);
  // Enter in the password box connects; it never disconnects.
  connect(edtPassword, &QLineEdit::returnPressed, this, [this] {
    if (btnConnect->isEnabled() && btnConnect->text() == kConnectCaption) btnConnect->click();
  });
}

std::unique_ptr<QSettings> TfrmMain::UserSettings() {
  const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                       QStringLiteral("/varnelo-pelmora/varnelo-pelmora.conf");
  // QSettings reads the whole file at once: a huge one, or a device, would
  // hold the window up or fill the memory before it shows.
  const QFileInfo file(path);
  const char* problem = !file.exists()                    ? nullptr
                        : !file.isFile()                  ? "is no regular file"
                        : file.size() > kMaxSettingsBytes ? "is larger than 1 MiB"
                                                          : nullptr;
  if (problem) {
    std::fprintf(stderr,
                 "varnelo-pelmora: the settings file '%s' %s, so it is not read; nothing is remembered\n",
                 QFile::encodeName(path).constData(), problem);
    return nullptr;
  }
  return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

void TfrmMain::RememberIn(std::unique_ptr<QSettings> settings) {
  m_settings = std::move(settings);
  if (!m_settings) return;
  // A box whose key was never saved keeps its default.
  const std::pair<QString, QLineEdit*> boxes[] = {{kServerNameKey, edtServerName},
                                                  {kDatabaseFileKey, edtDBFile},
                                                  {kUserNameKey, edtUserName},
                                                  {kFolderKey, edtFolder},
                                                  {kFileNameKey, edtFilename}};
  for (const auto& [key, box] : boxes) {
    if (m_settings->contains(key)) box->setText(m_settings->value(key).toString());
  }
  m_options = LoadOptions(*m_settings);
  ShowOptionsInEffect();
}

void TfrmMain::RememberConnection() {
  if (!m_settings) return;
  m_settings->setValue(kServerNameKey, edtServerName->text());
  m_settings->setValue(kDatabaseFileKey, edtDBFile->text());
  m_settings->setValue(kUserNameKey, edtUserName->text());
  m_settings->sync();
}

void TfrmMain::RememberTransferFile() {
  if (!m_settings) return;
  m_settings->setValue(kFolderKey, edtFolder->text());
  m_settings->setValue(kFileNameKey, edtFilename->text());
  m_settings->sync();
}

void TfrmMain::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const EAbort&) {
  } catch (const std::exception& failure) {
    Messages().ShowError(failure.what());
  } catch (...) {
    Messages().ShowError("Unexpected failure");
  }
}

void TfrmMain::SetMessageBoxes(IMessageBoxes* messages) {
  m_messages = messages ? messages : &m_screenMessages;
}

std::vector<std::string> TfrmMain::ListItems(const QListWidget* list) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(list->count()));
  for (int row = 0; row < list->count(); ++row) {
    names.push_back(ItemName(list->item(row)));
  }
  return names;
}

void TfrmMain::SetListItems(QListWidget* list, const std::vector<std::string>& names) {
  list->clear();
  for (const std::string& name : names) {
    auto* item = new QListWidgetItem(ShownName(name));
    item->setData(kNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    list->addItem(item);
  }
}

void TfrmMain::btnBrowseServerClick() {
  if (jcnBrowseServer->RunDialog()) edtServerName->setText(jcnBrowseServer->ChosenComputer());
}

void TfrmMain::btnBrowseDBClick() {
  if (OpenDialog1->RunDialog()) edtDBFile->setText(OpenDialog1->FileName());
}

void TfrmMain::btnBrowseFolderClick() {
  if (SelectDirectory1->RunDialog()) edtFolder->setText(SelectDirectory1->Directory());
}

bool TfrmMain::CheckEntries() {
  TTransferEntries entries;
  entries.connected = scnDatabase.Connected();
  entries.tableSelected = !lbxTables->selectedItems().isEmpty();
  entries.folder = edtFolder->text().toStdString();
  entries.fileName = edtFilename->text().toStdString();
  return ::CheckEntries(entries, Messages());
}

TTransferRequest TfrmMain::TransferRequest() const {
  TTransferRequest request = m_options.request;
  request.folder = edtFolder->text().toStdString();
  request.fileName = edtFilename->text().toStdString();
  // A file name that names no compression gets the suffix of the one chosen.
  if (CompressionOfName(request.fileName) == TCompression::cNone)
    request.fileName += CompressionSuffix(request.compression);
  request.tableName = CurrentTableName;
  return request;
}

TTransferOptionsDialog* TfrmMain::OptionsDialog() const { return m_optionsDialog; }

void TfrmMain::btnOptionsClick() {
  if (m_optionsDialog) {
    m_optionsDialog->raise();
    return;
  }
  m_optionsDialog = new TTransferOptionsDialog(m_options, Messages(), this);
  m_optionsDialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(m_optionsDialog, &QDialog::accepted, this, [this, dialog = m_optionsDialog] {
    const bool nextConnect =
        dialog->Options().charSet != m_options.charSet || dialog->Options().role != m_options.role;
    m_options = dialog->Options();
    if (m_settings) SaveOptions(*m_settings, m_options);
    ShowOptionsInEffect();
    if (nextConnect && scnDatabase.Connected())
      Messages().ShowMessage("The character set and the role are used from the next connect on.");
  });
  m_optionsDialog->open();
}

// The button counts the options that differ from the defaults.
void TfrmMain::ShowOptionsInEffect() {
  const int changed = ChangedOptions(m_options);
  const QString caption = changed ? kOptionsCaption + QStringLiteral(" (%1)").arg(changed) : kOptionsCaption;
  btnOptions->setFont(font());
  btnOptions->setText(caption);
  QString shown = caption;
  shown.remove(QLatin1Char('&'));
  CondenseToFit(btnOptions, shown, btnOptions->width() - 2 * kButtonPadding);
}

// The forms dates, times and numbers are written and read in: the server's
// own with the portable option, else the locale's (read again only after a
// portable transfer, so that a window that never used the option leaves the
// process's formats alone).
void TfrmMain::SetUpFormats() {
  if (m_options.portable) {
    SetUpProcessLocale(TFormatsSource::fsPortable);
  } else if (m_portableFormats) {
    SetUpProcessLocale(TFormatsSource::fsUserLocale);
  }
  m_portableFormats = m_options.portable;
}

void TfrmMain::btnExportClick() {
  if (TransferRunning()) return StopTransfer();
  if (!CheckEntries()) return;
  StartTransfer(btnExport, [this, request = TransferRequest()](IProgress& progress, IMessages& messages) {
    return ExportTable(sdsTable, request, progress, messages);
  });
}

void TfrmMain::btnImportClick() {
  if (TransferRunning()) return StopTransfer();
  if (!CheckEntries()) return;
  StartTransfer(btnImport, [this, request = TransferRequest()](IProgress& progress, IMessages& messages) {
    return ImportTable(sdsTable, request, progress, messages);
  });
}

bool TfrmMain::TransferRunning() const { return m_runner && m_runner->Running(); }

void TfrmMain::StartTransfer(QPushButton* button, TTransferRunner::TTransfer transfer) {
  // Until it ends, the transfer alone uses the connection, the dataset and the
  // file; nothing in the window may start anything else.
  QWidget* const controls[] = {edtServerName, btnBrowseServer, edtDBFile,       btnBrowseDB,
                               edtUserName,   edtPassword,     btnConnect,      lbxTables,
                               lbxFields,     btnExport,       btnImport,       btnExit,
                               btnOptions,    edtFolder,       btnBrowseFolder, edtFilename};
  m_savedFocus = focusWidget();
  m_savedControls.clear();
  for (QWidget* control : controls) {
    if (control == button) continue;
    m_savedControls.push_back({control, control->isEnabled()});
    control->setEnabled(false);
  }
  m_transferButton = button;
  m_transferCaption = button->text();
  button->setText(kStopCaption);
  m_stopShortcut->setEnabled(true);
  RememberTransferFile();
  SetUpFormats();
  ++m_transferNumber;
  m_runner->Start(std::move(transfer), Progress(), Messages(),
                  [this](std::exception_ptr failure) { TransferEnded(failure); });
}

void TfrmMain::StopTransfer() {
  if (!TransferRunning()) return;
  m_runner->RequestStop();
  QTimer::singleShot(kCancelDelayMs, this, [this, number = m_transferNumber] {
    if (TransferRunning() && m_transferNumber == number) scnDatabase.CancelOperation();
  });
}

void TfrmMain::TransferEnded(std::exception_ptr failure) {
  // "Stop it and close the window?" asks about a transfer that is over now.
  Messages().CloseQuestion();
  m_stopShortcut->setEnabled(false);
  for (const TSavedControl& saved : m_savedControls) saved.widget->setEnabled(saved.enabled);
  m_savedControls.clear();
  if (m_transferButton) m_transferButton->setText(m_transferCaption);
  m_transferButton = nullptr;
  if (m_savedFocus && m_savedFocus->isEnabled()) m_savedFocus->setFocus();
  if (failure) RunHandler([&failure] { std::rethrow_exception(failure); });
  if (m_closeWhenEnded) {
    m_closeWhenEnded = false;
    close();
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!TransferRunning()) {
    event->accept();
    return;
  }
  event->ignore();
  if (!Messages().AskYesNo(kStopQuestion)) return;
  // The transfer may have ended while the question was open.
  if (!TransferRunning()) {
    event->accept();
    return;
  }
  m_closeWhenEnded = true;
  StopTransfer();
}

void TfrmMain::btnExitClick() { close(); }

void TfrmMain::btnConnectClick() {
  if (btnConnect->text() != kConnectCaption) {
    scnDatabase.SetConnected(false);
    lbxTables->clear();
    lbxFields->clear();
    btnConnect->setText(kConnectCaption);
    return;
  }

  const std::string serverName = ToText(edtServerName);
  const std::string databaseFile = ToText(edtDBFile);
  const std::string userName = ToText(edtUserName);
  const std::string password = ToText(edtPassword);
  if ((serverName.empty() && databaseFile.empty()) || userName.empty() || password.empty()) {
    Messages().ShowMessage("Please enter the necessary connection parameters to connect!");
    return;
  }
  // A relative path names a file of the folder the program runs in.
  const std::string database = ConnectString(serverName, databaseFile);

  scnDatabase.Params().SetValue("Database", database);
  scnDatabase.Params().SetValue("User_Name", userName);
  scnDatabase.Params().SetValue("Password", password);
  const std::string charSet = m_options.charSet.empty() ? LocaleCharSet() : m_options.charSet;
  scnDatabase.Params().SetValue("ServerCharSet", charSet);
  scnDatabase.Params().SetValue("RoleName", m_options.role);
  // A connection that does not open throws here, and the button keeps its
  // "&Connect" caption; from here on the connection is open.
  try {
    scnDatabase.SetConnected(true);
  } catch (const EDatabaseError& failure) {
    // The server calls a character set it does not know only bad parameters.
    if (failure.SqlState() != "2C000") throw;
    throw Exception("Unknown character set '" + charSet +
                    "'; choose a Firebird character set, such as UTF8, WIN1252, ISO8859_1 or NONE, under "
                    "Options.");
  }
  btnConnect->setText(kDisconnectCaption);
  RememberConnection();
  RefreshTable();
}

void TfrmMain::RefreshTable() {
  // The listing leaves the names untouched when it fails.
  std::vector<std::string> names = ListItems(lbxTables);
  scnDatabase.ListTableNames(names);
  SetListItems(lbxTables, names);
}

// Each field's declared type as its tip; the items stay the bare names, which
// are the export's header.
void TfrmMain::ShowDeclaredTypes() {
  std::vector<std::pair<std::string, std::string>> types;
  try {
    types = DeclaredTypes(scnDatabase, CurrentTableName);
  } catch (const std::exception&) {
    return;  // the names alone, as before
  }
  for (int row = 0; row < lbxFields->count(); ++row) {
    QListWidgetItem* item = lbxFields->item(row);
    const std::string name = ItemName(item);
    for (const auto& [column, type] : types) {
      if (column == name) item->setToolTip(QString::fromUtf8(type.c_str()));
    }
  }
}

void TfrmMain::lbxTablesClick() {
  for (int row = 0; row < lbxTables->count(); ++row) {
    if (!lbxTables->item(row)->isSelected()) continue;
    CurrentTableName = ItemName(lbxTables->item(row));
    std::vector<std::string> fields = ListItems(lbxFields);
    scnDatabase.ListFieldNames(CurrentTableName, fields);
    SetListItems(lbxFields, fields);
    ShowDeclaredTypes();
    return;
  }
}
