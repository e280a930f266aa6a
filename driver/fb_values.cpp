#include "driver/fb_values.h"


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
  stamp.hour = static_cast<std::uint16_t>(time / 36000000);
  stamp.minute = static_cast<std::uint16_t>(time / 600000 % 60);
  stamp.second = static_cast<std::uint16_t>(time / 10000 % 60);
  stamp.fraction = time % 10000;
  return stamp;
}

double DateTimeValue(std::int32_t days, std::uint32_t milliseconds) {
  double fraction = static_cast<double>(milliseconds) / kMillisecondsPerDay;
  return days < 0 ? days - fraction : days + fraction;
}

}  // namespace fbdriver
