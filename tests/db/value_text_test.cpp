#include "db/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/locale_formats.h"
#include "formats_scope.h"

namespace {

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, ms);
}

// A packed decimal from its text: "-0.50" has precision 3 and 2 places.
TBcd MakeBcd(const std::string& text) {
  TBcd bcd;
  std::string digits;
  int places = 0;
  bool inFraction = false;
  for (char c : text) {
    if (c == '-') {
      bcd.signSpecialPlaces |= 0x80;
    } else if (c == '.') {
      inFraction = true;
    } else {
      digits += c;
      if (inFraction) ++places;
    }
  }
  bcd.precision = static_cast<std::uint8_t>(digits.size());
  bcd.signSpecialPlaces |= static_cast<std::uint8_t>(places);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const auto digit = static_cast<std::uint8_t>(digits[i] - '0');
    bcd.fraction[i / 2] |= i % 2 == 0 ? static_cast<std::uint8_t>(digit << 4) : digit;
  }
  return bcd;
}

void ExpectConvertError(const std::function<void()>& call, const char* message) {
  try {
    call();
    ADD_FAILURE() << "no EConvertError, expected: " << message;
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

TEST(FloatText, GeneralFormWithFifteenDigits) {
  struct Row {
    const char* name;
    double value;
    char separator;
    const char* text;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Row> rows = {
      {"one", 1, '.', "1"},
      {"negative half", -2.5, '.', "-2.5"},
      {"comma separator", -2.5, ',', "-2,5"},
      {"tenth", 0.1, '.', "0.1"},
      {"third needs 16 digits to read back", 1.0 / 3, '.', "0.3333333333333333"},
      {"two thirds needs 16 digits", 2.0 / 3, '.', "0.6666666666666666"},
      {"0.7 rounded up through its nines", 0.7, '.', "0.7"},
      {"fifteen digits fixed", 123456789012345, '.', "123456789012345"},
      {"largest fixed", 999999999999999, '.', "999999999999999"},
      {"sixteenth digit kept when needed", 123456789012345.5, '.', "123456789012345.5"},
      // Exactly 0.12345678901235949964...: 18 digits end in ...59500, which then rounds up.
      {"sixteen digits", 0.1234567890123595, '.', "0.1234567890123595"},
      {"ten to the fifteenth", 1e15, '.', "1E15"},
      {"seventeen digits below 1E15", 999999999999999.9, '.', "999999999999999.9"},
      {"carry out of the first digit", 1e23, '.', "1E23"},
      {"nineteen digits", 1234567890123456789.0, '.', "1.2345678901234568E18"},
      {"scientific with comma", 1234567890123456789.0, ',', "1,2345678901234568E18"},
      {"smallest fixed exponent", 0.0001, '.', "0.0001"},
      {"two digits at 1E-4", 0.00012, '.', "0.00012"},
      {"first scientific below", 0.00001, '.', "1E-5"},
      {"two digits below", 0.000012, '.', "1.2E-5"},
      {"small", 1.5e-7, '.', "1.5E-7"},
      {"negative small", -1.5e-7, '.', "-1.5E-7"},
      {"binary noise kept where it tells doubles apart", 0.1 + 0.2, '.', "0.30000000000000004"},
      {"binary noise dropped", 0.3, '.', "0.3"},
      {"integer with zeros", 100, '.', "100"},
      {"large", 1e300, '.', "1E300"},
      {"denormal", 5e-324, '.', "4.94065645841247E-324"},
      {"zero", 0.0, '.', "0"},
      {"negative zero keeps its sign", -0.0, '.', "-0"},
      {"infinity", inf, '.', "INF"},
      {"negative infinity", -inf, '.', "-INF"},
      {"not a number", std::nan(""), '.', "NAN"},
      {"negative not a number", -std::nan(""), '.', "NAN"},
  };
  for (const Row& row : rows) {
    TLocaleFormats formats;
    formats.DecimalSeparator = row.separator;
    TFormatsScope scope(formats);
    EXPECT_EQ(FloatText(row.value), row.text) << row.name;
  }
}

TEST(FixedPointText, FourDecimals) {
  struct Row {
    const char* name;
    std::int64_t value;
    char separator;
    const char* text;
  };
  const std::vector<Row> rows = {
      {"zero", 0, '.', "0"},
      {"two decimals", 1234500, '.', "123.45"},
      {"whole", 10000, '.', "1"},
      {"whole with zeros", 100000000, '.', "10000"},
      {"smallest", 1, '.', "0.0001"},
      {"negative half", -5000, '.', "-0.5"},
      {"comma", -5000, ',', "-0,5"},
      {"largest", std::numeric_limits<std::int64_t>::max(), '.', "922337203685477.5807"},
      {"smallest count", std::numeric_limits<std::int64_t>::min(), '.', "-922337203685477.5808"},
  };
  for (const Row& row : rows) {
    TLocaleFormats formats;
    formats.DecimalSeparator = row.separator;
    TFormatsScope scope(formats);
    EXPECT_EQ(FixedPointText(row.value), row.text) << row.name;
  }
}

TEST(BcdText, DigitsWithoutTrailingZeros) {
  struct Row {
    const char* name;
    std::string value;
    char separator;
    std::string text;
  };
  const std::vector<Row> rows = {
      {"fraction zeros dropped", "1234.5600", '.', "1234.56"},
      {"separator dropped", "100.00", '.', "100"},
      {"negative below one", "-0.50", '.', "-0.5"},
      {"integer zeros kept", "100", '.', "100"},
      {"leading zeros skipped", "0012.50", '.', "12.5"},
      {"zero", "0", '.', "0"},
      {"zero with places", "0.00", '.', "0"},
      {"negative zero", "-0.00", '.', "0"},
      {"only fraction", ".0001", '.', "0.0001"},
      {"comma", "-12.50", ',', "-12,5"},
      {"sixty-four digits", std::string(64, '9'), '.', std::string(64, '9')},
      {"sixty-four digits with places", std::string(60, '9') + ".1230", '.', std::string(60, '9') + ".123"},
  };
  for (const Row& row : rows) {
    TLocaleFormats formats;
    formats.DecimalSeparator = row.separator;
    TFormatsScope scope(formats);
    EXPECT_EQ(BcdText(MakeBcd(row.value)), row.text) << row.name;
  }

  TBcd morePlacesThanDigits = MakeBcd("25");
  morePlacesThanDigits.signSpecialPlaces = 4;
  EXPECT_EQ(BcdText(morePlacesThanDigits), "0.0025");
}

TEST(BcdText, OverflowForBadPrecisionOrDigit) {
  TBcd noDigits = MakeBcd("1");
  noDigits.precision = 0;
  ExpectConvertError([&] { BcdText(noDigits); }, "BCD overflow");
  TBcd tooMany = MakeBcd("1");
  tooMany.precision = 65;
  ExpectConvertError([&] { BcdText(tooMany); }, "BCD overflow");
  TBcd badNibble = MakeBcd("12");
  badNibble.fraction[0] = 0x1C;
  ExpectConvertError([&] { BcdText(badNibble); }, "BCD overflow");
}

TEST(EncodeDate, DayCountsFromZeroDate) {
  struct Row {
    const char* name;
    int year, month, day;
    double days;
  };
  const std::vector<Row> rows = {
      {"zero date", 1899, 12, 30, 0},       {"day before", 1899, 12, 29, -1},
      {"1900 no leap day", 1900, 3, 1, 61}, {"sample", 2004, 3, 5, 38051},
      {"leap day", 2000, 2, 29, 36585},     {"first day", 1, 1, 1, -693593},
      {"last day", 9999, 12, 31, 2958465},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EncodeDate(row.year, row.month, row.day), row.days) << row.name;
  }
}

TEST(EncodeDate, InvalidPartsThrow) {
  struct Row {
    const char* name;
    int year, month, day;
  };
  const std::vector<Row> rows = {
      {"year zero", 0, 1, 1},
      {"year 10000", 10000, 1, 1},
      {"month zero", 2004, 0, 1},
      {"month 13", 2004, 13, 1},
      {"day zero", 2004, 1, 0},
      {"April 31", 2004, 4, 31},
      {"no leap day 1900", 1900, 2, 29},
      {"no leap day 2003", 2003, 2, 29},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ExpectConvertError([&] { EncodeDate(row.year, row.month, row.day); }, "Invalid argument to date encode");
  }
}

TEST(EncodeTime, InvalidPartsThrow) {
  struct Row {
    const char* name;
    int hour, minute, second, ms;
  };
  const std::vector<Row> rows = {
      {"hour 24", 24, 0, 0, 0},   {"minute 60", 0, 60, 0, 0}, {"second 60", 0, 0, 60, 0},
      {"ms 1000", 0, 0, 0, 1000}, {"negative", -1, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ExpectConvertError([&] { EncodeTime(row.hour, row.minute, row.second, row.ms); },
                       "Invalid argument to time encode");
  }
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeTime(23, 59, 59, 999), 86399999.0 / 86400000.0);
}

TEST(TimeStampToDateTime, DateAndTimeParts) {
  struct Row {
    const char* name;
    TSQLTimeStamp stamp;
    double value;
  };
  const std::vector<Row> rows = {
      {"all zero", {}, 0},
      {"afternoon", {2004, 3, 5, 14, 7, 9, 0}, 38051 + (14 * 3600 + 7 * 60 + 9) / 86400.0},
      {"before zero date subtracts", {1899, 12, 29, 6, 0, 0, 0}, -1.25},
      {"fraction in ten-thousandths, cut to the millisecond",
       {1899, 12, 30, 0, 0, 0, 5009},
       500 / 86400000.0},
  };
  for (const Row& row : rows) {
    EXPECT_DOUBLE_EQ(TimeStampToDateTime(row.stamp), row.value) << row.name;
  }
  ExpectConvertError(
      [] {
        TimeStampToDateTime({2004, 13, 1, 0, 0, 0, 0});
      },
      "Invalid argument to date encode");
  ExpectConvertError(
      [] {
        TimeStampToDateTime({2004, 3, 5, 24, 0, 0, 0});
      },
      "Invalid argument to time encode");
  ExpectConvertError(
      [] {
        TimeStampToDateTime({2004, 3, 5, 0, 0, 0, 10000});
      },
      "Invalid argument to time encode");
}

TEST(DecodeDateTime, RoundsToMillisecondsAndHandlesNegativeDays) {
  struct Row {
    const char* name;
    double value;
    TDateTimeParts parts;
  };
  const std::vector<Row> rows = {
      {"zero", 0, {1899, 12, 30, 7, 0, 0, 0, 0}},
      {"sample Friday", 38051 + 0.5, {2004, 3, 5, 6, 12, 0, 0, 0}},
      {"day before, six o'clock", -1.25, {1899, 12, 29, 6, 6, 0, 0, 0}},
      {"before zero counts forward", -0.5, {1899, 12, 30, 7, 12, 0, 0, 0}},
      {"almost midnight rounds to next day", 1.9999999999, {1900, 1, 1, 2, 0, 0, 0, 0}},
      {"negative almost midnight", -1.9999999999, {1899, 12, 28, 5, 0, 0, 0, 0}},
      {"half millisecond rounds up", 0.5 + 0.0006 / 86400, {1899, 12, 30, 7, 12, 0, 0, 1}},
      {"first day", -693593, {1, 1, 1, 2, 0, 0, 0, 0}},
      {"last moment", 2958465 + 86399999.0 / 86400000, {9999, 12, 31, 6, 23, 59, 59, 999}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TDateTimeParts parts;
    ASSERT_TRUE(DecodeDateTime(row.value, parts));
    EXPECT_EQ(parts.Year, row.parts.Year);
    EXPECT_EQ(parts.Month, row.parts.Month);
    EXPECT_EQ(parts.Day, row.parts.Day);
    EXPECT_EQ(parts.DayOfWeek, row.parts.DayOfWeek);
    EXPECT_EQ(parts.Hour, row.parts.Hour);
    EXPECT_EQ(parts.Minute, row.parts.Minute);
    EXPECT_EQ(parts.Second, row.parts.Second);
    EXPECT_EQ(parts.Millisecond, row.parts.Millisecond);
  }
  TDateTimeParts parts;
  EXPECT_FALSE(DecodeDateTime(std::nan(""), parts));
  EXPECT_FALSE(DecodeDateTime(-693594, parts));
  EXPECT_FALSE(DecodeDateTime(2958466, parts));
  EXPECT_FALSE(DecodeDateTime(1e300, parts));
}

TEST(DateTimeText, Tokens) {
  struct Row {
    const char* name;
    const char* pattern;
    TDateTime value;
    const char* text;
  };
  const TDateTime sample = At(2004, 3, 5, 14, 7, 9, 123);
  const std::vector<Row> rows = {
      {"day", "d", sample, "5"},
      {"day two digits", "dd", sample, "05"},
      {"short day name", "ddd", sample, "Fri"},
      {"long day name", "dddd", sample, "Friday"},
      {"short date pattern", "ddddd", sample, "3/5/2004"},
      {"long date pattern", "dddddd", sample, "March 5, 2004"},
      {"month", "m", sample, "3"},
      {"month two digits", "mm", sample, "03"},
      {"short month name", "mmm", sample, "Mar"},
      {"long month name", "mmmm", sample, "March"},
      {"longer month run", "mmmmmm", sample, "March"},
      {"year one letter", "y", sample, "04"},
      {"year two", "yy", sample, "04"},
      {"year three", "yyy", sample, "2004"},
      {"year four", "yyyy", sample, "2004"},
      {"year one padded", "yyyy", At(1, 1, 1), "0001"},
      {"hour", "h", sample, "14"},
      {"hour run capped", "hhhh", sample, "14"},
      {"minutes after h", "h:m", sample, "14:7"},
      {"mm after hh", "hh:mm", sample, "14:07"},
      {"mmm after h", "h:mmm", sample, "14:07"},
      {"m after another letter is the month", "hsm", sample, "1493"},
      {"minute", "n", sample, "7"},
      {"minute two", "nn", sample, "07"},
      {"second", "s", sample, "9"},
      {"second two", "ss", sample, "09"},
      {"milliseconds", "z", sample, "123"},
      {"milliseconds padded", "zzz", At(2004, 3, 5, 0, 0, 0, 5), "005"},
      {"milliseconds one", "z", At(2004, 3, 5, 0, 0, 0, 5), "5"},
      {"short time", "t", sample, "2:07 PM"},
      {"long time", "tt", sample, "2:07:09 PM"},
      {"AM/PM upper", "h AM/PM", sample, "2 PM"},
      {"am/pm as written", "h am/pm", At(2004, 3, 5, 9), "9 am"},
      {"A/P", "h A/P", sample, "2 P"},
      {"a/p morning", "h a/p", At(2004, 3, 5, 9), "9 a"},
      {"AMPM markers", "h AMPM", sample, "2 PM"},
      {"ampm any case", "h ampm", At(2004, 3, 5, 9), "9 AM"},
      {"marker before hour", "AMPM h", sample, "PM 2"},
      {"quoted marker is text", "h 'AMPM'", sample, "14 AMPM"},
      {"next h comes first", "h h AMPM", sample, "14 2 PM"},
      {"short day name aaa", "aaa", sample, "Fri"},
      {"long day name aaaa", "aaaa", sample, "Friday"},
      {"lone a copied", "a", sample, "a"},
      {"unknown letter copied", "b", sample, "b"},
      {"double quotes", "\"d\"d", sample, "d5"},
      {"single quotes", "'hh'hh", sample, "hh14"},
      {"unterminated quote", "d'mm", sample, "5mm"},
      {"letters any case", "D/M/YYYY", sample, "5/3/2004"},
      {"mixed case run", "MmM", sample, "Mar"},
      {"multibyte copied", "d\xC3\xA4m", sample,
       "5\xC3\xA4"
       "3"},
      {"date and time", "c", sample, "3/5/2004 2:07:09 PM"},
      {"empty pattern", "", sample, "3/5/2004 2:07:09 PM"},
      {"c run once", "cc", sample, "3/5/2004 2:07:09 PM"},
      {"midnight gives date alone", "c", At(2004, 3, 5), "3/5/2004"},
      {"half second after midnight", "c", At(2004, 3, 5, 0, 0, 0, 500), "3/5/2004"},
      {"before zero date", "yyyy-mm-dd h:nn AMPM", -1.25, "1899-12-29 6:00 AM"},
  };
  TFormatsScope scope(UsSample());
  for (const Row& row : rows) {
    EXPECT_EQ(DateTimeText(row.pattern, row.value), row.text) << row.name << " [" << row.pattern << "]";
  }
}

TEST(DateTimeText, TwelveHourEdges) {
  struct Row {
    int hour;
    const char* twelveHour;
    const char* twentyFourHour;
  };
  const std::vector<Row> rows = {
      {0, "12:00 AM", "00:00"},  {1, "1:00 AM", "01:00"},  {11, "11:00 AM", "11:00"},
      {12, "12:00 PM", "12:00"}, {13, "1:00 PM", "13:00"}, {23, "11:00 PM", "23:00"},
  };
  TFormatsScope scope(UsSample());
  for (const Row& row : rows) {
    EXPECT_EQ(DateTimeText("h:nn AMPM", At(2004, 3, 5, row.hour)), row.twelveHour) << row.hour;
    EXPECT_EQ(DateTimeText("hh:nn", At(2004, 3, 5, row.hour)), row.twentyFourHour) << row.hour;
  }
}

TEST(DateTimeText, SeparatorsAndNamedPatterns) {
  struct Row {
    const char* name;
    const char* shortDate;
    const char* longTime;
    char dateSeparator;
    char timeSeparator;
    const char* pattern;
    const char* text;
  };
  const TDateTime sample = At(2004, 3, 5, 14, 7, 9);
  const std::vector<Row> rows = {
      {"separators from the record", "d/m", "h:n", '-', '.', "c", "5-3 14.7"},
      {"NUL separators write nothing", "d/m", "h:n", '\0', '\0', "c", "53 147"},
      {"named pattern inside named writes nothing", "d c t", "h:n", '/', ':', "ddddd", "5  "},
      {"time pattern inside c", "d", "tt h", '/', ':', "c", "5  14"},
  };
  for (const Row& row : rows) {
    TLocaleFormats formats;
    formats.ShortDateFormat = row.shortDate;
    formats.LongTimeFormat = row.longTime;
    formats.DateSeparator = row.dateSeparator;
    formats.TimeSeparator = row.timeSeparator;
    TFormatsScope scope(formats);
    EXPECT_EQ(DateTimeText(row.pattern, sample), row.text) << row.name;
  }
}

TEST(DateTimeText, SampleLocales) {
  struct Row {
    const char* name;
    TLocaleFormats formats;
    const char* pattern;
    TDateTime value;
    const char* text;
  };
  const TDateTime sample = At(2004, 3, 5, 14, 7, 9);
  const std::vector<Row> rows = {
      {"US date", UsSample(), "M/d/yyyy", sample, "3/5/2004"},
      {"US time", UsSample(), "h:mm:ss AMPM", sample, "2:07:09 PM"},
      {"US date and time", UsSample(), "", sample, "3/5/2004 2:07:09 PM"},
      {"US midnight", UsSample(), "", At(2004, 3, 5), "3/5/2004"},
      {"German date and time", GermanSample(), "", sample, "05.03.2004 14:07:09"},
      {"German midnight and a half second", GermanSample(), "", At(2004, 3, 5, 0, 0, 0, 500), "05.03.2004"},
      {"German one second past midnight", GermanSample(), "", At(2004, 3, 5, 0, 0, 1), "05.03.2004 00:00:01"},
  };
  for (const Row& row : rows) {
    TFormatsScope scope(row.formats);
    EXPECT_EQ(DateTimeText(row.pattern, row.value), row.text) << row.name;
  }
}

TEST(DateTimeText, ValueOutsideTheCalendarThrows) {
  ExpectConvertError([] { DateTimeText("c", -693594.5); }, "Invalid argument to date encode");
  ExpectConvertError([] { DateTimeText("c", std::nan("")); }, "Invalid argument to date encode");
}

// Day numbers and time stamps are written without a double between; the
// texts and failures are those of the double's.
TEST(DateTimeText, DaysAndStampsWriteAsTheirDateTimes) {
  auto text = [](const std::function<void(std::string&)>& append) {
    std::string out = "x";
    try {
      append(out);
    } catch (const EConvertError& e) {
      return std::string("! ") + e.what() + (out == "x" ? "" : " after " + out);
    }
    return out;
  };
  const TFormatsScope scope(UsSample());
  for (const char* pattern : {"", "c", "dddd d mmmm yyyy hh:nn:ss.zzz ampm", "ddddd t"}) {
    for (std::int64_t day : {-693594LL, -693593LL, -1LL, 0LL, 1LL, 38051LL, 2958465LL, 2958466LL}) {
      EXPECT_EQ(
          text([&](std::string& out) { AppendDayText(out, pattern, day); }),
          text([&](std::string& out) { AppendDateTimeText(out, pattern, static_cast<double>(day), 0); }))
          << pattern << " " << day;
    }
    const TSQLTimeStamp stamps[] = {
        {},  // the zero date-time
        {0, 0, 0, 0, 0, 0, 5},
        {1, 1, 1, 0, 0, 0, 0},
        {1, 1, 1, 23, 59, 59, 9999},
        {1899, 12, 29, 12, 0, 1, 0},
        {2004, 3, 5, 14, 7, 9, 1230},
        {9999, 12, 31, 23, 59, 59, 9999},
        {2004, 2, 30, 0, 0, 0, 0},
        {2004, 3, 5, 24, 0, 0, 0},
        {2004, 3, 5, 0, 60, 0, 0},
        {2004, 3, 5, 0, 0, 0, 10000},
        {0, 3, 5, 1, 0, 0, 0},
    };
    for (const TSQLTimeStamp& stamp : stamps) {
      TSQLTimeStamp whole = stamp;
      whole.fraction = 0;
      EXPECT_EQ(text([&](std::string& out) { AppendTimeStampText(out, pattern, stamp); }),
                text([&](std::string& out) {
                  AppendDateTimeText(out, pattern, TimeStampToDateTime(whole),
                                     static_cast<int>(stamp.fraction));
                }))
          << pattern << " " << stamp.year << "-" << stamp.month << "-" << stamp.day << " " << stamp.hour;
    }
  }
}

TEST(DateTimeText, EraTokensFollowTheLocaleRules) {
  // A locale without eras gives the century and the plain two-digit year.
  TLocaleFormats formats;
  formats.EraLocale = "C.UTF-8";
  TFormatsScope scope(formats);
  EXPECT_EQ(DateTimeText("g|e|ee", At(2004, 3, 5)), "20|4|04");
}

}  // namespace
