#include "db/value_text.h"

#include <locale.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <limits>
#include <vector>

#include "base/exceptions.h"
#include "db/locale_formats.h"
#include "driver/packed_decimal.h"

namespace {

constexpr std::int64_t kMSecsPerDay = 86400000;
// Day numbers of 1 January 0001 and 31 December 9999.
constexpr std::int64_t kFirstDay = -693593;
constexpr std::int64_t kLastDay = 2958465;
// 30 December 1899 counted from 1 January 1970.
constexpr std::int64_t kUnixDayOfZero = -25569;

const char kDateEncodeMessage[] = "Invalid argument to date encode";
const char kTimeEncodeMessage[] = "Invalid argument to time encode";

// Days from 1 January 1970 in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Writes the digits and decimal exponent (value = 0.digits x 10^exponent) in
// fixed or scientific form.
void AppendGeneral(std::string& out, bool negative, std::string_view digits, int exponent, char separator,
                   bool scientific) {
  if (negative) out += '-';
  if (scientific) {
    out += digits[0];
    if (digits.size() > 1) {
      out += separator;
      out.append(digits.substr(1));
    }
    out += 'E';
    const int shown = exponent - 1;
    if (shown < 0) out += '-';
    out += std::to_string(std::abs(shown));
  } else if (exponent <= 0) {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-exponent), '0');
    out.append(digits);
  } else {
    const auto whole = static_cast<std::size_t>(exponent);
    if (digits.size() <= whole) {
      out.append(digits);
      out.append(whole - digits.size(), '0');
    } else {
      out.append(digits.substr(0, whole));
      out += separator;
      out.append(digits.substr(whole));
    }
  }
}

void AppendNumber(std::string& out, long long value, int minDigits) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  const auto length = static_cast<int>(result.ptr - buffer);
  if (length < minDigits) out.append(static_cast<std::size_t>(minDigits - length), '0');
  out.append(buffer, result.ptr);
}

