#include "controls/select_directory.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

#include "base/exceptions.h"

namespace {

// Rows of one fixed height, whatever the font.
class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  FixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), m_height(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), m_height};
  }

 private:
  int m_height;
};

// Places a control; a label grows to its text where the font needs more room.
template <typename W>
W* Place(W* widget, int left, int top, int width, int height) {
  if (qobject_cast<QLabel*>(widget)) {
    const QSize needed = widget->sizeHint();
    width = std::max(width, needed.width());
    height = std::max(height, needed.height());
  }
  widget->setGeometry(left, top, width, height);
  return widget;
}

}  // namespace

void ForceDirectories(const QString& path) {
  if (path.isEmpty()) throw EInOutError(0, "Unable to create directory");
  QString dir = path;
  if (dir.endsWith(QLatin1Char('/'))) dir.chop(1);
  if (dir.isEmpty() || QFileInfo(dir).isDir()) return;
  const qsizetype slash = dir.lastIndexOf(QLatin1Char('/'));
  if (slash > 0) ForceDirectories(dir.left(slash + 1));
  // Whether this worked is for the user of the folder to find out.
  QDir().mkdir(dir);
}

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(10);
  setUniformRowHeights(true);
  setItemDelegate(new FixedHeightDelegate(17, this));
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header()->setStretchLastSection(false);
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { Open(item); });
}

QString TDirectoryListBox::PathOf(const QTreeWidgetItem* item) {
  return item ? item->data(0, Qt::UserRole).toString() : QString();
}

QTreeWidgetItem* TDirectoryListBox::ItemOf(const QString& path) const {
  for (QTreeWidgetItemIterator it(const_cast<TDirectoryListBox*>(this)); *it; ++it)
    if (PathOf(*it) == path) return *it;
  return nullptr;
}

void TDirectoryListBox::SetDirectory(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.isDir()) return;
  const QString dir = QDir::cleanPath(info.absoluteFilePath());

  clear();
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  QTreeWidgetItem* parentItem = nullptr;
  const auto add = [&](const QString& text, const QString& itemPath, const QIcon& icon) {
    auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setData(0, Qt::UserRole, itemPath);
    item->setIcon(0, icon);
    return item;
  };
  parentItem = add(QStringLiteral("/"), QStringLiteral("/"), openIcon);
  QString chain;
  for (const QString& part : dir.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    chain += QLatin1Char('/') + part;
    parentItem = add(part, chain, openIcon);
  }
  QTreeWidgetItem* current = parentItem;
  const QFileInfoList subfolders =
      QDir(dir).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& subfolder : subfolders)
    add(subfolder.fileName(), subfolder.absoluteFilePath(), closedIcon);
  expandAll();
  setCurrentItem(current);
  scrollToItem(current);
  m_directory = dir;
  emit directoryChanged(dir);
}

