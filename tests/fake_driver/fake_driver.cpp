#include "fake_driver/fake_driver.h"

#include <cstring>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

TFakeDriverState g_state;

void Log(int connection, const std::string& event) {
  g_state.log.push_back("c" + std::to_string(connection) + " " + event);
}

// Every object answers for its last failure with the state's error text, and
// no SQLSTATE.
template <class Base>
class TFakeObject : public Base {
 public:
  SQLResult getErrorMessageLen(std::uint32_t* length) override {
    if (g_state.errorLengthFails) return 1;
    *length = static_cast<std::uint32_t>(g_state.errorText.size());
    return kSQLSuccess;
  }
  SQLResult getErrorMessage(char* buffer) override {
    if (g_state.errorTextFails) return 1;
    std::memcpy(buffer, g_state.errorText.c_str(), g_state.errorText.size() + 1);
    return kSQLSuccess;
  }
  SQLResult getErrorState(char* sqlState, std::int32_t* refusal) override {
    sqlState[0] = '\0';
    *refusal = eRefusedOther;
    return kSQLSuccess;
  }
};

class TFakeCursor final : public TFakeObject<ISQLCursor> {
 public:
  explicit TFakeCursor(const TFakeResult& result) : m_result(result) { ++g_state.liveCursors; }
  void release() override {
    --g_state.liveCursors;
    delete this;
  }

  SQLResult getColumnCount(std::uint16_t* count) override {
    *count = static_cast<std::uint16_t>(m_result.columns.size());
    return kSQLSuccess;
  }
  SQLResult getColumnName(std::uint16_t column, char* name) override {
    std::strncpy(name, Column(column).name.c_str(), 31);
    name[31] = '\0';
    return kSQLSuccess;
  }
  SQLResult getColumnType(std::uint16_t column, std::uint16_t* type, std::uint16_t* subtype) override {
    *type = Column(column).type;
    *subtype = Column(column).subtype;
    return kSQLSuccess;
  }
  SQLResult getColumnLength(std::uint16_t column, std::uint32_t* length) override {
    *length = Column(column).length;
    return kSQLSuccess;
  }
  SQLResult getColumnPrecision(std::uint16_t column, std::int16_t* precision) override {
    *precision = Column(column).precision;
    return kSQLSuccess;
  }
  SQLResult getColumnScale(std::uint16_t column, std::int16_t* scale) override {
    *scale = Column(column).scale;
    return kSQLSuccess;
  }
  SQLResult isReadOnly(std::uint16_t column, bool* readOnly) override {
    *readOnly = Column(column).readOnly;
    return kSQLSuccess;
  }
  SQLResult isNullable(std::uint16_t column, bool* nullable) override {
    *nullable = Column(column).nullable;
    return kSQLSuccess;
  }

  SQLResult next() override {
    if (g_state.nextFailsAfterRows >= 0 && m_row + 1 >= g_state.nextFailsAfterRows) return kSQLServerError;
    if (m_row + 1 >= static_cast<int>(m_result.rows.size())) {
      m_row = static_cast<int>(m_result.rows.size());
      return kSQLNoData;
    }
    ++m_row;
    return kSQLSuccess;
  }