// "00" to "99", two characters a number.
constexpr std::array<char, 200> kTwoDigits = [] {
  std::array<char, 200> digits{};
  for (int i = 0; i < 100; ++i) {
    digits[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    digits[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return digits;
}();

// A date-time's text, gathered on the stack and added to the line in one go:
// a date is written for every row of a table, and most of its pieces are a
// character or two. Longer pieces (names, eras) go through as they come.
class TDateTimeText {
 public:
  explicit TDateTimeText(std::string& out) : m_out(out) {}

  void Put(char c) {
    if (m_size == sizeof m_text) Flush();
    m_text[m_size++] = c;
  }
  void Put(std::string_view text) {
    if (text.size() > sizeof m_text - m_size) {
      Flush();
      if (text.size() > sizeof m_text) {
        m_out.append(text);
        return;
      }
    }
    std::memcpy(m_text + m_size, text.data(), text.size());
    m_size += text.size();
  }
  // The value with at least minDigits digits, zeros in front.
  void PutNumber(long long value, int minDigits) {
    if (value < 0 || value > 9999 || minDigits > 4 || sizeof m_text - m_size < 4) {
      PutLongNumber(value, minDigits);
      return;
    }
    char* at = m_text + m_size;
    const auto number = static_cast<std::size_t>(value);
    const int count = std::max(minDigits, value >= 1000 ? 4 : value >= 100 ? 3 : value >= 10 ? 2 : 1);
    if (count > 2) {
      const std::size_t high = number / 100;
      if (count == 4) *at++ = kTwoDigits[2 * high];
      *at++ = kTwoDigits[2 * high + 1];
    }
    const std::size_t low = number % 100;
    if (count > 1) *at++ = kTwoDigits[2 * low];
    *at++ = kTwoDigits[2 * low + 1];
    m_size = static_cast<std::size_t>(at - m_text);
  }
  void Flush() {
    m_out.append(m_text, m_size);
    m_size = 0;
  }

 private:
  [[gnu::noinline]] void PutLongNumber(long long value, int minDigits) {
    Flush();
    AppendNumber(m_out, value, minDigits);
  }

  std::string& m_out;
  char m_text[64];
  std::size_t m_size = 0;
};

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view prefix) {
  if (text.size() - pos < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[pos + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// The era name or era year of the date, from the C library's era rules.
std::string EraText(const TDateTimeParts& parts, bool name, const TLocaleFormats& formats) {
  std::tm when{};
  when.tm_year = parts.Year - 1900;
  when.tm_mon = parts.Month - 1;
  when.tm_mday = parts.Day;
  when.tm_wday = parts.DayOfWeek - 1;
  when.tm_yday = static_cast<int>(
      DaysFromCivil(parts.Year, static_cast<unsigned>(parts.Month), static_cast<unsigned>(parts.Day)) -
      DaysFromCivil(parts.Year, 1, 1));
  when.tm_hour = parts.Hour;
  when.tm_min = parts.Minute;
  when.tm_sec = parts.Second;
  char buffer[128];
  std::size_t length = 0;
  if (formats.EraLocale.empty()) {
    length = name ? std::strftime(buffer, sizeof buffer, "%EC", &when)
                  : std::strftime(buffer, sizeof buffer, "%Ey", &when);
  } else if (locale_t locale = newlocale(LC_TIME_MASK, formats.EraLocale.c_str(), nullptr)) {
    length = name ? strftime_l(buffer, sizeof buffer, "%EC", &when, locale)
                  : strftime_l(buffer, sizeof buffer, "%Ey", &when, locale);
    freelocale(locale);
  }
  return std::string(buffer, length);
}

// The hour on the 12-hour clock: 12 for 0, 1 to 11 for 13 to 23.
int TwelveHourClock(int hour) {
  if (hour == 0) return 12;
  return hour > 12 ? hour - 12 : hour;
}

class TDateTimeWriter {
 public:
  TDateTimeWriter(const TDateTimeParts& parts, const TLocaleFormats& formats, std::string_view fraction)
      : m_parts(parts), m_formats(formats), m_fraction(fraction) {}

  // The pattern itself is level 0; named patterns inside a named pattern write nothing.
  void Append(TDateTimeText& out, std::string_view pattern, int level) const {
    if (level > 1) return;
    for (const TDateTimeToken& token : PatternTokens(pattern)) Write(out, token, level);
  }

 private:
  void Write(TDateTimeText& out, const TDateTimeToken& token, int level) const {
    using enum TDateTimeTokenKind;
    const TDateTimeParts& p = m_parts;
    switch (token.Kind) {
      case tkLiteral:
        out.Put(token.Text);
        break;
      case tkDateSeparator:
        if (m_formats.DateSeparator != '\0') out.Put(m_formats.DateSeparator);
        break;
      case tkTimeSeparator:
        if (m_formats.TimeSeparator != '\0') out.Put(m_formats.TimeSeparator);
        break;
      case tkDateTime:
        if (level == 0) AppendDateTime(out);
        break;
      case tkDay:
        out.PutNumber(p.Day, token.Digits);
        break;
      case tkShortDayName:
        out.Put(m_formats.ShortDayNames[static_cast<std::size_t>(p.DayOfWeek - 1)]);
        break;
      case tkLongDayName:
        out.Put(m_formats.LongDayNames[static_cast<std::size_t>(p.DayOfWeek - 1)]);
        break;
      case tkShortDate:
        Append(out, m_formats.ShortDateFormat, level + 1);
        break;
      case tkLongDate:
        Append(out, m_formats.LongDateFormat, level + 1);
        break;
      case tkMonth:
        out.PutNumber(p.Month, token.Digits);
        break;
      case tkShortMonthName:
        out.Put(m_formats.ShortMonthNames[static_cast<std::size_t>(p.Month - 1)]);
        break;
      case tkLongMonthName:
        out.Put(m_formats.LongMonthNames[static_cast<std::size_t>(p.Month - 1)]);
        break;
      case tkYear2:
        out.PutNumber(p.Year % 100, 2);
        break;
      case tkYear4:
        out.PutNumber(p.Year, 4);
        break;
      case tkHour:
        out.PutNumber(token.TwelveHour ? TwelveHourClock(p.Hour) : p.Hour, token.Digits);
        break;
      case tkMinute:
        out.PutNumber(p.Minute, token.Digits);
        break;
      case tkSecond:
        out.PutNumber(p.Second, token.Digits);
        out.Put(m_fraction);
        break;
      case tkMillisecond:
        out.PutNumber(p.Millisecond, token.Digits);
        break;
      case tkShortTime:
        Append(out, m_formats.ShortTimeFormat, level + 1);
        break;
      case tkLongTime:
        Append(out, m_formats.LongTimeFormat, level + 1);
        break;
      case tkAmPmText:
        out.Put(p.Hour < 12 ? token.Text.substr(0, 2) : token.Text.substr(3, 2));
        break;
      case tkAPText:
        out.Put(p.Hour < 12 ? token.Text[0] : token.Text[2]);
        break;
      case tkAmPmMarkers:
        out.Put(p.Hour < 12 ? m_formats.TimeAMString : m_formats.TimePMString);
        break;
      case tkEraYear:
        AppendEraYear(out, token.Digits);
        break;
      case tkEraName:
        out.Put(EraText(p, true, m_formats));
        break;
    }
  }

  // The date, then a blank and the time, unless hours, minutes and seconds are
  // all 0 and no fraction is written.
  void AppendDateTime(TDateTimeText& out) const {
    const TDateTimeParts& p = m_parts;
    Append(out, m_formats.ShortDateFormat, 1);
    if (p.Hour != 0 || p.Minute != 0 || p.Second != 0 || !m_fraction.empty()) {
      out.Put(' ');
      Append(out, m_formats.LongTimeFormat, 1);
    }
  }

  // The era year as the locale writes it; in digits, padded to two for a run
  // of two or more "e".
  void AppendEraYear(TDateTimeText& out, int digits) const {
    std::string year = EraText(m_parts, false, m_formats);
    const bool numeric = !year.empty() && year.find_first_not_of("0123456789") == std::string::npos;
    if (numeric) {
      out.PutNumber(std::atoll(year.c_str()), digits >= 2 ? 2 : 1);
    } else {
      out.Put(year);
    }
  }

  const TDateTimeParts& m_parts;
  const TLocaleFormats& m_formats;
  std::string_view m_fraction;  // "" or "." and up to four digits, written after the seconds
};

// 1 Sunday .. 7 Saturday for day number day (0 is 30 December 1899, a Saturday).
int DayOfWeek(std::int64_t day) { return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1; }

// True when a stamp's date and time fields are all 0 (its fraction aside):
// the zero date-time.
bool NoDateNorTime(const TSQLTimeStamp& stamp) {
  return stamp.year == 0 && stamp.month == 0 && stamp.day == 0 && stamp.hour == 0 && stamp.minute == 0 &&
         stamp.second == 0;
}

}  // namespace

std::string FloatText(double value) {
  // A negative zero keeps its sign, so that it reads back as the same double.
  if (value == 0) return std::signbit(value) ? "-0" : "0";
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";

  // The shortest digits that read back as the same double. When they are 15
  // or fewer they are also the value rounded to 15 digits (a double is far
  // closer to them than half a unit of the 15th digit); otherwise 16 or 17
  // digits are the fewest that keep the value.
  // Below the normal range a double has fewer digits than that: its
  // 15-digit text is kept whenever it reads back.
  const double magnitude = std::fabs(value);
  char buffer[48];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  if (magnitude < std::numeric_limits<double>::min()) {
    char fifteen[48];
    const auto rounded =
        std::to_chars(fifteen, fifteen + sizeof fifteen, magnitude, std::chars_format::scientific, 14);
    double back = 0;
    std::from_chars(fifteen, rounded.ptr, back);
    if (back == magnitude) {
      std::copy(fifteen, rounded.ptr, buffer);
      result.ptr = buffer + (rounded.ptr - fifteen);
    }
  }
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = text.find('e');
  char digits[20];
  std::size_t count = 0;
  for (std::size_t i = 0; i < e; ++i) {
    if (text[i] != '.') digits[count++] = text[i];
  }
  while (count > 1 && digits[count - 1] == '0') --count;
  std::size_t exponentStart = e + 1;
  if (text[exponentStart] == '+') ++exponentStart;
  int exponent = 0;
  std::from_chars(text.data() + exponentStart, text.data() + text.size(), exponent);
  ++exponent;  // value = 0.digits x 10^exponent

  std::string out;
  const bool negative = value < 0;
  const bool scientific = exponent > 15 || exponent < -3;
  AppendGeneral(out, negative, std::string_view(digits, count), exponent, LocaleFormats().DecimalSeparator,
                scientific);
  return out;
}

std::string FixedPointText(std::int64_t tenThousandths) {
  if (tenThousandths == 0) return "0";
  const bool negative = tenThousandths < 0;
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(tenThousandths) + 1 : static_cast<std::uint64_t>(tenThousandths);
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude);
  std::string digits(buffer, result.ptr);
  if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
  const std::size_t whole = digits.size() - 4;
  std::size_t end = digits.size();
  while (end > whole && digits[end - 1] == '0') --end;

  std::string out;
  if (negative) out += '-';
  out.append(digits, 0, whole);
  if (end > whole) {
    out += LocaleFormats().DecimalSeparator;
    out.append(digits, whole, end - whole);
  }
  return out;
}

std::string BcdText(const TBcd& value) {
  if (!packed::WellFormed(value)) throw EConvertError("BCD overflow");
  const int precision = value.precision;
  const int places = packed::Places(value);
  const char separator = LocaleFormats().DecimalSeparator;

  // The sign, "0." and leading zeros, and every digit with the separator.
  std::array<char, 2 * packed::kMaxDigits + 4> text;
  std::size_t size = 0;
  const bool negative = packed::Negative(value);
  if (negative) text[size++] = '-';
  const std::size_t start = size;
  // With more places than digits the value is a fraction with leading zeros.
  if (places > precision) {
    text[size++] = '0';
    text[size++] = separator;
    for (int i = precision; i < places; ++i) text[size++] = '0';
  }
  for (int i = 0; i < precision; ++i) {
    const int digit = packed::Digit(value, i);
    if (i == precision - places) {
      if (size == start) text[size++] = '0';
      text[size++] = separator;
    }
    if (digit != 0 || size != start) text[size++] = static_cast<char>('0' + digit);
  }
  if (places > 0) {
    while (size > start && text[size - 1] == '0') --size;
    if (size > start && text[size - 1] == separator) --size;
  }
  if (size == start) text[size++] = '0';
  if (negative && size == 2 && text[1] == '0') return "0";
  return std::string(text.data(), size);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<TDateTime>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kUnixDayOfZero);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999) {
    return false;
  }
  const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  result = static_cast<TDateTime>(ms) / static_cast<TDateTime>(kMSecsPerDay);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) throw EConvertError(kDateEncodeMessage);
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result = 0;
  if (!TryEncodeTime(hour, minute, second, millisecond, result)) throw EConvertError(kTimeEncodeMessage);
  return result;
}

