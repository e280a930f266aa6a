// The driver objects handed to the access layer: driver, connection,
// statement, catalogue and cursor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/fb_attachment.h"
#include "driver/fb_statement.h"
#include "driver/sql_driver.h"

namespace fbdriver {

// Driver's own failure codes (1..254), as the contract numbers them.
inline constexpr SQLResult kInvalidHandle = 3;
inline constexpr SQLResult kNotSupported = 5;
inline constexpr SQLResult kInvalidTranslation = 6;
inline constexpr SQLResult kInvalidParameter = 7;
inline constexpr SQLResult kOutOfRange = 8;
inline constexpr SQLResult kInvalidLength = 13;

// What every object shares: its own last failure.
template <class Interface>
class DriverObject : public Interface {
 public:
  SQLResult getErrorMessageLen(std::uint32_t* length) override {
    if (!length) return kInvalidParameter;
    *length = static_cast<std::uint32_t>(m_error.text.size());
    return kSQLSuccess;
  }
  SQLResult getErrorMessage(char* buffer) override {
    if (!buffer) return kInvalidParameter;
    m_error.text.copy(buffer, m_error.text.size());
    buffer[m_error.text.size()] = '\0';
    return kSQLSuccess;
  }
  SQLResult getErrorState(char* sqlState, std::int32_t* refusal) override {
    if (!sqlState || !refusal) return kInvalidParameter;
    const std::size_t length = m_error.sqlState.copy(sqlState, 5);
    sqlState[length] = '\0';
    *refusal = m_error.refusal;
    return kSQLSuccess;
  }

 protected:
  // A failure of the driver's own.
  SQLResult Fail(SQLResult status, std::string text) {
    m_error = {std::move(text)};
    return status;
  }
  SQLResult Fail(SQLResult status, Failure failure) {
    m_error = std::move(failure);
    return status;
  }

  Failure m_error;
};

class Driver final : public DriverObject<ISQLDriver> {
 public:
  explicit Driver(const FbClient& client) : m_client(client) {}
  SQLResult getSQLConnection(ISQLConnection** connection) override;
  void release() override { delete this; }

 private:
  const FbClient& m_client;
};

class Connection final : public DriverObject<ISQLConnection> {
 public:
  explicit Connection(const FbClient& client) : m_client(client) {}
  ~Connection() { Disconnect(); }
  SQLResult connect(const char* database, const char* user, const char* password) override;
  SQLResult disconnect() override;
  SQLResult getSQLCommand(ISQLCommand** command) override;
  SQLResult getSQLMetaData(ISQLMetaData** metaData) override;
  SQLResult setOption(TConnectionOption option, std::int32_t value) override;
  SQLResult setOptionText(TConnectionOption option, const char* value) override;
  SQLResult getOption(TConnectionOption option, void* buffer, std::int32_t bufferSize,
                      std::int32_t* length) override;
  SQLResult cancel() override;
  SQLResult startTransaction(std::int32_t isolation) override;
  SQLResult commit() override;
  SQLResult rollback() override;
  SQLResult inTransaction(bool* active) override;
  // Releasing a connection that is still connected disconnects it.
  void release() override { delete this; }

 private:
  void Disconnect();
  // Commits (or rolls back) the transaction that startTransaction began.
  SQLResult EndTransaction(bool commit);

  const FbClient& m_client;
  ConnectionSettings m_settings;
  std::shared_ptr<Attachment> m_attachment;
};

class Command final : public DriverObject<ISQLCommand> {
 public:
  explicit Command(std::shared_ptr<Attachment> attachment) : m_attachment(std::move(attachment)) {}
  SQLResult setOption(TCommandOption option, std::int32_t value) override;
  SQLResult prepare(const char* sql, std::uint16_t paramCount) override;
  SQLResult execute(ISQLCursor** cursor) override;
  SQLResult executeImmediate(const char* sql, ISQLCursor** cursor) override;
  SQLResult getRowsAffected(std::uint64_t* rows) override;
  SQLResult getParameterCount(std::uint16_t* count) override;
  SQLResult getParameterType(std::uint16_t index, std::uint16_t* type, std::uint16_t* subtype,
                             std::uint32_t* length) override;
  SQLResult getParameterCharSet(std::uint16_t index, char* name, std::uint16_t* bytesPerChar) override;
  SQLResult setParameterNull(std::uint16_t index) override;
  SQLResult setParameterText(std::uint16_t index, const char* data, std::uint32_t length) override;
  SQLResult setParameterDouble(std::uint16_t index, double value) override;
  void release() override { delete this; }

 private:
  SQLResult NoSuchParameter(std::uint16_t index);
  SQLResult Run(const std::shared_ptr<Statement>& statement, Transaction transaction, ISQLCursor** cursor);

