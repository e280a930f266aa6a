#include "db/fields.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "base/exceptions.h"
#include "db/layer_text.h"
#include "db/locale_formats.h"
#include "db/status_text.h"
#include "driver/packed_decimal.h"

namespace {

constexpr const char* kBcdOverflow = "BCD overflow";
constexpr int kMaxFmtBcdPrecision = 32;
constexpr int kMaxBcdPrecision = 14;
constexpr int kMaxBcdScale = 4;

bool NameTaken(const std::string& name, const std::vector<std::string>& names) {
  for (const auto& existing : names) {
    if (SameText(existing, name)) return true;
  }
  return false;
}

std::string UniqueName(const std::string& name, const std::vector<std::string>& names) {
  if (!NameTaken(name, names)) return name;
  for (int counter = 1;; ++counter) {
    std::string candidate = name + "_" + std::to_string(counter);
    if (!NameTaken(candidate, names)) return candidate;
  }
}

void CheckBcd(const TBcd& value) {
  if (!packed::WellFormed(value)) throw EConvertError(kBcdOverflow);
}

using packed::DigitAtPower;

// True when ScaledBcd would give the same number in other digits: no more
// places than scale and room for every digit. Its text is then the value's own.
bool ScaleFits(const TBcd& value, int precision, int scale) {
  if (scale < 0 || packed::Places(value) > scale) return false;
  const int needed = packed::IntegerDigits(value) + scale;
  return needed <= packed::kMaxDigits && std::max(precision, needed) > 0;
}

void AppendInteger(std::string& out, std::int64_t value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// Kinds whose value is the text the server sent.
bool IsServerTextKind(TFieldKind kind) {
  return kind == fkString || kind == fkWideDecimal || kind == fkDecFloat || kind == fkZoned;
}

// A number as the server writes it ("-12.3400", "1.5E+300", "Infinity"),
// with the locale's decimal separator and, as a double's text, no "+" in
// its exponent. Every digit stays.
void AppendServerNumberText(std::string& out, std::string_view text) {
  const char separator = LocaleFormats().DecimalSeparator;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      out += separator;
    } else if (!(c == '+' && i > 0 && (text[i - 1] == 'E' || text[i - 1] == 'e'))) {
      out += c;
    }
  }
}

bool IsByteKind(TFieldKind kind) {
  switch (kind) {
    case fkString:
    case fkWideDecimal:
    case fkDecFloat:
    case fkZoned:
    case fkBlob:
    case fkMemo:
      return true;
    default:
      return false;
  }
}

bool IsIntegerKind(TFieldKind kind) {
  switch (kind) {
    case fkSmallint:
    case fkInteger:
    case fkLargeint:
      return true;
    default:
      return false;
  }
}

// A BCD column of up to 14 digits with up to 4 decimals is a TBCDField; a
// wider one, and every FMTBCD column, a TFMTBCDField (reported as an FMTBCD
// column) of at most 32 digits.
void ChooseBcdKind(const TColumnDesc& column, TFieldDef& def) {
  int precision = column.firstUnit;
  int scale = column.secondUnit < 0 ? -column.secondUnit : column.secondUnit;
  if (scale > precision) precision = scale;
  def.defClass = fdField;
  if (column.typeCode == fldFMTBCD || precision > kMaxBcdPrecision || scale > kMaxBcdScale) {
    def.kind = fkFMTBCD;
    def.typeCode = fldFMTBCD;
    if (precision == 38 && (scale == 0 || scale == 38)) {
      precision = kMaxFmtBcdPrecision;
      scale = 8;
    } else if (precision > kMaxFmtBcdPrecision) {
      precision = kMaxFmtBcdPrecision;
    }
    if (scale > precision) scale = precision;
  } else {
    def.kind = fkBCD;
  }
  def.size = scale;
  def.precision = precision;
}

}  // namespace

const char* FieldKindName(TFieldKind kind) {
  static constexpr const char* kNames[] = {
      "TStringField", "TSmallintField",    "TIntegerField",      "TLargeintField",
      "TFloatField",  "TBCDField",         "TFMTBCDField",       "TBooleanField",
      "TDateField",   "TTimeField",        "TSQLTimeStampField", "TBlobField",
      "TMemoField",   "TWideDecimalField", "TDecFloatField",     "TZonedField",
  };
  return kNames[kind];
}

