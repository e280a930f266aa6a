#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/layer_text.h"
#include "db/sql_command.h"
#include "db/sql_dataset.h"
#include "db/value_parse.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_common.h"
#include "transfer/transfer_file.h"

namespace {

// Rows inserted between two commits. A commit is cheap next to the rows
// (a few milliseconds against tens of thousands of rows a second), and it
// bounds what a lost connection takes back and what the server keeps for
// undoing the transaction.
constexpr std::int64_t kCommitEvery = 20000;
// A block of guarded INSERTs takes at most this many rows, and its input
// message and statement text at most these many bytes (Firebird 3 limits
// both to 64 KB).
constexpr int kBlockRows = 100;
constexpr std::size_t kBlockBytes = 60000;
// Text input of a block for a column that is no text column.
constexpr std::uint32_t kOtherTextBytes = 64;

const char* const kHeaderMismatch = "Column header in source file does not match the database table fields!";

// A column named by the file's header.
struct TImportColumn {
  std::string fieldName;
  int piece = 0;  // its piece in every line
  std::optional<TFieldKind> kind;
  TSQLParamType type;
};

// One value as it travels: null, text, or a binary double.
struct TValue {
  enum Kind { vNull, vText, vDouble } kind = vNull;
  std::string text;
  double real = 0;
};

struct TPendingRow {
  std::int64_t lineNumber = 0;
  std::string record;
  std::vector<TValue> values;
};

// The value text in the server's own form, when the piece reads as a value
// of the column's kind under the locale the export writes with; otherwise
// the piece as it stands, and the server decides.
std::optional<std::string> ServerForm(std::optional<TFieldKind> kind, const std::string& piece) {
  if (!kind) return std::nullopt;
  switch (*kind) {
    case fkDate:
      return ParseDateText(piece);
    case fkTime:
      return ParseTimeText(piece);
    case fkDateTime:
    case fkSQLTimeStamp:
      return ParseDateTimeText(piece);
    case fkFloat:
    case fkCurrency:
    case fkBCD:
    case fkFMTBCD:
      return ParseNumberText(piece);
    default:
      return std::nullopt;
  }
}

// A number in the server's own form ("." decimals, as a portable file
// writes it), read in the C locale: subnormal values too, which from_chars
// refuses.
std::optional<double> ServerFormDouble(const std::string& text) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double real = strtod_l(text.c_str(), &end, cLocale);
  if (end != text.c_str() + text.size() || !std::isfinite(real) || (errno != 0 && real == 0)) return std::nullopt;
  return real;
}

TValue ValueOf(const TImportColumn& column, const TCsvPiece& piece) {
  TValue value;
  if (piece.text.empty() && !piece.quoted) return value;
  if (column.type.type == fldFLOAT) {
    // The server's own reading of a text refuses some doubles its columns
    // hold, so a number we can read, in the locale's form or the server's,
    // travels as the very double it names.
    std::optional<double> real = ParseDoubleText(piece.text);
    if (!real) real = ServerFormDouble(piece.text);
    if (real) {
      value.kind = TValue::vDouble;
      value.real = *real;
      return value;
    }
  }
  std::optional<std::string> serverForm = ServerForm(column.kind, piece.text);
  const std::string& text = serverForm ? *serverForm : piece.text;
  value.kind = TValue::vText;
  value.text = text;
  return value;
}

void Bind(TSQLCommand& command, int firstParam, const std::vector<TValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int index = firstParam + static_cast<int>(i);
    switch (values[i].kind) {
      case TValue::vNull:
        command.SetNull(index);
        break;
      case TValue::vText:
        command.SetText(index, values[i].text);
        break;
      case TValue::vDouble:
        command.SetDouble(index, values[i].real);
        break;
    }
  }
}

// The most bytes a block takes for the column's value as text.
std::uint32_t BlockTextBytes(const TImportColumn& column) {
  return column.type.type == fldZSTRING ? std::max<std::uint32_t>(column.type.length, 1) : kOtherTextBytes;
}

// Whether a row's values fit the inputs of the block (else it goes alone).
bool FitsBlock(const std::vector<TImportColumn>& columns, const std::vector<TValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const TImportColumn& column = columns[i];
    const TValue& value = values[i];
    if (column.type.type == fldFLOAT && value.kind == TValue::vText) return false;
    if (column.type.type != fldBLOB && column.type.type != fldFLOAT && value.kind == TValue::vText &&
        value.text.size() > BlockTextBytes(column)) {
      return false;
    }
  }
  return true;
}

