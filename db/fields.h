// Field kinds: one field object per column of an open dataset, holding the
// current row's value and giving its text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/value_text.h"
#include "driver/sql_driver.h"

enum TFieldKind {
  fkString,
  fkSmallint,
  fkInteger,
  fkLargeint,
  fkFloat,
  fkBCD,
  fkFMTBCD,
  fkBoolean,
  fkDate,
  fkTime,
  fkSQLTimeStamp,
  fkBlob,
  fkMemo,
  // Values of types newer than the client library, carried as the server's
  // exact texts (see the fldst subtypes of the driver):
  fkWideDecimal,  // INT128, NUMERIC and DECIMAL of 19 to 38 digits
  fkDecFloat,     // DECFLOAT(16) and DECFLOAT(34)
  fkZoned,        // TIME and TIMESTAMP WITH TIME ZONE
};

// The class name of a kind ("TStringField", "TFMTBCDField", ...).
const char* FieldKindName(TFieldKind kind);

// A column as the driver describes it.
struct TColumnDesc {
  std::string name;
  std::uint16_t typeCode = 0;
  std::uint16_t subtypeCode = 0;
  std::int16_t firstUnit = 0;   // declared length, or precision of a decimal
  std::int16_t secondUnit = 0;  // scale of a decimal
  std::uint32_t dataLength = 0;
  bool readOnly = false;
  bool nullable = true;
};

// What a column becomes when the dataset opens: a field of a kind, nothing
// (no field object; the column adds no piece to a row), or one of the two
// special kinds that have no field class here.
enum TFieldDefClass { fdField, fdNone, fdStructured, fdCursor };

struct TFieldDef {
  std::string name;
  TFieldDefClass defClass = fdNone;
  TFieldKind kind = fkString;  // meaningful for fdField only
  std::uint16_t typeCode = 0;  // as reported; a BCD column promoted to TFMTBCDField reads 25
  std::uint16_t subtypeCode = 0;
  std::int32_t size = 0;       // declared length; the scale of a BCD column; else 0
  std::int32_t precision = 0;  // BCD columns only
  std::uint32_t dataLength = 0;
  bool required = false;
  bool readOnly = false;
  bool fixedChar = false;
};

// The definition of one column. Its name is the column's name, or, when
// existingNames holds that name already (ignoring letter case), the first
// free "%s_%d" form of it counting from 1.
TFieldDef ChooseFieldKind(const TColumnDesc& column, const std::vector<std::string>& existingNames);

// The dataset's view of the current row, shared by its fields. rowSerial
// changes with every row fetched, which tells a field that its cached value is
// stale.
struct TRowSource {
  ISQLCursor* cursor = nullptr;
  std::uint64_t rowSerial = 0;
  std::string* lastError = nullptr;  // where status texts are recorded
};

// One column of an open dataset. It reads its value from the cursor the first
// time it is asked for in a row and keeps it until the next row, so asking
// again costs nothing. A field lives while its dataset is open.
//
// The value accessors throw EDatabaseError when the driver fails to deliver
// the value, and when the field's kind cannot give that type.
class TField {
 public:
  TField(const TFieldDef& def, std::uint16_t columnNumber, const TRowSource* row);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return m_name; }
  TFieldKind Kind() const { return m_kind; }
  // The column's number in the cursor, from 1.
  std::uint16_t FieldNo() const { return m_column; }
  // Declared length of character and byte columns, scale of a BCD column.
  std::int32_t Size() const { return m_size; }
  std::int32_t Precision() const { return m_precision; }
  bool Required() const { return m_required; }
  bool ReadOnly() const { return m_readOnly; }
  bool FixedChar() const { return m_fixedChar; }

  bool IsNull() const;

  // The text form of the current row's value ("" when null). A TFMTBCDField
  // gives every digit the stored value holds, also beyond the declared
  // precision. Throws EConvertError for a value that has no text: "BCD overflow",
  // "Invalid argument to date encode", "Invalid argument to time encode".
  std::string ValueText() const;
  // Appends the same text to out, without a temporary for character and byte values.
  void AppendValueText(std::string& out) const;

  // Integer kinds and booleans; a null value gives 0.
  std::int64_t AsLargeInt() const;
  // As AsLargeInt; a value outside 32 bits throws.
  std::int32_t AsInteger() const;
  // Integer, float and BCD kinds.
  double AsFloat() const;
  bool AsBoolean() const;
  // TBCDField: the count of ten-thousandths.
  std::int64_t AsFixedPoint() const;
  // TBCDField and TFMTBCDField, exact.
  TBcd AsBcd() const;
  // TSQLTimeStampField.
  TSQLTimeStamp AsTimeStamp() const;
  // Date, time, date-time and time stamp kinds.
  TDateTime AsDateTime() const;
  // Character, byte, blob and server-text kinds: the bytes as read, NUL
  // bytes included.
  // Valid until the row changes.
  std::string_view AsBytes() const;

 private:
  void Load() const;
  void Fetch() const;
  // Character and byte values into m_buffer, grown when the value is wider.
  SQLResult FetchString(ISQLCursor& cursor, bool& isNull) const;
  // A blob's size, then its bytes into m_buffer.
  SQLResult FetchBlob(ISQLCursor& cursor, bool& isNull) const;
  [[noreturn]] void WrongType(const char* type) const;

  std::string m_name;
  TFieldKind m_kind;
  std::uint16_t m_typeCode;
  std::uint16_t m_column;
  std::int32_t m_size;
  std::int32_t m_precision;
  bool m_required;
  bool m_readOnly;
  bool m_fixedChar;
  const TRowSource* m_row;

  // The cached value of row m_loadedRow; until the first row is fetched the
  // field reads as null without asking the driver.
  mutable std::uint64_t m_loadedRow;
  mutable bool m_null = true;
  mutable std::int64_t m_integer = 0;  // integer kinds, booleans, TBCDField's ten-thousandths
  mutable double m_float = 0;          // floats, dates, times, date-times
  mutable TBcd m_bcd{};
  mutable TSQLTimeStamp m_stamp{};
  mutable std::vector<char> m_buffer;  // character, byte and blob values; reused from row to row
  mutable std::uint32_t m_length = 0;
};

// Brings a packed decimal to exactly precision digits with scale decimals
// (extra decimals rounded half away from zero). Throws EConvertError
// "BCD overflow" when the integer part does not fit or the input is malformed.
TBcd NormalizeBcd(const TBcd& value, int precision, int scale);
// As NormalizeBcd, but with as many integer digits as the value needs when
// that is more than precision allows (the server's storage integer holds more
// digits than the column declares). Throws "BCD overflow" for a malformed input.
TBcd ScaledBcd(const TBcd& value, int precision, int scale);
// The count of ten-thousandths of a packed decimal, exact up to four
// decimals, rounded half away from zero beyond. Throws "BCD overflow" when it
// does not fit 64 bits.
std::int64_t BcdToFixedPoint(const TBcd& value);
