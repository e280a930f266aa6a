// How the window speaks to the user: its own messages (refusals, results)
// and the error box for failures. Tests put a recorder in place of the boxes.
#pragma once

#include <string>

class QMessageBox;

#include "transfer/reporting.h"

class IMessageBoxes : public IMessages {
 public:
  // The error box for a failure: the text ErrorBoxText makes of message.
  virtual void ShowError(const std::string& message) = 0;
  // A question with the buttons "&Yes" and "&No"; true for Yes.
  virtual bool AskYesNo(const std::string& question) = 0;
  // Takes an open question off the screen, as if answered No: what it asked
  // about is over.
  virtual void CloseQuestion() {}
};

// What the error box shows for a failure's message: the message with "."
// appended when it is not empty and its last character sorts after "." (so
// "No such file" and "Why?" get a full stop; "Done.", "Stop!" and "(x)" do not).
std::string ErrorBoxText(const std::string& message);

// The boxes on screen: QMessageBox with the application's title as caption,
// one OK button, centred on the screen, modal.
class TMessageBoxes : public IMessageBoxes {
 public:
  // No icon, the text word-wrapped; Enter and Esc both answer OK.
  void ShowMessage(const std::string& text) override;
  // The error icon and ErrorBoxText(message).
  void ShowError(const std::string& message) override;
  // RefusedLineText(line) with the buttons OK (the default; Enter and Esc),
  // "Skip &All" and "&Stop".
  TRefusalAnswer AskRefusedLine(const TRefusedLine& line) override;
  // The question icon; Esc answers No.
  bool AskYesNo(const std::string& question) override;
  void CloseQuestion() override;

 private:
  QMessageBox* m_question = nullptr;  // while AskYesNo waits
};
