#include "controls/computer_name_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTextStream>
#include <QVBoxLayout>

TComputerNameDlg::TComputerNameDlg(QWidget* parent, const QString& caption, const QStringList& names)
    : QDialog(parent) {
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  auto* listLabel = new QLabel(tr("&Computers:"), this);
  m_list = new QListWidget(this);
  m_list->setObjectName(QStringLiteral("lbxComputers"));
  m_list->addItems(names);
  listLabel->setBuddy(m_list);
  auto* nameLabel = new QLabel(tr("Computer &name:"), this);
  m_nameEdit = new QLineEdit(this);
  m_nameEdit->setObjectName(QStringLiteral("edtComputerName"));
  nameLabel->setBuddy(m_nameEdit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_ok = buttons->button(QDialogButtonBox::Ok);
  m_cancel = buttons->button(QDialogButtonBox::Cancel);
  layout->addWidget(listLabel);
  layout->addWidget(m_list);
  layout->addWidget(nameLabel);
  layout->addWidget(m_nameEdit);
  layout->addWidget(buttons);
  resize(300, 320);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A selected entry fills the name box; merely focusing the list does not.
  connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (!selected.isEmpty()) m_nameEdit->setText(selected.first()->text());
  });
  connect(m_list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    m_nameEdit->setText(item->text());
    accept();
  });
  // Nothing chosen, nothing to confirm.
  const auto enableOk = [this] { m_ok->setEnabled(!ChosenComputer().isEmpty()); };
  connect(m_nameEdit, &QLineEdit::textChanged, this, enableOk);
  enableOk();
  m_list->setFocus();
}

QString TComputerNameDlg::ChosenComputer() const { return m_nameEdit->text().trimmed(); }

TComputerNameDialog::TComputerNameDialog(QWidget* owner) : QObject(owner), m_owner(owner) {}

QStringList TComputerNameDialog::ComputerNames(const QString& hostsFile) {
  QStringList names;
  const auto add = [&names](const QString& name) {
    if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive)) names << name;
  };
  add(QSysInfo::machineHostName());
  add(QStringLiteral("localhost"));
  QFile file(hostsFile);
  if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    static const QRegularExpression kBlanks(QStringLiteral("\\s+"));
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
      line = line.left(line.indexOf(QLatin1Char('#')));
      const QStringList fields = line.split(kBlanks, Qt::SkipEmptyParts);
      // The first field is the address; the names follow it.
      for (qsizetype i = 1; i < fields.size(); ++i) add(fields[i]);
    }
  }
  return names;
}

bool TComputerNameDialog::RunDialog() {
  TComputerNameDlg dialog(m_owner ? m_owner->window() : nullptr, m_caption, ComputerNames(m_hostsFile));
  if (dialog.exec() != QDialog::Accepted) return false;
  m_chosenComputer = dialog.ChosenComputer();
  return true;
}
