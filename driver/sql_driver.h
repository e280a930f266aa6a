// The contract between the access layer (db/) and a database driver library.
//
// A driver library exports exactly one entry function (see TGetDriverFunc).
// Every call returns a 16-bit status: 0 is success, 10 and 100 from
// ISQLCursor::next() mean "no more rows", 1..254 are the driver's own
// failure codes and 255 or more means the object holds an error text from
// the driver or the server (read it with getErrorMessageLen/getErrorMessage,
// and the server's SQLSTATE with getErrorState).
//
// Objects are created inside the driver library and must be given back with
// release(); the layer never deletes them itself.
#pragma once

#include <cstdint>

using SQLResult = std::uint16_t;

inline constexpr SQLResult kSQLSuccess = 0;
inline constexpr SQLResult kSQLEof = 10;      // "result set at end"
inline constexpr SQLResult kSQLNoData = 100;  // no (more) rows
inline constexpr SQLResult kSQLServerError = 255;
// A statement that the server refused for the values it was given
// (conversion, range, length, constraint, duplicate key, an exception raised
// by a trigger): it was undone alone, and the connection and an active
// transaction stay usable. Its error text is the server's words, as for 255.
inline constexpr SQLResult kSQLValueRefused = 256;

// Why the server refused values (kSQLValueRefused), as getErrorState reports it.
enum TRefusalCode : std::int32_t {
  eRefusedOther = 0,
  eRefusedConversion = 1,       // a text that is no value of the column's type
  eRefusedTruncation = 2,       // too long or too large for the column
  eRefusedNotNull = 3,          // null for a column that takes none
  eRefusedKey = 4,              // a primary or unique key already holds the value
  eRefusedForeignKey = 5,       // a missing parent row, or child rows still present
  eRefusedCheck = 6,            // a CHECK constraint, of the table or of a domain
  eRefusedTransliteration = 7,  // a character the column's character set cannot hold
  eRefusedRaised = 8,           // an exception raised by a trigger or procedure
};

// Option codes of a driver connection (ISQLConnection::setOption*/getOption).
enum TConnectionOption : std::uint16_t {
  eConnAutoCommit = 0,            // integer, yes/no
  eConnBlockingMode = 1,          // integer, yes/no
  eConnRoleName = 3,              // text
  eConnWaitOnLocks = 4,           // integer, yes/no
  eConnCommitRetain = 5,          // integer, yes/no
  eConnTxnIsoLevel = 6,           // integer: 0 read committed, 1 repeatable read, 2 dirty read
  eConnHostName = 10,             // text
  eConnMaxActiveStatements = 14,  // get: 4 bytes, 0 = no limit
  eConnServerCharSet = 15,        // text
  eConnSqlDialect = 16,           // integer
  eConnOSAuthentication = 20,     // integer, yes/no
  eConnMultipleTransaction = 22,  // integer, yes/no
  eConnServerPort = 23,           // text
  eConnTrimChar = 25,             // integer, yes/no
  eConnCustomString = 31,         // text
  eConnTimeout = 32,              // integer (seconds)
  eConnPageSize = 33,             // get: integer, the database's page size in bytes; 0 when not connected
  eConnOdsVersion = 34,           // get: integer, its on-disk structure's major version; 0 when not connected
};

// Isolation of a transaction started with ISQLConnection::startTransaction.
enum TTransactionIsolation : std::int32_t {
  eTxnReadCommitted = 0,  // sees what others committed, as each statement starts
  eTxnSnapshot = 1,       // sees the database as it stood when the transaction started
  // A snapshot that may change nothing: the server refuses every write made
  // in it, those of procedures and autonomous transactions included.
  eTxnSnapshotReadOnly = 2,
};

// Driver codes of the transaction calls.
inline constexpr SQLResult kSQLNoTransaction = 15;      // commit/rollback with none active
inline constexpr SQLResult kSQLTransactionActive = 18;  // start while one is active

// Option codes of a statement (ISQLCommand::setOption).
enum TCommandOption : std::uint16_t {
  eCommRowsetSize = 0,  // rows per fetch
};

