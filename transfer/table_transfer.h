// Export of a table into a comma-separated text file, and import of such a
// file into a table. Both take what the window holds as plain values and
// report through the progress and message interfaces; failures of the
// database and of the file are thrown (EDatabaseError, EInOutError), after
// the file has been closed and the dataset made inactive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/reporting.h"

class TSQLDataSet;

struct TTransferRequest {
  std::string folder;
  std::string fileName;
  // The current table's column names, in the table's order.
  std::vector<std::string> fieldList;
  std::string tableName;
  // The command-line program's "-": folder and file name are "/dev" and
  // "stdout" (export) or "stdin" (import), used as they are: no temporary
  // file, no check that the file is a regular one. The rejected lines of such
  // an import go to "stdin.rejected.csv" and "stdin.rejected.log" in the
  // current folder.
  bool standardStream = false;
};

// How a transfer ended, when it did not fail.
struct TTransferResult {
  std::int64_t rows = 0;           // rows written to the file, or inserted and committed
  std::int64_t refused = 0;        // import: lines the database refused
  bool stopped = false;            // ended by a Stop (the user's, or the refusal box's)
  std::int64_t stoppedAtLine = 0;  // import stopped: the first line of the file not imported
  std::string rejectedPath;        // import: the file of refused lines, when there was one
};

// Writes the header line and one line per row of the table into
// folder/fileName (replacing an earlier file), moves the bar from 0 through
// 10 to 100, and shows the count message.
TTransferResult ExportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                         IMessages& messages);

// Inserts each data line of folder/fileName into the table, one statement per
// line; a line the database refuses shows "Invalid data!" and the import goes
// on. A header naming something that is not a field stops it with a message.
TTransferResult ImportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                         IMessages& messages);