TDateTime TimeStampToDateTime(const TSQLTimeStamp& stamp) {
  if (NoDateNorTime(stamp) && stamp.fraction == 0) return 0;
  const TDateTime date = EncodeDate(stamp.year, stamp.month, stamp.day);
  if (stamp.fraction > 9999) throw EConvertError(kTimeEncodeMessage);
  const TDateTime time =
      EncodeTime(stamp.hour, stamp.minute, stamp.second, static_cast<int>(stamp.fraction / 10));
  return date < 0 ? date - time : date + time;
}

namespace {

// The parts of day number day (checked by the caller) at the time of day in milliseconds.
void FillParts(std::int64_t day, std::int64_t time, TDateTimeParts& parts) {
  CivilFromDays(day + kUnixDayOfZero, parts.Year, parts.Month, parts.Day);
  parts.DayOfWeek = DayOfWeek(day);
  parts.Hour = static_cast<int>(time / 3600000);
  parts.Minute = static_cast<int>(time / 60000 % 60);
  parts.Second = static_cast<int>(time / 1000 % 60);
  parts.Millisecond = static_cast<int>(time % 1000);
}

void AppendPartsText(std::string& out, std::string_view pattern, const TDateTimeParts& parts,
                     int tenThousandths) {
  if (tenThousandths < 0 || tenThousandths > 9999) throw EConvertError(kTimeEncodeMessage);
  char fraction[6] = {};
  if (tenThousandths != 0) {
    fraction[0] = '.';
    int value = tenThousandths;
    for (int i = 4; i >= 1; --i, value /= 10) fraction[i] = static_cast<char>('0' + value % 10);
    for (int i = 4; fraction[i] == '0'; --i) fraction[i] = '\0';
  }
  TDateTimeText text(out);
  TDateTimeWriter(parts, LocaleFormats(), fraction)
      .Append(text, pattern.empty() ? std::string_view("c") : pattern, 0);
  text.Flush();
}

}  // namespace

