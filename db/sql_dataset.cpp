#include "db/sql_dataset.h"

#include <algorithm>

#include "base/exceptions.h"
#include "db/layer_text.h"
#include "db/sql_statement.h"
#include "db/status_text.h"

namespace {

constexpr const char* kMissingCommand = "Missing query, table name or procedure name";
constexpr const char* kNotSupported = "Driver Error: Operation Not Supported";
constexpr std::int32_t kDefaultRowsetSize = 20;

// Rows per fetch: the RowsetSize parameter, or 20 when it is absent or no number.
std::int32_t RowsetSize(const TSQLParams& params) {
  const std::string value = params.Value("RowsetSize");
  if (value.empty()) return kDefaultRowsetSize;
  try {
    return StrToInt(value);
  } catch (const EConvertError&) {
    return kDefaultRowsetSize;
  }
}

}  // namespace

struct TSQLDataSet::Impl {
  std::unique_ptr<TSQLStatement> statement;  // prepared for the current command, kept across opens
  TDriverPtr<ISQLCursor> cursor;
  std::vector<std::unique_ptr<TField>> fields;
  std::vector<std::string> columnNames;
  std::vector<TField*> columnFields;
  TRowSource row;
  bool active = false;
  bool atEnd = true;
  bool onFirstRow = false;
  std::size_t lookupHint = 0;     // where the last name lookup matched
};

TSQLDataSet::TSQLDataSet(std::string name, TSQLConnection* connection)
    : m_name(std::move(name)), m_connection(connection), m_impl(std::make_unique<Impl>()) {
  m_impl->row.lastError = &m_lastError;
  if (m_connection) m_connection->m_dataSets.push_back(this);
}

TSQLDataSet::~TSQLDataSet() {
  Close();
  DropStatement();
  if (m_connection) {
    auto& dataSets = m_connection->m_dataSets;
    dataSets.erase(std::remove(dataSets.begin(), dataSets.end(), this), dataSets.end());
  }
}

void TSQLDataSet::Fail(const std::string& text) const { throw EDatabaseError(WithObjectName(m_name, text)); }

void TSQLDataSet::CheckClosed() const {
  if (m_impl->active) Fail("Cannot perform this operation on an open dataset");
}

void TSQLDataSet::CheckActive() const {
  if (!m_impl->active) Fail("Cannot perform this operation on a closed dataset");
}

TSQLConnection& TSQLDataSet::Connection() {
  if (!m_connection) Fail("Missing SQLConnection property");
  return *m_connection;
}

void TSQLDataSet::DropStatement() { m_impl->statement.reset(); }

void TSQLDataSet::SetCommandType(TSQLCommandType value) {
  if (value == m_commandType) return;
  CheckClosed();
  m_commandType = value;
  m_commandText.clear();
  DropStatement();
}

void TSQLDataSet::SetCommandText(const std::string& value) {
  // A table name is used exactly as the catalogue lists it: " T" and "T" are two tables.
  std::string text = m_commandType == ctTable ? value : TrimLeftBlanks(value);
  if (text == m_commandText) return;
  CheckClosed();
  m_commandText = std::move(text);
  DropStatement();
}

bool TSQLDataSet::Active() const { return m_impl->active; }

