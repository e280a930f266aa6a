#include "db/layer_text.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "base/exceptions.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The C library's Unicode letter cases, whatever the process's locale; null
// when it has none.
locale_t UnicodeCases() {
  static const locale_t cases = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return cases;
}

// A byte that begins no well-formed UTF-8 character stands for itself, above
// every code point.
constexpr char32_t kLoneByte = 0x110000;

// The character of UTF-8 text that starts at `at`, which moves past it.
char32_t NextCharacter(std::string_view text, std::size_t& at) {
  const auto first = static_cast<unsigned char>(text[at]);
  const std::size_t length = Utf8CharacterLength(text, at);
  if (length == 0) {
    ++at;
    return kLoneByte + first;
  }
  char32_t character = length == 1 ? first : first & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) character = (character << 6) | (text[at + i] & 0x3F);
  at += length;
  return character;
}

char32_t UpperCharacter(char32_t character) {
  if (character >= kLoneByte) return character;
  const locale_t cases = UnicodeCases();
  if (!cases)
    return character < 0x80 ? static_cast<char32_t>(UpperAscii(static_cast<char>(character))) : character;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(character), cases));
}

bool SameUtf8Name(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (UpperCharacter(NextCharacter(a, i)) != UpperCharacter(NextCharacter(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

// The name the C library's iconv gives a one-byte Firebird set; "" for none.
std::string IconvName(std::string_view charSet) {
  const auto after = [&](std::string_view prefix) {
    return charSet.starts_with(prefix) ? std::string(charSet.substr(prefix.size())) : std::string();
  };
  if (std::string part = after("ISO8859_"); !part.empty()) return "ISO-8859-" + part;
  if (std::string page = after("WIN"); !page.empty()) return "CP" + page;
  if (std::string page = after("DOS"); !page.empty()) return "CP" + page;
  if (charSet == "KOI8R") return "KOI8-R";
  if (charSet == "KOI8U") return "KOI8-U";
  if (charSet == "TIS620") return "TIS-620";
  return {};
}

// One iconv conversion, open for as long as it lives.
class TConverter {
 public:
  TConverter(const std::string& to, const std::string& from)
      : m_handle(iconv_open(to.c_str(), from.c_str())) {}
  ~TConverter() {
    if (Usable()) iconv_close(m_handle);
  }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  bool Usable() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
  // The bytes of one character in the other set; "" when it has no form there.
  std::string Convert(std::string bytes) {
    char out[8];
    char* in = bytes.data();
    char* outAt = out;
    std::size_t inLeft = bytes.size(), outLeft = sizeof out;
    const bool done = iconv(m_handle, &in, &inLeft, &outAt, &outLeft) != static_cast<std::size_t>(-1);
    iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
    return done && inLeft == 0 ? std::string(out, outAt) : std::string();
  }

 private:
  iconv_t m_handle;
};

std::string Utf8(char32_t character) {
  if (character < 0x80) return std::string(1, static_cast<char>(character));
  if (character < 0x800) {
    return {static_cast<char>(0xC0 | (character >> 6)), static_cast<char>(0x80 | (character & 0x3F))};
  }
  return {static_cast<char>(0xE0 | (character >> 12)), static_cast<char>(0x80 | ((character >> 6) & 0x3F)),
          static_cast<char>(0x80 | (character & 0x3F))};
}

using TByteCases = std::array<unsigned char, 256>;

// Each byte of a one-byte set in upper case, by way of Unicode's cases;
// nullopt for a set the C library cannot convert.
std::optional<TByteCases> ByteCases(const std::string& charSet) {
  const std::string name = IconvName(charSet);
  if (name.empty()) return std::nullopt;
  TConverter toUnicode("UTF-8", name), fromUnicode(name, "UTF-8");
  if (!toUnicode.Usable() || !fromUnicode.Usable()) return std::nullopt;
  TByteCases upper;
  for (std::size_t byte = 0; byte < upper.size(); ++byte) {
    upper[byte] = static_cast<unsigned char>(UpperAscii(static_cast<char>(byte)));
    if (byte < 0x80) continue;
    const std::string character = toUnicode.Convert(std::string(1, static_cast<char>(byte)));
    if (character.empty()) continue;
    std::size_t at = 0;
    const std::string back = fromUnicode.Convert(Utf8(UpperCharacter(NextCharacter(character, at))));
    if (back.size() == 1) upper[byte] = static_cast<unsigned char>(back[0]);
  }
  return upper;
}

// The cases of each one-byte set asked for, worked out once.
const std::optional<TByteCases>& CachedByteCases(std::string_view charSet) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<TByteCases>, std::less<>> sets;
  std::lock_guard lock(mutex);
  auto found = sets.find(charSet);
  if (found == sets.end()) found = sets.emplace(std::string(charSet), ByteCases(std::string(charSet))).first;
  return found->second;
}

}  // namespace

std::string TrimBlanks(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string TrimLeftBlanks(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && IsBlank(text[begin])) ++begin;
  return std::string(text.substr(begin));
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b, std::string_view charSet) {
  std::string set(charSet);
  for (char& c : set) c = UpperAscii(c);
  if (set.empty() || set == "NONE" || set == "UTF8" || set == "UNICODE_FSS") return SameUtf8Name(a, b);
  const std::optional<TByteCases>& upper = CachedByteCases(set);
  if (!upper) return SameText(a, b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if ((*upper)[static_cast<unsigned char>(a[i])] != (*upper)[static_cast<unsigned char>(b[i])])
      return false;
  }
  return true;
}

std::size_t Utf8CharacterLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at);
  if (first < 0x80) return 1;
  std::size_t length = 0;
  char32_t least = 0;  // below it, the form is an overlong one
  if (first >= 0xC2 && first < 0xE0) {
    length = 2, least = 0x80;
  } else if (first >= 0xE0 && first < 0xF0) {
    length = 3, least = 0x800;
  } else if (first >= 0xF0 && first < 0xF5) {
    length = 4, least = 0x10000;
  }
  if (length == 0 || at + length > text.size()) return 0;
  char32_t character = first & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    character = (character << 6) | (byte(at + i) & 0x3F);
  }
  if (character < least || (character >= 0xD800 && character < 0xE000) || character > 0x10FFFF) return 0;
  return length;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8CharacterLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string WithObjectName(const std::string& name, const std::string& text) {
  return name.empty() ? text : name + ": " + text;
}

int StrToInt(const std::string& text) {
  const std::string trimmed = TrimBlanks(text);
  std::size_t i = 0;
  bool negative = false;
  if (i < trimmed.size() && (trimmed[i] == '+' || trimmed[i] == '-')) negative = trimmed[i++] == '-';
  bool valid = i < trimmed.size();
  long long value = 0;
  for (; valid && i < trimmed.size(); ++i) {
    if (trimmed[i] < '0' || trimmed[i] > '9') {
      valid = false;
    } else {
      value = value * 10 + (trimmed[i] - '0');
      if (value > 2147483648LL) valid = false;
    }
  }
  if (negative) value = -value;
  if (!valid || value > 2147483647LL) throw EConvertError("'" + trimmed + "' is not a valid integer value");
  return static_cast<int>(value);
}
