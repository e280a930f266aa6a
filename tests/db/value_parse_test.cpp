#include "db/value_parse.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "db/locale_formats.h"
#include "db/value_text.h"
#include "formats_scope.h"

namespace {

TLocaleFormats Named(const char* name) {
  std::optional<TLocaleFormats> formats = ReadLocaleFormats(name);
  if (!formats) {
    ADD_FAILURE() << "locale " << name << " is not installed; scripts/gen-locales.sh makes it";
    return {};
  }
  return *formats;
}

const char* const kLocales[] = {"C.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8", "tr_TR.UTF-8"};

using TParse = std::optional<std::string> (*)(std::string_view);

struct TParseRow {
  const char* name;
  TParse parse;
  const char* piece;
  std::optional<std::string> result;
};

// ParseDoubleText's double as the shortest text that reads back as it
// ("-2.5e-07", "-0"), so that doubles sit in the same tables as texts.
std::optional<std::string> ParsedDouble(std::string_view piece) {
  const std::optional<double> value = ParseDoubleText(piece);
  if (!value) return std::nullopt;
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, *value).ptr);
}

void CheckRows(const TLocaleFormats& formats, const std::vector<TParseRow>& rows) {
  TFormatsScope scope(formats);
  for (const TParseRow& row : rows) {
    EXPECT_EQ(row.parse(row.piece), row.result) << row.name << " [" << row.piece << "]";
  }
}

TEST(ParseDateTimeTexts, UsSample) {
  CheckRows(UsSample(),
            {
                {"date", ParseDateText, "3/5/2004", "2004-03-05"},
                {"two-digit day and month", ParseDateText, "03/05/2004", "2004-03-05"},
                {"blanks around", ParseDateText, " 3/5/2004\t", "2004-03-05"},
                {"time afternoon", ParseTimeText, "2:07:09 PM", "14:07:09"},
                {"marker in other case", ParseTimeText, "2:07:09 pm", "14:07:09"},
                {"midnight hour", ParseTimeText, "12:00:00 AM", "00:00:00"},
                {"noon hour", ParseTimeText, "12:30:00 PM", "12:30:00"},
                {"last minute", ParseTimeText, "11:59:59 PM", "23:59:59"},
                {"date and time", ParseDateTimeText, "3/5/2004 2:07:09 PM", "2004-03-05 14:07:09"},
                {"date alone at midnight", ParseDateTimeText, "3/5/2004", "2004-03-05"},
                {"leap day", ParseDateText, "2/29/2004", "2004-02-29"},
                {"first day", ParseDateText, "1/1/0001", "0001-01-01"},
                {"two-digit year", ParseDateText, "3/5/04", "2004-03-05"},
                {"ISO date is not misread", ParseDateText, "2004-03-05", "2004-03-05"},
                {"24-hour text", ParseTimeText, "14:07:09", "14:07:09"},
                {"ISO time stamp", ParseDateTimeText, "2004-03-05 14:07:09", "2004-03-05 14:07:09"},
            });
}

TEST(ParseDateTimeTexts, GermanSample) {
  CheckRows(GermanSample(),
            {
                {"date", ParseDateText, "05.03.2004", "2004-03-05"},
                {"one-digit day", ParseDateText, "5.3.2004", "2004-03-05"},
                {"time", ParseTimeText, "14:07:09", "14:07:09"},
                {"date and time", ParseDateTimeText, "05.03.2004 14:07:09", "2004-03-05 14:07:09"},
                {"date alone", ParseDateTimeText, "05.03.2004", "2004-03-05"},
                {"ISO date", ParseDateText, "2004-03-05", "2004-03-05"},
            });
}

