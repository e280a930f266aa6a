// How a transfer reports to whoever runs it: the window implements these
// with its progress bar and message boxes, the command-line program with its
// terminal, tests with recorders. What a transfer did comes as data (the
// result, each refused line with its kind); ResultText puts the result in
// the window's words.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/exceptions.h"

class IProgress {
 public:
  virtual ~IProgress() = default;
  // Moves the bar; positions run from 0 to 100.
  virtual void SetPosition(int position) = 0;
  // Rows written or lines read so far; called as often as the position is
  // set, for a display that counts rows.
  virtual void SetRowsDone(std::int64_t /*rows*/) {}
  // Import: rows committed so far, which stay in the table whatever happens.
  virtual void SetRowsCommitted(std::int64_t /*rows*/) {}
  // Asked between rows: true ends the transfer as the user's Stop does.
  virtual bool StopRequested() { return false; }
};

// Why a data line was refused.
enum class TLineFault {
  lfRefusedByDatabase,  // the database refused its values (see TRefusalKind)
  lfPieceCount,         // it has another number of values than the header
  lfUnclosedQuote,      // a quoted value still open at the end of the file
  lfUnreadableValue,    // a value in a form the import does not read
};

// A data line of an import that was refused.
struct TRefusedLine {
  TRefusedLine(std::string path, std::int64_t lineNumber, std::string reason)
      : path(std::move(path)), lineNumber(lineNumber), reason(std::move(reason)) {}

  std::string path;         // the file it came from
  std::int64_t lineNumber;  // its first line in the file, counted from 1
  std::string reason;       // the server's own words, or ours
  TLineFault fault = TLineFault::lfRefusedByDatabase;
  TRefusalKind kind = TRefusalKind::rkOther;  // of a line the database refused
  std::string sqlState;                       // likewise, "" when the server gave none
};

enum class TTransferDirection { tdExport, tdImport };

// How a transfer ended, when it did not fail.
struct TTransferResult {
  TTransferDirection direction = TTransferDirection::tdExport;
  std::string tableName;  // empty for the export of a query
  std::string path;       // the file as the transfer named it
  // The file's header named something that is no column of the table:
  // nothing was imported.
  bool headerMismatch = false;
  std::vector<std::string> headerProblems;  // what did not match, one sentence each
  std::int64_t rows = 0;                    // rows written to the file, or inserted and committed
  std::int64_t refused = 0;                 // import: lines refused
  bool stopped = false;                     // ended by a Stop (the user's, or the refusal box's)
  std::int64_t stoppedAtLine = 0;           // import stopped: the first line of the file not imported
  std::string rejectedPath;                 // import: the file of refused lines, when there was one
  bool dryRun = false;                      // import: rows counts what a real import would have done
  bool rolledBack = false;                  // import: nothing was changed (one transaction undone)
  // Import: the refused line that ended it (atomic, or the most refusals reached); 0 for none.
  std::int64_t refusalStopLine = 0;
};

// The message the window shows for a result: the count message ("25 records
// of table 'T' has been exported into file '/data/t.csv'"), with the refused
// lines and a stop of an import after it, or the header message, or the
// message of a stopped export. A dry run says that generators and identity
// columns may have advanced; an import undone names the refused line that
// ended it and says that no refused line was kept.
std::string ResultText(const TTransferResult& result);

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
  // How the transfer ended; shown as ResultText unless overridden.
  virtual void ShowResult(const TTransferResult& result) { ShowMessage(ResultText(result)); }
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
