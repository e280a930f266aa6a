#include "db/locale_formats.h"

#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "db/value_text.h"
#include "formats_scope.h"

namespace {

const TDateTime kSample = EncodeDate(2004, 3, 5) + EncodeTime(14, 7, 9, 0);

TLocaleFormats Named(const char* name) {
  std::optional<TLocaleFormats> formats = ReadLocaleFormats(name);
  if (!formats) {
    ADD_FAILURE() << "locale " << name << " is not installed; scripts/gen-locales.sh makes it";
    return {};
  }
  return *formats;
}

TEST(DatePatternOf, TranslatesDateFormats) {
  struct Row {
    const char* name;
    const char* dateFormat;
    bool withEras;
    char separator;
    const char* pattern;
    const char* sampleText;  // 5 March 2004 under the pattern, English names
  };
  const std::vector<Row> rows = {
      {"C two-digit year widened", "%m/%d/%y", false, '/', "mm/dd/yyyy", "03/05/2004"},
      {"composite %D", "%D", false, '/', "mm/dd/yyyy", "03/05/2004"},
      {"composite %F", "%F", false, '-', "yyyy-mm-dd", "2004-03-05"},
      {"German", "%d.%m.%Y", false, '.', "dd.mm.yyyy", "05.03.2004"},
      {"no padding flag", "%-d/%-m/%y", false, '/', "d/m/yyyy", "5/3/2004"},
      {"space-padded day", "%e.%m.%Y", false, '.', "d.mm.yyyy", "5.03.2004"},
      {"names", "%A %d %B %Y", false, ' ', "dddd dd mmmm yyyy", "Friday 05 March 2004"},
      {"short names", "%a %d %b %Y", false, ' ', "ddd dd mmm yyyy", "Fri 05 Mar 2004"},
      {"letters stay text", "%a, %Y.eko %bren %da", false, ',', "ddd, yyyy.\"eko\" mmm\"ren\" dd\"a\"",
       "Fri, 2004.eko Marren 05a"},
      {"slash that is no separator", "%d/%m-%Y", false, '-', "dd\"/\"mm-yyyy", "05/03-2004"},
      {"quote characters", "%d'%m\"%Y", false, '\'', "dd\"'\"mm'\"'yyyy", "05'03\"2004"},
      {"multibyte text kept", "%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", false, '/',
       "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88"
       "dd\xE6\x97\xA5",
       "2004\xE5\xB9\xB4"
       "03\xE6\x9C\x88"
       "05\xE6\x97\xA5"},
      {"alternative digits ignored", "%Oy/%Om/%Od", false, '/', "yyyy/mm/dd", "2004/03/05"},
      {"era year without eras", "%d/%m/%Ey", false, '/', "dd/mm/yyyy", "05/03/2004"},
      {"century and year", "%C%y", false, '/', "yyyy", "2004"},
      {"percent sign", "%d%%", false, '/', "dd%", "05%"},
      {"unknown conversion dropped", "%d.%m.%Y %j", false, '.', "dd.mm.yyyy ", "05.03.2004 "},
  };
  TLocaleFormats formats;
  for (const Row& row : rows) {
    const std::string pattern = DatePatternOf(row.dateFormat, row.withEras, row.separator);
    EXPECT_EQ(pattern, row.pattern) << row.name;
    formats.DateSeparator = row.separator;
    TFormatsScope scope(formats);
    EXPECT_EQ(DateTimeText(pattern, kSample), row.sampleText) << row.name;
  }
}

TEST(DatePatternOf, EraConversionsWithEras) {
  EXPECT_EQ(DatePatternOf("%d/%m/%Ey", true, '/'), "dd/mm/ee");
  EXPECT_EQ(DatePatternOf("%EC%Ey", true, '/'), "ggee");
  EXPECT_EQ(DatePatternOf("%EY", true, '/'), "gg ee");
}

TEST(TimePatternsOf, AssemblesFromTheHourAndMarker) {
  struct Row {
    const char* name;
    const char* timeFormat;
    const char* shortTime;
    const char* longTime;
  };
  const std::vector<Row> rows = {
      {"24-hour", "%H:%M:%S", "hh:mm", "hh:mm:ss"},
      {"composite %T", "%T", "hh:mm", "hh:mm:ss"},
      {"composite %R", "%R", "hh:mm", "hh:mm:ss"},
      {"composite %r", "%r", "hh:mm AMPM", "hh:mm:ss AMPM"},
      {"12-hour without zero", "%l:%M:%S %p", "h:mm AMPM", "h:mm:ss AMPM"},
      {"24-hour without zero", "%k:%M:%S", "h:mm", "h:mm:ss"},
      {"no padding flag", "%-I:%M %p", "h:mm AMPM", "h:mm:ss AMPM"},
      {"marker first", "%p %I:%M:%S %Z", "AMPM hh:mm", "AMPM hh:mm:ss"},
      {"zone first, marker last", "%Z %I:%M:%S %p", "hh:mm AMPM", "hh:mm:ss AMPM"},
      {"alternative digits", "%OI:%OM:%OS %p", "hh:mm AMPM", "hh:mm:ss AMPM"},
      {"text around", "kl. %H.%M %z", "hh:mm", "hh:mm:ss"},
  };
  for (const Row& row : rows) {
    const auto patterns = TimePatternsOf(row.timeFormat);
    ASSERT_TRUE(patterns.has_value()) << row.name;
    EXPECT_EQ(patterns->ShortTime, row.shortTime) << row.name;
    EXPECT_EQ(patterns->LongTime, row.longTime) << row.name;
  }
  EXPECT_FALSE(TimePatternsOf("").has_value());
  EXPECT_FALSE(TimePatternsOf("%M:%S").has_value());
}

TEST(SeparatorOf, FirstPunctuationOutsideConversions) {
  struct Row {
    const char* name;
    const char* format;
    char separator;
  };
  const std::vector<Row> rows = {
      {"slash", "%m/%d/%Y", '/'},
      {"dot", "%d.%m.%Y", '.'},
      {"composite %F", "%F", '-'},
      {"composite %T", "%T", ':'},
      {"after a zone", "%Z %I:%M:%S %p", ':'},
      {"letters skipped", "kl. %H.%M", '.'},
      {"blank alone", "%d %B %Y", ' '},
      {"none", "%Y\xE5\xB9\xB4", '?'},
      {"flags skipped", "%-d.%-m.%Y", '.'},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(SeparatorOf(row.format, '?'), row.separator) << row.name;
  }
}

// What the C library's own locales give, and how 5 March 2004 14:07:09 reads under them.
TEST(ReadLocaleFormats, RealLocales) {
  struct Row {
    const char* locale;
    char decimal;
    char thousand;
    char dateSeparator;
    char timeSeparator;
    const char* shortDate;
    const char* shortTime;
    const char* longTime;
    const char* am;
    const char* pm;
    const char* march;
    const char* shortMarch;
    const char* sunday;
    const char* shortSunday;
    const char* dateAndTime;
  };
  const std::vector<Row> rows = {
      {"C.UTF-8", '.', ',', '/', ':', "mm/dd/yyyy", "hh:mm", "hh:mm:ss", "AM", "PM", "March", "Mar", "Sunday",
       "Sun", "03/05/2004 14:07:09"},
      {"en_US.UTF-8", '.', ',', '/', ':', "mm/dd/yyyy", "hh:mm AMPM", "hh:mm:ss AMPM", "AM", "PM", "March",
       "Mar", "Sunday", "Sun", "03/05/2004 02:07:09 PM"},
      {"en_GB.UTF-8", '.', ',', '/', ':', "dd/mm/yyyy", "hh:mm", "hh:mm:ss", "am", "pm", "March", "Mar",
       "Sunday", "Sun", "05/03/2004 14:07:09"},
      {"de_DE.UTF-8", ',', '.', '.', ':', "dd.mm.yyyy", "hh:mm", "hh:mm:ss", "am", "pm", "M\xC3\xA4rz",
       "M\xC3\xA4r", "Sonntag", "So", "05.03.2004 14:07:09"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.locale);
    const TLocaleFormats formats = Named(row.locale);
    EXPECT_EQ(formats.DecimalSeparator, row.decimal);
    EXPECT_EQ(formats.ThousandSeparator, row.thousand);
    EXPECT_EQ(formats.DateSeparator, row.dateSeparator);
    EXPECT_EQ(formats.TimeSeparator, row.timeSeparator);
    EXPECT_EQ(formats.ShortDateFormat, row.shortDate);
    EXPECT_EQ(formats.LongDateFormat, "mmmm d, yyyy");
    EXPECT_EQ(formats.ShortTimeFormat, row.shortTime);
    EXPECT_EQ(formats.LongTimeFormat, row.longTime);
    EXPECT_EQ(formats.TimeAMString, row.am);
    EXPECT_EQ(formats.TimePMString, row.pm);
    EXPECT_EQ(formats.LongMonthNames[2], row.march);
    EXPECT_EQ(formats.ShortMonthNames[2], row.shortMarch);
    EXPECT_EQ(formats.LongDayNames[0], row.sunday);
    EXPECT_EQ(formats.ShortDayNames[0], row.shortSunday);
    TFormatsScope scope(formats);
    EXPECT_EQ(DateTimeText("", kSample), row.dateAndTime);
  }
}

TEST(ReadLocaleFormats, TwoDigitYearKeepsItsCentury) {
  // en_GB's date format has %y; an exported date must still tell 1904 from 2004.
  TFormatsScope scope(Named("en_GB.UTF-8"));
  EXPECT_EQ(DateTimeText(LocaleFormats().ShortDateFormat, EncodeDate(1904, 3, 5)), "05/03/1904");
  EXPECT_EQ(DateTimeText(LocaleFormats().ShortDateFormat, EncodeDate(2004, 3, 5)), "05/03/2004");
}

TEST(ReadLocaleFormats, UnknownLocale) { EXPECT_FALSE(ReadLocaleFormats("xx_NOWHERE.UTF-8").has_value()); }

TEST(LoadLocaleFormats, ReadsTheCurrentLocale) {
  locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
  ASSERT_NE(german, nullptr) << "scripts/gen-locales.sh makes de_DE.UTF-8";
  const locale_t previous = uselocale(german);
  TFormatsScope scope(TLocaleFormats{});
  LoadLocaleFormats();
  uselocale(previous);
  freelocale(german);

  EXPECT_EQ(LocaleFormats().DecimalSeparator, ',');
  EXPECT_EQ(LocaleFormats().ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(LocaleFormats().LongMonthNames[2], "M\xC3\xA4rz");
  EXPECT_EQ(FloatText(-2.5), "-2,5");
}

// The formats come from the environment's locale or are the portable ones;
// either way the C library writes and reads numbers with ".", as the
// embedded engine in this process needs.
TEST(SetUpProcessLocale, FormatsFromTheSourceNumbersOfTheCLibraryInC) {
  struct Row {
    TFormatsSource source;
    char decimalSeparator;
    const char* date;
  };
  const std::vector<Row> rows = {
      {TFormatsSource::fsUserLocale, ',', "05.03.2004"},
      {TFormatsSource::fsPortable, '.', "2004-03-05"},
  };
  const std::string previousLocale = setlocale(LC_ALL, nullptr);
  const char* previousEnvironment = getenv("LC_ALL");
  const std::optional<std::string> savedEnvironment =
      previousEnvironment ? std::optional<std::string>(previousEnvironment) : std::nullopt;
  TFormatsScope scope(TLocaleFormats{});
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  for (const Row& row : rows) {
    SetUpProcessLocale(row.source);
    EXPECT_EQ(LocaleFormats().DecimalSeparator, row.decimalSeparator);
    EXPECT_EQ(DateTimeText(LocaleFormats().ShortDateFormat, kSample), row.date);
    EXPECT_STREQ(localeconv()->decimal_point, ".");
    EXPECT_STREQ(nl_langinfo(ABMON_3), "M\xC3\xA4r") << "the rest of the locale is the user's";
  }
  if (savedEnvironment) {
    setenv("LC_ALL", savedEnvironment->c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  setlocale(LC_ALL, previousLocale.c_str());
}

}  // namespace
