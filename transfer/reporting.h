// How a transfer reports to whoever runs it: the window implements these
// with its progress bar and message boxes, the command-line program with its
// terminal, tests with recorders.
#pragma once

#include <cstdint>
#include <string>

class IProgress {
 public:
  virtual ~IProgress() = default;
  // Moves the bar; positions run from 0 to 100.
  virtual void SetPosition(int position) = 0;
  // Rows written or lines read so far; called as often as the position is
  // set, for a display that counts rows.
  virtual void SetRowsDone(std::int64_t /*rows*/) {}
  // Asked between rows: true ends the transfer as the user's Stop does.
  virtual bool StopRequested() { return false; }
};

// A data line of an import that the database refused.
struct TRefusedLine {
  std::string path;         // the file it came from
  std::int64_t lineNumber;  // its first line in the file, counted from 1
  std::string reason;       // the server's own words, or ours
};

// What the user answers to a refused line.
enum class TRefusalAnswer {
  raOk,       // go on and ask again at the next refusal
  raSkipAll,  // go on without asking again in this import
  raStop,     // end the import here; what was accepted stays
};

class IMessages {
 public:
  virtual ~IMessages() = default;
  // The modal message form with one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A refused line: "Invalid data!" with its line number and reason under it
  // (RefusedLineText), answered with OK, "Skip &All" or "&Stop".
  virtual TRefusalAnswer AskRefusedLine(const TRefusedLine& line) {
    ShowMessage(RefusedLineText(line));
    return TRefusalAnswer::raOk;
  }

  static std::string RefusedLineText(const TRefusedLine& line) {
    return "Invalid data!\n\nLine " + std::to_string(line.lineNumber) + ": " + line.reason;
  }
};
