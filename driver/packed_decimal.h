// The one reading and writing of packed decimals (TBcd): digit access, and
// the packing of a scaled integer as the server stores NUMERIC and DECIMAL
// values. Used by the driver, which makes them, and by the access layer,
// which turns them into texts and fixed-point counts.
#pragma once

#include <algorithm>
#include <cstdint>

#include "driver/sql_driver.h"

namespace packed {

inline constexpr int kMaxDigits = 64;

// The digit at index (0 the most significant of the precision's digits).
inline int Digit(const TBcd& value, int index) {
  const std::uint8_t byte = value.fraction[index / 2];
  return index % 2 == 0 ? byte >> 4 : byte & 0x0F;
}

inline void SetDigit(TBcd& value, int index, int digit) {
  std::uint8_t& byte = value.fraction[index / 2];
  byte = index % 2 == 0 ? static_cast<std::uint8_t>((byte & 0x0F) | (digit << 4))
                        : static_cast<std::uint8_t>((byte & 0xF0) | digit);
}

inline int Places(const TBcd& value) { return value.signSpecialPlaces & 0x3F; }
inline bool Negative(const TBcd& value) { return (value.signSpecialPlaces & 0x80) != 0; }

// False for a precision of 0 or above 64 and for a nibble that is no digit.
inline bool WellFormed(const TBcd& value) {
  if (value.precision == 0 || value.precision > kMaxDigits) return false;
  for (int i = 0; i < value.precision; ++i) {
    if (Digit(value, i) > 9) return false;
  }
  return true;
}

// The digit at the given power of ten (0 outside the value's digits).
inline int DigitAtPower(const TBcd& value, int power) {
  const int index = value.precision - Places(value) - 1 - power;
  return index >= 0 && index < value.precision ? Digit(value, index) : 0;
}

// Digits the value needs before its decimal point (0 when it is below 1).
inline int IntegerDigits(const TBcd& value) {
  for (int index = 0; index < value.precision - Places(value); ++index) {
    if (Digit(value, index) != 0) return value.precision - Places(value) - index;
  }
  return 0;
}

// The scaled integer value * 10^scale (scale 0 or negative) with -scale
// places. Its precision is the given one, or more when the value has more
// digits than that: the server's storage integer holds more digits than a
// column declares (a NUMERIC(18,4) holds 19, a NUMERIC(9,6) 10).
inline TBcd FromScaledInteger(std::int64_t value, int scale, int precision) {
  TBcd bcd;
  const bool negative = value < 0;
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::uint8_t digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<std::uint8_t>(magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int places = std::clamp(-scale, 0, 63);
  const int width = std::clamp(std::max({precision, count, places}), 1, kMaxDigits);
  // Right-aligned within the precision.
  for (int i = 0; i < count; ++i) SetDigit(bcd, width - 1 - i, digits[i]);
  bcd.precision = static_cast<std::uint8_t>(width);
  bcd.signSpecialPlaces = static_cast<std::uint8_t>((negative ? 0x80 : 0) | places);
  return bcd;
}

}  // namespace packed
