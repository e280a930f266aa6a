#include "db/table_port.h"

#include <algorithm>

#include "db/layer_text.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "driver/connect_string.h"

namespace {

// A batch takes at most this many rows, and its input message and statement
// text at most these many bytes (Firebird 3 limits both to 64 KB).
constexpr int kBatchRows = 100;
constexpr std::size_t kBatchBytes = 60000;
// The text input of a batch for a column that is no text column.
constexpr std::uint32_t kOtherTextBytes = 64;

// Makes the dataset inactive on the way out, also after a failure; a failure
// of the closing itself is swallowed then, since the one that got us there
// is the one the user sees.
void CloseQuietly(TSQLDataSet& dataSet) noexcept {
  try {
    dataSet.SetActive(false);
  } catch (...) {
  }
}

void OpenTable(TSQLDataSet& dataSet, const std::string& tableName) {
  dataSet.SetActive(false);
  dataSet.SetCommandType(ctTable);
  dataSet.SetCommandText(tableName);
  dataSet.SetActive(true);
}

std::vector<std::string> SplitList(const std::string& list, char separator) {
  std::vector<std::string> items;
  std::size_t begin = 0;
  while (begin < list.size()) {
    const std::size_t end = std::min(list.find(separator, begin), list.size());
    items.push_back(list.substr(begin, end - begin));
    begin = end + 1;
  }
  return items;
}

// The table's COMPUTED BY columns ("C" and the name) and the columns a row
// needs a value for ("R" and the name).
std::vector<std::string> MarkedColumns(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(CASE "
      "WHEN F.RDB$COMPUTED_BLR IS NOT NULL THEN 'C' || TRIM(TRAILING FROM RF.RDB$FIELD_NAME) "
      "WHEN COALESCE(RF.RDB$NULL_FLAG, F.RDB$NULL_FLAG, 0) = 1 AND RF.RDB$DEFAULT_SOURCE IS NULL "
      "AND F.RDB$DEFAULT_SOURCE IS NULL AND RF.RDB$IDENTITY_TYPE IS NULL AND NOT EXISTS ("
      "SELECT 1 FROM RDB$TRIGGERS T WHERE T.RDB$RELATION_NAME = RF.RDB$RELATION_NAME "
      "AND MOD(T.RDB$TRIGGER_TYPE, 2) = 1 AND COALESCE(T.RDB$TRIGGER_INACTIVE, 0) = 0) "
      "THEN 'R' || TRIM(TRAILING FROM RF.RDB$FIELD_NAME) END, ASCII_CHAR(1)) "
      "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
      "WHERE RF.RDB$RELATION_NAME = ?");
  query.SetText(1, tableName);
  return SplitList(query.ExecuteForText(), '\1');
}

// The character set each text blob column of the table is declared in, as
// "NAME" \2 "SET" pieces.
std::vector<std::string> TextBlobCharSets(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(TRIM(TRAILING FROM RF.RDB$FIELD_NAME) || ASCII_CHAR(2) || "
      "COALESCE(TRIM(TRAILING FROM CS.RDB$CHARACTER_SET_NAME), 'NONE'), ASCII_CHAR(1)) "
      "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
      "LEFT JOIN RDB$CHARACTER_SETS CS ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
      "WHERE RF.RDB$RELATION_NAME = ? AND F.RDB$FIELD_TYPE = 261 AND F.RDB$FIELD_SUB_TYPE = 1");
  query.SetText(1, tableName);
  return SplitList(query.ExecuteForText(), '\1');
}

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

// A query's file names its columns in its header, which an import matches
// without regard to letter case: each name must be there, and only once.
void CheckQueryColumns(const std::vector<std::string>& names) {
  std::string problems;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) {
      problems += " Column " + std::to_string(i + 1) + " has no name.";
      continue;
    }
    // Said once, at its second place.
    const auto before = std::count_if(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i),
                                      [&](const std::string& name) { return SameText(name, names[i]); });
    if (before == 1) problems += " Column '" + names[i] + "' is named more than once.";
  }
  if (!problems.empty())
    throw Exception("The query's rows cannot be written:" + problems +
                    " Give each column a name of its own with AS.");
}

}  // namespace

