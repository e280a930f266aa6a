// Number and date texts under the process-wide locale formats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/sql_driver.h"

// Days since 30 December 1899; the fraction is the time of day. Before that
// day the value is negative and its fraction still counts forward from
// midnight: -1.25 is 29 December 1899, 06:00.
using TDateTime = double;

// General form with 15 significant digits: "0", "-0", "-2.5", "1E15", "1.5E-7", "INF", "NAN".
// Fixed form from 0.0001 up to 15 integer digits, otherwise scientific with "E"
// and no "+". The decimal separator is the one of LocaleFormats(). When the
// 15 digits would read back as another double, the fewest digits (16 or 17)
// that read back exactly: 0.30000000000000004, 1.7976931348623157E308.
std::string FloatText(double value);
// A count of ten-thousandths in fixed point: 1234500 gives "123.45".
std::string FixedPointText(std::int64_t tenThousandths);
// A packed decimal; throws EConvertError("BCD overflow") for a precision of 0
// or above 64, and for a nibble that is no decimal digit.
std::string BcdText(const TBcd& value);
// The value under the pattern's tokens; an empty pattern means "c". Throws
// EConvertError("Invalid argument to date encode") for a value outside the
// years 1 to 9999 (or not a number).
std::string DateTimeText(std::string_view pattern, TDateTime value);
// As above for a value of whole seconds with a fraction of a second in
// ten-thousandths (0 to 9999): a fraction that is not 0 stands right after
// the seconds as "." and its digits without trailing zeros ("12:34:56.789"),
// and makes "c" write the time even at 00:00:00. Throws "Invalid argument to
// time encode" for a fraction outside 0 to 9999.
std::string DateTimeText(std::string_view pattern, TDateTime value, int tenThousandths);
// The same text appended to out (which a failure leaves as it was).
void AppendDateTimeText(std::string& out, std::string_view pattern, TDateTime value, int tenThousandths);
// The same texts without a double between: of day number day (0 is
// 30 December 1899), and of a time stamp with its fraction, which is checked
// as TimeStampToDateTime checks the stamp without it.
void AppendDayText(std::string& out, std::string_view pattern, std::int64_t day);
void AppendTimeStampText(std::string& out, std::string_view pattern, const TSQLTimeStamp& stamp);

// Throws EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
// The non-throwing forms: false when a part is out of range.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
// All-zero fields give 0 (the zero date-time); throws as the two above. The
// fraction (ten-thousandths of a second, at most 9999) counts to the
// millisecond, cut.
TDateTime TimeStampToDateTime(const TSQLTimeStamp& stamp);

// A date-time split into its calendar and clock parts, rounded to the millisecond.
struct TDateTimeParts {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int DayOfWeek = 0;  // 1 Sunday .. 7 Saturday
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};
// False for a value that is not a number or lies outside the years 1 to 9999.
bool DecodeDateTime(TDateTime value, TDateTimeParts& parts);

// One token of a date-time pattern, as DateTimeText writes it and as the
// import reads it back.
enum class TDateTimeTokenKind {
  tkLiteral,         // Text copied as it stands (quoted text, unknown characters)
  tkDateSeparator,   // "/"
  tkTimeSeparator,   // ":"
  tkDateTime,        // "c"
  tkDay,             // "d", "dd": Digits 1 or 2
  tkShortDayName,    // "ddd", "aaa"
  tkLongDayName,     // "dddd", "aaaa"
  tkShortDate,       // "ddddd"
  tkLongDate,        // "dddddd" and longer
  tkMonth,           // "m", "mm": Digits 1 or 2
  tkShortMonthName,  // "mmm"
  tkLongMonthName,   // "mmmm" and longer
  tkYear2,           // "y", "yy"
  tkYear4,           // "yyy" and longer
  tkHour,            // "h", "hh": Digits 1 or 2, TwelveHour
  tkMinute,          // "n", "nn", or "m", "mm" right after an "h"
  tkSecond,          // "s", "ss"
  tkMillisecond,     // "z", "zz", "zzz": Digits 1 to 3
  tkShortTime,       // "t"
  tkLongTime,        // "tt" and longer
  tkAmPmText,        // "AM/PM" in any case: Text holds the five characters as written
  tkAPText,          // "A/P" in any case: Text holds the three characters as written
  tkAmPmMarkers,     // "AMPM": the locale's morning and afternoon markers
  tkEraYear,         // "e", "ee"...: Digits is the run length
  tkEraName,         // "g", "gg"...: Digits is the run length
};

struct TDateTimeToken {
  TDateTimeTokenKind Kind = TDateTimeTokenKind::tkLiteral;
  int Digits = 0;
  bool TwelveHour = false;
  std::string_view Text;  // Points into the pattern
};

// Reads a pattern token by token. Letters match without regard to case and a
// run of one letter is one token; an "m" right after an "h" means minutes; an
// hour is on the 12-hour clock once a marker token was read, or when the next
// "a" or "h" outside quotes begins a marker token.
class TDateTimePatternReader {
 public:
  explicit TDateTimePatternReader(std::string_view pattern) : m_pattern(pattern) {}
  // False at the end of the pattern.
  bool Next(TDateTimeToken& token);

 private:
  bool MarkerFollows() const;
  // Moves past the run of the letter at start, which m_pos already passed;
  // gives the run's length.
  int RunLength(std::size_t start);
  // The token of a letter at start, counted as letter ("n" for an "m" that
  // counts as minutes).
  void ReadLetters(char letter, std::size_t start, TDateTimeToken& token);
  // "AM/PM", "A/P", "AMPM", "AAAA" or "AAA" at start; else the "a" alone as text.
  void ReadMarkerOrDayName(std::size_t start, TDateTimeToken& token);

  std::string_view m_pattern;
  std::size_t m_pos = 0;
  char m_lastLetter = ' ';
  bool m_markerSeen = false;
};

// The tokens of a pattern, read once per pattern text and kept for the
// thread: a transfer writes and reads the same few patterns (the locale's and
// fixed ones) millions of times. The reference stays valid for the thread's life.
const std::vector<TDateTimeToken>& PatternTokens(std::string_view pattern);