TEST(ParseDateTimeTexts, Failures) {
  const std::nullopt_t no = std::nullopt;
  CheckRows(UsSample(), {
                            {"garbage", ParseDateText, "abc", no},
                            {"empty", ParseDateText, "", no},
                            {"blanks only", ParseDateText, "  ", no},
                            {"month 13", ParseDateText, "13/5/2004", no},
                            {"month 0", ParseDateText, "0/5/2004", no},
                            {"February 30", ParseDateText, "2/30/2004", no},
                            {"no leap day", ParseDateText, "2/29/2003", no},
                            {"wrong separators", ParseDateText, "3-5-2004", no},
                            {"trailing text", ParseDateText, "3/5/2004x", no},
                            {"time after a date", ParseDateText, "3/5/2004 2:07:09 PM", no},
                            {"three-digit year", ParseDateText, "3/5/004", no},
                            {"two-digit year in the server's order", ParseDateText, "04-03-05", no},
                            {"five-digit year", ParseDateText, "3/5/20045", no},
                            {"three-digit day", ParseDateText, "3/005/2004", no},
                            {"missing marker", ParseTimeText, "2:07:09", no},
                            {"hour 0 on the 12-hour clock", ParseTimeText, "0:07:09 PM", no},
                            {"hour 13 on the 12-hour clock", ParseTimeText, "13:07:09 PM", no},
                            {"minute 60", ParseTimeText, "2:60:09 PM", no},
                            {"second 60", ParseTimeText, "2:07:60 PM", no},
                            {"unknown marker", ParseTimeText, "2:07:09 XM", no},
                            {"two blanks before the time", ParseDateTimeText, "3/5/2004  2:07:09 PM", no},
                            {"time without marker", ParseDateTimeText, "3/5/2004 2:07:09", no},
                        });
  CheckRows(GermanSample(), {
                                {"hour 25", ParseTimeText, "25:00:00", no},
                                {"US date", ParseDateText, "3/5/2004", no},
                                {"German date with time", ParseDateTimeText, "05.03.2004 24:00:00", no},
                            });
}

TEST(ParseDateTimeTexts, TokensOfOtherPatterns) {
  TLocaleFormats formats = GermanSample();
  formats.ShortDateFormat = "dddd, d. mmmm yyyy";
  formats.LongTimeFormat = "hh:nn:ss.zzz";
  formats.LongDayNames[5] = "Freitag";
  formats.LongDayNames[6] = "Samstag";
  formats.LongMonthNames[2] = "M\xC3\xA4rz";
  const std::nullopt_t no = std::nullopt;
  CheckRows(formats, {
                         {"names", ParseDateText, "Freitag, 5. M\xC3\xA4rz 2004", "2004-03-05"},
                         {"names in lower case", ParseDateText, "freitag, 5. m\xC3\xA4rz 2004", "2004-03-05"},
                         {"day name must fit the date", ParseDateText, "Samstag, 5. M\xC3\xA4rz 2004", no},
                         {"unknown month", ParseDateText, "Freitag, 5. Marz 2004", no},
                         {"milliseconds", ParseTimeText, "14:07:09.005", "14:07:09.005"},
                         {"date and time with milliseconds", ParseDateTimeText,
                          "Freitag, 5. M\xC3\xA4rz 2004 14:07:09.5", "2004-03-05 14:07:09.005"},
                     });

  TLocaleFormats quoted;
  quoted.ShortDateFormat = "yyyy\"y\"mm'm'dd";
  quoted.LongTimeFormat = "AM/PM h:nn";
  CheckRows(quoted, {
                        {"quoted text", ParseDateText, "2004y03m05", "2004-03-05"},
                        {"quoted text missing", ParseDateText, "20040305", no},
                        {"marker as written, before the hour", ParseTimeText, "PM 2:07", "14:07:00"},
                        {"marker in the morning", ParseTimeText, "am 12:07", "00:07:00"},
                    });

  TLocaleFormats twoDigitYear;
  twoDigitYear.ShortDateFormat = "m/d/yy";
  CheckRows(twoDigitYear, {{"two-digit year", ParseDateText, "3/5/04", "2004-03-05"}});
}