void TSQLDataSet::SetActive(bool value) {
  if (value == m_impl->active) return;
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TSQLDataSet::Open() {
  ISQLCursor* cursor = Execute();
  if (!cursor) {
    DropStatement();
    Fail("Cursor not returned from Query");
  }
  OpenCursor(cursor);
}

ISQLCursor* TSQLDataSet::Execute() {
  if (m_commandText.empty()) throw EDatabaseError(kMissingCommand);
  Connection().EnsureConnected();
  if (!m_impl->statement) PrepareStatement();

  ISQLCommand* command = m_impl->statement->Command();
  ISQLCursor* cursor = nullptr;
  SQLResult status = command->execute(&cursor);
  TDriverPtr<ISQLCursor> owned(cursor);
  CheckStatus(status, command, m_lastError);
  return owned.release();
}

void TSQLDataSet::PrepareStatement() {
  TSQLConnection& connection = Connection();
  m_lastError.clear();
  try {
    auto statement = connection.NewStatement();
    ISQLCommand* command = statement->Command();
    command->setOption(eCommRowsetSize, RowsetSize(connection.Params()));
    const std::string sql = m_commandType == ctTable
                                ? " select * from " + connection.QuoteObjectName(m_commandText)
                                : m_commandText;
    CheckStatus(command->prepare(sql.c_str(), 0), command, m_lastError);
    m_impl->statement = std::move(statement);
  } catch (const EDatabaseError& failure) {
    throw EDatabaseError(m_lastError.empty() ? "Table/Procedure not found" : m_lastError, failure.SqlState());
  } catch (const std::exception&) {
    throw EDatabaseError(m_lastError.empty() ? "Table/Procedure not found" : m_lastError);
  }
}

namespace {

struct TBuiltFields {
  std::vector<std::unique_ptr<TField>> fields;
  std::vector<std::string> columnNames;
  std::vector<TField*> columnFields;
};

// A field for each column cursor describes that has a field kind, reading
// the rows row names.
TBuiltFields BuildFields(ISQLCursor* cursor, const TRowSource* row, std::string& lastError) {
  std::uint16_t count = 0;
  CheckStatus(cursor->getColumnCount(&count), cursor, lastError);
  TBuiltFields built;
  std::vector<std::string> names;
  names.reserve(count);
  for (std::uint16_t column = 1; column <= count; ++column) {
    TColumnDesc desc;
    char name[32] = {};
    CheckStatus(cursor->getColumnName(column, name), cursor, lastError);
    name[sizeof name - 1] = '\0';
    desc.name = name;
    CheckStatus(cursor->getColumnType(column, &desc.typeCode, &desc.subtypeCode), cursor, lastError);
    CheckStatus(cursor->getColumnLength(column, &desc.dataLength), cursor, lastError);
    CheckStatus(cursor->getColumnPrecision(column, &desc.firstUnit), cursor, lastError);
    CheckStatus(cursor->getColumnScale(column, &desc.secondUnit), cursor, lastError);
    CheckStatus(cursor->isReadOnly(column, &desc.readOnly), cursor, lastError);
    CheckStatus(cursor->isNullable(column, &desc.nullable), cursor, lastError);

    TFieldDef def = ChooseFieldKind(desc, names);
    if (def.defClass == fdCursor) throw EDatabaseError("Field '" + desc.name + "' is of an unknown type");
    if (def.defClass == fdField) built.fields.push_back(std::make_unique<TField>(def, column, row));
    built.columnNames.push_back(desc.name);
    built.columnFields.push_back(def.defClass == fdField ? built.fields.back().get() : nullptr);
    names.push_back(std::move(def.name));
  }
  return built;
}

}  // namespace

void TSQLDataSet::OpenCursor(ISQLCursor* cursor) {
  TDriverPtr<ISQLCursor> owned(cursor);
  TBuiltFields built = BuildFields(cursor, &m_impl->row, m_lastError);
  std::vector<std::unique_ptr<TField>> fields = std::move(built.fields);
  std::vector<std::string> columnNames = std::move(built.columnNames);
  std::vector<TField*> columnFields = std::move(built.columnFields);

  m_impl->cursor = std::move(owned);
  m_impl->row.cursor = cursor;
  m_impl->fields = std::move(fields);
  m_impl->columnNames = std::move(columnNames);
  m_impl->columnFields = std::move(columnFields);
  m_impl->lookupHint = 0;
  m_impl->active = true;
  m_impl->atEnd = false;
  m_impl->onFirstRow = true;
  try {
    Fetch();
  } catch (...) {
    Close();
    throw;
  }
}

void TSQLDataSet::Close() {
  m_impl->columnFields.clear();
  m_impl->columnNames.clear();
  m_impl->fields.clear();
  m_impl->row.cursor = nullptr;
  m_impl->cursor.reset();
  m_impl->active = false;
  m_impl->atEnd = true;
  m_impl->onFirstRow = false;
}

void TSQLDataSet::Fetch() {
  ISQLCursor* cursor = m_impl->cursor.get();
  SQLResult status = cursor->next();
  if (status == kSQLSuccess) {
    ++m_impl->row.rowSerial;
  } else if (status == kSQLEof || status == kSQLNoData) {
    m_impl->atEnd = true;
  } else {
    CheckStatus(status, cursor, m_lastError);
  }
}

void TSQLDataSet::MoveFirst() {
  CheckActive();
  if (m_impl->onFirstRow) return;
  Close();
  Open();
}

void TSQLDataSet::MoveNext() {
  CheckActive();
  if (m_impl->atEnd) return;
  m_impl->onFirstRow = false;
  Fetch();
}

bool TSQLDataSet::AtEnd() const { return !m_impl->active || m_impl->atEnd; }

const std::vector<std::string>& TSQLDataSet::ColumnNames() const { return m_impl->columnNames; }

TField* TSQLDataSet::ColumnField(std::size_t column) const {
  return column < m_impl->columnFields.size() ? m_impl->columnFields[column] : nullptr;
}

int TSQLDataSet::NumberOfFields() const { return static_cast<int>(m_impl->fields.size()); }

TField& TSQLDataSet::FieldAt(int index) {
  if (index < 0 || index >= NumberOfFields())
    Fail("List index out of bounds (" + std::to_string(index) + ")");
  return *m_impl->fields[static_cast<std::size_t>(index)];
}

TField& TSQLDataSet::FieldNamed(const std::string& name) {
  // Field names are unique ignoring letter case, so the search may start
  // anywhere; starting where the last lookup matched makes a walk through the
  // fields in order cost one or two comparisons per lookup.
  auto& fields = m_impl->fields;
  const std::size_t count = fields.size();
  for (std::size_t step = 0; step < count; ++step) {
    std::size_t index = (m_impl->lookupHint + step) % count;
    if (SameText(fields[index]->FieldName(), name)) {
      m_impl->lookupHint = index;
      return *fields[index];
    }
  }
  Fail("Field '" + name + "' not found");
}

TRowImages::TRowImages(TSQLDataSet& dataSet) : m_dataSet(dataSet) {
  m_row.lastError = &m_lastError;
  ISQLCursor* cursor = dataSet.m_impl->cursor.get();
  if (!cursor) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  std::uint32_t size = 0;
  CheckStatus(cursor->getRowImageSize(&size), cursor, m_lastError);
  m_size = size;
  ISQLCursor* reader = nullptr;
  CheckStatus(cursor->getImageReader(&reader), cursor, m_lastError);
  m_reader.reset(reader);
  m_row.cursor = reader;
  TBuiltFields built = BuildFields(reader, &m_row, m_lastError);
  m_fields = std::move(built.fields);
  m_columnFields = std::move(built.columnFields);
}

TRowImages::~TRowImages() = default;

void TRowImages::Copy(char* image) {
  ISQLCursor* cursor = m_dataSet.m_impl->cursor.get();
  CheckStatus(cursor->copyRowImage(image), cursor, m_dataSet.m_lastError);
}

void TRowImages::Show(const char* image) {
  CheckStatus(m_reader->showRowImage(image), m_reader.get(), m_lastError);
  ++m_row.rowSerial;
}

TField* TRowImages::ColumnField(std::size_t column) const {
  return column < m_columnFields.size() ? m_columnFields[column] : nullptr;
}

void OpenTable(TSQLDataSet& dataSet, const std::string& tableName) {
  dataSet.SetActive(false);
  dataSet.SetCommandType(ctTable);
  dataSet.SetCommandText(tableName);
  dataSet.SetActive(true);
}

void CloseQuietly(TSQLDataSet& dataSet) noexcept {
  try {
    dataSet.SetActive(false);
  } catch (...) {
  }
}
