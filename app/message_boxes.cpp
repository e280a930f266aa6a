#include "app/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

namespace {

// A parentless box is centred on the screen by Qt and is modal for the whole
// application while it runs.
void ShowBox(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box;
  box.setWindowTitle(QApplication::applicationDisplayName());
  box.setIcon(icon);
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(text));
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  ok->setText(QStringLiteral("OK"));
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
}

}  // namespace

void TMessageBoxes::ShowMessage(const std::string& text) { ShowBox(QMessageBox::NoIcon, text); }

void TMessageBoxes::ShowError(const std::string& message) {
  ShowBox(QMessageBox::Critical, ErrorBoxText(message));
}
