// Small text rules the access layer shares: trimming, letter-case-blind
// comparison, and the object name in front of a message.
#pragma once

#include <string>
#include <string_view>

// Without the leading and trailing characters of code 32 or less.
std::string TrimBlanks(std::string_view text);
// Without the leading characters of code 32 or less.
std::string TrimLeftBlanks(std::string_view text);
// Equal ignoring the letter case of A-Z.
bool SameText(std::string_view a, std::string_view b);
// "name: text", or text alone for an unnamed object.
std::string WithObjectName(const std::string& name, const std::string& text);
// The text as a 32-bit integer: optional blanks around, an optional sign and
// decimal digits. Throws EConvertError "'%s' is not a valid integer value".
int StrToInt(const std::string& text);
