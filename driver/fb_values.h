// Conversions from the client library's value formats to the driver
// contract's: dates, times, time stamps and packed decimals.
#pragma once

#include <ibase.h>

#include <cstdint>

#include "driver/sql_driver.h"

namespace fbdriver {

// Firebird counts days from 17 November 1858; the contract from 30 December 1899.
inline constexpr std::int32_t kDayOffset = 15018;
inline constexpr std::uint32_t kMillisecondsPerDay = 86400000;

inline std::int32_t DaysFromFirebird(ISC_DATE date) { return date - kDayOffset; }
// Firebird keeps times in units of 1/10000 second.
inline std::uint32_t MillisecondsFromFirebird(ISC_TIME time) { return time / 10; }

// The date's year, month and day with the time's fields, fraction in
// ten-thousandths of a second as Firebird stores it.
TSQLTimeStamp TimeStampFromFirebird(ISC_DATE date, ISC_TIME time);

// A date-time as a day count with the time as its fraction; before day 0 the
// fraction is subtracted (-1.25 is 29 December 1899, 06:00).
double DateTimeValue(std::int32_t days, std::uint32_t milliseconds);

}  // namespace fbdriver
