#include "driver/fb_values.h"

#include <algorithm>

namespace fbdriver {

TSQLTimeStamp TimeStampFromFirebird(ISC_DATE date, ISC_TIME time) {
  // Days since 1 March of year 0 in the proleptic Gregorian calendar, split
  // into 400-year eras (the civil-from-days algorithm).
  std::int64_t z = static_cast<std::int64_t>(date) - 40587 + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t dayOfEra = z - era * 146097;
  std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  TSQLTimeStamp stamp;
  stamp.year = static_cast<std::int16_t>(year);
  stamp.month = static_cast<std::uint16_t>(month);
  stamp.day = static_cast<std::uint16_t>(day);
  std::uint32_t milliseconds = MillisecondsFromFirebird(time);
  stamp.hour = static_cast<std::uint16_t>(milliseconds / 3600000);
  stamp.minute = static_cast<std::uint16_t>(milliseconds / 60000 % 60);
  stamp.second = static_cast<std::uint16_t>(milliseconds / 1000 % 60);
  stamp.fraction = milliseconds % 1000;
  return stamp;
}

double DateTimeValue(std::int32_t days, std::uint32_t milliseconds) {
  double fraction = static_cast<double>(milliseconds) / kMillisecondsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

TBcd MakeBcd(std::int64_t value, int scale, int precision) {
  TBcd bcd;
  bool negative = value < 0;
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::uint8_t digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<std::uint8_t>(magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  int places = std::clamp(-scale, 0, 63);
  int width = std::clamp(std::max({precision, count, places}), 1, 64);
  // Digits are packed two per byte, most significant first, right-aligned
  // within the precision.
  for (int i = 0; i < count; ++i) {
    int position = width - 1 - i;
    bcd.fraction[position / 2] |= static_cast<std::uint8_t>(position % 2 == 0 ? digits[i] << 4 : digits[i]);
  }
  bcd.precision = static_cast<std::uint8_t>(width);
  bcd.signSpecialPlaces = static_cast<std::uint8_t>((negative && value != 0 ? 0x80 : 0) | places);
  return bcd;
}

}  // namespace fbdriver
