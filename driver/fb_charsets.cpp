#include "driver/fb_charsets.h"

#include <algorithm>

namespace fbdriver {

namespace {

struct TCharSet {
  std::uint8_t id;
  const char* name;
  std::uint8_t bytesPerChar;
};

// Firebird 3's own sets; their numbers are fixed in every database.
constexpr TCharSet kCharSets[] = {
    {0, "NONE", 1},       {1, "OCTETS", 1},     {2, "ASCII", 1},      {3, "UNICODE_FSS", 3},
    {4, "UTF8", 4},       {5, "SJIS_0208", 2},  {6, "EUCJ_0208", 2},  {9, "DOS737", 1},
    {10, "DOS437", 1},    {11, "DOS850", 1},    {12, "DOS865", 1},    {13, "DOS860", 1},
    {14, "DOS863", 1},    {15, "DOS775", 1},    {16, "DOS858", 1},    {17, "DOS862", 1},
    {18, "DOS864", 1},    {19, "NEXT", 1},      {21, "ISO8859_1", 1}, {22, "ISO8859_2", 1},
    {23, "ISO8859_3", 1}, {34, "ISO8859_4", 1}, {35, "ISO8859_5", 1}, {36, "ISO8859_6", 1},
    {37, "ISO8859_7", 1}, {38, "ISO8859_8", 1}, {39, "ISO8859_9", 1}, {40, "ISO8859_13", 1},
    {44, "KSC_5601", 2},  {45, "DOS852", 1},    {46, "DOS857", 1},    {47, "DOS861", 1},
    {48, "DOS866", 1},    {49, "DOS869", 1},    {50, "CYRL", 1},      {51, "WIN1250", 1},
    {52, "WIN1251", 1},   {53, "WIN1252", 1},   {54, "WIN1253", 1},   {55, "WIN1254", 1},
    {56, "BIG_5", 2},     {57, "GB_2312", 2},   {58, "WIN1255", 1},   {59, "WIN1256", 1},
    {60, "WIN1257", 1},   {63, "KOI8R", 1},     {64, "KOI8U", 1},     {65, "WIN1258", 1},
    {66, "TIS620", 1},    {67, "GBK", 2},       {68, "CP943C", 2},    {69, "GB18030", 4},
};

const TCharSet* Find(std::uint8_t charSet) {
  for (const TCharSet& known : kCharSets) {
    if (known.id == charSet) return &known;
  }
  return nullptr;
}

// The bytes of the character that starts at text[at], by the set's rules
// for its lead bytes.
std::size_t CharacterBytes(std::uint8_t charSet, const unsigned char* text, std::size_t at,
                           std::size_t length) {
  const unsigned char lead = text[at];
  if (lead < 0x80) return 1;
  switch (charSet) {
    case 5:   // SJIS_0208
    case 68:  // CP943C: half-width katakana (A1..DF) take one byte
      return (lead >= 0x81 && lead <= 0x9F) || lead >= 0xE0 ? 2 : 1;
    case 6:  // EUCJ_0208
      return lead == 0x8F ? 3 : 2;
    case 69:  // GB18030: a digit after the lead byte makes four bytes
      return at + 1 < length && text[at + 1] >= 0x30 && text[at + 1] <= 0x39 ? 4 : 2;
    default:  // KSC_5601, BIG_5, GB_2312, GBK
      return 2;
  }
}

}  // namespace

const char* CharSetName(std::uint8_t charSet) {
  const TCharSet* known = Find(charSet);
  return known ? known->name : nullptr;
}

unsigned BytesPerChar(std::uint8_t charSet) {
  const TCharSet* known = Find(charSet);
  return known ? known->bytesPerChar : 1;
}

std::size_t CharacterPrefix(std::uint8_t charSet, const char* text, std::size_t length,
                            std::size_t characters) {
  if (BytesPerChar(charSet) == 1) return std::min(length, characters);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::size_t count = 0;
  if (charSet == 3 || charSet == 4) {
    // UNICODE_FSS and UTF8: every byte but a continuation byte starts one.
    for (std::size_t i = 0; i < length; ++i) {
      if ((bytes[i] & 0xC0) != 0x80) {
        if (count == characters) return i;
        ++count;
      }
    }
    return length;
  }
  std::size_t at = 0;
  for (; at < length && count < characters; ++count) at += CharacterBytes(charSet, bytes, at, length);
  return std::min(at, length);
}

}  // namespace fbdriver