bool DecodeDateTime(TDateTime value, TDateTimeParts& parts) {
  if (!std::isfinite(value) || value < kFirstDay - 1 || value > kLastDay + 1) return false;
  // Round to the millisecond first, so that 23:59:59.9996 becomes the next
  // midnight instead of a 24th hour. Before day 0 the fraction counts forward
  // from the midnight of the (truncated) day.
  const auto ms = static_cast<std::int64_t>(std::llround(value * static_cast<double>(kMSecsPerDay)));
  const std::int64_t day = ms / kMSecsPerDay;
  std::int64_t time = ms % kMSecsPerDay;
  if (time < 0) time = -time;
  if (day < kFirstDay || day > kLastDay) return false;
  FillParts(day, time, parts);
  return true;
}

void AppendDateTimeText(std::string& out, std::string_view pattern, TDateTime value, int tenThousandths) {
  TDateTimeParts parts;
  if (!DecodeDateTime(value, parts)) throw EConvertError(kDateEncodeMessage);
  AppendPartsText(out, pattern, parts, tenThousandths);
}

void AppendDayText(std::string& out, std::string_view pattern, std::int64_t day) {
  if (day < kFirstDay || day > kLastDay) throw EConvertError(kDateEncodeMessage);
  TDateTimeParts parts;
  FillParts(day, 0, parts);
  AppendPartsText(out, pattern, parts, 0);
}

