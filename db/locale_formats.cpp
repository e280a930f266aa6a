#include "db/locale_formats.h"

TLocaleFormats& LocaleFormats() {
  static TLocaleFormats formats;
  return formats;
}

void LoadLocaleFormats() {}