// Every text the export writes under a real locale reads back as the same value.
TEST(ParseDateTimeTexts, RoundTripUnderRealLocales) {
  struct Value {
    int year, month, day, hour, minute, second;
  };
  const std::vector<Value> values = {
      {2004, 3, 5, 14, 7, 9}, {2004, 3, 5, 0, 0, 0},      {2004, 3, 5, 0, 30, 0},  {2004, 3, 5, 12, 0, 0},
      {1, 1, 1, 23, 59, 59},  {9999, 12, 31, 11, 59, 59}, {1899, 12, 29, 6, 0, 0}, {1904, 2, 29, 13, 0, 1},
  };
  for (const char* locale : kLocales) {
    TFormatsScope scope(Named(locale));
    const TLocaleFormats& formats = LocaleFormats();
    for (const Value& v : values) {
      const TDateTime value = TimeStampToDateTime(
          {static_cast<std::int16_t>(v.year), static_cast<std::uint16_t>(v.month),
           static_cast<std::uint16_t>(v.day), static_cast<std::uint16_t>(v.hour),
           static_cast<std::uint16_t>(v.minute), static_cast<std::uint16_t>(v.second), 0});
      char date[16], time[16];
      std::snprintf(date, sizeof date, "%04d-%02d-%02d", v.year, v.month, v.day);
      std::snprintf(time, sizeof time, "%02d:%02d:%02d", v.hour, v.minute, v.second);
      const bool midnight = v.hour == 0 && v.minute == 0 && v.second == 0;
      const std::string stamp = midnight ? std::string(date) : std::string(date) + " " + time;

      const std::string dateText = DateTimeText(formats.ShortDateFormat, value);
      const std::string timeText = DateTimeText(formats.LongTimeFormat, value);
      const std::string stampText = DateTimeText("", value);
      EXPECT_EQ(ParseDateText(dateText), date) << locale << " [" << dateText << "]";
      EXPECT_EQ(ParseTimeText(timeText), time) << locale << " [" << timeText << "]";
      EXPECT_EQ(ParseDateTimeText(stampText), stamp) << locale << " [" << stampText << "]";
    }
  }
}

// The server's own forms never change their value, whatever the locale, and
// dates and times in them read under every locale (portable files).
TEST(ParseTexts, ServerFormsKeepTheirValue) {
  struct Row {
    TParse parse;
    const char* piece;
    const char* read;  // what a date or time reads as; a number reads as itself or not at all
  };
  const std::vector<Row> rows = {
      {ParseDateText, "2004-03-05", "2004-03-05"},
      {ParseTimeText, "14:07:09", "14:07:09"},
      {ParseTimeText, "14:07:09.1234", "14:07:09.1234"},
      {ParseDateTimeText, "2004-03-05 14:07:09", "2004-03-05 14:07:09"},
      {ParseDateTimeText, "2004-03-05 14:07:09.5", "2004-03-05 14:07:09.5000"},
      {ParseDateTimeText, "2004-03-05", "2004-03-05"},
      {ParseNumberText, "12.5", nullptr},
      {ParseNumberText, "-0.0001", nullptr},
      {ParseNumberText, "1.5E-7", nullptr},
  };
  std::vector<std::pair<std::string, TLocaleFormats>> setups = {{"portable", PortableLocaleFormats()}};
  for (const char* locale : kLocales) setups.emplace_back(locale, Named(locale));
  for (const auto& [name, formats] : setups) {
    TFormatsScope scope(formats);
    for (const Row& row : rows) {
      const auto result = row.parse(row.piece);
      if (row.read) {
        EXPECT_EQ(result, row.read) << name << " [" << row.piece << "]";
      } else {
        EXPECT_TRUE(!result || *result == row.piece) << name << " [" << row.piece << "] gave " << *result;
      }
    }
  }
}

