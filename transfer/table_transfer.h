// Export of a table into a comma-separated text file, and import of such a
// file into a table. Both take what the window holds as plain values and
// report through the progress and message interfaces; failures of the
// database and of the file are thrown (EDatabaseError, EInOutError), after
// the file has been closed and the dataset made inactive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/exceptions.h"
#include "transfer/compression.h"
#include "transfer/csv_pieces.h"
#include "transfer/reporting.h"

class TSQLDataSet;

struct TTransferRequest {
  TTransferRequest() = default;
  TTransferRequest(std::string folder, std::string fileName, std::string tableName)
      : folder(std::move(folder)), fileName(std::move(fileName)), tableName(std::move(tableName)) {}

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
  // Export: a symbolic link at the file's name is replaced by the new file
  // rather than followed to the file it leads to.
  bool replaceLinks = false;
  // Import: the data lines before this line of the file are passed over
  // (an import that goes on where an earlier one ended); 0 for none.
  std::int64_t fromLine = 0;

  // Export: only the rows where this condition holds (SQL, as the user
  // wrote it); or, instead of a table, the rows of this query.
  std::string where;
  std::string query;

  // The form of the file's lines; the window's files by default.
  TCsvDialect dialect;
  // How a standard stream, or the files of a folder export, are packed. A
  // named file's compression follows its name (FileCompression).
  TCompression compression = TCompression::cNone;
  TCompression FileCompression() const { return standardStream ? compression : CompressionOfName(fileName); }

  // Import: how the lines change the table.
  enum class TMode {
    mAppend,   // each line a new row
    mReplace,  // the table's rows deleted first; all in one transaction
    mUpsert,   // a line whose key matches a row updates it, the others are new rows
  } mode = TMode::mAppend;
  std::vector<std::string> keyColumns;  // upsert: the key; empty: the primary key
  // One transaction: a failure, a refused line or a stop leaves the table as it was.
  bool atomic = false;
  // Every line goes to the server as in a real import, then all is rolled back.
  bool dryRun = false;
  // Stop after this many refused lines, as the refusal box's Stop does; 0: never.
  std::int64_t maxRefusals = 0;

  // Nothing is committed before the end: a failure or a stop changes nothing.
  bool OneTransaction() const { return mode == TMode::mReplace || atomic || dryRun; }
  // The rows go into the transaction the connection has open (one of many
  // tables imported together), which the caller commits or rolls back; the
  // refused lines are written out at the end of the table.
  bool sharedTransaction = false;
  // Where the rejected files go; empty: beside the file (for standard input,
  // the current folder).
  std::string rejectedFolder;
};

// An import that ended with a failure other than a refused line. Its
// message names the failure, the line to import again from and the rows
// committed before it: every line before that one is in the table or in
// the rejected files, no line from it on is in either.
class EImportFailed : public Exception {
 public:
  EImportFailed(const std::string& message, std::int64_t committed, std::int64_t resumeLine,
                std::int64_t unknownEnd, std::string sqlState = {})
      : Exception(message),
        m_committed(committed),
        m_resumeLine(resumeLine),
        m_unknownEnd(unknownEnd),
        m_sqlState(std::move(sqlState)) {}
  std::int64_t Committed() const { return m_committed; }
  std::int64_t ResumeLine() const { return m_resumeLine; }
  // Not 0 when the connection was lost while a commit was on its way: the
  // lines from ResumeLine() to before this one may or may not be in the
  // table; when they are, import again from this line.
  std::int64_t UnknownEnd() const { return m_unknownEnd; }
  // The server's SQLSTATE of the failure ("" when it was not the server's).
  const std::string& SqlState() const { return m_sqlState; }
  // The file of the refused lines kept before the failure ("" for none).
  const std::string& RejectedPath() const { return m_rejectedPath; }
  void SetRejectedPath(std::string path) { m_rejectedPath = std::move(path); }

 private:
  std::int64_t m_committed;
  std::int64_t m_resumeLine;
  std::int64_t m_unknownEnd;
  std::string m_sqlState;
  std::string m_rejectedPath;
};

// The server's SQLSTATE behind a failure of a transfer ("" for none).
std::string FailureSqlState(const std::exception& failure);

// True when text in the Firebird character set is UTF-8 (UTF8, or its
// spellings UTF-8 and utf8), the only text a byte-order mark may head.
bool TakesByteOrderMark(std::string_view charSet);

// Writes the header line (the table's columns) and one line per row of the
// table into folder/fileName (replacing an earlier file), in the request's
// dialect and compression, moves the bar from 0 through 10 to 100, and shows
// the result. Throws Exception for a column of the dialect the table (or
// query) lacks, and for a byte-order mark asked of a set that is not UTF-8.
TTransferResult ExportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                            IMessages& messages);

// Inserts each data line of folder/fileName, read in the request's dialect
// and unpacked as FileCompression() says, into the table; a line the database refuses is asked about
// (AskRefusedLine) and kept in the rejected files, and the import goes on. A
// header (or columns of the dialect) naming something that is not a field
// ends it before the first line (headerMismatch). Throws EImportFailed
// for any other failure after the first line was read.
TTransferResult ImportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                            IMessages& messages);
