#include "app/transfer_options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "db/locale_charset.h"
#include "transfer/reporting.h"

TTransferOptionsDialog::TTransferOptionsDialog(const TTransferOptions& options, IMessages& messages,
                                               QWidget* parent)
    : QDialog(parent), m_options(options), m_messages(messages) {
  setObjectName(QStringLiteral("dlgOptions"));
  setWindowTitle(QStringLiteral("Transfer Options"));
  auto* layout = new QVBoxLayout(this);
  m_form = new QFormLayout;
  layout->addLayout(m_form);

  AddRow("charset", TKind::kEditableChoice, QStringLiteral("&Character set:"),
         {QString(), QStringLiteral("UTF8"), QStringLiteral("WIN1252"), QStringLiteral("ISO8859_1"),
          QStringLiteral("NONE")});
  AddRow("role", TKind::kText, QStringLiteral("R&ole:"));
  AddRow("delimiter", TKind::kEditableChoice, QStringLiteral("&Delimiter:"),
         {QStringLiteral(","), QStringLiteral(";"), QStringLiteral("|"), QStringLiteral("tab")});
  AddRow("null", TKind::kText, QStringLiteral("&NULL text:"));
  AddRow("no-header", TKind::kCheck, QStringLiteral("No &header line"));
  AddRow("line-end", TKind::kChoice, QStringLiteral("&Line end:"),
         {QStringLiteral("crlf"), QStringLiteral("lf")});
  AddRow("quote", TKind::kChoice, QStringLiteral("&Quote values:"),
         {QStringLiteral("minimal"), QStringLiteral("all"), QStringLiteral("text")});
  AddRow("compress", TKind::kChoice, QStringLiteral("Com&press files:"),
         {QString(), QStringLiteral("gz"), QStringLiteral("zst")});
  AddRow("bom", TKind::kCheck, QStringLiteral("&Byte order mark first (UTF8 only)"));
  AddRow("portable", TKind::kCheck, QStringLiteral("&Portable dates, times and numbers"));
  AddRow("mode", TKind::kChoice, QStringLiteral("Import &mode:"),
         {QStringLiteral("append"), QStringLiteral("replace"), QStringLiteral("upsert")});
  AddRow("key", TKind::kText, QStringLiteral("Upsert &key:"));
  AddRow("atomic", TKind::kCheck, QStringLiteral("&Atomic: one refused line changes nothing"));
  AddRow("max-refusals", TKind::kText, QStringLiteral("Stop after &refused lines:"));
  AddRow("dry-run", TKind::kCheck, QStringLiteral("D&ry run: undo the import at its end"));

  // Hints for what an empty box means.
  const std::string locale = LocaleCharSet();
  static_cast<QComboBox*>(Control("charset"))
      ->lineEdit()
      ->setPlaceholderText(QStringLiteral("the locale's (%1)").arg(QString::fromStdString(locale)));
  static_cast<QLineEdit*>(Control("null"))->setPlaceholderText(QStringLiteral("an empty value"));
  static_cast<QLineEdit*>(Control("key"))->setPlaceholderText(QStringLiteral("the primary key (A,B)"));
  static_cast<QLineEdit*>(Control("max-refusals"))->setPlaceholderText(QStringLiteral("none"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TTransferOptionsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TTransferOptionsDialog::reject);
  layout->addWidget(buttons);
}

void TTransferOptionsDialog::AddRow(const char* name, TKind kind, const QString& caption,
                                    const QStringList& choices) {
  QWidget* control = nullptr;
  switch (kind) {
    case TKind::kText:
      control = new QLineEdit(this);
      break;
    case TKind::kCheck:
      control = new QCheckBox(caption, this);
      break;
    case TKind::kChoice:
    case TKind::kEditableChoice: {
      auto* box = new QComboBox(this);
      box->setEditable(kind == TKind::kEditableChoice);
      box->addItems(choices);
      control = box;
      break;
    }
  }
  control->setObjectName(QString::fromLatin1(name));
  control->setAccessibleName(QString::fromLatin1(name));
  if (kind == TKind::kCheck) {
    m_form->addRow(control);
  } else {
    m_form->addRow(caption, control);
  }
  m_rows.push_back({OptionWordNamed(name), kind, control});
  Show(m_rows.back(), m_options);
}

void TTransferOptionsDialog::Show(const TRow& row, const TTransferOptions& options) {
  const QString word = ShownWord(row.option->word(options));
  switch (row.kind) {
    case TKind::kText:
      static_cast<QLineEdit*>(row.control)->setText(word);
      break;
    case TKind::kCheck:
      static_cast<QCheckBox*>(row.control)->setChecked(word == QLatin1String("true"));
      break;
    case TKind::kChoice:
    case TKind::kEditableChoice:
      static_cast<QComboBox*>(row.control)->setCurrentText(word);
      break;
  }
}

std::string TTransferOptionsDialog::WordIn(const TRow& row) const {
  switch (row.kind) {
    case TKind::kText:
      return WordOf(static_cast<QLineEdit*>(row.control)->text());
    case TKind::kCheck:
      return static_cast<QCheckBox*>(row.control)->isChecked() ? "true" : "false";
    default:
      return WordOf(static_cast<QComboBox*>(row.control)->currentText());
  }
}

QWidget* TTransferOptionsDialog::Control(const char* name) const {
  for (const TRow& row : m_rows) {
    if (qstrcmp(row.option->name, name) == 0) return row.control;
  }
  return nullptr;
}

void TTransferOptionsDialog::accept() {
  TTransferOptions chosen = m_options;
  for (const TRow& row : m_rows) {
    const std::string problem = row.option->take(chosen, WordIn(row));
    if (!problem.empty()) {
      m_messages.ShowMessage(problem);
      row.control->setFocus();
      return;
    }
  }
  if (const std::string problem = OptionsProblem(chosen); !problem.empty()) {
    m_messages.ShowMessage(problem);
    return;
  }
  m_options = chosen;
  QDialog::accept();
}
