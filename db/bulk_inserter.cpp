#include "db/bulk_inserter.h"

#include "db/catalogue.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "driver/connect_string.h"

namespace {

// A batch takes at most this many rows, and its input message and statement
// text at most these many bytes (Firebird 3 limits both to 64 KB).
constexpr int kBatchRows = 100;
constexpr std::size_t kBatchBytes = 60000;
// The text input of a batch for a column that is no text column.
constexpr std::uint32_t kOtherTextBytes = 64;

// The characters of a text in a set of wider characters: counted in UTF-8,
// else taken as one a byte, so that a text that may be too long goes alone.
std::size_t Characters(const std::string& text, const std::string& charSet) {
  if (charSet != "UTF8" && charSet != "UNICODE_FSS") return text.size();
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void BindValue(TSQLCommand& command, int index, const TInsertValue& value) {
  switch (value.kind) {
    case TInsertValue::ivNull:
      command.SetNull(index);
      break;
    case TInsertValue::ivText:
      command.SetText(index, value.text);
      break;
    case TInsertValue::ivDouble:
      command.SetDouble(index, value.real);
      break;
  }
}

}  // namespace

TBulkInserter::TBulkInserter(TSQLConnection& connection, const std::string& tableName,
                             const std::vector<std::string>& columns, std::int64_t firstLine,
                             TRefusalSink onRefused, TCommittingSink onCommitting, TCommitSink onCommitted,
                             const TInsertOptions& options)
    : m_connection(connection),
      m_onRefused(std::move(onRefused)),
      m_onCommitting(std::move(onCommitting)),
      m_onCommitted(std::move(onCommitted)),
      m_options(options),
      m_columns(columns.size()),
      m_columnNames(columns),
      m_single(std::make_unique<TSQLCommand>(connection)),
      m_batch(std::make_unique<TSQLCommand>(connection)),
      m_settledEnd(firstLine),
      m_committedEnd(firstLine) {
  std::string columnList;
  for (const auto& column : columns) {
    if (!columnList.empty()) columnList += ", ";
    columnList += connection.QuoteObjectName(column);
  }
  const std::string table = connection.QuoteObjectName(tableName);
  const std::string insertHead = std::string(m_options.upsert ? "UPDATE OR INSERT INTO " : "INSERT INTO ") +
                                 table + " (" + columnList + ") VALUES (";
  std::string insertTail = ")";
  if (m_options.upsert && !m_options.matchColumns.empty()) {
    insertTail += " MATCHING (";
    for (std::size_t i = 0; i < m_options.matchColumns.size(); ++i) {
      insertTail += (i ? ", " : "") + connection.QuoteObjectName(m_options.matchColumns[i]);
    }
    insertTail += ")";
  }

  if (!m_options.sharedTransaction) connection.StartTransaction();
  try {
    if (m_options.upsert) FindKey(tableName, columns);
    if (m_options.replace) DeleteAllRows(connection, tableName);
    std::string sql = insertHead;
    for (std::size_t c = 0; c < columns.size(); ++c) sql += c ? ", ?" : "?";
    m_single->Prepare(sql + insertTail);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const TSQLParamType type = m_single->ParamType(static_cast<int>(c) + 1);
      TColumn& column = m_columns[c];
      if (type.type == fldBLOB) {
        column.input = TColumnInput::ciBlob;
        column.textBlob = type.subtype == fldstMEMO;
      } else if (type.type == fldFLOAT) {
        column.input = TColumnInput::ciDouble;
      }
      column.textBytes = type.type == fldZSTRING ? std::max<std::uint32_t>(type.length, 1) : kOtherTextBytes;
      // A number or a date goes as plain bytes, as the driver sends it to the INSERT.
      if (!type.charSet.empty()) {
        column.charSet = type.charSet;
        column.bytesPerChar = std::max<std::uint16_t>(type.bytesPerChar, 1);
      }
    }
    // A batch saves round trips to a server; embedded, a row costs no more alone.
    if (NamesServer(connection.Params().Value("Database")) && !columns.empty())
      PrepareBatch(insertHead, insertTail);
  } catch (...) {
    KeepWhatWasSettled();
    throw;
  }
}

TBulkInserter::~TBulkInserter() {
  if (m_options.sharedTransaction) return;
  try {
    if (m_connection.InTransaction()) m_connection.Rollback();
  } catch (...) {
  }
}