// Column type codes, as ISQLCursor::getColumnType reports them.
enum TFieldTypeCode : std::uint16_t {
  fldUNKNOWN = 0,
  fldZSTRING = 1,
  fldDATE = 2,
  fldBLOB = 3,
  fldBOOL = 4,
  fldINT16 = 5,
  fldINT32 = 6,
  fldFLOAT = 7,
  fldBCD = 8,
  fldBYTES = 9,
  fldTIME = 10,
  fldDATETIME = 11,
  fldUINT16 = 12,
  fldUINT32 = 13,
  fldVARBYTES = 15,
  fldCURSOR = 17,
  fldINT64 = 18,
  fldUINT64 = 19,
  fldADT = 20,
  fldARRAY = 21,
  fldREF = 22,
  fldTABLE = 23,
  fldDATETIMESTAMP = 24,
  fldFMTBCD = 25,
};

// Subtype codes.
enum TFieldSubtypeCode : std::uint16_t {
  fldstMONEY = 21,
  fldstMEMO = 22,
  fldstBINARY = 23,
  fldstGRAPHIC = 26,
  fldstAUTOINC = 29,
  fldstFIXED = 31,
  fldstHMEMO = 33,
  // Text columns holding values of types newer than the client library,
  // as a Firebird 4 or later server writes them:
  fldstWIDEDECIMAL = 40,  // INT128, NUMERIC and DECIMAL of 19 to 38 digits: "-12.3400"
  fldstDECFLOAT = 41,     // DECFLOAT(16) and (34): "1.5E+300", "-0", "Infinity", "NaN"
  fldstZONED = 42,        // TIME and TIMESTAMP WITH TIME ZONE: "2026-12-09 23:49:30.4850 Europe/Berlin"
};

// A packed decimal: up to 64 digits, two per byte, most significant first.
// signSpecialPlaces: bit 7 the sign (set = negative), bits 0..5 the number
// of decimals. Digits beyond `precision` are zero. The precision may exceed
// the column's declared one when the stored value has more digits.
// driver/packed_decimal.h reads and writes them.
struct TBcd {
  std::uint8_t precision = 0;
  std::uint8_t signSpecialPlaces = 0;
  std::uint8_t fraction[32] = {};
};

// A time stamp as the server stores it; fraction in ten-thousandths of a
// second (0 to 9999).
struct TSQLTimeStamp {
  std::int16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint32_t fraction = 0;
};

class ISQLCursor;
class ISQLCommand;
class ISQLMetaData;
class ISQLConnection;

// What every driver object has: its last failure's text, and its release.
class ISQLObject {
 public:
  // Length in bytes of the text of the last failure (without a closing zero).
  virtual SQLResult getErrorMessageLen(std::uint32_t* length) = 0;
  // Copies that text into buffer, which holds at least length + 1 bytes.
  virtual SQLResult getErrorMessage(char* buffer) = 0;
  // The server's SQLSTATE of the last failure, five characters and a zero,
  // into a buffer of 6 bytes ("" when the failure was the driver's own), and
  // *refusal, a TRefusalCode: why the values were refused when the failure
  // was kSQLValueRefused, else eRefusedOther.
  virtual SQLResult getErrorState(char* sqlState, std::int32_t* refusal) = 0;
  // Gives the object back to the driver; the pointer is dead afterwards.
  virtual void release() = 0;

 protected:
  ~ISQLObject() = default;
};

class ISQLDriver : public ISQLObject {
 public:
  virtual SQLResult getSQLConnection(ISQLConnection** connection) = 0;

 protected:
  ~ISQLDriver() = default;
};

class ISQLConnection : public ISQLObject {
 public:
  virtual SQLResult connect(const char* database, const char* user, const char* password) = 0;
  virtual SQLResult disconnect() = 0;
  virtual SQLResult getSQLCommand(ISQLCommand** command) = 0;
  virtual SQLResult getSQLMetaData(ISQLMetaData** metaData) = 0;
  virtual SQLResult setOption(TConnectionOption option, std::int32_t value) = 0;
  virtual SQLResult setOptionText(TConnectionOption option, const char* value) = 0;
  // Copies the option's value into buffer (bufferSize bytes); *length gets
  // the number of bytes written.
  virtual SQLResult getOption(TConnectionOption option, void* buffer, std::int32_t bufferSize,
                              std::int32_t* length) = 0;
  // Ends the call that another thread is running on this connection (a
  // statement or fetch waiting on the server): that call fails soon with the
  // server's words for a cancelled operation. May be called from any thread
  // while the connection is in use by one other thread; answers success and
  // does nothing when no call is running or the connection is not open. A
  // failure answers a driver code and leaves the error text alone (it belongs
  // to the other thread). The caller must not connect, disconnect or release
  // the connection meanwhile.
  virtual SQLResult cancel() = 0;

