// Placeholder forms until the exact conversions land.
#include "db/value_text.h"

#include <cstdio>

#include "db/exceptions.h"
#include "db/locale_formats.h"

std::string FloatText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return buffer;
}

std::string FixedPointText(std::int64_t tenThousandths) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.4f", static_cast<double>(tenThousandths) / 10000.0);
  return buffer;
}

std::string BcdText(const TBcd&) { return "0"; }

std::string DateTimeText(std::string_view, TDateTime value) { return FloatText(value); }

TDateTime EncodeDate(int, int, int) { return 0; }
TDateTime EncodeTime(int, int, int, int) { return 0; }
TDateTime TimeStampToDateTime(const TSQLTimeStamp&) { return 0; }