void AppendTimeStampText(std::string& out, std::string_view pattern, const TSQLTimeStamp& stamp) {
  // Checked as TimeStampToDateTime checks the stamp without its fraction.
  TDateTimeParts parts;
  if (NoDateNorTime(stamp)) {
    FillParts(0, 0, parts);
  } else {
    const auto day = static_cast<std::int64_t>(EncodeDate(stamp.year, stamp.month, stamp.day));
    TDateTime time = 0;
    if (!TryEncodeTime(stamp.hour, stamp.minute, stamp.second, 0, time))
      throw EConvertError(kTimeEncodeMessage);
    parts.Year = stamp.year;
    parts.Month = stamp.month;
    parts.Day = stamp.day;
    parts.DayOfWeek = DayOfWeek(day);
    parts.Hour = stamp.hour;
    parts.Minute = stamp.minute;
    parts.Second = stamp.second;
    parts.Millisecond = 0;
  }
  AppendPartsText(out, pattern, parts, static_cast<int>(std::min<std::uint32_t>(stamp.fraction, 10000)));
}

std::string DateTimeText(std::string_view pattern, TDateTime value, int tenThousandths) {
  std::string out;
  AppendDateTimeText(out, pattern, value, tenThousandths);
  return out;
}

std::string DateTimeText(std::string_view pattern, TDateTime value) {
  return DateTimeText(pattern, value, 0);
}

const std::vector<TDateTimeToken>& PatternTokens(std::string_view pattern) {
  struct TEntry {
    std::string pattern;  // the tokens' texts point into it
    std::vector<TDateTimeToken> tokens;
  };
  // A deque keeps every entry where it is while others are added, so that a
  // caller may hold one pattern's tokens while a nested pattern is read.
  thread_local std::deque<TEntry> cache;
  for (const TEntry& entry : cache) {
    if (entry.pattern == pattern) return entry.tokens;
  }
  TEntry& entry = cache.emplace_back();
  entry.pattern.assign(pattern);
  TDateTimePatternReader reader(entry.pattern);
  TDateTimeToken token;
  while (reader.Next(token)) entry.tokens.push_back(token);
  return entry.tokens;
}

bool TDateTimePatternReader::MarkerFollows() const {
  char quote = '\0';
  for (std::size_t i = m_pos; i < m_pattern.size(); ++i) {
    const char c = m_pattern[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == 'h' || c == 'H') {
      return false;
    } else if (c == 'a' || c == 'A') {
      return StartsWithNoCase(m_pattern, i, "AM/PM") || StartsWithNoCase(m_pattern, i, "A/P") ||
             StartsWithNoCase(m_pattern, i, "AMPM");
    }
  }
  return false;
}