// A file written under another locale is read by this locale's order or the
// server's, never by the server's month-first guess; a two-digit year in this
// locale's order.
TEST(ParseDateTimeTexts, EachLocaleReadsItsOwnOrder) {
  struct Row {
    const char* locale;  // the reading one
    const char* name;
    TParse parse;
    const char* piece;
    std::optional<std::string> result;
  };
  const std::nullopt_t no = std::nullopt;
  const std::vector<Row> rows = {
      {"de_DE.UTF-8", "en_GB date", ParseDateText, "05/03/2004", no},
      {"de_DE.UTF-8", "en_GB time stamp", ParseDateTimeText, "05/03/2004 14:07:09", no},
      {"de_DE.UTF-8", "two-digit year", ParseDateTimeText, "05.03.04 14:07:09", "2004-03-05 14:07:09"},
      {"en_GB.UTF-8", "two-digit year", ParseDateText, "01/02/03", "2003-02-01"},
      {"en_GB.UTF-8", "two-digit year of the last century", ParseDateText, "31/12/99", "1999-12-31"},
      {"en_US.UTF-8", "two-digit year, month first", ParseDateText, "01/02/03", "2003-01-02"},
      {"en_GB.UTF-8", "tr_TR date", ParseDateText, "05-03-2004", no},
      {"tr_TR.UTF-8", "tr_TR date", ParseDateText, "05-03-2004", "2004-03-05"},
      {"en_US.UTF-8", "de_DE date", ParseDateText, "05.03.2004", no},
  };
  for (const Row& row : rows) {
    TFormatsScope scope(Named(row.locale));
    EXPECT_EQ(row.parse(row.piece), row.result) << row.locale << " " << row.name << " [" << row.piece << "]";
  }

  // Two digits name a year at most 50 years from now; of two, the one in
  // this century.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const int year = local.tm_year + 1900;
  const int tie = (year + 50) / 100 == year / 100 ? year + 50 : year - 50;
  TFormatsScope scope(Named("en_GB.UTF-8"));
  for (const int expected : {year + 49, year - 49, tie}) {
    char piece[16];
    std::snprintf(piece, sizeof piece, "07/08/%02d", expected % 100);
    char date[16];
    std::snprintf(date, sizeof date, "%04d-08-07", expected);
    EXPECT_EQ(ParseDateText(piece), date) << piece;
  }
}

// The forms a refusal names: the locale's pattern as its dates look, then the server's.
TEST(ParseDateTimeTexts, FormsNamedInMessages) {
  struct Row {
    const char* locale;
    std::string (*forms)();
    const char* text;
  };
  const std::vector<Row> rows = {
      {"de_DE.UTF-8", DateForms, "dd.mm.yyyy or yyyy-mm-dd"},
      {"de_DE.UTF-8", TimeForms, "hh:mm:ss"},
      {"de_DE.UTF-8", DateTimeForms, "dd.mm.yyyy hh:mm:ss or yyyy-mm-dd hh:mm:ss"},
      {"en_US.UTF-8", TimeForms, "hh:mm:ss AM/PM or hh:mm:ss"},
      {"tr_TR.UTF-8", DateForms, "dd-mm-yyyy or yyyy-mm-dd"},
  };
  for (const Row& row : rows) {
    TFormatsScope scope(Named(row.locale));
    EXPECT_EQ(row.forms(), row.text) << row.locale;
  }
  TFormatsScope portable(PortableLocaleFormats());
  EXPECT_EQ(DateTimeForms(), "yyyy-mm-dd hh:mm:ss");
}