// EXECUTE BLOCK of `rows` guarded INSERTs reading their values from the
// block's input: a refused INSERT is undone alone and its index (from 0)
// returned in the list F (",3,17,").
std::string BlockSql(const std::string& insertHead, const std::vector<TImportColumn>& columns, int rows) {
  std::string sql = "EXECUTE BLOCK (";
  for (int r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (r || c) sql += ", ";
      sql += "P" + std::to_string(r) + "_" + std::to_string(c) + " ";
      const TSQLParamType& type = columns[c].type;
      if (type.type == fldBLOB) {
        sql += type.subtype == fldstMEMO ? "BLOB SUB_TYPE TEXT CHARACTER SET NONE" : "BLOB SUB_TYPE BINARY";
      } else if (type.type == fldFLOAT) {
        sql += "DOUBLE PRECISION";
      } else {
        sql += "VARCHAR(" + std::to_string(BlockTextBytes(columns[c])) + ") CHARACTER SET NONE";
      }
      sql += " = ?";
    }
  }
  sql += ") RETURNS (F VARCHAR(1000)) AS BEGIN F = ',';\n";
  for (int r = 0; r < rows; ++r) {
    sql += "BEGIN " + insertHead;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      sql += (c ? ", :P" : ":P") + std::to_string(r) + "_" + std::to_string(c);
    }
    sql += "); WHEN ANY DO F = F || '" + std::to_string(r) + ",'; END\n";
  }
  sql += "SUSPEND; END";
  return sql;
}

std::size_t BlockMessageBytes(const std::vector<TImportColumn>& columns) {
  std::size_t bytes = 0;
  for (const auto& column : columns) {
    bytes += 4 + (column.type.type == fldBLOB || column.type.type == fldFLOAT ? 8 : BlockTextBytes(column) + 2);
  }
  return bytes;
}

// True when the connect string names a server ("host:path"), not a file
// that the embedded engine opens.
bool NamesServer(const std::string& database) {
  if (database.find("://") != std::string::npos) return true;
  std::size_t colon = database.find(':');
  if (colon == std::string::npos || colon <= 1) return false;
  char first = database[0];
  return first != '/' && first != '\\' && first != '.';
}

// The rejected files beside the source: "customer.csv" gives
// "customer.rejected.csv" and "customer.rejected.log".
std::string RejectedBase(const TTransferRequest& request) {
  if (request.standardStream) return request.fileName;
  std::string name = request.fileName;
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return TransferPath(request.folder, name);
}

// Writes refused lines, made when the first one comes.
class TRejectedFiles {
 public:
  TRejectedFiles(std::string base, std::string header) : m_base(std::move(base)), m_header(std::move(header)) {}

  void Add(const std::string& record, std::int64_t lineNumber, const std::string& reason) {
    if (m_csv.Mode() == tfmClosed) {
      m_made = true;
      m_csv.AssignFile(m_base + ".rejected.csv");
      m_csv.Rewrite();
      IOCheck();
      m_log.AssignFile(m_base + ".rejected.log");
      m_log.Rewrite();
      IOCheck();
      m_csv.Write(m_header);
      if (!m_header.empty() && m_header.back() != '\n') m_csv.WriteLineEnd();
      IOCheck();
    }
    m_csv.Write(record);
    IOCheck();
    std::string text = reason;
    std::replace(text.begin(), text.end(), '\n', ' ');
    m_log.WriteLn("Line " + std::to_string(lineNumber) + ": " + text);
    IOCheck();
  }
  bool Made() const { return m_made; }
  std::string CsvPath() const { return m_base + ".rejected.csv"; }
  void Close() {
    if (m_csv.Mode() == tfmClosed) return;
    m_csv.Close();
    IOCheck();
    m_log.Close();
    IOCheck();
  }

 private:
  std::string m_base;
  std::string m_header;
  TTextFile m_csv;
  TTextFile m_log;
  bool m_made = false;
};

// Ends an import with a failure that is not a refused line.
class EImportFailed : public Exception {
 public:
  using Exception::Exception;
};

