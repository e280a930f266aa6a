#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "db/bulk_inserter.h"
#include "db/catalogue.h"
#include "db/layer_text.h"
#include "db/sql_dataset.h"
#include "transfer/batch_pipe.h"
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

// The line to go on from (--from-line) is not where a record begins: no
// line was sent yet when it is found.
class EBadFromLine : public Exception {
 public:
  using Exception::Exception;
};

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
// sends them to the server: a batch holds at most kBatchLines lines and
// about kBatchBytes bytes.
using TLineBatch = std::vector<TReadLine>;
using TLinePipe = TBatchPipe<TLineBatch>;
constexpr std::size_t kBatchLines = 256;
constexpr std::size_t kBatchBytes = 1 << 20;

// The lines of a pipe one by one, on the taker's side.
class TPipedLines {
 public:
  explicit TPipedLines(TLinePipe& pipe) : m_pipe(pipe) {}
  // The next line; false at the end; throws what ended the reading, after
  // every line read before it.
  bool Next(TReadLine& line) {
    while (!m_batch || m_at == m_batch->size()) {
      if (m_batch) m_pipe.Return(*m_batch);
      m_batch = m_pipe.Receive();
      m_at = 0;
      if (!m_batch) return false;
    }
    line = std::move((*m_batch)[m_at++]);
    return true;
  }

 private:
  TLinePipe& m_pipe;
  TLineBatch* m_batch = nullptr;
  std::size_t m_at = 0;
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
             std::size_t headerPieces, std::int64_t fileSize, const TTextFile* packedFile)
      : m_result(result),
        m_request(request),
        m_progress(progress),
        m_messages(messages),
        m_reader(reader),
        m_columns(std::move(columns)),
        m_headerPieces(headerPieces),
        m_fileSize(fileSize),
        m_packedFile(packedFile),
        m_rejected(
            RejectedBase(request.folder, request.fileName, request.standardStream, request.rejectedFolder),
            reader.Record(), request.fromLine > 0) {}

  // Imports every line, until the end of the file or a Stop; throws
  // EImportFailed for a failure, after keeping what was settled.
  // key: an upsert's key columns as the table names them (empty: its primary key).
  void Run(TSQLConnection& connection, const std::vector<std::string>& key);
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
  std::string CharSetContext(const EDataRefused& refusal, const TInsertRow& row,
                             const std::string& charSet) const;

  TTransferResult& m_result;
  const TTransferRequest& m_request;
  IProgress& m_progress;
  IMessages& m_messages;
  TCsvRecordReader& m_reader;
  std::vector<TImportColumn> m_columns;
  std::size_t m_headerPieces;
  std::int64_t m_fileSize;
  // A packed file's bar follows the packed bytes read, which its size counts.
  const TTextFile* m_packedFile;
  TRejectedFiles m_rejected;
  std::vector<TCsvPiece> m_pieces;
  int m_position = 10;
  bool m_skipAll = false;
  bool m_stopAsked = false;
};

