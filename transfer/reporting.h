// How a transfer reports to whoever runs it: the window implements these
// with its progress bar and message boxes, tests with recorders.
#pragma once

#include <string>

class IProgress {
 public:
  virtual ~IProgress() = default;
  // Moves the bar; positions run from 0 to 100.
  virtual void SetPosition(int position) = 0;
};

class IMessages {
 public:
  virtual ~IMessages() = default;
  // The modal message form with one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
};