void TBulkInserter::FindKey(const std::string& tableName, const std::vector<std::string>& columns) {
  const std::vector<TUniqueKey> indexes = UniqueKeys(m_connection, tableName);
  std::vector<std::string> key = m_options.matchColumns;
  if (key.empty()) {
    const auto primary =
        std::find_if(indexes.begin(), indexes.end(), [](const auto& index) { return index.primary; });
    if (primary == indexes.end()) {
      throw EDatabaseError("Table '" + tableName +
                           "' has no primary key: name the columns that match a file's row to a table's row");
    }
    key = primary->columns;
  } else {
    // A key within which an index is unique matches one row at most.
    const bool unique = std::any_of(indexes.begin(), indexes.end(), [&](const auto& index) {
      return std::all_of(index.columns.begin(), index.columns.end(), [&](const std::string& column) {
        return std::find(key.begin(), key.end(), column) != key.end();
      });
    });
    if (!unique) {
      std::string names;
      for (const std::string& column : key) names += (names.empty() ? "'" : ", '") + column + "'";
      throw EDatabaseError("The columns " + names + " of table '" + tableName +
                           "' are no key: no primary key, unique constraint or unique index of the table "
                           "lies within them, so that a line could match several rows");
    }
  }
  for (const std::string& column : key) {
    const auto at = std::find(columns.begin(), columns.end(), column);
    if (at == columns.end()) {
      throw EDatabaseError("The key column '" + column +
                           "' has no values in the file: a line cannot be matched to a row without it");
    }
    m_key.push_back(static_cast<std::size_t>(at - columns.begin()));
  }
}

// A null in the key would match every row whose key holds one.
bool TBulkInserter::RefuseNullKey(const TInsertRow& row) {
  const auto nullAt = std::find_if(m_key.begin(), m_key.end(), [&](std::size_t column) {
    return column < row.values.size() && row.values[column].kind == TInsertValue::ivNull;
  });
  if (nullAt == m_key.end()) return false;
  Flush();
  const EDataRefused refusal("The key column '" + m_columnNames[*nullAt] +
                                 "' is empty (null): the line cannot be matched to one row",
                             "23000");
  if (!m_onRefused(row, refusal)) {
    m_pending.clear();
    m_dropped = true;
  }
  Settled(0, row.next);
  return true;
}

// EXECUTE BLOCK of guarded INSERTs reading their values from the block's
// input, in order: the first INSERT refused is undone alone, the ones after
// it are not tried, and its index (from 0) is returned (-1 when none was).
// One size only: a smaller block for what is left is not worth its prepare;
// the rest goes row by row. Each input takes its text in the set the
// INSERT's own parameter takes it in, sized in that set's characters, so
// that the server converts it into the column's set (or refuses it) inside
// the guarded INSERT, as it does for a row sent alone.
// A blob column takes two inputs: its value as text when it is short, and
// as a blob when it is not; the INSERT takes the one that is not null.
void TBulkInserter::PrepareBatch(const std::string& insertHead, const std::string& insertTail) {
  std::size_t rowBytes = 0;
  for (auto& column : m_columns) {
    if (column.input == TColumnInput::ciBlob) {
      column.textBytes =
          column.textBlob ? InlineBlobBytes() / column.bytesPerChar * column.bytesPerChar : InlineBlobBytes();
      rowBytes += 4 + column.textBytes + 2 + 4 + 8;
    } else {
      rowBytes += 4 + (column.input == TColumnInput::ciText ? column.textBytes + 2 : 8);
    }
  }
  int rows = static_cast<int>(std::min<std::size_t>(kBatchRows, kBatchBytes / rowBytes));
  rows = std::min<int>(rows, static_cast<int>(10000 / m_columns.size()));
  // A statement may name its tables at most 256 times; UPDATE OR INSERT
  // names its table more than once.
  if (m_options.upsert) rows = std::min(rows, 60);
  for (; rows >= 8; rows = rows * 3 / 4) {
    std::string sql = "EXECUTE BLOCK (";
    for (int r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < m_columns.size(); ++c) {
        if (r || c) sql += ", ";
        sql += "P" + std::to_string(r) + "_" + std::to_string(c) + " ";
        const TColumn& column = m_columns[c];
        switch (column.input) {
          case TColumnInput::ciBlob:
            sql += "VARCHAR(" + std::to_string(column.TextCharacters()) + ") CHARACTER SET " +
                   (column.textBlob ? column.charSet : "OCTETS") + " = ?, ";
            sql += "L" + std::to_string(r) + "_" + std::to_string(c) + " ";
            sql += column.textBlob ? "BLOB SUB_TYPE TEXT CHARACTER SET " + column.charSet
                                   : "BLOB SUB_TYPE BINARY";
            break;
          case TColumnInput::ciDouble:
            sql += "DOUBLE PRECISION";
            break;
          case TColumnInput::ciText:
            sql += "VARCHAR(" + std::to_string(column.TextCharacters()) + ") CHARACTER SET " + column.charSet;
            break;
        }
        sql += " = ?";
      }
    }
    sql += ") RETURNS (F VARCHAR(11)) AS BEGIN F = '-1';\n";
    for (int r = 0; r < rows; ++r) {
      sql += r ? "IF (F = '-1') THEN BEGIN " : "BEGIN ";
      sql += insertHead;
      for (std::size_t c = 0; c < m_columns.size(); ++c) {
        const std::string input = std::to_string(r) + "_" + std::to_string(c);
        if (c) sql += ", ";
        sql += m_columns[c].input == TColumnInput::ciBlob ? "COALESCE(:L" + input + ", :P" + input + ")"
                                                          : ":P" + input;
      }
      sql += insertTail + "; WHEN ANY DO F = '" + std::to_string(r) + "'; END\n";
    }
    sql += "SUSPEND; END";
    if (sql.size() <= kBatchBytes) {
      m_batch->Prepare(sql);
      m_batchRows = rows;
      return;
    }
  }
}