TTableReader::TTableReader(TSQLDataSet& dataSet, const TSource& source)
    : m_dataSet(dataSet), m_connection(dataSet.SQLConnection()) {
  if (m_connection && !m_connection->InTransaction()) {
    // A read-only snapshot: whatever the user's SQL calls, an export changes nothing.
    m_connection->StartTransaction(eTxnSnapshotReadOnly);
    m_ownTransaction = true;
  }
  try {
    if (!source.query.empty()) {
      OpenQuery(source.query);
      m_ofQuery = true;
      if (source.choose) {
        // A query's rows come whole; only the chosen columns are read.
        const std::vector<std::string> names = std::move(m_names);
        m_names.clear();
        m_column.clear();
        for (std::size_t i : source.choose(names)) {
          m_names.push_back(names[i]);
          m_column.push_back(static_cast<int>(i));
        }
        m_longColumn.assign(m_names.size(), -1);
      }
      CheckQueryColumns(m_names);
    } else {
      std::string from = m_connection ? m_connection->QuoteObjectName(source.table) : source.table;
      if (!source.condition.empty()) from += " WHERE (" + source.condition + ")";
      const bool server = m_connection && NamesServer(m_connection->Params().Value("Database"));
      if (server || source.choose) {
        OpenColumns(source, from, server);
      } else if (!source.condition.empty()) {
        OpenQuery("SELECT * FROM " + from);
      } else {
        OpenTable(dataSet, source.table);
        m_names = dataSet.ColumnNames();
        for (std::size_t i = 0; i < m_names.size(); ++i) m_column.push_back(static_cast<int>(i));
        m_longColumn.assign(m_names.size(), -1);
      }
      if (m_dataSet.CommandType() != ctTable) m_countSql = "SELECT COUNT(*) FROM " + from;
    }
    dataSet.MoveFirst();
  } catch (...) {
    CloseQuietly(dataSet);
    if (m_ownTransaction && m_connection->InTransaction()) m_connection->Rollback();
    throw;
  }
}

TTableReader::~TTableReader() {
  m_images.reset();
  CloseQuietly(m_dataSet);
  if (!m_ownTransaction) return;
  try {
    if (m_connection->InTransaction()) m_connection->Rollback();
  } catch (...) {
  }
}

// The columns are read off a statement that gives no row, and the chosen
// ones selected by name. Through a server, a blob column is selected twice:
// as text where its value is short, as a blob where it is long.
void TTableReader::OpenColumns(const TSource& source, const std::string& from, bool server) {
  TSQLConnection& connection = *m_connection;
  const bool filtered = !source.condition.empty();
  m_dataSet.SetActive(false);
  m_dataSet.SetCommandType(ctQuery);
  m_dataSet.SetCommandText("SELECT * FROM " + from + (filtered ? " AND " : " WHERE ") + "1 = 0");
  m_dataSet.SetActive(true);
  const std::vector<std::string> names = m_dataSet.ColumnNames();
  std::vector<std::optional<TFieldKind>> kinds;
  for (std::size_t i = 0; i < names.size(); ++i) {
    TField* field = m_dataSet.ColumnField(i);
    kinds.push_back(field ? std::optional(field->Kind()) : std::nullopt);
  }
  m_dataSet.SetActive(false);
  std::vector<std::size_t> chosen;
  if (source.choose) {
    chosen = source.choose(names);
  } else {
    for (std::size_t i = 0; i < names.size(); ++i) chosen.push_back(i);
  }
  auto isBlob = [&](std::size_t i) {
    return kinds[i] == fkBlob || kinds[i] == fkMemo || kinds[i] == fkGraphic;
  };
  const bool inlineBlobs = server && std::any_of(chosen.begin(), chosen.end(), isBlob);
  m_longColumn.assign(chosen.size(), -1);
  if (!source.choose && !inlineBlobs) {
    if (!filtered) {
      OpenTable(m_dataSet, source.table);
    } else {
      m_dataSet.SetCommandText("SELECT * FROM " + from);
      m_dataSet.SetActive(true);
    }
    m_names = names;
    for (std::size_t i = 0; i < m_names.size(); ++i) m_column.push_back(static_cast<int>(i));
    return;
  }
  const std::string size = std::to_string(InlineBlobBytes());
  // Text is cast in the set the column holds it in, so that the server has
  // nothing to convert (or refuse) before the value reaches the connection's set.
  std::vector<std::string> charSets;
  if (inlineBlobs) charSets = TextBlobCharSets(connection, source.table);
  auto charSetOf = [&](const std::string& column) {
    for (const std::string& piece : charSets) {
      if (piece.starts_with(column + '\2')) return piece.substr(column.size() + 1);
    }
    return std::string("NONE");
  };
  std::string select;
  std::string longOnes;
  int longColumn = static_cast<int>(chosen.size());
  for (std::size_t c = 0; c < chosen.size(); ++c) {
    const std::size_t i = chosen[c];
    const std::string name = connection.QuoteObjectName(names[i]);
    if (!select.empty()) select += ", ";
    m_names.push_back(names[i]);
    m_column.push_back(static_cast<int>(c));
    if (!inlineBlobs || !isBlob(i)) {
      select += name;
      continue;
    }
    // Other blobs are plain bytes.
    const std::string type =
        "VARCHAR(" + size + ") CHARACTER SET " + (kinds[i] == fkMemo ? charSetOf(names[i]) : "OCTETS");
    select +=
        "CASE WHEN OCTET_LENGTH(" + name + ") <= " + size + " THEN CAST(" + name + " AS " + type + ") END";
    longOnes += ", CASE WHEN OCTET_LENGTH(" + name + ") > " + size + " THEN " + name + " END";
    m_longColumn[c] = longColumn++;
  }
  m_dataSet.SetCommandText("SELECT " + select + longOnes + " FROM " + from);
  m_dataSet.SetActive(true);
}