TEST(ParseNumberText, PointSeparator) {
  const std::nullopt_t no = std::nullopt;
  TLocaleFormats formats;
  CheckRows(formats, {
                         {"decimal", ParseNumberText, "12.5", "12.5"},
                         {"negative", ParseNumberText, "-2.5", "-2.5"},
                         {"integer", ParseNumberText, "100", "100"},
                         {"plus dropped", ParseNumberText, "+3", "3"},
                         {"scientific", ParseNumberText, "1.23456789012346E18", "1.23456789012346E18"},
                         {"negative exponent", ParseNumberText, "1.5E-7", "1.5E-7"},
                         {"small e, plus exponent", ParseNumberText, "1e+5", "1E5"},
                         {"blanks around", ParseNumberText, " 7 ", "7"},
                         {"comma", ParseNumberText, "12,5", no},
                         {"grouping", ParseNumberText, "1,234", no},
                         {"garbage", ParseNumberText, "abc", no},
                         {"empty", ParseNumberText, "", no},
                         {"sign alone", ParseNumberText, "-", no},
                         {"separator without fraction", ParseNumberText, "1.", no},
                         {"separator without integer", ParseNumberText, ".5", no},
                         {"exponent without digits", ParseNumberText, "1E", no},
                         {"exponent sign without digits", ParseNumberText, "1E+", no},
                         {"two separators", ParseNumberText, "1.2.3", no},
                         {"inner blank", ParseNumberText, "12 5", no},
                         {"infinity", ParseNumberText, "INF", no},
                         {"not a number", ParseNumberText, "NAN", no},
                         {"trailing text", ParseNumberText, "12.5x", no},
                         {"double", ParsedDouble, " -2.5e-7\t", "-2.5e-07"},
                         {"double, comma", ParsedDouble, "1,5", no},
                         {"double, hexadecimal", ParsedDouble, "0x10", no},
                         {"double, infinity", ParsedDouble, "-inf", no},
                         {"double, not a number", ParsedDouble, "nan", no},
                         {"double, leading text", ParsedDouble, "x1.5", no},
                         {"double, separator without fraction", ParsedDouble, "1.", no},
                         {"double, smallest subnormal", ParsedDouble, "4.9E-324", "5e-324"},
                         {"double, above the range", ParsedDouble, "1.8E308", no},
                         {"double, below the range", ParsedDouble, "-1E-400", "-0"},
                     });
}

TEST(ParseNumberText, CommaSeparator) {
  const std::nullopt_t no = std::nullopt;
  CheckRows(GermanSample(), {
                                {"decimal", ParseNumberText, "12,5", "12.5"},
                                {"negative small", ParseNumberText, "-0,0001", "-0.0001"},
                                {"scientific", ParseNumberText, "1,5E-7", "1.5E-7"},
                                {"integer", ParseNumberText, "125", "125"},
                                {"point is never grouping", ParseNumberText, "12.5", no},
                                {"grouped", ParseNumberText, "1.234,5", no},
                                {"double", ParsedDouble, "-2,5E-7", "-2.5e-07"},
                                {"double, the server's form", ParsedDouble, "1.5", "1.5"},
                                {"double, server's form, no grouping", ParsedDouble, "1.234", "1.234"},
                                {"double, server's subnormal", ParsedDouble, "-4.9E-324", "-5e-324"},
                                {"double, grouped", ParsedDouble, "1.234,5", no},
                                {"double, two separators", ParsedDouble, "1,5.5", no},
                                {"double, hexadecimal", ParsedDouble, "0x10", no},
                                {"double, hexadecimal in the server's form", ParsedDouble, "0x1.8p1", no},
                                {"double, infinity", ParsedDouble, "INF", no},
                            });
}

TEST(ParseNumberText, RoundTripOfNumberTexts) {
  struct Row {
    double value;
    const char* server;
  };
  const std::vector<Row> rows = {
      {-2.5, "-2.5"},     {1.0 / 3, "0.3333333333333333"}, {1e15, "1E15"}, {0.000012, "1.2E-5"},
      {0.0001, "0.0001"},
  };
  for (const char* locale : kLocales) {
    TFormatsScope scope(Named(locale));
    for (const Row& row : rows) {
      EXPECT_EQ(ParseNumberText(FloatText(row.value)), row.server) << locale;
    }
    EXPECT_EQ(ParseNumberText(FixedPointText(-1234500)), "-123.45") << locale;
  }
}

}  // namespace