// Whether a row's values fit the inputs of the batch (else it goes alone):
// a text too long for its input would make the whole block fail.
bool TBulkInserter::FitsBatch(const TInsertRow& row) const {
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    const TColumn& column = m_columns[i];
    const TInsertValue& value = row.values[i];
    if (value.kind != TInsertValue::ivText) continue;
    if (column.input == TColumnInput::ciDouble) return false;
    if (column.input == TColumnInput::ciBlob) continue;  // a long value goes as a blob
    if (value.text.size() > column.textBytes) return false;
    if (column.bytesPerChar > 1 && Characters(value.text, column.charSet) > column.TextCharacters())
      return false;
  }
  return true;
}

void TBulkInserter::Add(TInsertRow row) {
  if (!m_key.empty() && RefuseNullKey(row)) return;
  if (m_batchRows == 0 || !FitsBatch(row)) {
    Flush();
    RunAlone(row);
    return;
  }
  m_pending.push_back(std::move(row));
  if (static_cast<int>(m_pending.size()) == m_batchRows) SendBatch();
}

void TBulkInserter::Pass(std::int64_t next) {
  Flush();
  Settled(0, next);
}

void TBulkInserter::Flush() {
  while (static_cast<int>(m_pending.size()) >= m_batchRows && m_batchRows > 0) SendBatch();
  // Too few for a batch: one by one. A refusal answered with a stop drops
  // the rows after it.
  while (!m_pending.empty()) {
    TInsertRow row = std::move(m_pending.front());
    m_pending.erase(m_pending.begin());
    RunAlone(row);
  }
}

void TBulkInserter::SendBatch() {
  const std::size_t count = static_cast<std::size_t>(m_batchRows);
  int param = 1;
  for (std::size_t r = 0; r < count; ++r) {
    const std::vector<TInsertValue>& values = m_pending[r].values;
    for (std::size_t c = 0; c < values.size(); ++c) {
      const TColumn& column = m_columns[c];
      const TInsertValue& value = values[c];
      if (column.input != TColumnInput::ciBlob) {
        BindValue(*m_batch, param++, value);
        continue;
      }
      const bool isShort =
          value.kind == TInsertValue::ivText && value.text.size() <= column.textBytes &&
          (column.bytesPerChar == 1 || Characters(value.text, column.charSet) <= column.TextCharacters());
      if (isShort) {
        m_batch->SetText(param, value.text);
        m_batch->SetNull(param + 1);
      } else {
        m_batch->SetNull(param);
        BindValue(*m_batch, param + 1, value);
      }
      param += 2;
    }
  }
  std::int64_t refusedAt;
  try {
    refusedAt = std::stoll(m_batch->ExecuteForText());
  } catch (const EDataRefused&) {
    // A value the batch's inputs could not take, before any row went in:
    // the rows go alone, each judged at its place.
    std::vector<TInsertRow> rows(std::make_move_iterator(m_pending.begin()),
                                 std::make_move_iterator(m_pending.begin() + count));
    m_pending.erase(m_pending.begin(), m_pending.begin() + count);
    for (const auto& row : rows) {
      RunAlone(row);
      if (m_dropped) break;  // a stop: the rest go with what was waiting
    }
    return;
  }
  const std::size_t inserted = refusedAt < 0 ? count : static_cast<std::size_t>(refusedAt);
  if (inserted > 0) Settled(static_cast<std::int64_t>(inserted), m_pending[inserted - 1].next);
  if (inserted == count) {
    m_pending.erase(m_pending.begin(), m_pending.begin() + count);
    return;
  }
  // The server's words come from the refused row run again alone; the rows
  // after it wait for the next batch.
  TInsertRow refused = std::move(m_pending[inserted]);
  m_pending.erase(m_pending.begin(), m_pending.begin() + inserted + 1);
  RunAlone(refused);
}