void TDirectoryListBox::Open(QTreeWidgetItem* item) {
  if (!item) return;
  // Moving rebuilds the entries, so it waits until the double-click or key
  // press that asked for it is fully handled.
  QMetaObject::invokeMethod(
      this, [this, path = PathOf(item)] { SetDirectory(path); }, Qt::QueuedConnection);
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  // Enter opens the entry; it does not confirm the dialog.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Open(currentItem());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

TSelectDirDlg::TSelectDirDlg(QWidget* parent, TSelectDirOpts options, int helpContext)
    : QDialog(parent), m_options(options), m_confirm(AskToCreate) {
  setWindowTitle(QStringLiteral("Select Directory"));
  setFixedSize(424, 255);
  const bool allowCreate = options & sdAllowCreate;
  const bool showHelp = helpContext != 0;

  m_nameLabel = Place(new QLabel(QStringLiteral("Directory &Name:"), this), 8, 8, 92, 13);
  m_nameEdit = Place(new QLineEdit(this), 8, 24, 313, 20);
  m_pathLabel = Place(new QLabel(this), 8, 24, 313, 20);
  m_pathLabel->setTextFormat(Qt::PlainText);
  m_nameEdit->setVisible(allowCreate);
  m_pathLabel->setVisible(!allowCreate);
  m_directoriesLabel = Place(new QLabel(QStringLiteral("&Directories:"), this), 8, 56, 66, 13);
  m_directoryList = Place(new TDirectoryListBox(this), 8, 72, 213, 138);
  m_filesLabel = Place(new QLabel(QStringLiteral("&Files: (*.*)"), this), 232, 56, 57, 13);
  m_fileList = Place(new QListWidget(this), 232, 72, 185, 93);
  m_drivesLabel = Place(new QLabel(QStringLiteral("D&rives:"), this), 232, 176, 41, 13);
  m_driveCombo = Place(new QComboBox(this), 232, 192, 185, 19);
  m_networkButton = Place(new QPushButton(QStringLiteral("Ne&twork..."), this), 8, 224, 77, 27);
  m_okButton = Place(new QPushButton(QStringLiteral("OK"), this), showHelp ? 172 : 256, 224, 77, 27);
  m_cancelButton = Place(new QPushButton(QStringLiteral("Cancel"), this), showHelp ? 256 : 340, 224, 77, 27);
  m_helpButton = Place(new QPushButton(QStringLiteral("&Help"), this), 340, 224, 77, 27);
  // There is no network-connect dialog to offer here.
  m_networkButton->setVisible(false);
  m_helpButton->setVisible(showHelp);
  m_okButton->setDefault(true);

  m_nameLabel->setBuddy(allowCreate ? static_cast<QWidget*>(m_nameEdit) : nullptr);
  m_directoriesLabel->setBuddy(m_directoryList);
  m_filesLabel->setBuddy(m_fileList);
  m_drivesLabel->setBuddy(m_driveCombo);
  setTabOrder(m_directoryList, m_nameEdit);
  setTabOrder(m_nameEdit, m_driveCombo);
  setTabOrder(m_driveCombo, m_networkButton);
  setTabOrder(m_networkButton, m_okButton);
  setTabOrder(m_okButton, m_cancelButton);
  setTabOrder(m_cancelButton, m_fileList);
  setTabOrder(m_fileList, m_helpButton);

  // The file list is for looking only: grey text.
  QPalette grey = m_fileList->palette();
  grey.setColor(QPalette::Text, grey.color(QPalette::Disabled, QPalette::Text));
  m_fileList->setPalette(grey);
  m_fileList->setItemDelegate(new FixedHeightDelegate(13, m_fileList));
  m_fileList->setUniformItemSizes(true);

  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
    if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir() &&
        !roots.contains(volume.rootPath()))
      roots << volume.rootPath();
  roots.sort();
  for (const QString& root : roots) m_driveCombo->addItem(root, root);
  m_driveCombo->view()->setMinimumWidth(m_driveCombo->view()->sizeHintForColumn(0) + 8);

  connect(m_directoryList, &TDirectoryListBox::directoryChanged, this, &TSelectDirDlg::DirectoryMoved);
  connect(m_driveCombo, &QComboBox::activated, this,
          [this](int index) { m_directoryList->SetDirectory(m_driveCombo->itemData(index).toString()); });
  connect(m_okButton, &QPushButton::clicked, this, &TSelectDirDlg::OkClicked);
  connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

  m_directoryList->SetDirectory(QDir::currentPath());
  m_directoryList->setFocus();

  if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
  }
}

QString TSelectDirDlg::Directory() const { return m_directoryList->Directory(); }

void TSelectDirDlg::SetDirectory(const QString& path) { m_directoryList->SetDirectory(path); }

void TSelectDirDlg::DirectoryMoved(const QString& path) {
  m_pathLabel->setText(path);
  m_fileList->clear();
  m_fileList->addItems(QDir(path).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase));
  m_nameEdit->setText(path);
  m_nameEdit->selectAll();
  const QSignalBlocker quiet(m_driveCombo);
  m_driveCombo->setCurrentIndex(m_driveCombo->findData(QStorageInfo(path).rootPath()));
}

QString TSelectDirDlg::ChosenDirectory() const {
  return (m_options & sdAllowCreate) ? m_nameEdit->text() : Directory();
}

bool TSelectDirDlg::AskToCreate(QWidget* parent, const QString& question) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question, QMessageBox::NoButton, parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void TSelectDirDlg::OkClicked() {
  if ((m_options & sdAllowCreate) && (m_options & sdPrompt) && !QFileInfo(m_nameEdit->text()).isDir() &&
      !m_confirm(this, QStringLiteral("The specified directory does not exist. Create it?")))
    return;
  accept();
}

TSelectDirectory::TSelectDirectory(QWidget* owner) : QObject(owner), m_owner(owner) {}

bool TSelectDirectory::RunDialog() {
  m_directory = m_initialDir;
  TSelectDirDlg dialog(m_owner ? m_owner->window() : nullptr, kOptions);
  if (m_confirm) dialog.SetConfirm(m_confirm);
  if (!m_directory.isEmpty()) dialog.SetDirectory(m_directory);
  if (dialog.exec() != QDialog::Accepted) return false;
  m_directory = dialog.ChosenDirectory();
  if (kOptions & sdPerformCreate) ForceDirectories(m_directory);
  return true;
}
