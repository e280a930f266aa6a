#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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
#include "transfer/worker_thread.h"

namespace {

std::int64_t FileSize(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : 0;
}

// A line of the file, read and checked, as the inserter takes it: a row, a
// line refused before it reaches the table, or a line passed over.
struct TReadLine {
  enum TKind { rlRow, rlRefused, rlPassed } kind = rlRow;
  TInsertRow row;
  TLineFault fault = TLineFault::lfRefusedByDatabase;
  std::string reason;
  std::string record;  // the line as the file holds it (a refused line)
  std::int64_t lineNumber = 0;
  std::int64_t next = 0;  // the number of the line after it
  std::int64_t bytesRead = 0;
};

// Lines on their way from the thread that reads the file to the one that
// sends them to the server, in a few batches of at most kLines lines and
// about kBytes bytes, so that memory stays flat however long the lines are.
class TLinePipe {
 public:
  static constexpr std::size_t kLines = 256;
  static constexpr std::size_t kBytes = 1 << 20;
  static constexpr std::size_t kBatches = 4;

  // The reader's side: false once the lines are no longer wanted.
  bool Send(std::vector<TReadLine>& batch) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_full.size() < kBatches || m_abandoned; });
    if (m_abandoned) return false;
    m_full.push_back(std::move(batch));
    batch.clear();
    m_changed.notify_all();
    return true;
  }
  // The reader is done: at the end of the file, or with what failed.
  void End(std::exception_ptr failure) {
    std::lock_guard lock(m_mutex);
    m_failure = failure;
    m_ended = true;
    m_changed.notify_all();
  }

  // The next line; false at the end; throws what ended the reading, after
  // every line read before it.
  bool Next(TReadLine& line) {
    if (m_at == m_batch.size()) {
      std::unique_lock lock(m_mutex);
      m_changed.wait(lock, [&] { return !m_full.empty() || m_ended; });
      if (m_full.empty()) {
        if (m_failure) std::rethrow_exception(m_failure);
        return false;
      }
      m_batch = std::move(m_full.front());
      m_full.pop_front();
      m_at = 0;
      m_changed.notify_all();
    }
    line = std::move(m_batch[m_at++]);
    return true;
  }
  // No more lines are wanted; the reader stops at its next batch.
  void Abandon() {
    std::lock_guard lock(m_mutex);
    m_abandoned = true;
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::vector<TReadLine>> m_full;
  std::vector<TReadLine> m_batch;  // the consumer's own
  std::size_t m_at = 0;
  bool m_ended = false;
  bool m_abandoned = false;
  std::exception_ptr m_failure;
};

// The lines of one open file after its header, into the table: each record
// read, checked, turned into a row for the inserter; refused lines asked
// about and kept; the bar following the bytes read. A file's lines are read
// and turned into rows on a thread of their own while the rows before them
// go to the server.
class TImportRun {
 public:
  TImportRun(TTransferResult& result, const TTransferRequest& request, IProgress& progress,
             IMessages& messages, TCsvRecordReader& reader, std::vector<TImportColumn> columns,
             std::size_t headerPieces, std::int64_t fileSize)
      : m_result(result),
        m_request(request),
        m_progress(progress),
        m_messages(messages),
        m_reader(reader),
        m_columns(std::move(columns)),
        m_headerPieces(headerPieces),
        m_fileSize(fileSize),
        m_rejected(RejectedBase(request.folder, request.fileName, request.standardStream), reader.Record(),
                   request.fromLine > 0) {}

  // Imports every line, until the end of the file or a Stop; throws
  // EImportFailed for a failure, after keeping what was settled.
  void Run(TSQLConnection& connection);
  TRejectedFiles& Rejected() { return m_rejected; }
  int Position() const { return m_position; }