// Every double the export writes reads back bit for bit, under every locale
// and from a portable file under every locale: the 15-digit text where it
// suffices, 16 or 17 digits where it does not.
TEST(ParseNumberTexts, EveryDoubleReadsBackExactly) {
  const double kFloatMax = 3.4028234663852886e38;
  const std::vector<double> values = {0.30000000000000004,
                                      1.7976931348623157e308,
                                      -1.7976931348623157e308,
                                      4.9e-324,
                                      -4.9e-324,
                                      2.2250738585072014e-308,
                                      2.2250738585072009e-308,
                                      1.0 / 3,
                                      2.0 / 3,
                                      kFloatMax,
                                      -kFloatMax,
                                      1.1754943508222875e-38,
                                      0.1,
                                      1e15,
                                      123456789012345.67,
                                      9007199254740993.0,
                                      0.00012,
                                      -2.5,
                                      1e-5};
  std::vector<std::string> portableTexts;
  {
    TFormatsScope portable(PortableLocaleFormats());
    for (double value : values) portableTexts.push_back(FloatText(value));
  }
  for (const char* locale : kLocales) {
    TFormatsScope scope(Named(locale));
    for (std::size_t i = 0; i < values.size(); ++i) {
      for (const std::string& text : {FloatText(values[i]), portableTexts[i]}) {
        const std::optional<double> back = ParseDoubleText(text);
        ASSERT_TRUE(back.has_value()) << locale << " " << text;
        EXPECT_EQ(std::memcmp(&*back, &values[i], sizeof values[i]), 0) << locale << " " << text;
      }
    }
    // The 15-digit texts stay where they read back.
    EXPECT_EQ(FloatText(0.1), LocaleFormats().DecimalSeparator == ',' ? "0,1" : "0.1");
    EXPECT_EQ(FloatText(1e15), "1E15");
  }
  EXPECT_EQ(FloatText(0.30000000000000004), "0.30000000000000004");
  EXPECT_EQ(FloatText(4.9e-324), "4.94065645841247E-324");
  EXPECT_EQ(FloatText(-1.7976931348623157e308), "-1.7976931348623157E308");
  EXPECT_EQ(FloatText(kFloatMax), "3.4028234663852886E38");
  EXPECT_EQ(ParseDoubleText("1E400"), std::nullopt);
  EXPECT_EQ(ParseDoubleText("INF"), std::nullopt);
  // Above or below the range by its digits, whatever the sign of its exponent.
  const std::string zeros(400, '0');
  EXPECT_EQ(ParseDoubleText("1" + zeros + "E-5"), std::nullopt);
  EXPECT_EQ(ParsedDouble("-0." + zeros + "1E5"), "-0");
}

// A fraction of a second stands right after the seconds and reads back to
// the ten-thousandth; whole seconds keep their text.
TEST(ParseDateTimeTexts, FractionsOfSecondsReadBack) {
  struct Row {
    int tenThousandths;  // since midnight
    const char* us;
    const char* german;
    const char* server;
  };
  const std::vector<Row> rows = {
      {452967890, "12:34:56.789 PM", "12:34:56.789", "12:34:56.7890"},
      {863999999, "11:59:59.9999 PM", "23:59:59.9999", "23:59:59.9999"},
      {10001, "12:00:01.0001 AM", "00:00:01.0001", "00:00:01.0001"},
      {452960000, "12:34:56 PM", "12:34:56", "12:34:56"},
  };
  for (const Row& row : rows) {
    const TDateTime whole = (row.tenThousandths / 10000) / 86400.0;
    const int fraction = row.tenThousandths % 10000;
    for (bool german : {false, true}) {
      TFormatsScope scope(german ? GermanSample() : UsSample());
      const std::string text = DateTimeText(LocaleFormats().LongTimeFormat, whole, fraction);
      EXPECT_EQ(text, german ? row.german : row.us);
      EXPECT_EQ(ParseTimeText(text), row.server) << text;
    }
  }
  TFormatsScope scope(GermanSample());
  // Midnight with a fraction shows its time; the date alone reads back as before.
  const std::string stamp = DateTimeText("", EncodeDate(2020, 1, 1), 5000);
  EXPECT_EQ(stamp, "01.01.2020 00:00:00.5");
  EXPECT_EQ(ParseDateTimeText(stamp), "2020-01-01 00:00:00.5000");
  EXPECT_EQ(DateTimeText("", EncodeDate(2020, 1, 1), 0), "01.01.2020");
  EXPECT_EQ(ParseDateTimeText("01.01.2020 00:00:00.12345"), std::nullopt);
}