TFieldDef ChooseFieldKind(const TColumnDesc& column, const std::vector<std::string>& existingNames) {
  TFieldDef def;
  def.name = UniqueName(column.name, existingNames);
  def.typeCode = column.typeCode;
  def.subtypeCode = column.subtypeCode;
  def.dataLength = column.dataLength;
  def.required = !column.nullable;
  def.readOnly = column.readOnly;
  def.fixedChar = column.subtypeCode == fldstFIXED;

  auto field = [&def](TFieldKind kind) {
    def.defClass = fdField;
    def.kind = kind;
  };
  // Character, byte and reference columns need a declared length.
  auto sized = [&](TFieldKind kind) {
    if (column.firstUnit == 0) return;
    field(kind);
    def.size = column.firstUnit;
  };

  switch (column.typeCode) {
    case fldZSTRING:
      sized(column.subtypeCode == fldstWIDEDECIMAL ? fkWideDecimal
            : column.subtypeCode == fldstDECFLOAT  ? fkDecFloat
            : column.subtypeCode == fldstZONED     ? fkZoned
                                                   : fkString);
      break;
    case fldDATE:
      field(fkDate);
      break;
    case fldBLOB:
      field(column.subtypeCode == fldstMEMO || column.subtypeCode == fldstHMEMO ? fkMemo : fkBlob);
      def.size = column.firstUnit;
      break;
    case fldBOOL:
      field(fkBoolean);
      break;
    case fldINT16:
      if (column.dataLength == 2) field(fkSmallint);
      break;
    case fldINT32:
      field(fkInteger);
      break;
    case fldUINT32:
      field(fkInteger);
      break;
    case fldFLOAT:
      field(fkFloat);
      break;
    case fldBCD:
    case fldFMTBCD:
      ChooseBcdKind(column, def);
      break;
    case fldTIME:
      field(fkTime);
      break;
    case fldCURSOR:
      def.defClass = fdCursor;
      break;
    case fldINT64:
    case fldUINT64:
      field(fkLargeint);
      break;
    case fldREF:
      if (column.firstUnit != 0) {
        def.defClass = fdStructured;
        def.size = column.firstUnit;
      }
      break;
    case fldADT:
    case fldARRAY:
    case fldTABLE:
      def.defClass = fdStructured;
      break;
    case fldDATETIMESTAMP:
      field(fkSQLTimeStamp);
      break;
    default:
      break;
  }
  return def;
}

TBcd NormalizeBcd(const TBcd& value, int precision, int scale) {
  CheckBcd(value);
  if (precision <= 0 || precision > 64 || scale < 0 || scale > precision) throw EConvertError(kBcdOverflow);
  const int integerDigits = precision - scale;
  // Non-zero digits above the integer part do not fit.
  for (int power = integerDigits; power < value.precision - packed::Places(value); ++power) {
    if (DigitAtPower(value, power) != 0) throw EConvertError(kBcdOverflow);
  }
  TBcd result{};
  result.precision = static_cast<std::uint8_t>(precision);
  int carry = DigitAtPower(value, -scale - 1) >= 5 ? 1 : 0;
  bool zero = true;
  for (int index = precision - 1; index >= 0; --index) {
    int digit = DigitAtPower(value, integerDigits - 1 - index) + carry;
    carry = digit / 10;
    digit %= 10;
    if (digit != 0) zero = false;
    packed::SetDigit(result, index, digit);
  }
  if (carry != 0) throw EConvertError(kBcdOverflow);
  result.signSpecialPlaces = static_cast<std::uint8_t>(scale | (packed::Negative(value) && !zero ? 0x80 : 0));
  return result;
}

std::int64_t BcdToFixedPoint(const TBcd& value) {
  CheckBcd(value);
  // Digits from the highest power down to ten-thousandths, then rounding.
  unsigned __int128 magnitude = 0;
  const unsigned __int128 limit =
      static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()) + 1;
  for (int power = value.precision - packed::Places(value) - 1; power >= -kMaxBcdScale; --power) {
    magnitude = magnitude * 10 + static_cast<unsigned>(DigitAtPower(value, power));
    if (magnitude > limit) throw EConvertError(kBcdOverflow);
  }
  if (DigitAtPower(value, -kMaxBcdScale - 1) >= 5) ++magnitude;
  const bool negative = packed::Negative(value);
  if (magnitude > limit || (!negative && magnitude == limit)) throw EConvertError(kBcdOverflow);
  if (negative)
    return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                              : -static_cast<std::int64_t>(magnitude);
  return static_cast<std::int64_t>(magnitude);
}

TBcd ScaledBcd(const TBcd& value, int precision, int scale) {
  CheckBcd(value);
  const int needed = packed::IntegerDigits(value) + scale;
  return NormalizeBcd(value, std::min(std::max(precision, needed), packed::kMaxDigits), scale);
}