bool TDateTimePatternReader::Next(TDateTimeToken& token) {
  using enum TDateTimeTokenKind;
  if (m_pos >= m_pattern.size()) return false;
  token = TDateTimeToken{};
  const std::size_t start = m_pos;
  const char starter = m_pattern[m_pos];

  if (static_cast<unsigned char>(starter) >= 0x80) {
    // A multi-byte character is copied whole.
    m_pos = std::min(m_pattern.size(), m_pos + Utf8Length(static_cast<unsigned char>(starter)));
    while (m_pos < m_pattern.size() && (static_cast<unsigned char>(m_pattern[m_pos]) & 0xC0) == 0x80) ++m_pos;
    token.Text = m_pattern.substr(start, m_pos - start);
    return true;
  }
  ++m_pos;

  char letter = UpperAscii(starter);
  if (letter >= 'A' && letter <= 'Z') {
    if (letter == 'M' && m_lastLetter == 'H') letter = 'N';
    m_lastLetter = letter;
    ReadLetters(letter, start, token);
    return true;
  }
  switch (starter) {
    case '/':
      token.Kind = tkDateSeparator;
      break;
    case ':':
      token.Kind = tkTimeSeparator;
      break;
    case '"':
    case '\'': {
      const std::size_t close = m_pattern.find(starter, m_pos);
      const std::size_t end = close == std::string_view::npos ? m_pattern.size() : close;
      token.Text = m_pattern.substr(m_pos, end - m_pos);
      m_pos = close == std::string_view::npos ? end : close + 1;
      break;
    }
    default:
      token.Text = m_pattern.substr(start, 1);
      break;
  }
  return true;
}

int TDateTimePatternReader::RunLength(std::size_t start) {
  const char run = UpperAscii(m_pattern[start]);
  while (m_pos < m_pattern.size() && UpperAscii(m_pattern[m_pos]) == run) ++m_pos;
  return static_cast<int>(m_pos - start);
}

void TDateTimePatternReader::ReadLetters(char letter, std::size_t start, TDateTimeToken& token) {
  using enum TDateTimeTokenKind;
  switch (letter) {
    case 'Y':
      token.Kind = RunLength(start) <= 2 ? tkYear2 : tkYear4;
      return;
    case 'M': {
      const int count = RunLength(start);
      token.Kind = count <= 2 ? tkMonth : count == 3 ? tkShortMonthName : tkLongMonthName;
      token.Digits = count;
      return;
    }
    case 'D': {
      const int count = RunLength(start);
      static constexpr TDateTimeTokenKind kByCount[] = {tkDay, tkDay, tkShortDayName, tkLongDayName,
                                                        tkShortDate};
      token.Kind = count <= 5 ? kByCount[count - 1] : tkLongDate;
      token.Digits = count;
      return;
    }
    case 'H':
      token.Kind = tkHour;
      token.Digits = std::min(RunLength(start), 2);
      token.TwelveHour = m_markerSeen || MarkerFollows();
      return;
    case 'N':
      token.Kind = tkMinute;
      token.Digits = std::min(RunLength(start), 2);
      return;
    case 'S':
      token.Kind = tkSecond;
      token.Digits = std::min(RunLength(start), 2);
      return;
    case 'Z':
      token.Kind = tkMillisecond;
      token.Digits = std::min(RunLength(start), 3);
      return;
    case 'T':
      token.Kind = RunLength(start) == 1 ? tkShortTime : tkLongTime;
      return;
    case 'C':
      RunLength(start);
      token.Kind = tkDateTime;
      return;
    case 'E':
      token.Kind = tkEraYear;
      token.Digits = RunLength(start);
      return;
    case 'G':
      token.Kind = tkEraName;
      token.Digits = RunLength(start);
      return;
    case 'A':
      ReadMarkerOrDayName(start, token);
      return;
    default:
      token.Text = m_pattern.substr(start, 1);
      return;
  }
}

void TDateTimePatternReader::ReadMarkerOrDayName(std::size_t start, TDateTimeToken& token) {
  using enum TDateTimeTokenKind;
  if (StartsWithNoCase(m_pattern, start, "AM/PM")) {
    token.Kind = tkAmPmText;
    m_pos = start + 5;
    m_markerSeen = true;
  } else if (StartsWithNoCase(m_pattern, start, "A/P")) {
    token.Kind = tkAPText;
    m_pos = start + 3;
    m_markerSeen = true;
  } else if (StartsWithNoCase(m_pattern, start, "AMPM")) {
    token.Kind = tkAmPmMarkers;
    m_pos = start + 4;
    m_markerSeen = true;
  } else if (StartsWithNoCase(m_pattern, start, "AAAA")) {
    token.Kind = tkLongDayName;
    m_pos = start + 4;
  } else if (StartsWithNoCase(m_pattern, start, "AAA")) {
    token.Kind = tkShortDayName;
    m_pos = start + 3;
  }
  token.Text = m_pattern.substr(start, m_pos - start);
}