 private:
  // The next line of the file, on the thread that reads it; false at its end.
  bool NextLine(TReadLine& line, const std::vector<TColumnInput>& inputs);
  TReadLine ReadLine(const std::vector<TColumnInput>& inputs);
  void ReadLines(TLinePipe& pipe, const std::vector<TColumnInput>& inputs);
  void Take(TReadLine& line, TBulkInserter& inserter);
  void RefuseHere(TBulkInserter& inserter, const TReadLine& line);
  bool Refuse(const std::string& record, const TRefusedLine& line);
  void MoveBar(std::int64_t rowsDone, std::int64_t bytesRead);
  [[noreturn]] void Fail(const std::exception& failure, TBulkInserter* inserter);

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
  TInsertOptions options;
  options.upsert = m_request.mode == TTransferRequest::TMode::mUpsert;
  options.matchColumns = m_request.keyColumns;
  options.replace = m_request.mode == TTransferRequest::TMode::mReplace;
  options.oneTransaction = m_request.atomic;
  options.rollBackAtEnd = m_request.dryRun;
  const bool oneTransaction = options.replace || options.oneTransaction || options.rollBackAtEnd;
  std::optional<TBulkInserter> inserter;
  try {
    inserter.emplace(
        connection, m_request.tableName, names, m_reader.NextLineNumber(),
        [&](const TInsertRow& row, const EDataRefused& refusal) {
          TRefusedLine line(m_request.fileName, row.tag, refusal.what());
          line.kind = refusal.Kind();
          line.sqlState = refusal.SqlState();
          return Refuse(row.source, line);
        },
        [&](std::int64_t committedRows, std::int64_t) {
          m_rejected.Commit();
          m_progress.SetRowsCommitted(committedRows);
        },
        options);
    std::vector<TColumnInput> inputs;
    for (std::size_t c = 0; c < m_columns.size(); ++c) inputs.push_back(inserter->Input(c));
    // Standard input is read here: a read that waits for input must not
    // keep a stop waiting.
    const bool readAside = !m_request.standardStream;
    TLinePipe pipe;
    std::thread reading;
    if (readAside) reading = std::thread(&TImportRun::ReadLines, this, std::ref(pipe), std::cref(inputs));
    TJoinOnExit join{reading, [&pipe] { pipe.Abandon(); }};
    TReadLine line;
    for (;;) {
      if (m_progress.StopRequested() || m_stopAsked) {
        m_result.stopped = true;
        break;
      }
      if (!(readAside ? pipe.Next(line) : NextLine(line, inputs))) break;
      Take(line, *inserter);
      MoveBar(inserter->Inserted(), line.bytesRead);
    }
    // The rows still waiting may be refused with a stop too.
    inserter->Flush();
    if (m_stopAsked) m_result.stopped = true;
    // A stop (or a refused line of an atomic import) undoes one transaction.
    if (m_result.stopped && oneTransaction) {
      inserter->KeepWhatWasSettled();
      m_rejected.Discard();
    } else {
      inserter->Complete();
      if (m_request.dryRun) m_rejected.Commit();  // what a real import would keep
    }
  } catch (const std::exception& failure) {
    // A Stop may cancel a call that waits on the server; its failure is the stop.
    if (!m_progress.StopRequested()) Fail(failure, inserter ? &*inserter : nullptr);
    m_rejected.Discard();
    m_result.stopped = true;
    if (!inserter) {  // stopped before the first line was sent
      m_result.stoppedAtLine = m_reader.NextLineNumber();
      return;
    }
    inserter->KeepWhatWasSettled();
  }
  m_result.dryRun = m_request.dryRun;
  m_result.rolledBack = inserter->RolledBack() && !m_request.dryRun;
  m_result.rows = m_request.dryRun && !m_result.stopped ? inserter->Inserted() : inserter->Committed();
  if (m_result.stopped) m_result.stoppedAtLine = inserter->CommittedEnd();
}