class TImport {
 public:
  TImport(TSQLConnection& connection, const TTransferRequest& request, IProgress& progress, IMessages& messages,
          std::vector<TImportColumn> columns, std::string header)
      : m_connection(connection),
        m_request(request),
        m_progress(progress),
        m_messages(messages),
        m_columns(std::move(columns)),
        m_single(connection),
        m_block(connection),
        m_rejected(RejectedBase(request), std::move(header)) {}

  void Prepare(const std::string& insertHead) {
    std::string sql = insertHead;
    for (std::size_t c = 0; c < m_columns.size(); ++c) sql += c ? ", ?" : "?";
    m_single.Prepare(sql + ")");
    for (std::size_t c = 0; c < m_columns.size(); ++c) m_columns[c].type = m_single.ParamType(static_cast<int>(c) + 1);

    if (!NamesServer(m_connection.Params().Value("Database")) || m_columns.empty()) return;
    // Over a network, many rows per round trip: one block sized to the
    // server's limits, and a smaller one for what is left is not worth its
    // prepare; the rest goes row by row.
    std::size_t rowBytes = BlockMessageBytes(m_columns);
    int rows = static_cast<int>(std::min<std::size_t>(kBlockRows, kBlockBytes / rowBytes));
    rows = std::min<int>(rows, static_cast<int>(10000 / m_columns.size()));
    while (rows >= 8) {
      std::string block = BlockSql(insertHead, m_columns, rows);
      if (block.size() <= kBlockBytes) {
        m_block.Prepare(block);
        m_blockRows = rows;
        return;
      }
      rows = rows * 3 / 4;
    }
  }

  // Adds a row; it is inserted now or with its block.
  void Add(TPendingRow row) {
    if (m_blockRows == 0 || !FitsBlock(m_columns, row.values)) {
      Flush();
      RunAlone(row);
      return;
    }
    m_pending.push_back(std::move(row));
    if (static_cast<int>(m_pending.size()) == m_blockRows) Flush();
  }

  void Flush() {
    if (m_pending.empty()) return;
    std::vector<TPendingRow> rows;
    rows.swap(m_pending);
    if (static_cast<int>(rows.size()) < m_blockRows) {
      for (const auto& row : rows) RunAlone(row);
      return;
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
      Bind(m_block, static_cast<int>(r * m_columns.size()) + 1, rows[r].values);
    }
    std::string failed;
    try {
      failed = m_block.ExecuteForText();
    } catch (const EDataRefused&) {
      // A value the block's inputs could not take: each row alone says which.
      for (const auto& row : rows) RunAlone(row);
      return;
    }
    std::size_t refusedHere = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (failed.find("," + std::to_string(r) + ",") == std::string::npos) continue;
      // The server's words come from the row run again alone.
      ++refusedHere;
      RunAlone(rows[r]);
    }
    Inserted(static_cast<std::int64_t>(rows.size() - refusedHere));
  }

  void RunAlone(const TPendingRow& row) {
    Bind(m_single, 1, row.values);
    try {
      Inserted(m_single.Execute());
    } catch (const EDataRefused& refusal) {
      Refuse(row.record, row.lineNumber, refusal.what());
    }
  }

  void Refuse(const std::string& record, std::int64_t lineNumber, const std::string& reason) {
    ++m_refused;
    m_rejected.Add(record, lineNumber, reason);
    if (m_skipAll || m_stopAsked) return;
    TRefusalAnswer answer = m_messages.AskRefusedLine({m_request.fileName, lineNumber, reason});
    if (answer == TRefusalAnswer::raSkipAll) m_skipAll = true;
    if (answer == TRefusalAnswer::raStop) m_stopAsked = true;
  }

  void Inserted(std::int64_t rows) {
    m_inserted += rows;
    if (m_inserted - m_committed >= kCommitEvery) Commit();
  }

  void Commit() {
    m_connection.Commit();
    m_committed = m_inserted;
    m_connection.StartTransaction();
  }

  bool StopAsked() const { return m_stopAsked; }
  // The columns with their parameters' types, once prepared.
  const std::vector<TImportColumn>& Columns() const { return m_columns; }
  std::int64_t InsertedRows() const { return m_inserted; }
  std::int64_t CommittedRows() const { return m_committed; }
  void SetCommitted(std::int64_t rows) { m_committed = rows; }
  std::int64_t Refused() const { return m_refused; }
  TRejectedFiles& Rejected() { return m_rejected; }

 private:
  TSQLConnection& m_connection;
  const TTransferRequest& m_request;
  IProgress& m_progress;
  IMessages& m_messages;
  std::vector<TImportColumn> m_columns;
  TSQLCommand m_single;
  TSQLCommand m_block;
  int m_blockRows = 0;
  std::vector<TPendingRow> m_pending;
  TRejectedFiles m_rejected;
  std::int64_t m_inserted = 0;
  std::int64_t m_committed = 0;
  std::int64_t m_refused = 0;
  bool m_skipAll = false;
  bool m_stopAsked = false;
};