void TTableReader::OpenQuery(const std::string& sql) {
  m_dataSet.SetActive(false);
  m_dataSet.SetCommandType(ctQuery);
  m_dataSet.SetCommandText(sql);
  m_dataSet.SetActive(true);
  m_names = m_dataSet.ColumnNames();
  for (std::size_t i = 0; i < m_names.size(); ++i) m_column.push_back(static_cast<int>(i));
  m_longColumn.assign(m_names.size(), -1);
}

std::size_t TTableReader::ImageSize() {
  if (!m_images) m_images = std::make_unique<TRowImages>(m_dataSet);
  return m_images->ImageSize();
}

void TTableReader::CopyRow(char* image) { m_images->Copy(image); }

void TTableReader::ShowImage(const char* image) { m_images->Show(image); }

TField* TTableReader::ImageField(std::size_t column) const {
  TField* field = m_images->ColumnField(static_cast<std::size_t>(m_column[column]));
  if (m_longColumn[column] < 0 || (field && !field->IsNull())) return field;
  return m_images->ColumnField(static_cast<std::size_t>(m_longColumn[column]));
}

std::int64_t TTableReader::CountRows() {
  if (m_countSql.empty()) return m_dataSet.CountRecords();
  try {
    TSQLDataSet counter(std::string(), m_connection);
    counter.SetCommandText(m_countSql);
    counter.SetActive(true);
    return counter.AtEnd() ? 0 : counter.FieldAt(0).AsLargeInt();
  } catch (const EDatabaseError&) {
    // Read all the same, without a bar.
    return 0;
  }
}

std::unique_ptr<TRowCount> TTableReader::CountRowsAside() {
  // A query runs once: counting its rows would run it a second time.
  if (m_ofQuery) return nullptr;
  // A snapshot others share is counted in, as it stands.
  if (!m_ownTransaction) return std::make_unique<TRowCount>(CountRows());
  const std::string sql =
      m_countSql.empty() ? "SELECT COUNT(*) FROM " + m_connection->QuoteObjectName(m_dataSet.CommandText())
                         : m_countSql;
  return std::make_unique<TRowCount>(*this, *m_connection, sql);
}

