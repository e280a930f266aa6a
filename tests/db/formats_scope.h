// Fixed locale formats for tests of the number and date texts.
#pragma once

#include "db/locale_formats.h"

// Sets LocaleFormats() for one test and puts the old record back afterwards.
class TFormatsScope {
 public:
  explicit TFormatsScope(const TLocaleFormats& formats) : m_saved(LocaleFormats()) {
    LocaleFormats() = formats;
  }
  ~TFormatsScope() { LocaleFormats() = m_saved; }

 private:
  TLocaleFormats m_saved;
};

// A 12-hour locale with the marker last: 3/5/2004 2:07:09 PM.
inline TLocaleFormats UsSample() {
  TLocaleFormats formats;
  formats.ShortDateFormat = "M/d/yyyy";
  formats.LongTimeFormat = "h:mm:ss AMPM";
  formats.ShortTimeFormat = "h:mm AMPM";
  formats.TimeAMString = "AM";
  formats.TimePMString = "PM";
  return formats;
}

// A 24-hour locale with a decimal comma: 05.03.2004 14:07:09.
inline TLocaleFormats GermanSample() {
  TLocaleFormats formats;
  formats.DecimalSeparator = ',';
  formats.DateSeparator = '.';
  formats.ShortDateFormat = "dd.MM.yyyy";
  formats.LongTimeFormat = "hh:mm:ss";
  formats.ShortTimeFormat = "hh:mm";
  return formats;
}