void TImportRun::Fail(const std::exception& failure, TBulkInserter* found) {
  std::string text =
      std::string(failure.what()) + "\n\nThe import of table '" + m_request.tableName + "' ended at line ";
  if (!found) {
    m_rejected.Discard();
    const std::int64_t line = m_reader.NextLineNumber();
    throw EImportFailed(
        text + std::to_string(line) +
            ": 0 rows were committed before it and are in the table; that line and the ones after "
            "it were not imported.",
        0, line, 0);
  }
  TBulkInserter& inserter = *found;
  const auto* databaseError = dynamic_cast<const EDatabaseError*>(&failure);
  inserter.KeepWhatWasSettled(databaseError && databaseError->ConnectionLost());
  const std::int64_t committed = inserter.Committed();
  const std::int64_t line = inserter.CommittedEnd();
  m_result.rows = committed;
  if (!inserter.OutcomeUnknown()) {
    // Lines refused after the last commit go with the rows rolled back.
    m_rejected.Discard();
    throw EImportFailed(
        text + std::to_string(line) + ": " + std::to_string(committed) +
            " rows were committed before it and are in the table; that line and the ones after "
            "it were not imported.",
        committed, line, 0);
  }
  // Refused lines are not in the table either way; keeping them loses none.
  try {
    m_rejected.Commit();
  } catch (const std::exception&) {
  }
  const std::int64_t end = inserter.UnknownEnd();
  throw EImportFailed(
      text + std::to_string(line) + " or at line " + std::to_string(end) + ": " + std::to_string(committed) +
          " rows were committed before line " + std::to_string(line) +
          " and are in the table. The connection was lost while the rows of lines " + std::to_string(line) +
          " to " + std::to_string(end - 1) +
          " were being committed, so whether they are in the table cannot be known here: if they "
          "are, import again from line " +
          std::to_string(end) + ", else from line " + std::to_string(line) + ".",
      committed, line, end);
}

TReadLine TImportRun::ReadLine(const std::vector<TColumnInput>& inputs) {
  m_reader.Read(m_pieces);
  IOCheck();
  TReadLine line;
  line.lineNumber = m_reader.LineNumber();
  line.next = m_reader.NextLineNumber();
  line.bytesRead = m_reader.BytesRead();
  auto refused = [&](TLineFault fault, std::string reason) {
    line.kind = TReadLine::rlRefused;
    line.fault = fault;
    line.reason = std::move(reason);
    line.record = m_reader.Record();
    return std::move(line);
  };
  if (line.lineNumber < m_request.fromLine) {
    line.kind = TReadLine::rlPassed;
    return line;
  }
  if (m_reader.Unterminated()) {
    return refused(TLineFault::lfUnclosedQuote, "The quoted value that opens on line " +
                                                    std::to_string(line.lineNumber) +
                                                    " is not closed before the end of the file");
  }
  if (m_pieces.size() != m_headerPieces) {
    const std::string expected =
        m_request.dialect.header && m_request.dialect.columns.empty()
            ? "the header names " + std::to_string(m_headerPieces) + " columns"
            : "it must have " + std::to_string(m_headerPieces) + ", one for each column";
    return refused(TLineFault::lfPieceCount,
                   "The line has " + std::to_string(m_pieces.size()) + " values; " + expected);
  }
  TInsertRow& row = line.row;
  row.tag = line.lineNumber;
  row.next = line.next;
  row.source = m_reader.Record();
  row.values.reserve(m_columns.size());
  try {
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
      row.values.push_back(
          ImportValue(m_columns[c], inputs[c], m_pieces[m_columns[c].piece], m_request.dialect.nullText));
    }
  } catch (const EConvertError& unreadable) {
    row = TInsertRow{};
    return refused(TLineFault::lfUnreadableValue, unreadable.what());
  }
  return line;
}

bool TImportRun::NextLine(TReadLine& line, const std::vector<TColumnInput>& inputs) {
  const bool atEnd = m_reader.AtEnd();
  IOCheck();
  if (atEnd) return false;
  line = ReadLine(inputs);
  return true;
}