  SQLResult getString(std::uint16_t column, char* buffer, std::uint32_t bufferSize, std::uint32_t* length,
                      bool* isNull) override {
    const TFakeValue* value = Value(column, isNull);
    if (!value) return 8;
    if (!*isNull) {
      *length = static_cast<std::uint32_t>(value->text.size());
      std::memcpy(buffer, value->text.data(), std::min<std::size_t>(bufferSize, value->text.size()));
    }
    return kSQLSuccess;
  }
  SQLResult getInt16(std::uint16_t column, std::int16_t* value, bool* isNull) override {
    return Integer(column, value, isNull);
  }
  SQLResult getInt32(std::uint16_t column, std::int32_t* value, bool* isNull) override {
    return Integer(column, value, isNull);
  }
  SQLResult getInt64(std::uint16_t column, std::int64_t* value, bool* isNull) override {
    return Integer(column, value, isNull);
  }
  SQLResult getDouble(std::uint16_t column, double* value, bool* isNull) override {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) *value = cell->real;
    return kSQLSuccess;
  }
  SQLResult getBcd(std::uint16_t column, TBcd* value, bool* isNull) override {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) *value = cell->bcd;
    return kSQLSuccess;
  }
  SQLResult getBoolean(std::uint16_t column, bool* value, bool* isNull) override {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) *value = cell->integer != 0;
    return kSQLSuccess;
  }
  SQLResult getDate(std::uint16_t column, std::int32_t* days, bool* isNull) override {
    return Integer(column, days, isNull);
  }
  SQLResult getTime(std::uint16_t column, std::uint32_t* tenThousandths, bool* isNull) override {
    return Integer(column, tenThousandths, isNull);
  }
  SQLResult getTimeStamp(std::uint16_t column, TSQLTimeStamp* value, bool* isNull) override {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) *value = cell->stamp;
    return kSQLSuccess;
  }
  SQLResult getDateTime(std::uint16_t column, double* value, bool* isNull) override {
    return getDouble(column, value, isNull);
  }
  SQLResult getBlobSize(std::uint16_t column, std::uint32_t* size, bool* isNull) override {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) *size = static_cast<std::uint32_t>(cell->text.size());
    return kSQLSuccess;
  }
  SQLResult getBlob(std::uint16_t column, void* buffer, std::uint32_t bufferSize, bool* isNull) override {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) {
      if (bufferSize < cell->text.size()) return 13;
      std::memcpy(buffer, cell->text.data(), cell->text.size());
    }
    return kSQLSuccess;
  }  // Row images are for the real driver's exports; this one has none.
  SQLResult getRowImageSize(std::uint32_t*) override { return 5; }
  SQLResult copyRowImage(void*) override { return 5; }
  SQLResult getImageReader(ISQLCursor**) override { return 5; }
  SQLResult showRowImage(const void*) override { return 5; }

 private:
  const TFakeColumn& Column(std::uint16_t column) const { return m_result.columns.at(column - 1u); }

  // The cell of the current row, or null when there is none.
  const TFakeValue* Value(std::uint16_t column, bool* isNull) {
    ++g_state.valueCalls;
    if (m_row < 0 || m_row >= static_cast<int>(m_result.rows.size())) return nullptr;
    const auto& row = m_result.rows[static_cast<std::size_t>(m_row)];
    if (column < 1 || column > row.size()) return nullptr;
    const TFakeValue& value = row[column - 1u];
    *isNull = value.isNull;
    return &value;
  }

  template <class T>
  SQLResult Integer(std::uint16_t column, T* value, bool* isNull) {
    const TFakeValue* cell = Value(column, isNull);
    if (!cell) return 8;
    if (!*isNull) *value = static_cast<T>(cell->integer);
    return kSQLSuccess;
  }

  TFakeResult m_result;
  int m_row = -1;
};

ISQLCursor* CursorFor(const std::string& key) {
  auto result = g_state.results.find(key);
  return result == g_state.results.end() ? nullptr : new TFakeCursor(result->second);
}

class TFakeCommand final : public TFakeObject<ISQLCommand> {
 public:
  explicit TFakeCommand(int connection) : m_connection(connection) { ++g_state.liveCommands; }
  void release() override {
    --g_state.liveCommands;
    delete this;
  }
  SQLResult setOption(TCommandOption option, std::int32_t value) override {
    Log(m_connection, "command option " + std::to_string(option) + "=" + std::to_string(value));
    return kSQLSuccess;
  }
  SQLResult prepare(const char* sql, std::uint16_t paramCount) override {
    Log(m_connection, "prepare " + std::string(sql) + " (" + std::to_string(paramCount) + ")");
    if (g_state.prepareStatus != 0) return g_state.prepareStatus;
    m_sql = sql;
    return kSQLSuccess;
  }
  SQLResult execute(ISQLCursor** cursor) override {
    Log(m_connection, "execute " + m_sql);
    *cursor = nullptr;
    if (g_state.executeStatus != 0) return g_state.executeStatus;
    *cursor = CursorFor(m_sql);
    return kSQLSuccess;
  }
  SQLResult executeImmediate(const char* sql, ISQLCursor** cursor) override {
    Log(m_connection, "immediate " + std::string(sql));
    *cursor = nullptr;
    if (g_state.executeStatus != 0) return g_state.executeStatus;
    *cursor = CursorFor(sql);
    return kSQLSuccess;
  }
  SQLResult getRowsAffected(std::uint64_t* rows) override {
    *rows = g_state.rowsAffected;
    return kSQLSuccess;
  }
  SQLResult getParameterCount(std::uint16_t* count) override {
    *count = 0;
    return kSQLSuccess;
  }
  SQLResult getParameterType(std::uint16_t, std::uint16_t*, std::uint16_t*, std::uint32_t*) override {
    return 8;
  }
  SQLResult getParameterCharSet(std::uint16_t, char*, std::uint16_t*) override { return 8; }
  SQLResult setParameterNull(std::uint16_t) override { return 8; }
  SQLResult setParameterText(std::uint16_t, const char*, std::uint32_t) override { return 8; }
  SQLResult setParameterDouble(std::uint16_t, double) override { return 8; }