void TBulkInserter::RunAlone(const TInsertRow& row) {
  for (std::size_t c = 0; c < row.values.size(); ++c)
    BindValue(*m_single, static_cast<int>(c) + 1, row.values[c]);
  // An INSERT of values (or an UPDATE OR INSERT) that succeeds stores one
  // row, into a view as well: the server's count of it is not asked for,
  // which would cost a call of its own.
  try {
    m_single->Run();
  } catch (const EDataRefused& refusal) {
    const bool goOn = m_onRefused(row, refusal);
    if (!goOn) {
      m_pending.clear();
      m_dropped = true;
    }
    Settled(0, row.next);
    return;
  }
  Settled(1, row.next);
}

void TBulkInserter::Settled(std::int64_t inserted, std::int64_t next) {
  m_inserted += inserted;
  m_settledRows += std::max<std::int64_t>(inserted, 1);
  m_settledEnd = next;
  if (!m_options.OneTransaction() && m_settledRows - m_settledAtCommit >= CommitEvery()) Commit(true);
}

void TBulkInserter::CommitTransaction() {
  if (m_onCommitting) m_onCommitting();
  m_connection.Commit();
  m_committed = m_inserted;
  m_committedEnd = m_settledEnd;
  m_settledAtCommit = m_settledRows;
}

void TBulkInserter::Commit(bool startNext) {
  try {
    CommitTransaction();
  } catch (const EDatabaseError& failure) {
    // A commit that fails is rolled back, unless the connection went while
    // it was on its way: then nobody here can tell.
    if (failure.ConnectionLost()) {
      m_outcomeUnknown = true;
      m_unknownEnd = m_settledEnd;
    }
    throw;
  }
  if (startNext) m_connection.StartTransaction();
  if (m_onCommitted) m_onCommitted(m_committed, m_committedEnd);
}

void TBulkInserter::Complete() {
  Flush();
  if (m_options.sharedTransaction) return;
  if (m_options.rollBackAtEnd) {
    m_connection.Rollback();
    m_rolledBack = true;
    return;
  }
  Commit(false);
}

void TBulkInserter::RollBackAll() noexcept {
  m_pending.clear();
  try {
    if (m_connection.InTransaction()) m_connection.Rollback();
  } catch (const std::exception&) {
  }
  m_rolledBack = true;
}

void TBulkInserter::KeepWhatWasSettled(bool connectionLost) noexcept {
  if (m_options.sharedTransaction) {
    m_pending.clear();
    return;
  }
  if (m_options.OneTransaction()) return RollBackAll();
  m_pending.clear();
  try {
    if (!m_connection.InTransaction()) return;  // a failed commit rolled back
    // The server rolls back what a lost connection left; no commit can reach
    // it. A commit after another failure that finds the connection gone
    // found it gone before it was sent, in all likelihood: so it counts.
    if (connectionLost) {
      m_connection.Rollback();
      return;
    }
    CommitTransaction();
  } catch (const std::exception&) {
    try {
      if (m_connection.InTransaction()) m_connection.Rollback();
    } catch (const std::exception&) {
    }
    return;
  }
  try {
    if (m_onCommitted) m_onCommitted(m_committed, m_committedEnd);
  } catch (const std::exception&) {
    // The failure that got us here is the one to report.
  }
}

void DeleteAllRows(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand clear(connection);
  clear.Prepare("DELETE FROM " + connection.QuoteObjectName(tableName));
  clear.Execute();
}