TRowCount::TRowCount(TTableReader& reader, const TSQLConnection& like, std::string sql) : m_reader(&reader) {
  auto connection = like.Like("scnCount");
  m_thread = std::thread(
      [this, connection = std::shared_ptr<TSQLConnection>(std::move(connection)), sql = std::move(sql)] {
        std::optional<std::int64_t> rows;
        try {
          connection->SetConnected(true);
          std::unique_lock lock(m_mutex);
          if (!m_abandoned) {
            m_counting = connection.get();
            lock.unlock();
            connection->StartTransaction(eTxnSnapshotReadOnly);
            {
              TSQLDataSet counter(std::string(), connection.get());
              counter.SetCommandText(sql);
              counter.SetActive(true);
              rows = counter.AtEnd() ? 0 : counter.FieldAt(0).AsLargeInt();
            }
            connection->Rollback();
          }
        } catch (const std::exception&) {
          // Counted in the reader's snapshot instead.
        }
        {
          std::lock_guard lock(m_mutex);
          m_counting = nullptr;
          m_rows = rows;
        }
        try {
          connection->SetConnected(false);
        } catch (const std::exception&) {
        }
        m_ready.store(true, std::memory_order_release);
      });
}

TRowCount::~TRowCount() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard lock(m_mutex);
    m_abandoned = true;
    if (m_counting) m_counting->CancelOperation();
  }
  m_thread.join();
}

std::int64_t TRowCount::Get() {
  if (m_thread.joinable()) m_thread.join();
  if (!m_rows) m_rows = m_reader->CountRows();
  return *m_rows;
}

bool TTableReader::AtEnd() const { return m_dataSet.AtEnd(); }

void TTableReader::Next() { m_dataSet.MoveNext(); }

void TTableReader::Close() {
  m_images.reset();
  m_dataSet.SetActive(false);
  if (m_ownTransaction && m_connection->InTransaction()) m_connection->Rollback();
  m_ownTransaction = false;
}