 private:
  int m_connection;
  std::string m_sql;
};

class TFakeMetaData final : public TFakeObject<ISQLMetaData> {
 public:
  explicit TFakeMetaData(int connection) : m_connection(connection) {}
  void release() override { delete this; }
  SQLResult getColumns(const char* table, const char*, std::uint32_t kinds, ISQLCursor** cursor) override {
    Log(m_connection, "columns " + std::string(table) + " kinds " + std::to_string(kinds));
    *cursor = nullptr;
    if (g_state.catalogueStatus != 0) return g_state.catalogueStatus;
    *cursor = CursorFor("COLUMNS " + std::string(table));
    return kSQLSuccess;
  }

 private:
  int m_connection;
};

class TFakeConnection final : public TFakeObject<ISQLConnection> {
 public:
  TFakeConnection() : m_number(++g_state.connectionsMade) { ++g_state.liveConnections; }
  void release() override {
    --g_state.liveConnections;
    Log(m_number, "release");
    delete this;
  }
  SQLResult connect(const char* database, const char* user, const char* password) override {
    Log(m_number, "connect " + std::string(database) + " " + user + " " + password);
    return g_state.connectStatus;
  }
  SQLResult disconnect() override {
    Log(m_number, "disconnect");
    return kSQLSuccess;
  }
  SQLResult cancel() override { return kSQLSuccess; }
  SQLResult getSQLCommand(ISQLCommand** command) override {
    *command = new TFakeCommand(m_number);
    return kSQLSuccess;
  }
  SQLResult getSQLMetaData(ISQLMetaData** metaData) override {
    *metaData = new TFakeMetaData(m_number);
    return kSQLSuccess;
  }
  SQLResult setOption(TConnectionOption option, std::int32_t value) override {
    Log(m_number, "option " + std::to_string(option) + "=" + std::to_string(value));
    return kSQLSuccess;
  }
  SQLResult setOptionText(TConnectionOption option, const char* value) override {
    Log(m_number, "option " + std::to_string(option) + "='" + value + "'");
    return kSQLSuccess;
  }
  SQLResult getOption(TConnectionOption, void*, std::int32_t, std::int32_t*) override { return 5; }
  SQLResult startTransaction(std::int32_t isolation) override {
    Log(m_number, "start transaction " + std::to_string(isolation));
    if (m_inTransaction) return kSQLTransactionActive;
    m_inTransaction = true;
    return kSQLSuccess;
  }
  SQLResult commit() override { return End("commit"); }
  SQLResult rollback() override { return End("rollback"); }
  SQLResult inTransaction(bool* active) override {
    *active = m_inTransaction;
    return kSQLSuccess;
  }

 private:
  SQLResult End(const char* how) {
    Log(m_number, how);
    if (!m_inTransaction) return kSQLNoTransaction;
    m_inTransaction = false;
    return kSQLSuccess;
  }

  int m_number;
  bool m_inTransaction = false;
};

class TFakeDriver final : public TFakeObject<ISQLDriver> {
 public:
  void release() override { delete this; }
  SQLResult getSQLConnection(ISQLConnection** connection) override {
    *connection = new TFakeConnection;
    return kSQLSuccess;
  }
};

}  // namespace

FAKE_EXPORT TFakeDriverState* fakeDriverState() { return &g_state; }

FAKE_EXPORT SQLResult getSQLDriverFIREBIRD(const char* vendorLib, const char* errorResourceFile,
                                           ISQLDriver** driver) {
  g_state.log.push_back("entry " + std::string(vendorLib) + " '" + errorResourceFile + "'");
  *driver = nullptr;
  // From 255 on, the object handed out stands for the reason (errorText).
  if (g_state.entryStatus >= kSQLServerError) *driver = new TFakeDriver;
  if (g_state.entryStatus != 0) return g_state.entryStatus;
  *driver = new TFakeDriver;
  return kSQLSuccess;
}