TField::TField(const TFieldDef& def, std::uint16_t columnNumber, const TRowSource* row)
    : m_name(def.name),
      m_kind(def.kind),
      m_typeCode(def.typeCode),
      m_column(columnNumber),
      m_size(def.size),
      m_precision(def.precision),
      m_required(def.required),
      m_readOnly(def.readOnly),
      m_fixedChar(def.fixedChar),
      m_row(row),
      m_loadedRow(row->rowSerial) {
  if (IsServerTextKind(m_kind)) {
    // The driver's widest value plus a closing zero, so most rows need no second call.
    std::size_t width = def.dataLength > 0 ? def.dataLength : static_cast<std::uint32_t>(def.size);
    m_buffer.resize(width + 1);
  }
}

void TField::Load() const {
  if (m_loadedRow == m_row->rowSerial) return;
  Fetch();
  m_loadedRow = m_row->rowSerial;
}

void TField::Fetch() const {
  ISQLCursor* cursor = m_row->cursor;
  if (!cursor) throw EDatabaseError("Field '" + m_name + "' has no current row");
  std::string& lastError = *m_row->lastError;
  bool isNull = true;
  SQLResult status = kSQLSuccess;
  switch (m_kind) {
    case fkString:
    case fkWideDecimal:
    case fkDecFloat:
    case fkZoned:
      status = FetchString(*cursor, isNull);
      break;
    case fkSmallint: {
      std::int16_t value = 0;
      status = cursor->getInt16(m_column, &value, &isNull);
      m_integer = value;
      break;
    }
    case fkInteger: {
      std::int32_t value = 0;
      status = cursor->getInt32(m_column, &value, &isNull);
      m_integer = value;
      break;
    }
    case fkLargeint: {
      std::int64_t value = 0;
      status = cursor->getInt64(m_column, &value, &isNull);
      m_integer = value;
      break;
    }
    case fkFloat:
      status = cursor->getDouble(m_column, &m_float, &isNull);
      break;
    case fkBCD:
    case fkFMTBCD:
      m_bcd = TBcd{};
      status = cursor->getBcd(m_column, &m_bcd, &isNull);
      break;
    case fkBoolean: {
      bool value = false;
      status = cursor->getBoolean(m_column, &value, &isNull);
      m_integer = value ? 1 : 0;
      break;
    }
    case fkDate: {
      std::int32_t days = 0;
      status = cursor->getDate(m_column, &days, &isNull);
      m_float = days;
      break;
    }
    case fkTime: {
      std::uint32_t tenThousandths = 0;
      status = cursor->getTime(m_column, &tenThousandths, &isNull);
      m_integer = tenThousandths;
      m_float = tenThousandths / 864000000.0;
      break;
    }
    case fkSQLTimeStamp:
      m_stamp = TSQLTimeStamp{};
      status = cursor->getTimeStamp(m_column, &m_stamp, &isNull);
      break;
    case fkBlob:
    case fkMemo:
      status = FetchBlob(*cursor, isNull);
      break;
  }
  CheckStatus(status, cursor, lastError);
  m_null = isNull;
}

SQLResult TField::FetchString(ISQLCursor& cursor, bool& isNull) const {
  std::uint32_t length = 0;
  SQLResult status = cursor.getString(m_column, m_buffer.data(), static_cast<std::uint32_t>(m_buffer.size()),
                                      &length, &isNull);
  if (status == kSQLSuccess && !isNull && length > m_buffer.size()) {
    m_buffer.resize(std::size_t{length} + 1);
    status = cursor.getString(m_column, m_buffer.data(), static_cast<std::uint32_t>(m_buffer.size()), &length,
                              &isNull);
  }
  m_length = isNull ? 0 : std::min<std::uint32_t>(length, static_cast<std::uint32_t>(m_buffer.size()));
  return status;
}

SQLResult TField::FetchBlob(ISQLCursor& cursor, bool& isNull) const {
  std::uint32_t size = 0;
  SQLResult status = cursor.getBlobSize(m_column, &size, &isNull);
  m_length = 0;
  if (status == kSQLSuccess && !isNull) {
    if (m_buffer.size() < std::size_t{size} + 1) m_buffer.resize(std::size_t{size} + 1);
    status = cursor.getBlob(m_column, m_buffer.data(), size, &isNull);
    m_length = isNull ? 0 : size;
  }
  return status;
}

bool TField::IsNull() const {
  Load();
  return m_null;
}

[[noreturn]] void TField::WrongType(const char* type) const {
  throw EDatabaseError("Field '" + m_name + "' cannot be read as " + type);
}

