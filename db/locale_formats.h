// The one process-wide record of locale-derived formatting settings that all
// number and date texts read.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

struct TLocaleFormats {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  std::string CurrencyString = "$";
  std::string ShortDateFormat = "m/d/yy";
  std::string LongDateFormat = "mmmm d, yyyy";
  std::string TimeAMString = "am";
  std::string TimePMString = "pm";
  std::string ShortTimeFormat = "h:mm AMPM";
  std::string LongTimeFormat = "h:mm:ss AMPM";
  std::array<std::string, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames{"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  // The locale whose eras the era tokens (e, g) write; empty: the process's own.
  std::string EraLocale;
};

// The record the texts read. Filled by SetUpProcessLocale; tests may assign it.
TLocaleFormats& LocaleFormats();
// Reads the C library's current locale (LC_ALL as the process set it) into LocaleFormats().
void LoadLocaleFormats();

// Where SetUpProcessLocale takes the number and date formats from.
enum class TFormatsSource {
  fsUserLocale,  // the user's locale, as the environment names it
  fsPortable,    // PortableLocaleFormats(), whatever the locale
};

// Takes the C library's locale from the environment (LC_ALL, LC_*, LANG),
// fills LocaleFormats() from source, and puts LC_NUMERIC back to "C". Called
// at start-up and again when the user's locale changes, while no other
// thread reads the formats or the C locale. A Qt program calls it after
// making its application object, which sets the whole locale itself.
void SetUpProcessLocale(TFormatsSource source);

// The server's own forms, whatever the locale: dates 2004-03-05, times
// 14:07:09 on a 24-hour clock, "." before decimals, English month and day
// names. A file written under them reads the same on every machine.
TLocaleFormats PortableLocaleFormats();

// The formats of the C library's current locale. An item the locale leaves
// empty keeps the record's default; a two-digit year of the date format is
// written with four digits.
TLocaleFormats ReadLocaleFormats();
// The formats of a named locale ("de_DE.UTF-8"), without touching the process
// locale; nullopt when the C library does not know that locale.
std::optional<TLocaleFormats> ReadLocaleFormats(const char* localeName);

// The short date pattern for a strftime date format (D_FMT): %d gives dd, %e d,
// %m mm, %y and %Y yyyy, %b mmm, %B mmmm, %a ddd, %A dddd (with the "-" flag
// one digit); %D and %F are expanded first. With eras, %EC gives gg, %Ey ee and
// %EY "gg ee". Other conversions are dropped; other characters are kept, letters
// and quotes quoted so they stay text, "/" bare only when it is the date separator.
std::string DatePatternOf(std::string_view dateFormat, bool withEras, char dateSeparator);

struct TTimePatterns {
  std::string ShortTime;
  std::string LongTime;
};
// The time patterns assembled from a strftime time format (T_FMT): "hh" or "h"
// (no leading zero for %k, %l), ":mm" and ":ss", and an "AMPM" part for a
// 12-hour clock (%I, %l), before the hour when %p stands before it. nullopt
// when the format names no hour.
std::optional<TTimePatterns> TimePatternsOf(std::string_view timeFormat);

// The first separator of a strftime format outside its conversions: a
// punctuation character, else a blank, else fallback.
char SeparatorOf(std::string_view format, char fallback);
