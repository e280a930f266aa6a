// Export of a table into a comma-separated text file, and import of such a
// file into a table. Both take what the window holds as plain values and
// report through the progress and message interfaces; failures of the
// database and of the file are thrown (EDatabaseError, EInOutError), after
// the file has been closed and the dataset made inactive.
#pragma once

#include <cstdint>
#include <string>

#include "base/exceptions.h"
#include "transfer/reporting.h"

class TSQLDataSet;

struct TTransferRequest {
  std::string folder;
  std::string fileName;
  // The table exactly as the catalogue lists it; its columns are read from
  // the table itself when the transfer starts.
  std::string tableName;
  // The command-line program's "-": folder and file name are "/dev" and
  // "stdout" (export) or "stdin" (import), used as they are: no temporary
  // file, no check that the file is a regular one. The rejected lines of such
  // an import go to "stdin.rejected.csv" and "stdin.rejected.log" in the
  // current folder.
  bool standardStream = false;
};

// An import that ended with a failure other than a refused line. Its
// message names the failure, the line the import ended at and the rows
// committed before it, which are in the table.
class EImportFailed : public Exception {
 public:
  EImportFailed(const std::string& message, std::int64_t committed, std::int64_t endedAtLine)
      : Exception(message), m_committed(committed), m_endedAtLine(endedAtLine) {}
  std::int64_t Committed() const { return m_committed; }
  std::int64_t EndedAtLine() const { return m_endedAtLine; }

 private:
  std::int64_t m_committed;
  std::int64_t m_endedAtLine;
};

// Writes the header line (the table's columns) and one line per row of the
// table into folder/fileName (replacing an earlier file), moves the bar from
// 0 through 10 to 100, and shows the result.
TTransferResult ExportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                         IMessages& messages);

// Inserts each data line of folder/fileName into the table; a line the
// database refuses is asked about (AskRefusedLine) and kept in the rejected
// files, and the import goes on. A header naming something that is not a
// field ends it before the first line (headerMismatch). Throws EImportFailed
// for any other failure after the first line was read.
TTransferResult ImportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                         IMessages& messages);