// Reads every line into the pipe, until the end of the file, a failure or
// the pipe's abandoning.
void TImportRun::ReadLines(TLinePipe& pipe, const std::vector<TColumnInput>& inputs) {
  try {
    std::vector<TReadLine> batch;
    std::size_t bytes = 0;
    TReadLine line;
    while (NextLine(line, inputs)) {
      batch.push_back(std::move(line));
      // A line is held twice: as the file has it and as its values.
      bytes += 2 * m_reader.Record().size();
      if (batch.size() == TLinePipe::kLines || bytes >= TLinePipe::kBytes) {
        if (!pipe.Send(batch)) return;
        bytes = 0;
      }
    }
    if (!batch.empty() && !pipe.Send(batch)) return;
    pipe.End(nullptr);
  } catch (...) {
    pipe.End(std::current_exception());
  }
}

void TImportRun::Take(TReadLine& line, TBulkInserter& inserter) {
  switch (line.kind) {
    case TReadLine::rlPassed:
      inserter.Pass(line.next);
      break;
    case TReadLine::rlRefused:
      RefuseHere(inserter, line);
      break;
    case TReadLine::rlRow:
      inserter.Add(std::move(line.row));
      break;
  }
}

// A line refused before it reaches the table, judged after the rows before it.
void TImportRun::RefuseHere(TBulkInserter& inserter, const TReadLine& read) {
  inserter.Flush();
  TRefusedLine line(m_request.fileName, read.lineNumber, read.reason);
  line.fault = read.fault;
  Refuse(read.record, line);
  inserter.Pass(read.next);
}

bool TImportRun::Refuse(const std::string& record, const TRefusedLine& line) {
  ++m_result.refused;
  m_rejected.Add(record, line.lineNumber, line.reason);
  if (m_request.atomic || (m_request.maxRefusals > 0 && m_result.refused >= m_request.maxRefusals)) {
    if (!m_stopAsked) {
      m_messages.AskRefusedLine(line);
      m_result.refusalStopLine = line.lineNumber;
    }
    m_stopAsked = true;
    return false;
  }
  if (m_skipAll || m_stopAsked) return !m_stopAsked;
  const TRefusalAnswer answer = m_messages.AskRefusedLine(line);
  if (answer == TRefusalAnswer::raSkipAll) m_skipAll = true;
  if (answer == TRefusalAnswer::raStop) m_stopAsked = true;
  return !m_stopAsked;
}

void TImportRun::MoveBar(std::int64_t rowsDone, std::int64_t bytesRead) {
  if (m_fileSize <= 0) return;
  const int now = static_cast<int>(10 + 90 * std::min(bytesRead, m_fileSize) / m_fileSize);
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
  const TCsvDialect& dialect = request.dialect;
  TCsvRecordReader reader(file, dialect);
  std::vector<TCsvPiece> header;
  if (dialect.header) {
    reader.Read(header);
    IOCheck();
  }
  // Columns given name the pieces, whatever a header line names.
  if (!dialect.columns.empty() || !dialect.header) {
    header.clear();
    if (dialect.columns.empty()) {
      for (const TTableColumn& column : table) header.push_back({column.name, true});
    } else {
      for (const std::string& name : dialect.columns) header.push_back({name, true});
    }
    reader.SetPiecesPerRecord(header.size());
  }
  THeaderMatch match = MatchHeader(header, table, dialect, dataSet.SQLConnection()->CharSet());
  if (!match.problems.empty()) {
    result.headerMismatch = true;
    result.headerProblems = std::move(match.problems);
    messages.ShowResult(result);
    return result;
  }

  TImportRun run(result, request, progress, messages, reader, std::move(match.columns), header.size(),
                 fileSize);
  try {
    run.Run(*dataSet.SQLConnection());
  } catch (const EImportFailed&) {
    try {
      run.Rejected().Close();
    } catch (const std::exception&) {
    }
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
