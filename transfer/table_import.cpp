#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/sql_dataset.h"
#include "db/table_port.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/import_columns.h"
#include "transfer/rejected_files.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_file.h"

namespace {

std::int64_t FileSize(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : 0;
}

// The lines of one open file after its header, into the table: each record
// read, checked, turned into a row for the inserter; refused lines asked
// about and kept; the bar following the bytes read.
class TImportRun {
 public:
  TImportRun(TTransferResult& result, const TTransferRequest& request, IProgress& progress, IMessages& messages,
             TCsvRecordReader& reader, std::vector<TImportColumn> columns, std::size_t headerPieces,
             std::int64_t fileSize)
      : m_result(result),
        m_request(request),
        m_progress(progress),
        m_messages(messages),
        m_reader(reader),
        m_columns(std::move(columns)),
        m_headerPieces(headerPieces),
        m_fileSize(fileSize),
        m_rejected(RejectedBase(request.folder, request.fileName, request.standardStream), reader.Record()) {}

  // Imports every line, until the end of the file or a Stop; throws
  // EImportFailed for a failure, after keeping what was inserted.
  void Run(TSQLConnection& connection);
  TRejectedFiles& Rejected() { return m_rejected; }
  int Position() const { return m_position; }

 private:
  void ReadLine(TBulkInserter& inserter);
  void Refuse(const std::string& record, const TRefusedLine& line);
  void MoveBar(std::int64_t rowsDone);

  TTransferResult& m_result;
  const TTransferRequest& m_request;
  IProgress& m_progress;
  IMessages& m_messages;
  TCsvRecordReader& m_reader;
  std::vector<TImportColumn> m_columns;
  std::size_t m_headerPieces;
  std::int64_t m_fileSize;
  TRejectedFiles m_rejected;
  std::vector<TCsvPiece> m_pieces;
  int m_position = 10;
  bool m_skipAll = false;
  bool m_stopAsked = false;
};

void TImportRun::Run(TSQLConnection& connection) {
  std::vector<std::string> names;
  for (const auto& column : m_columns) names.push_back(column.name);
  // The first line not yet settled: where a failure or a stop ends the import.
  std::int64_t lineNumber = m_reader.LineNumber() + 1;
  std::optional<TBulkInserter> inserter;
  try {
    inserter.emplace(connection, m_request.tableName, names, [&](const TInsertRow& row, const EDataRefused& refusal) {
      TRefusedLine line{m_request.fileName, row.tag, refusal.what()};
      line.kind = refusal.Kind();
      line.sqlState = refusal.SqlState();
      Refuse(row.source, line);
    });
    for (;;) {
      if (m_progress.StopRequested() || m_stopAsked) {
        m_result.stopped = true;
        break;
      }
      const bool atEnd = m_reader.AtEnd();
      IOCheck();
      if (atEnd) break;
      ReadLine(*inserter);
      lineNumber = m_reader.LineNumber() + 1;
      MoveBar(inserter->Inserted());
    }
    inserter->Complete();
  } catch (const std::exception& failure) {
    if (m_reader.LineNumber() >= lineNumber) lineNumber = m_reader.LineNumber();
    const std::int64_t committed = inserter ? (inserter->KeepWhatWasInserted(), inserter->Committed()) : 0;
    m_result.rows = committed;
    m_rejected.CloseQuietly();
    if (!m_progress.StopRequested()) {
      throw EImportFailed(std::string(failure.what()) + "\n\nThe import of table '" + m_request.tableName +
                              "' ended at line " + std::to_string(lineNumber) + ": " + std::to_string(committed) +
                              " rows were committed before it and are in the table; that line and the ones "
                              "after it were not imported.",
                          committed, lineNumber);
    }
    // A Stop may cancel a call that waits on the server; its failure is the stop.
    m_result.stopped = true;
  }
  if (inserter) m_result.rows = inserter->Committed();
  if (m_result.stopped) m_result.stoppedAtLine = lineNumber;
}

void TImportRun::ReadLine(TBulkInserter& inserter) {
  m_reader.Read(m_pieces);
  IOCheck();
  const std::int64_t lineNumber = m_reader.LineNumber();
  if (m_reader.Unterminated()) {
    inserter.Flush();
    TRefusedLine line{m_request.fileName, lineNumber,
                      "The quoted value that opens on line " + std::to_string(lineNumber) +
                          " is not closed before the end of the file"};
    line.fault = TLineFault::lfUnclosedQuote;
    Refuse(m_reader.Record(), line);
  } else if (m_pieces.size() != m_headerPieces) {
    inserter.Flush();
    TRefusedLine line{m_request.fileName, lineNumber,
                      "The line has " + std::to_string(m_pieces.size()) + " values; the header names " +
                          std::to_string(m_headerPieces) + " columns"};
    line.fault = TLineFault::lfPieceCount;
    Refuse(m_reader.Record(), line);
  } else {
    TInsertRow row;
    row.tag = lineNumber;
    row.source = m_reader.Record();
    row.values.reserve(m_columns.size());
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
      row.values.push_back(ImportValue(m_columns[c], inserter.Input(c), m_pieces[m_columns[c].piece]));
    }
    inserter.Add(std::move(row));
  }
}

void TImportRun::Refuse(const std::string& record, const TRefusedLine& line) {
  ++m_result.refused;
  m_rejected.Add(record, line.lineNumber, line.reason);
  if (m_skipAll || m_stopAsked) return;
  const TRefusalAnswer answer = m_messages.AskRefusedLine(line);
  if (answer == TRefusalAnswer::raSkipAll) m_skipAll = true;
  if (answer == TRefusalAnswer::raStop) m_stopAsked = true;
}

void TImportRun::MoveBar(std::int64_t rowsDone) {
  if (m_fileSize <= 0) return;
  const int now = static_cast<int>(10 + 90 * std::min(m_reader.BytesRead(), m_fileSize) / m_fileSize);
  if (now == m_position) return;
  m_position = now;
  m_progress.SetPosition(m_position);
  m_progress.SetRowsDone(rowsDone);
}

}  // namespace

TTransferResult ImportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                            IMessages& messages) {
  progress.SetPosition(0);
  progress.SetRowsDone(0);
  TTransferResult result;
  result.direction = TTransferDirection::tdImport;
  result.tableName = request.tableName;
  result.path = TransferPath(request.folder, request.fileName);

  const std::vector<TTableColumn> table = DescribeTable(dataSet, request.tableName);
  progress.SetPosition(10);

  if (!request.standardStream) CheckRegularFile(result.path);
  const std::int64_t fileSize = request.standardStream ? 0 : FileSize(result.path);
  TTextFile file(result.path);
  file.Reset();
  IOCheck();
  TCsvRecordReader reader(file);
  std::vector<TCsvPiece> header;
  reader.Read(header);
  IOCheck();
  std::optional<std::vector<TImportColumn>> columns = MatchHeader(header, table);
  if (!columns) {
    result.headerMismatch = true;
    messages.ShowResult(result);
    return result;
  }

  TImportRun run(result, request, progress, messages, reader, std::move(*columns), header.size(), fileSize);
  try {
    run.Run(*dataSet.SQLConnection());
  } catch (const EImportFailed&) {
    file.Close();
    IOResult();
    throw;
  }
  run.Rejected().Close();
  file.Close();
  IOCheck();

  if (run.Rejected().Made()) result.rejectedPath = run.Rejected().CsvPath();
  if (run.Position() != 100) progress.SetPosition(100);
  progress.SetRowsDone(result.rows);
  messages.ShowResult(result);
  return result;
}