// Names of the table's COMPUTED BY columns, which take no values.
std::vector<std::string> ComputedColumns(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(TRIM(TRAILING FROM RF.RDB$FIELD_NAME), ASCII_CHAR(1)) FROM RDB$RELATION_FIELDS RF "
      "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
      "WHERE RF.RDB$RELATION_NAME = ? AND F.RDB$COMPUTED_BLR IS NOT NULL");
  query.SetText(1, tableName);
  std::string list = query.ExecuteForText();
  std::vector<std::string> names;
  std::size_t begin = 0;
  while (begin < list.size()) {
    std::size_t end = std::min(list.find('\1', begin), list.size());
    names.push_back(list.substr(begin, end - begin));
    begin = end + 1;
  }
  return names;
}

std::optional<TFieldKind> KindOf(TSQLDataSet& dataSet, const std::string& fieldName) {
  for (int i = 0, n = dataSet.NumberOfFields(); i < n; ++i) {
    TField& field = dataSet.FieldAt(i);
    if (field.FieldName() == fieldName) return field.Kind();
  }
  return std::nullopt;
}

std::int64_t FileSize(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : 0;
}

}  // namespace

TTransferResult ImportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                            IMessages& messages) {
  progress.SetPosition(0);
  progress.SetRowsDone(0);
  TSQLConnection& connection = *dataSet.SQLConnection();

  std::vector<TImportColumn> columns;
  std::vector<std::string> computed;
  {
    TOpenedTable table(dataSet, request.tableName);
    progress.SetPosition(10);
    computed = ComputedColumns(connection, request.tableName);
    // Kinds are read while the table is open.
    for (const auto& field : request.fieldList) {
      TImportColumn column;
      column.fieldName = field;
      column.kind = KindOf(dataSet, field);
      columns.push_back(std::move(column));
    }
  }

  const std::string path = TransferPath(request.folder, request.fileName);
  if (!request.standardStream) CheckRegularFile(path);
  const std::int64_t fileSize = request.standardStream ? 0 : FileSize(path);
  TTextFile file(path);
  file.Reset();
  IOCheck();
  TCsvRecordReader reader(file);
  std::vector<TCsvPiece> pieces;
  reader.Read(pieces);
  IOCheck();
  const std::string header = reader.Record();
  const std::size_t headerPieces = pieces.size();
  if (!pieces.empty() && !pieces[0].quoted && pieces[0].text.starts_with("\xEF\xBB\xBF")) {
    pieces[0].text.erase(0, 3);  // a byte-order mark, as spreadsheets write it
  }

  // Each header piece to its field: a name written exactly as a field's goes
  // to that field, so that fields whose names differ only in letter case stay
  // apart. A field named twice is refused like an unknown name.
  std::vector<TImportColumn> named;
  std::vector<bool> taken(columns.size(), false);
  bool matches = !(pieces.size() == 1 && pieces[0].text.empty() && !pieces[0].quoted);
  for (std::size_t p = 0; matches && p < pieces.size(); ++p) {
    const std::string& name = pieces[p].text;
    auto field = std::find(request.fieldList.begin(), request.fieldList.end(), name);
    if (field == request.fieldList.end() || taken[field - request.fieldList.begin()]) {
      field = std::find_if(request.fieldList.begin(), request.fieldList.end(), [&](const std::string& other) {
        return !taken[&other - request.fieldList.data()] && SameText(other, name);
      });
    }
    const std::size_t index = static_cast<std::size_t>(field - request.fieldList.begin());
    if (index == request.fieldList.size()) {
      matches = false;
      break;
    }
    taken[index] = true;
    if (std::find(computed.begin(), computed.end(), request.fieldList[index]) != computed.end()) continue;
    TImportColumn column = columns[index];
    column.piece = static_cast<int>(p);
    named.push_back(std::move(column));
  }
  if (!matches) {
    messages.ShowMessage(kHeaderMismatch);
    return {};
  }

  std::string columnList;
  for (const auto& column : named) {
    if (!columnList.empty()) columnList += ", ";
    columnList += connection.QuoteObjectName(column.fieldName);
  }
  const std::string insertHead =
      "INSERT INTO " + connection.QuoteObjectName(request.tableName) + " (" + columnList + ") VALUES (";

  TTransferResult result;
  connection.StartTransaction();
  TImport import(connection, request, progress, messages, named, header);
  int position = 10;
  std::int64_t lineNumber = reader.LineNumber() + 1;
  try {
    import.Prepare(insertHead);
    for (;;) {
      if (progress.StopRequested() || import.StopAsked()) {
        result.stopped = true;
        break;
      }
      const bool atEnd = reader.AtEnd();
      IOCheck();
      if (atEnd) break;
      reader.Read(pieces);
      IOCheck();
      lineNumber = reader.LineNumber();
      if (reader.Unterminated()) {
        import.Flush();
        import.Refuse(reader.Record(), lineNumber,
                      "The quoted value that opens on line " + std::to_string(lineNumber) +
                          " is not closed before the end of the file");
      } else if (pieces.size() != headerPieces) {
        import.Flush();
        import.Refuse(reader.Record(), lineNumber,
                      "The line has " + std::to_string(pieces.size()) + " values; the header names " +
                          std::to_string(headerPieces) + " columns");
      } else {
        TPendingRow row;
        row.lineNumber = lineNumber;
        row.record = reader.Record();
        row.values.reserve(named.size());
        for (const auto& column : import.Columns()) row.values.push_back(ValueOf(column, pieces[column.piece]));
        import.Add(std::move(row));
      }
      lineNumber = reader.LineNumber() + 1;
      if (fileSize > 0) {
        int now = static_cast<int>(10 + 90 * std::min(reader.BytesRead(), fileSize) / fileSize);
        if (now != position) {
          position = now;
          progress.SetPosition(position);
          progress.SetRowsDone(import.InsertedRows());
        }
      }
    }
    import.Flush();
    connection.Commit();
    import.SetCommitted(import.InsertedRows());
  } catch (const std::exception& failure) {
    // What was accepted is kept where the transaction can still be committed.
    const bool stop = progress.StopRequested();
    try {
      if (connection.InTransaction()) connection.Commit();
      import.SetCommitted(import.InsertedRows());
    } catch (const std::exception&) {
      try {
        if (connection.InTransaction()) connection.Rollback();
      } catch (const std::exception&) {
      }
    }
    try {
      import.Rejected().Close();
    } catch (const std::exception&) {
    }
    file.Close();
    IOResult();
    if (!stop) {
      throw EImportFailed(std::string(failure.what()) + "\n\nThe import of table '" + request.tableName +
                          "' ended at line " + std::to_string(lineNumber) + ": " +
                          std::to_string(import.CommittedRows()) +
                          " rows were committed before it and are in the table; that line and the ones "
                          "after it were not imported.");
    }
    result.stopped = true;
  }
  if (file.Mode() != tfmClosed) {
    import.Rejected().Close();
    file.Close();
    IOCheck();
  }

  result.rows = import.CommittedRows();
  result.refused = import.Refused();
  if (result.stopped) result.stoppedAtLine = lineNumber;
  if (import.Rejected().Made()) result.rejectedPath = import.Rejected().CsvPath();
  if (position != 100) progress.SetPosition(100);
  progress.SetRowsDone(result.rows);

  std::string text = TransferMessage(static_cast<std::int32_t>(result.rows), request.tableName, "imported", path);
  if (result.refused > 0) {
    text += ". " + std::to_string(result.refused) + (result.refused == 1 ? " line was" : " lines were") +
            " refused; " + (result.refused == 1 ? "it is" : "they are") + " kept in file '" + result.rejectedPath + "'";
  }
  if (result.stopped) {
    text += ". The import stopped at line " + std::to_string(result.stoppedAtLine) +
            "; that line and the ones after it were not imported";
  }
  messages.ShowMessage(text);
  return result;
}