std::string TField::ValueText() const {
  std::string text;
  AppendValueText(text);
  return text;
}

void TField::AppendValueText(std::string& out) const {
  Load();
  if (m_null) return;
  switch (m_kind) {
    case fkString:
    case fkBlob:
    case fkMemo:
    case fkZoned: {
      std::string_view bytes = AsBytes();
      out.append(bytes.data(), bytes.size());
      break;
    }
    case fkWideDecimal:
    case fkDecFloat:
      AppendServerNumberText(out, AsBytes());
      break;
    case fkSmallint:
    case fkInteger:
    case fkLargeint:
      AppendInteger(out, m_integer);
      break;
    case fkFloat:
      out += FloatText(m_float);
      break;
    case fkBCD:
      out += FixedPointText(BcdToFixedPoint(m_bcd));
      break;
    case fkFMTBCD:
      out += BcdText(ScaleFits(m_bcd, m_precision, m_size) ? m_bcd : ScaledBcd(m_bcd, m_precision, m_size));
      break;
    case fkBoolean:
      out += m_integer != 0 ? "True" : "False";
      break;
    case fkDate:
      AppendDayText(out, LocaleFormats().ShortDateFormat, static_cast<std::int64_t>(m_float));
      break;
    case fkTime:
      AppendDateTimeText(out, LocaleFormats().LongTimeFormat,
                         static_cast<double>(m_integer / 10000) / 86400.0,
                         static_cast<int>(m_integer % 10000));
      break;
    case fkSQLTimeStamp:
      // The fraction goes after the seconds.
      AppendTimeStampText(out, "", m_stamp);
      break;
  }
}

std::int64_t TField::AsLargeInt() const {
  if (!IsIntegerKind(m_kind) && m_kind != fkBoolean) WrongType("an integer");
  Load();
  return m_null ? 0 : m_integer;
}

std::int32_t TField::AsInteger() const {
  std::int64_t value = AsLargeInt();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    throw EConvertError("Field '" + m_name + "' value " + std::to_string(value) + " is out of 32-bit range");
  }
  return static_cast<std::int32_t>(value);
}

double TField::AsFloat() const {
  Load();
  if (IsIntegerKind(m_kind)) return m_null ? 0 : static_cast<double>(m_integer);
  if (m_kind == fkFloat) return m_null ? 0 : m_float;
  if (m_kind == fkBCD) return m_null ? 0 : static_cast<double>(BcdToFixedPoint(m_bcd)) / 10000.0;
  if (m_kind == fkFMTBCD) {
    if (m_null) return 0;
    const std::string text = [&] {
      TBcd bcd = ScaledBcd(m_bcd, m_precision, m_size);
      std::string digits = packed::Negative(bcd) ? "-" : "";
      for (int i = 0; i < bcd.precision; ++i) {
        if (i == bcd.precision - packed::Places(bcd)) digits += '.';
        digits += static_cast<char>('0' + packed::Digit(bcd, i));
      }
      return digits;
    }();
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }
  WrongType("a float");
}

bool TField::AsBoolean() const {
  if (m_kind != fkBoolean) WrongType("a boolean");
  Load();
  return !m_null && m_integer != 0;
}

std::int64_t TField::AsFixedPoint() const {
  if (m_kind != fkBCD) WrongType("a fixed-point number");
  Load();
  return m_null ? 0 : BcdToFixedPoint(m_bcd);
}

TBcd TField::AsBcd() const {
  if (m_kind != fkBCD && m_kind != fkFMTBCD) WrongType("a BCD");
  Load();
  if (m_null) return TBcd{1, 0, {}};
  if (m_kind == fkFMTBCD) return ScaledBcd(m_bcd, m_precision, m_size);
  CheckBcd(m_bcd);
  return m_bcd;
}

TSQLTimeStamp TField::AsTimeStamp() const {
  if (m_kind != fkSQLTimeStamp) WrongType("a time stamp");
  Load();
  return m_null ? TSQLTimeStamp{} : m_stamp;
}

TDateTime TField::AsDateTime() const {
  Load();
  switch (m_kind) {
    case fkDate:
    case fkTime:
      return m_null ? 0 : m_float;
    case fkSQLTimeStamp:
      return m_null ? 0 : TimeStampToDateTime(m_stamp);
    default:
      WrongType("a date-time");
  }
}

std::string_view TField::AsBytes() const {
  if (!IsByteKind(m_kind)) WrongType("bytes");
  Load();
  if (m_null) return {};
  // Character values keep NUL bytes: character set NONE and OCTETS hold them.
  return std::string_view(m_buffer.data(), m_length);
}