void TImportRun::Run(TSQLConnection& connection, const std::vector<std::string>& key) {
  std::vector<std::string> names;
  for (const auto& column : m_columns) names.push_back(column.name);
  TInsertOptions options;
  options.upsert = m_request.mode == TTransferRequest::TMode::mUpsert;
  options.matchColumns = key;
  options.replace = m_request.mode == TTransferRequest::TMode::mReplace;
  options.oneTransaction = m_request.atomic;
  options.rollBackAtEnd = m_request.dryRun;
  options.sharedTransaction = m_request.sharedTransaction;
  const bool oneTransaction = options.OneTransaction();
  std::optional<TBulkInserter> inserter;
  try {
    inserter.emplace(
        connection, m_request.tableName, names, m_reader.NextLineNumber(),
        [&](const TInsertRow& row, const EDataRefused& refusal) {
          TRefusedLine line(
              m_request.fileName, row.tag,
              refusal.what() + CharSetContext(refusal, row, connection.Params().Value("ServerCharSet")));
          line.kind = refusal.Kind();
          line.sqlState = refusal.SqlState();
          return Refuse(row.source, line);
        },
        // The refused lines are written out before the rows around them are
        // committed: after any failure, every line before the resume line is
        // in the table or in the rejected file.
        [&] { m_rejected.Stage(); },
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
    TPipedLines piped(pipe);
    TReadLine line;
    for (;;) {
      if (m_progress.StopRequested() || m_stopAsked) {
        m_result.stopped = true;
        break;
      }
      if (!(readAside ? piped.Next(line) : NextLine(line, inputs))) break;
      Take(line, *inserter);
      MoveBar(inserter->Inserted(), line.bytesRead);
    }
    if (m_request.fromLine > 0 && !m_result.stopped && m_reader.NextLineNumber() <= m_request.fromLine) {
      throw EBadFromLine("The file has no line " + std::to_string(m_request.fromLine) +
                         " to go on from: its last line is line " +
                         std::to_string(m_reader.NextLineNumber() - 1) + ". Nothing was imported.");
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
      // What a real import would keep; or what the shared transaction's
      // commit is to keep, written before it.
      if (m_request.dryRun || m_request.sharedTransaction) m_rejected.Keep();
    }
  } catch (const EBadFromLine&) {
    inserter->KeepWhatWasSettled();
    m_rejected.Discard();
    throw;
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
  m_result.rows = (m_request.dryRun || m_request.sharedTransaction) && !m_result.stopped
                      ? inserter->Inserted()
                      : inserter->Committed();
  if (m_result.stopped) m_result.stoppedAtLine = inserter->CommittedEnd();
}

// Of a refusal for a character: the set the file's text was taken in, and
// the column whose value is no text of that set, where that can be told.
std::string TImportRun::CharSetContext(const EDataRefused& refusal, const TInsertRow& row,
                                       const std::string& charSet) const {
  const bool malformed = std::string_view(refusal.what()).find("Malformed string") != std::string_view::npos;
  if (refusal.Kind() != TRefusalKind::rkTransliteration && !malformed) return {};
  std::string context = " (the line's text is taken as " + (charSet.empty() ? std::string("NONE") : charSet);
  if (malformed && charSet == "UTF8") {
    for (std::size_t c = 0; c < row.values.size() && c < m_columns.size(); ++c) {
      if (row.values[c].kind == TInsertValue::ivText && !IsUtf8(row.values[c].text)) {
        context += "; the value of column '" + m_columns[c].name + "' is not";
        break;
      }
    }
  }
  return context + ")";
}

void TImportRun::Fail(const std::exception& failure, TBulkInserter* found) {
  std::string text =
      std::string(failure.what()) + "\n\nThe import of table '" + m_request.tableName + "' ended at line ";
  // Nothing was sent yet (the key, the statement or the transaction were
  // refused): there is nothing to go on from.
  if (!found)
    throw Exception(std::string(failure.what()) + "\n\nNothing was imported into table '" +
                    m_request.tableName + "'.");
  TBulkInserter& inserter = *found;
  const auto* databaseError = dynamic_cast<const EDatabaseError*>(&failure);
  const std::string sqlState = databaseError ? databaseError->SqlState() : std::string();
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
        committed, line, 0, sqlState);
  }
  // Refused lines are not in the table either way; keeping them loses none.
  try {
    m_rejected.Keep();
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
      committed, line, end, sqlState);
}

