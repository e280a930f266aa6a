// Stands in for the window's message and error boxes: records what would
// have been shown, in order.
#pragma once

#include <string>
#include <vector>

#include "app/message_boxes.h"

class TMessageRecorder : public IMessageBoxes {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  // Records the text the error box would show.
  void ShowError(const std::string& message) override { errors.push_back(ErrorBoxText(message)); }
  // Records the refusal box's text and gives refusalAnswer.
  TRefusalAnswer AskRefusedLine(const TRefusedLine& line) override {
    messages.push_back(RefusedLineText(line));
    return refusalAnswer;
  }
  // Records the question and gives yesNoAnswer.
  bool AskYesNo(const std::string& question) override {
    questions.push_back(question);
    return yesNoAnswer;
  }
  bool Empty() const { return messages.empty() && errors.empty(); }

  std::vector<std::string> messages;
  std::vector<std::string> errors;
  std::vector<std::string> questions;
  TRefusalAnswer refusalAnswer = TRefusalAnswer::raOk;
  bool yesNoAnswer = true;
};
