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
// Equal ignoring letter case, as names a connection hands over in the
// character set charSet compare: A-Z always, and every other letter with a
// case (Ä and ä, Й and й) where the names are UTF-8 (UTF8, UNICODE_FSS, and
// NONE or no set, in which names come as the catalogue keeps them, in UTF-8)
// or in a one-byte set the C library knows (WIN1252, ISO8859_1, KOI8R, ...).
bool SameName(std::string_view a, std::string_view b, std::string_view charSet);
// The bytes of the well-formed UTF-8 character that starts at `at` (no
// overlong form, no surrogate, nothing above U+10FFFF); 0 when none does.
std::size_t Utf8CharacterLength(std::string_view text, std::size_t at);
// Whether every character of text is well-formed UTF-8.
bool IsUtf8(std::string_view text);
// "name: text", or text alone for an unnamed object.
std::string WithObjectName(const std::string& name, const std::string& text);
// The text as a 32-bit integer: optional blanks around, an optional sign and
// decimal digits. Throws EConvertError "'%s' is not a valid integer value".
int StrToInt(const std::string& text);
