// Firebird's character sets by the numbers the server describes them with:
// their names, their widest character, and where characters begin in a text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fbdriver {

inline constexpr std::uint8_t kCharSetNone = 0;
inline constexpr std::uint8_t kCharSetOctets = 1;

// The set's name as the catalogue spells it (RDB$CHARACTER_SETS); null for a
// number that Firebird 3 does not define.
const char* CharSetName(std::uint8_t charSet);

// The most bytes one character of the set takes (1 for an unknown set).
unsigned BytesPerChar(std::uint8_t charSet);

// The bytes of the first `characters` characters of text, a text in that
// set (all of it when it holds fewer).
std::size_t CharacterPrefix(std::uint8_t charSet, const char* text, std::size_t length,
                            std::size_t characters);

}  // namespace fbdriver
