#include <algorithm>
#include <cmath>
#include <cstring>

#include "driver/fb_charsets.h"
#include "driver/fb_objects.h"
#include "driver/fb_values.h"
#include "driver/packed_decimal.h"

namespace fbdriver {

namespace {

template <class T>
T Load(const char* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

bool IsIntegerStorage(const Column& column) {
  return column.sqlType == SQL_SHORT || column.sqlType == SQL_LONG || column.sqlType == SQL_INT64;
}

std::int64_t IntegerValue(const Column& column) {
  switch (column.sqlType) {
    case SQL_SHORT:
      return Load<ISC_SHORT>(column.data);
    case SQL_LONG:
      return Load<ISC_LONG>(column.data);
    default:
      return Load<ISC_INT64>(column.data);
  }
}

// An integer getter of the given byte width reads integer columns without a
// scale whose storage is no wider.
bool FitsInteger(const Column& column, std::size_t width) {
  if (!IsIntegerStorage(column) || column.sqlScale != 0) return false;
  std::size_t storage = column.sqlType == SQL_SHORT ? 2 : column.sqlType == SQL_LONG ? 4 : 8;
  return storage <= width;
}

}  // namespace

Cursor::Cursor(std::shared_ptr<Statement> statement, std::uint64_t result)
    : m_statement(std::move(statement)),
      m_result(result),
      m_status(m_statement->Owner().Client()),
      m_trimChar(m_statement->Owner().Settings().trimChar),
      m_blobs(m_statement->Columns().size()) {}

void Cursor::release() {
  if (!m_imageReader && m_statement->ResultOpen(m_result)) m_statement->CloseResult(!m_failed);
  delete this;
}

const Column* Cursor::Describe(std::uint16_t column, SQLResult* status) {
  const auto& columns = Columns();
  if (column == 0 || column > columns.size()) {
    *status = Fail(kOutOfRange, "Column " + std::to_string(column) + " is out of range");
    return nullptr;
  }
  *status = kSQLSuccess;
  return &columns[column - 1];
}

const Column* Cursor::Value(std::uint16_t column, bool* isNull, SQLResult* status) {
  if (!isNull) {
    *status = Fail(kInvalidParameter, "No place for the null flag given");
    return nullptr;
  }
  const Column* found = Describe(column, status);
  if (!found) return nullptr;
  if (m_row == 0) {
    *status = Fail(kSQLEof, "No row has been fetched");
    return nullptr;
  }
  if (!m_statement->ResultOpen(m_result)) {
    *status = Fail(kInvalidHandle, "The cursor is closed");
    return nullptr;
  }
  *isNull = found->IsNull();
  return found;
}

SQLResult Cursor::WrongType(const Column& column, const char* wanted) {
  return Fail(kInvalidTranslation, std::string("Column ") + column.name + " cannot be read as " + wanted);
}

SQLResult Cursor::getColumnCount(std::uint16_t* count) {
  if (!count) return Fail(kInvalidParameter, "No place for the count given");
  *count = static_cast<std::uint16_t>(Columns().size());
  return kSQLSuccess;
}

SQLResult Cursor::getColumnName(std::uint16_t column, char* name) {
  SQLResult status;
  const Column* found = Describe(column, &status);
  if (!found) return status;
  if (!name) return Fail(kInvalidParameter, "No place for the name given");
  std::memcpy(name, found->name, sizeof found->name);
  return kSQLSuccess;
}

SQLResult Cursor::getColumnType(std::uint16_t column, std::uint16_t* type, std::uint16_t* subtype) {
  SQLResult status;
  const Column* found = Describe(column, &status);
  if (!found) return status;
  if (type) *type = found->type;
  if (subtype) *subtype = found->subtype;
  return kSQLSuccess;
}

template <class T>
SQLResult Cursor::DescribeInto(std::uint16_t column, T Column::*property, T* out, const char* noPlace) {
  SQLResult status;
  const Column* found = Describe(column, &status);
  if (!found) return status;
  if (!out) return Fail(kInvalidParameter, noPlace);
  *out = found->*property;
  return kSQLSuccess;
}

SQLResult Cursor::getColumnLength(std::uint16_t column, std::uint32_t* length) {
  return DescribeInto(column, &Column::length, length, "No place for the length given");
}

SQLResult Cursor::getColumnPrecision(std::uint16_t column, std::int16_t* precision) {
  return DescribeInto(column, &Column::precision, precision, "No place for the precision given");
}

SQLResult Cursor::getColumnScale(std::uint16_t column, std::int16_t* scale) {
  return DescribeInto(column, &Column::scale, scale, "No place for the scale given");
}

SQLResult Cursor::isReadOnly(std::uint16_t column, bool* readOnly) {
  return DescribeInto(column, &Column::readOnly, readOnly, "No place for the flag given");
}

SQLResult Cursor::isNullable(std::uint16_t column, bool* nullable) {
  return DescribeInto(column, &Column::nullable, nullable, "No place for the flag given");
}

SQLResult Cursor::next() {
  if (m_imageReader) return Fail(kNotSupported, "An image reader fetches no rows");
  if (m_atEnd) return kSQLNoData;
  if (!m_statement->ResultOpen(m_result)) return Fail(kInvalidHandle, "The cursor is closed");
  Failure error;
  SQLResult status = m_statement->Fetch(error);
  if (status == kSQLSuccess) {
    ++m_row;
    return kSQLSuccess;
  }
  if (status == kSQLNoData) {
    m_atEnd = true;
    return kSQLNoData;
  }
  m_failed = true;
  return Fail(status, error);
}

SQLResult Cursor::getString(std::uint16_t column, char* buffer, std::uint32_t bufferSize,
                            std::uint32_t* length, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (!length) return Fail(kInvalidParameter, "No place for the length given");

  const char* text;
  std::size_t size;
  if (found->type == fldBLOB) {
    if (*isNull) return kSQLSuccess;
    const std::string* content;
    status = ReadBlob(column, &content);
    if (status != kSQLSuccess) return status;
    text = content->data();
    size = content->size();
  } else if (found->type != fldZSTRING) {
    return WrongType(*found, "text");
  } else if (*isNull) {
    return kSQLSuccess;
  } else if (found->sqlType == SQL_VARYING) {
    text = found->data + sizeof(short);
    size = static_cast<unsigned short>(Load<short>(found->data));
  } else {
    text = found->data;
    size = found->sqlLength;
    // The server pads a CHAR(n) to its width in bytes, n times the widest
    // character of the connection's set; the value is its n characters.
    size = CharacterPrefix(found->charSet, text, size, static_cast<std::size_t>(found->precision));
    if (m_trimChar) {
      while (size > 0 && text[size - 1] == ' ') --size;
    }
  }
  *length = static_cast<std::uint32_t>(size);
  if (buffer) {
    std::size_t copied = std::min<std::size_t>(size, bufferSize);
    std::memcpy(buffer, text, copied);
    if (copied < bufferSize) buffer[copied] = '\0';
  }
  return kSQLSuccess;
}

template <class T>
SQLResult Cursor::GetInteger(std::uint16_t column, T* value, bool* isNull, const char* wanted) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (!FitsInteger(*found, sizeof(T))) return WrongType(*found, wanted);
  if (!*isNull && value) *value = static_cast<T>(IntegerValue(*found));
  return kSQLSuccess;
}

SQLResult Cursor::getInt16(std::uint16_t column, std::int16_t* value, bool* isNull) {
  return GetInteger(column, value, isNull, "a 16-bit integer");
}

SQLResult Cursor::getInt32(std::uint16_t column, std::int32_t* value, bool* isNull) {
  return GetInteger(column, value, isNull, "a 32-bit integer");
}

SQLResult Cursor::getInt64(std::uint16_t column, std::int64_t* value, bool* isNull) {
  return GetInteger(column, value, isNull, "a 64-bit integer");
}

SQLResult Cursor::getDouble(std::uint16_t column, double* value, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  bool isFloat = found->sqlType == SQL_FLOAT;
  bool isDouble = found->sqlType == SQL_DOUBLE || found->sqlType == SQL_D_FLOAT;
  if (!isFloat && !isDouble && !IsIntegerStorage(*found)) return WrongType(*found, "a floating-point number");
  if (*isNull || !value) return kSQLSuccess;
  if (isFloat) {
    *value = Load<float>(found->data);
  } else if (isDouble) {
    *value = Load<double>(found->data);
  } else {
    *value = static_cast<double>(IntegerValue(*found)) * std::pow(10.0, found->sqlScale);
  }
  return kSQLSuccess;
}

SQLResult Cursor::getBcd(std::uint16_t column, TBcd* value, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  // Decimals come exactly from the scaled integer; a double would lose digits.
  if (!IsIntegerStorage(*found)) return WrongType(*found, "a decimal");
  if (!*isNull && value) {
    int precision = found->type == fldBCD ? found->precision : 0;
    *value = packed::FromScaledInteger(IntegerValue(*found), found->sqlScale, precision);
  }
  return kSQLSuccess;
}

SQLResult Cursor::getBoolean(std::uint16_t column, bool* value, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (found->sqlType != SQL_BOOLEAN) return WrongType(*found, "a boolean");
  if (!*isNull && value) *value = *found->data != 0;
  return kSQLSuccess;
}

SQLResult Cursor::getDate(std::uint16_t column, std::int32_t* days, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (found->sqlType != SQL_TYPE_DATE && found->sqlType != SQL_TIMESTAMP) return WrongType(*found, "a date");
  // A time stamp starts with its date.
  if (!*isNull && days) *days = DaysFromFirebird(Load<ISC_DATE>(found->data));
  return kSQLSuccess;
}

SQLResult Cursor::getTime(std::uint16_t column, std::uint32_t* tenThousandths, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (found->sqlType != SQL_TYPE_TIME && found->sqlType != SQL_TIMESTAMP) return WrongType(*found, "a time");
  if (*isNull || !tenThousandths) return kSQLSuccess;
  // Firebird keeps times in units of 1/10000 second, as the contract does.
  *tenThousandths = found->sqlType == SQL_TYPE_TIME ? Load<ISC_TIME>(found->data)
                                                    : Load<ISC_TIMESTAMP>(found->data).timestamp_time;
  return kSQLSuccess;
}

SQLResult Cursor::getTimeStamp(std::uint16_t column, TSQLTimeStamp* value, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (found->sqlType != SQL_TIMESTAMP && found->sqlType != SQL_TYPE_DATE)
    return WrongType(*found, "a time stamp");
  if (*isNull || !value) return kSQLSuccess;
  if (found->sqlType == SQL_TIMESTAMP) {
    auto stamp = Load<ISC_TIMESTAMP>(found->data);
    *value = TimeStampFromFirebird(stamp.timestamp_date, stamp.timestamp_time);
  } else {
    *value = TimeStampFromFirebird(Load<ISC_DATE>(found->data), 0);
  }
  return kSQLSuccess;
}

SQLResult Cursor::getDateTime(std::uint16_t column, double* value, bool* isNull) {
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (found->sqlType != SQL_TYPE_DATE && found->sqlType != SQL_TYPE_TIME && found->sqlType != SQL_TIMESTAMP) {
    return WrongType(*found, "a date and time");
  }
  if (*isNull || !value) return kSQLSuccess;
  if (found->sqlType == SQL_TYPE_DATE) {
    *value = DaysFromFirebird(Load<ISC_DATE>(found->data));
  } else if (found->sqlType == SQL_TYPE_TIME) {
    *value = DateTimeValue(0, MillisecondsFromFirebird(Load<ISC_TIME>(found->data)));
  } else {
    auto stamp = Load<ISC_TIMESTAMP>(found->data);
    *value =
        DateTimeValue(DaysFromFirebird(stamp.timestamp_date), MillisecondsFromFirebird(stamp.timestamp_time));
  }
  return kSQLSuccess;
}

SQLResult Cursor::BlobValue(std::uint16_t column, bool* isNull, const std::string** content) {
  *content = nullptr;
  SQLResult status;
  const Column* found = Value(column, isNull, &status);
  if (!found) return status;
  if (found->type != fldBLOB) return WrongType(*found, "a blob");
  if (*isNull) return kSQLSuccess;
  return ReadBlob(column, content);
}

SQLResult Cursor::getBlobSize(std::uint16_t column, std::uint32_t* size, bool* isNull) {
  const std::string* content;
  SQLResult status = BlobValue(column, isNull, &content);
  if (status == kSQLSuccess && content && size) *size = static_cast<std::uint32_t>(content->size());
  return status;
}

SQLResult Cursor::getBlob(std::uint16_t column, void* buffer, std::uint32_t bufferSize, bool* isNull) {
  const std::string* content;
  SQLResult status = BlobValue(column, isNull, &content);
  if (status == kSQLSuccess && content && buffer) {
    std::memcpy(buffer, content->data(), std::min<std::size_t>(content->size(), bufferSize));
  }
  return status;
}

SQLResult Cursor::ReadBlob(std::uint16_t column, const std::string** content) {
  CachedBlob& cache = m_blobs[column - 1];
  *content = &cache.content;
  if (cache.row == m_row) return kSQLSuccess;

  const Column& found = Columns()[column - 1];
  Attachment& attachment = m_statement->Owner();
  if (!attachment.Attached()) return Fail(kInvalidHandle, "The connection is closed");
  ISC_QUAD id = Load<ISC_QUAD>(found.data);
  cache.content.clear();
  cache.row = 0;
  Firebird::IBlob* blob =
      attachment.Interface()->openBlob(m_status.Next(), m_statement->ResultTransaction(), &id, 0, nullptr);
  if (m_status.Failed()) return Fail(kSQLServerError, StatusFailure(attachment.Client(), m_status));

  constexpr unsigned kSegment = 65535;
  for (;;) {
    std::size_t used = cache.content.size();
    cache.content.resize(used + kSegment);
    unsigned got = 0;
    const int result = blob->getSegment(m_status.Next(), kSegment, cache.content.data() + used, &got);
    cache.content.resize(used + got);
    if (result == Firebird::IStatus::RESULT_OK || result == Firebird::IStatus::RESULT_SEGMENT) continue;
    if (result == Firebird::IStatus::RESULT_NO_DATA) break;
    Failure failure = StatusFailure(attachment.Client(), m_status);
    blob->close(m_status.Next());
    if (m_status.Failed()) blob->release();
    cache.content.clear();
    return Fail(kSQLServerError, std::move(failure));
  }
  blob->close(m_status.Next());
  if (m_status.Failed()) blob->release();
  cache.row = m_row;
  return kSQLSuccess;
}

SQLResult Cursor::getRowImageSize(std::uint32_t* size) {
  if (!size) return Fail(kInvalidParameter, "No place for the size given");
  *size = static_cast<std::uint32_t>(m_statement->RowBytes());
  return kSQLSuccess;
}

SQLResult Cursor::copyRowImage(void* image) {
  if (m_imageReader || m_row == 0) return Fail(kSQLEof, "No row has been fetched");
  if (!image) return Fail(kInvalidParameter, "No place for the image given");
  std::memcpy(image, m_statement->RowValues(), m_statement->RowBytes());
  return kSQLSuccess;
}

SQLResult Cursor::getImageReader(ISQLCursor** reader) {
  if (!reader) return Fail(kInvalidParameter, "No place for the reader given");
  auto* made = new Cursor(m_statement, m_result);
  made->m_imageReader = true;
  // The image is the row's message: every value and null flag lies at its
  // own offset there.
  made->m_imageBytes = m_statement->RowBytes();
  made->m_image.assign((made->m_imageBytes + 7) / 8, 0);
  const char* base = reinterpret_cast<const char*>(made->m_image.data());
  const char* values = m_statement->RowValues();
  made->m_imageColumns = m_statement->Columns();
  for (Column& column : made->m_imageColumns) {
    column.data = base + (column.data - values);
    column.indicator =
        reinterpret_cast<const short*>(base + (reinterpret_cast<const char*>(column.indicator) - values));
  }
  *reader = made;
  return kSQLSuccess;
}

SQLResult Cursor::showRowImage(const void* image) {
  if (!m_imageReader) return Fail(kNotSupported, "Only an image reader is shown images");
  if (!image) return Fail(kInvalidParameter, "No image given");
  std::memcpy(m_image.data(), image, m_imageBytes);
  ++m_row;
  return kSQLSuccess;
}

}  // namespace fbdriver
