// Number and date texts under the process-wide locale formats.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/sql_driver.h"

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// General form with 15 significant digits: "0", "-2.5", "1E15", "1.5E-7", "INF", "NAN".
std::string FloatText(double value);
// A count of ten-thousandths in fixed point: 1234500 gives "123.45".
std::string FixedPointText(std::int64_t tenThousandths);
// A packed decimal; throws EConvertError("BCD overflow") for a precision of 0 or above 64.
std::string BcdText(const TBcd& value);
// The value under the pattern's tokens; an empty pattern means "c".
std::string DateTimeText(std::string_view pattern, TDateTime value);

// Throws EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
// All-zero fields give 0 (the zero date-time); throws as the two above.
TDateTime TimeStampToDateTime(const TSQLTimeStamp& stamp);