  std::shared_ptr<Attachment> m_attachment;
  std::shared_ptr<Statement> m_prepared;
  std::uint64_t m_rowsAffected = 0;
  // The statement last run in the shared transaction, its rows not counted yet.
  std::shared_ptr<Statement> m_countFrom;
};

class MetaData final : public DriverObject<ISQLMetaData> {
 public:
  explicit MetaData(std::shared_ptr<Attachment> attachment) : m_attachment(std::move(attachment)) {}
  SQLResult getColumns(const char* table, const char* columnPattern, std::uint32_t kinds,
                       ISQLCursor** cursor) override;
  void release() override { delete this; }

 private:
  SQLResult Query(const std::string& sql, ISQLCursor** cursor);

  std::shared_ptr<Attachment> m_attachment;
};

class Cursor final : public DriverObject<ISQLCursor> {
 public:
  Cursor(std::shared_ptr<Statement> statement, std::uint64_t result);
  SQLResult getColumnCount(std::uint16_t* count) override;
  SQLResult getColumnName(std::uint16_t column, char* name) override;
  SQLResult getColumnType(std::uint16_t column, std::uint16_t* type, std::uint16_t* subtype) override;
  SQLResult getColumnLength(std::uint16_t column, std::uint32_t* length) override;
  SQLResult getColumnPrecision(std::uint16_t column, std::int16_t* precision) override;
  SQLResult getColumnScale(std::uint16_t column, std::int16_t* scale) override;
  SQLResult isReadOnly(std::uint16_t column, bool* readOnly) override;
  SQLResult isNullable(std::uint16_t column, bool* nullable) override;
  SQLResult next() override;
  SQLResult getString(std::uint16_t column, char* buffer, std::uint32_t bufferSize, std::uint32_t* length,
                      bool* isNull) override;
  SQLResult getInt16(std::uint16_t column, std::int16_t* value, bool* isNull) override;
  SQLResult getInt32(std::uint16_t column, std::int32_t* value, bool* isNull) override;
  SQLResult getInt64(std::uint16_t column, std::int64_t* value, bool* isNull) override;
  SQLResult getDouble(std::uint16_t column, double* value, bool* isNull) override;
  SQLResult getBcd(std::uint16_t column, TBcd* value, bool* isNull) override;
  SQLResult getBoolean(std::uint16_t column, bool* value, bool* isNull) override;
  SQLResult getDate(std::uint16_t column, std::int32_t* days, bool* isNull) override;
  SQLResult getTime(std::uint16_t column, std::uint32_t* tenThousandths, bool* isNull) override;
  SQLResult getTimeStamp(std::uint16_t column, TSQLTimeStamp* value, bool* isNull) override;
  SQLResult getDateTime(std::uint16_t column, double* value, bool* isNull) override;
  SQLResult getBlobSize(std::uint16_t column, std::uint32_t* size, bool* isNull) override;
  SQLResult getBlob(std::uint16_t column, void* buffer, std::uint32_t bufferSize, bool* isNull) override;
  SQLResult getRowImageSize(std::uint32_t* size) override;
  SQLResult copyRowImage(void* image) override;
  SQLResult getImageReader(ISQLCursor** reader) override;
  SQLResult showRowImage(const void* image) override;
  // Ends the cursor's transaction (committed) and frees the cursor; an
  // image reader is only freed.
  void release() override;

 private:
  // The column for a description call, or null (with the failure recorded).
  const Column* Describe(std::uint16_t column, SQLResult* status);
  // Copies one property of a column's description to *out; fails with
  // noPlace when out is null.
  template <class T>
  SQLResult DescribeInto(std::uint16_t column, T Column::*property, T* out, const char* noPlace);
  // The column of the current row for a value call, with *isNull set; null
  // (with *status set) when there is no such column, row or open cursor.
  const Column* Value(std::uint16_t column, bool* isNull, SQLResult* status);
  SQLResult WrongType(const Column& column, const char* wanted);
  // A value call for an integer of T's width; wanted names it in the failure.
  template <class T>
  SQLResult GetInteger(std::uint16_t column, T* value, bool* isNull, const char* wanted);
  // A value call for a blob: on success *content is its bytes, or null for
  // a null value.
  SQLResult BlobValue(std::uint16_t column, bool* isNull, const std::string** content);
  // Reads the blob of the current row once; later calls for the same row
  // answer from the cache.
  SQLResult ReadBlob(std::uint16_t column, const std::string** content);

  struct CachedBlob {
    std::uint64_t row = 0;
    std::string content;
  };

  const std::vector<Column>& Columns() const {
    return m_imageReader ? m_imageColumns : m_statement->Columns();
  }

  std::shared_ptr<Statement> m_statement;
  std::uint64_t m_result;
  // Blobs are read on the thread that reads the cursor's values, which for
  // an image reader is not the one that fetches.
  Status m_status;
  // An image reader reads its own copy of the row, through columns of its own.
  bool m_imageReader = false;
  std::vector<std::int64_t> m_image;
  std::size_t m_imageBytes = 0;
  std::vector<Column> m_imageColumns;
  std::uint64_t m_row = 0;  // 0 before the first row
  bool m_atEnd = false;
  bool m_failed = false;
  bool m_trimChar = false;
  std::vector<CachedBlob> m_blobs;
};

}  // namespace fbdriver
