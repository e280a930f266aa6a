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
  bool Empty() const { return messages.empty() && errors.empty(); }

  std::vector<std::string> messages;
  std::vector<std::string> errors;
};