TReadLine TImportRun::ReadLine(const std::vector<TColumnInput>& inputs) {
  m_reader.Read(m_pieces);
  TReadLine line;
  line.lineNumber = m_reader.LineNumber();
  line.next = m_reader.NextLineNumber();
  line.bytesRead = m_packedFile ? m_packedFile->BytesFromFile() : m_reader.BytesRead();
  auto refused = [&](TLineFault fault, std::string reason) {
    line.kind = TReadLine::rlRefused;
    line.fault = fault;
    line.reason = std::move(reason);
    line.record = m_reader.Record();
    return std::move(line);
  };
  if (line.lineNumber < m_request.fromLine) {
    if (line.next > m_request.fromLine) {
      throw EBadFromLine("Line " + std::to_string(m_request.fromLine) +
                         " is inside the record that begins on line " + std::to_string(line.lineNumber) +
                         " and ends before line " + std::to_string(line.next) + ": go on from line " +
                         std::to_string(line.lineNumber) + " or line " + std::to_string(line.next) +
                         ". Nothing was imported.");
    }
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
  if (m_reader.AtEnd()) return false;
  line = ReadLine(inputs);
  return true;
}

// Reads every line into the pipe, until the end of the file, a failure or
// the pipe's abandoning.
void TImportRun::ReadLines(TLinePipe& pipe, const std::vector<TColumnInput>& inputs) {
  TLineBatch* batch = nullptr;
  try {
    if (!(batch = pipe.Take())) return;
    batch->clear();
    std::size_t bytes = 0;
    TReadLine line;
    while (NextLine(line, inputs)) {
      batch->push_back(std::move(line));
      // A line is held twice: as the file has it and as its values.
      bytes += 2 * m_reader.Record().size();
      if (batch->size() == kBatchLines || bytes >= kBatchBytes) {
        pipe.Send(*batch);
        batch = nullptr;
        if (!(batch = pipe.Take())) return;
        batch->clear();
        bytes = 0;
      }
    }
    if (!batch->empty()) pipe.Send(*batch);
    pipe.Close();
  } catch (...) {
    // The lines read before the failure go first.
    if (batch && !batch->empty()) pipe.Send(*batch);
    pipe.Close(std::current_exception());
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

// The key columns the request names, matched as a header's names are.
std::vector<std::string> KeyColumns(const TTransferRequest& request, const std::vector<TTableColumn>& table,
                                    std::string_view charSet) {
  std::vector<std::string> names;
  for (const TTableColumn& column : table) names.push_back(column.name);
  std::vector<std::string> key;
  for (const std::size_t column :
       MatchColumnNames(names, request.keyColumns, charSet, [&](const std::string&name, bool twice) {
         return twice ? "The key names column '" + name + "' twice."
                      : "The key names a column that table '" + request.tableName + "' does not have: '" +
                            name + "'.";
       })) {
    key.push_back(names[column]);
  }
  return key;
}

}  // namespace

std::string FailureSqlState(const std::exception& failure) {
  if (const auto* database = dynamic_cast<const EDatabaseError*>(&failure)) return database->SqlState();
  if (const auto* import = dynamic_cast<const EImportFailed*>(&failure)) return import->SqlState();
  return {};
}

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
  const bool packed = request.FileCompression() != TCompression::cNone;
  file.SetCompression(request.FileCompression());
  file.Reset();
  const TCsvDialect& dialect = request.dialect;
  TCsvRecordReader reader(file, dialect);
  std::vector<TCsvPiece> firstLine;
  if (dialect.header) {
    reader.Read(firstLine);
  }
  THeaderMatch match = MatchHeader(firstLine, table, dialect, dataSet.SQLConnection()->CharSet());
  if (!match.problems.empty()) {
    result.headerMismatch = true;
    result.headerProblems = std::move(match.problems);
    messages.ShowResult(result);
    return result;
  }
  reader.SetPiecesPerRecord(match.pieces);
  if (!match.skipped.empty())
    messages.ShowMessage(SkippedColumnsText(result.path, request.tableName, match.skipped));

  TImportRun run(result, request, progress, messages, reader, std::move(match.columns), match.pieces,
                 fileSize, packed ? &file : nullptr);
  try {
    run.Run(*dataSet.SQLConnection(), KeyColumns(request, table, dataSet.SQLConnection()->CharSet()));
  } catch (EImportFailed& failure) {
    try {
      run.Rejected().Close();
      if (run.Rejected().Made()) failure.SetRejectedPath(run.Rejected().CsvPath());
    } catch (const std::exception&) {
    }
    file.CloseQuietly();
    throw;
  }
  run.Rejected().Close();
  file.Close();

  if (run.Rejected().Made()) result.rejectedPath = run.Rejected().CsvPath();
  if (run.Position() != 100) progress.SetPosition(100);
  progress.SetRowsDone(result.rows);
  messages.ShowResult(result);
  return result;
}