  // Starts a transaction that spans many statements: until commit() or
  // rollback(), every statement and cursor of this connection runs inside
  // it, and a statement that fails is undone alone while the transaction and
  // what ran before stay. Without one, each statement has a transaction of
  // its own (committed when it succeeds) and a query's transaction lasts as
  // long as its cursor. isolation is a TTransactionIsolation; the lock wait
  // follows the connection's option. kSQLTransactionActive when one is active.
  virtual SQLResult startTransaction(std::int32_t isolation) = 0;
  // Ends the transaction, making its work durable; cursors opened inside it
  // are closed. kSQLNoTransaction when none is active. When the commit
  // fails the transaction is rolled back and is no longer active.
  virtual SQLResult commit() = 0;
  // Undoes the transaction's work; cursors opened inside it are closed.
  virtual SQLResult rollback() = 0;
  // True while a transaction started by startTransaction is active.
  virtual SQLResult inTransaction(bool* active) = 0;

 protected:
  ~ISQLConnection() = default;
};

class ISQLMetaData : public ISQLObject {
 public:
  // A cursor with a text column "COLUMN_NAME", one row per column of the
  // table, in the table's column order; columnPattern may be null.
  virtual SQLResult getColumns(const char* table, const char* columnPattern, std::uint32_t kinds,
                               ISQLCursor** cursor) = 0;

 protected:
  ~ISQLMetaData() = default;
};

class ISQLCommand : public ISQLObject {
 public:
  virtual SQLResult setOption(TCommandOption option, std::int32_t value) = 0;
  virtual SQLResult prepare(const char* sql, std::uint16_t paramCount) = 0;
  // Runs the prepared statement; *cursor is null when it returns no rows.
  virtual SQLResult execute(ISQLCursor** cursor) = 0;
  // Runs sql at once, without preparing it for reuse; *cursor as above.
  virtual SQLResult executeImmediate(const char* sql, ISQLCursor** cursor) = 0;
  // Rows inserted, changed or deleted by the last execution.
  virtual SQLResult getRowsAffected(std::uint64_t* rows) = 0;

  // Input parameters of the prepared statement (its "?" marks), numbered
  // from 1. Each starts null; a value holds for every later execution until
  // it is set again, so a statement is prepared once and executed many times.
  virtual SQLResult getParameterCount(std::uint16_t* count) = 0;
  // The parameter's type as the server describes it, in the column type
  // codes of ISQLCursor; length in bytes (for text, the most it takes).
  virtual SQLResult getParameterType(std::uint16_t index, std::uint16_t* type, std::uint16_t* subtype,
                                     std::uint32_t* length) = 0;
  // The character set in which the server takes the text of a text or text
  // blob parameter, into name (a buffer of 32 bytes: the set's name as the
  // catalogue spells it), with the most bytes one of its characters takes.
  // NONE and OCTETS take bytes as they are; a text in any other set is
  // converted into the column's own. "" and 1 for any other parameter.
  virtual SQLResult getParameterCharSet(std::uint16_t index, char* name, std::uint16_t* bytesPerChar) = 0;
  virtual SQLResult setParameterNull(std::uint16_t index) = 0;
  // Bytes that the server converts to the parameter's type as it converts a
  // string literal; on a blob parameter they become a blob of any size,
  // zero bytes kept. A text for any other parameter holds at most 32,767
  // bytes; a longer one is refused at execution with kSQLValueRefused.
  virtual SQLResult setParameterText(std::uint16_t index, const char* data, std::uint32_t length) = 0;
  // A binary double, so that a value travels exactly.
  virtual SQLResult setParameterDouble(std::uint16_t index, double value) = 0;

 protected:
  ~ISQLCommand() = default;
};

