// The one process-wide record of locale-derived formatting settings that all
// number and date texts read.
#pragma once

#include <array>
#include <string>

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
  std::array<std::string, 12> LongMonthNames{"January", "February", "March",     "April",   "May",      "June",
                                             "July",    "August",   "September", "October", "November", "December"};
  std::array<std::string, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
};

// The record the texts read. Filled by LoadLocaleFormats; tests may assign it.
TLocaleFormats& LocaleFormats();
// Reads the C library's current locale (LC_ALL as the process set it) into LocaleFormats().
void LoadLocaleFormats();
