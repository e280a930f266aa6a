// What the command-line program shows on the terminal while a transfer runs,
// how it asks for a password, and how Ctrl-C reaches a running transfer.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "transfer/reporting.h"

// From now on SIGINT and SIGTERM only record that a stop was asked for; a
// second one of them ends the program at once. Call it after connecting: the
// embedded engine installs handlers of its own for these signals when it
// attaches a database.
void CatchStopSignals();
// The signal that asked for a stop, 0 while none did.
int StopSignal();
// From now on a write to a pipe whose reader went away (SIGPIPE) asks for a
// stop too, which ends quietly.
void CatchBrokenPipe();

// text with every control character shown as a visible escape ("\x1b",
// "\u009b"), so that names and values from a database or a file cannot
// drive the terminal; line feeds stay when keepLineFeeds.
std::string Printable(const std::string& text, bool keepLineFeeds = false);
// A name as Printable shows it, with each backslash doubled too, so that
// every escape stands for one name only and a printed name can be typed
// back where a TABLE goes.
std::string PrintableName(const std::string& name);

// A bar on standard error with the rows done, the rate and the time left,
// redrawn at most ten times a second; nothing at all when hidden.
class TTerminalProgress : public IProgress {
 public:
  explicit TTerminalProgress(bool visible);
  void SetPosition(int position) override;
  void SetRowsDone(std::int64_t rows) override;
  bool StopRequested() override;

  // Takes the bar off the terminal line, so that a message can be printed.
  void Clear();

 private:
  void Draw(bool force);

  bool m_visible;
  bool m_drawn = false;
  int m_position = 0;
  std::optional<std::int64_t> m_rows;
  std::chrono::steady_clock::time_point m_start;
  std::optional<std::chrono::steady_clock::time_point> m_rowsStart;  // the position first passed 10
  std::chrono::steady_clock::time_point m_lastDraw;
};

// The transfer's messages on standard error: the count message (left out
// with --quiet), every other message, and each refused line as
// "FILE:LINE: reason". Standard output stays free for the data.
class TTerminalMessages : public IMessages {
 public:
  // fileShown: the file as the user named it, for the refused lines.
  TTerminalMessages(TTerminalProgress& progress, std::string fileShown, bool quiet);
  void ShowMessage(const std::string& text) override;
  // The count message is left out with --quiet; a stop or a header that
  // names no field is shown all the same.
  void ShowResult(const TTransferResult& result) override;
  TRefusalAnswer AskRefusedLine(const TRefusedLine& line) override;

 private:
  TTerminalProgress& m_progress;
  std::string m_fileShown;
  bool m_quiet;
};

// Reads a password from the controlling terminal without echoing it, after
// showing prompt there. nullopt when the process has no terminal. Ctrl-C
// during the question puts the terminal back as it was.
std::optional<std::string> AskPassword(const std::string& prompt);
