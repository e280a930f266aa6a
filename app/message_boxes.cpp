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
void SetUpBox(QMessageBox& box, QMessageBox::Icon icon, const std::string& text) {
  box.setWindowTitle(QApplication::applicationDisplayName());
  box.setIcon(icon);
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(text));
}

QPushButton* AddButton(QMessageBox& box, QMessageBox::StandardButton kind, const char* caption) {
  QPushButton* button = box.addButton(kind);
  button->setText(QString::fromLatin1(caption));
  return button;
}

void ShowBox(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box;
  SetUpBox(box, icon, text);
  QPushButton* ok = AddButton(box, QMessageBox::Ok, "OK");
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
}

}  // namespace

void TMessageBoxes::ShowMessage(const std::string& text) { ShowBox(QMessageBox::NoIcon, text); }

void TMessageBoxes::ShowError(const std::string& message) {
  ShowBox(QMessageBox::Critical, ErrorBoxText(message));
}

TRefusalAnswer TMessageBoxes::AskRefusedLine(const TRefusedLine& line) {
  QMessageBox box;
  SetUpBox(box, QMessageBox::NoIcon, RefusedLineText(line));
  QPushButton* ok = AddButton(box, QMessageBox::Ok, "OK");
  QPushButton* skipAll = AddButton(box, QMessageBox::YesToAll, "Skip &All");
  QPushButton* stop = AddButton(box, QMessageBox::Abort, "&Stop");
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
  if (box.clickedButton() == skipAll) return TRefusalAnswer::raSkipAll;
  if (box.clickedButton() == stop) return TRefusalAnswer::raStop;
  return TRefusalAnswer::raOk;
}

bool TMessageBoxes::AskYesNo(const std::string& question) {
  QMessageBox box;
  SetUpBox(box, QMessageBox::Question, question);
  QPushButton* yes = AddButton(box, QMessageBox::Yes, "&Yes");
  QPushButton* no = AddButton(box, QMessageBox::No, "&No");
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  m_question = &box;
  box.exec();
  m_question = nullptr;
  return box.clickedButton() == yes;
}

void TMessageBoxes::CloseQuestion() {
  if (m_question) m_question->reject();
}
