// The window's Options dialog: the command-line program's transfer options,
// each control named (its accessible name) as the program's long option is.
#pragma once

#include <QDialog>
#include <vector>

#include "app/transfer_options.h"

class IMessages;

class TTransferOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows options; what is wrong with what the user chose goes to messages.
  TTransferOptionsDialog(const TTransferOptions& options, IMessages& messages, QWidget* parent = nullptr);

  // The options as accepted (the ones shown until then).
  const TTransferOptions& Options() const { return m_options; }
  // The control of the option with that long name; nullptr for none.
  QWidget* Control(const char* name) const;

  // Takes every control's value: an option that has no such value, or
  // options that do not go together, are said in a message, and the dialog
  // stays open at that control.
  void accept() override;

 private:
  enum class TKind { kText, kCheck, kChoice, kEditableChoice };
  struct TRow {
    const TOptionWord* option;
    TKind kind;
    QWidget* control;
  };

  // Adds the control of the option with that long name under caption; a
  // choice offers choices.
  void AddRow(const char* name, TKind kind, const QString& caption, const QStringList& choices = {});
  void Show(const TRow& row, const TTransferOptions& options);
  std::string WordIn(const TRow& row) const;

  TTransferOptions m_options;
  IMessages& m_messages;
  std::vector<TRow> m_rows;
  class QFormLayout* m_form = nullptr;
};