// Columns are numbered from 1. Every value getter sets *isNull; the value is
// only written when it is not null.
class ISQLCursor : public ISQLObject {
 public:
  virtual SQLResult getColumnCount(std::uint16_t* count) = 0;
  // Copies the name into a buffer of 32 bytes (at most 31 characters and a zero).
  virtual SQLResult getColumnName(std::uint16_t column, char* name) = 0;
  virtual SQLResult getColumnType(std::uint16_t column, std::uint16_t* type, std::uint16_t* subtype) = 0;
  // Byte width of the value (for text: the most bytes a value can take).
  virtual SQLResult getColumnLength(std::uint16_t column, std::uint32_t* length) = 0;
  // First unit: declared length of a character column, precision of a decimal.
  virtual SQLResult getColumnPrecision(std::uint16_t column, std::int16_t* precision) = 0;
  // Second unit: scale of a decimal (0 or negative, as the server stores it).
  virtual SQLResult getColumnScale(std::uint16_t column, std::int16_t* scale) = 0;
  virtual SQLResult isReadOnly(std::uint16_t column, bool* readOnly) = 0;
  virtual SQLResult isNullable(std::uint16_t column, bool* nullable) = 0;

  // 0: the next row is current; kSQLEof or kSQLNoData: no more rows.
  virtual SQLResult next() = 0;

  // Text and fixed or variable bytes: copies at most bufferSize bytes and
  // sets *length to the value's length in bytes.
  virtual SQLResult getString(std::uint16_t column, char* buffer, std::uint32_t bufferSize,
                              std::uint32_t* length, bool* isNull) = 0;
  virtual SQLResult getInt16(std::uint16_t column, std::int16_t* value, bool* isNull) = 0;
  virtual SQLResult getInt32(std::uint16_t column, std::int32_t* value, bool* isNull) = 0;
  virtual SQLResult getInt64(std::uint16_t column, std::int64_t* value, bool* isNull) = 0;
  virtual SQLResult getDouble(std::uint16_t column, double* value, bool* isNull) = 0;
  virtual SQLResult getBcd(std::uint16_t column, TBcd* value, bool* isNull) = 0;
  virtual SQLResult getBoolean(std::uint16_t column, bool* value, bool* isNull) = 0;
  // Days counted from 30 December 1899 (day 0), negative before it.
  virtual SQLResult getDate(std::uint16_t column, std::int32_t* days, bool* isNull) = 0;
  // Ten-thousandths of a second since midnight (0 to 863,999,999), the unit
  // Firebird stores times in.
  virtual SQLResult getTime(std::uint16_t column, std::uint32_t* tenThousandths, bool* isNull) = 0;
  virtual SQLResult getTimeStamp(std::uint16_t column, TSQLTimeStamp* value, bool* isNull) = 0;
  // A date-time as days from 30 December 1899 with the time as the fraction.
  virtual SQLResult getDateTime(std::uint16_t column, double* value, bool* isNull) = 0;
  virtual SQLResult getBlobSize(std::uint16_t column, std::uint32_t* size, bool* isNull) = 0;
  // Copies the whole blob; buffer holds at least the size getBlobSize gave.
  virtual SQLResult getBlob(std::uint16_t column, void* buffer, std::uint32_t bufferSize, bool* isNull) = 0;

  // Row images: the current row's values copied as bytes (all images of a
  // cursor have the same size), read later through an image reader of the
  // cursor, on another thread if need be, while the cursor moves on.
  virtual SQLResult getRowImageSize(std::uint32_t* size) = 0;
  virtual SQLResult copyRowImage(void* image) = 0;
  // A new cursor that fetches nothing: its value getters read the image last
  // shown to it. It reads while this cursor is open; release it before.
  virtual SQLResult getImageReader(ISQLCursor** reader) = 0;
  virtual SQLResult showRowImage(const void* image) = 0;

 protected:
  ~ISQLCursor() = default;
};

// The driver library's one exported entry, declared extern "C":
//   SQLResult getSQLDriverFIREBIRD(const char* vendorLib, const char* errorResourceFile,
//                                  ISQLDriver** driver);
// A non-zero status means the client library named by vendorLib could not be
// loaded. *driver is then null, or, with status 255, an object that only
// gives the reason as its error text (it hands out no connection); the
// caller releases it.
using TGetDriverFunc = SQLResult (*)(const char* vendorLib, const char* errorResourceFile,
                                     ISQLDriver** driver);
