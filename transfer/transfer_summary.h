// A summary of a run for scripts and schedulers: one JSON object a table
// (JSON Lines), saying what happened to the table and its file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/reporting.h"

struct TSummaryEntry {
  std::optional<std::string> table;  // none: the rows of a query, or a run that failed before any table
  std::string file;                  // as the user named it ("-" for a standard stream)
  TTransferDirection direction = TTransferDirection::tdExport;
  std::int64_t rows = 0;     // written, or inserted (a dry run: would have been)
  std::int64_t refused = 0;  // import: refused lines
  bool stopped = false;
  bool dryRun = false;
  std::int64_t resumeLine = 0;  // a failed or stopped import: the line to go on from; 0 for none
  std::string rejectedFile;     // "" for none
  double seconds = 0;
  int exitStatus = 0;
  std::string sqlState;  // the server's, for a failure; "" for none
};

// The entry as one JSON object on one line, without a line end:
// {"table":"T","file":"t.csv","direction":"export","rows":3,"refused":0,
// "stopped":false,"dry_run":false,"resume_line":null,"rejected_file":null,
// "seconds":0.012,"exit_status":0,"sqlstate":null}
std::string SummaryLine(const TSummaryEntry& entry);

// text as a JSON string, quotes included. Control characters, quotes and
// backslashes are escaped; a byte that is no part of well-formed UTF-8 (a
// name in an 8-bit character set) stands as the character of its value
// ("\u00c4" for the byte C4, as ISO 8859-1 reads it), so that the result
// is always valid JSON.
std::string JsonString(std::string_view text);