std::vector<TTableColumn> DescribeTable(TSQLDataSet& dataSet, const std::string& tableName) {
  std::vector<TTableColumn> columns;
  try {
    OpenTable(dataSet, tableName);
    const std::vector<std::string> marked = MarkedColumns(*dataSet.SQLConnection(), tableName);
    auto isMarked = [&](char mark, const std::string& name) {
      return std::find(marked.begin(), marked.end(), mark + name) != marked.end();
    };
    const std::vector<std::string>& names = dataSet.ColumnNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
      TTableColumn column;
      column.name = names[i];
      if (TField* field = dataSet.ColumnField(i)) column.kind = field->Kind();
      column.computed = isMarked('C', column.name);
      column.required = isMarked('R', column.name);
      columns.push_back(std::move(column));
    }
  } catch (...) {
    CloseQuietly(dataSet);
    throw;
  }
  dataSet.SetActive(false);
  return columns;
}

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
  if (m_options.replace || m_options.rollBackAtEnd || m_options.sharedTransaction)
    m_options.oneTransaction = true;
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
  // Each active unique index of the table (those of its primary key and
  // unique constraints among them) as "P" or "U", its name and a column.
  TSQLCommand query(m_connection);
  query.Prepare(
      "SELECT LIST(IIF(RC.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY', 'P', 'U') || ASCII_CHAR(2) || "
      "TRIM(TRAILING FROM I.RDB$INDEX_NAME) || ASCII_CHAR(2) || TRIM(TRAILING FROM S.RDB$FIELD_NAME), "
      "ASCII_CHAR(1)) "
      "FROM RDB$INDICES I JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
      "LEFT JOIN RDB$RELATION_CONSTRAINTS RC ON RC.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
      "WHERE I.RDB$RELATION_NAME = ? AND I.RDB$UNIQUE_FLAG = 1 AND COALESCE(I.RDB$INDEX_INACTIVE, 0) = 0");
  query.SetText(1, tableName);
  struct TIndex {
    bool primary = false;
    std::vector<std::string> columns;
  };
  std::vector<std::pair<std::string, TIndex>> indexes;
  for (const std::string& piece : SplitList(query.ExecuteForText(), '\1')) {
    const std::vector<std::string> parts = SplitList(piece, '\2');
    if (parts.size() != 3) continue;
    auto found = std::find_if(indexes.begin(), indexes.end(),
                              [&](const auto& index) { return index.first == parts[1]; });
    if (found == indexes.end()) found = indexes.insert(indexes.end(), {parts[1], TIndex{}});
    found->second.primary = parts[0] == "P";
    found->second.columns.push_back(parts[2]);
  }
  std::vector<std::string> key = m_options.matchColumns;
  if (key.empty()) {
    const auto primary =
        std::find_if(indexes.begin(), indexes.end(), [](const auto& index) { return index.second.primary; });
    if (primary == indexes.end()) {
      throw EDatabaseError("Table '" + tableName +
                           "' has no primary key: name the columns that match a file's row to a table's row");
    }
    key = primary->second.columns;
  } else {
    // A key within which an index is unique matches one row at most.
    const bool unique = std::any_of(indexes.begin(), indexes.end(), [&](const auto& index) {
      return std::all_of(
          index.second.columns.begin(), index.second.columns.end(),
          [&](const std::string& column) { return std::find(key.begin(), key.end(), column) != key.end(); });
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
  if (!m_options.oneTransaction && m_settledRows - m_settledAtCommit >= CommitEvery()) Commit(true);
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
  if (m_options.oneTransaction) return RollBackAll();
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

namespace {

// The text columns of every row of a catalogue query.
std::vector<std::vector<std::string>> CatalogueRows(TSQLConnection& connection, const std::string& sql) {
  TSQLDataSet query(std::string(), &connection);
  query.SetCommandText(sql);
  query.SetActive(true);
  std::vector<std::vector<std::string>> rows;
  for (; !query.AtEnd(); query.MoveNext()) {
    std::vector<std::string> row;
    for (int i = 0; i < query.NumberOfFields(); ++i) row.push_back(query.FieldAt(i).ValueText());
    rows.push_back(std::move(row));
  }
  query.SetActive(false);
  return rows;
}

}  // namespace

std::vector<std::string> UserTables(TSQLConnection& connection) {
  std::vector<std::string> tables;
  for (auto& row : CatalogueRows(connection,
                                 "SELECT TRIM(TRAILING FROM RDB$RELATION_NAME) FROM RDB$RELATIONS "
                                 "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 AND RDB$VIEW_BLR IS NULL "
                                 "AND COALESCE(RDB$RELATION_TYPE, 0) IN (0, 2)")) {
    tables.push_back(std::move(row[0]));
  }
  std::sort(tables.begin(), tables.end());
  return tables;
}

void DeleteAllRows(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand clear(connection);
  clear.Prepare("DELETE FROM " + connection.QuoteObjectName(tableName));
  clear.Execute();
}

std::vector<std::string> ParentsFirst(TSQLConnection& connection, const std::vector<std::string>& tables) {
  const auto references =
      CatalogueRows(connection,
                    "SELECT TRIM(TRAILING FROM C.RDB$RELATION_NAME), TRIM(TRAILING FROM P.RDB$RELATION_NAME) "
                    "FROM RDB$RELATION_CONSTRAINTS C "
                    "JOIN RDB$REF_CONSTRAINTS R ON R.RDB$CONSTRAINT_NAME = C.RDB$CONSTRAINT_NAME "
                    "JOIN RDB$RELATION_CONSTRAINTS P ON P.RDB$CONSTRAINT_NAME = R.RDB$CONST_NAME_UQ "
                    "WHERE C.RDB$CONSTRAINT_TYPE = 'FOREIGN KEY'");
  std::vector<std::string> ordered;
  std::vector<bool> placed(tables.size(), false);
  auto index = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(tables.begin(), tables.end(), name) - tables.begin());
  };
  // Each round places every table whose parents are placed; a round that
  // places none is a cycle, whose first table goes next.
  while (ordered.size() < tables.size()) {
    bool progress = false;
    for (std::size_t t = 0; t < tables.size(); ++t) {
      if (placed[t]) continue;
      const bool ready = std::none_of(references.begin(), references.end(), [&](const auto& reference) {
        const std::size_t parent = index(reference[1]);
        return reference[0] == tables[t] && reference[1] != tables[t] && parent < tables.size() &&
               !placed[parent];
      });
      if (!ready) continue;
      placed[t] = true;
      ordered.push_back(tables[t]);
      progress = true;
    }
    if (progress) continue;
    const std::size_t first =
        static_cast<std::size_t>(std::find(placed.begin(), placed.end(), false) - placed.begin());
    placed[first] = true;
    ordered.push_back(tables[first]);
  }
  return ordered;
}
