#include "db/locale_charset.h"

#include <langinfo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace {

// Upper case, without "-" and "_": "iso-8859-1" and "ISO8859_1" are one name.
std::string Folded(std::string_view codeset) {
  std::string folded;
  for (char c : codeset) {
    if (c == '-' || c == '_') continue;
    folded += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return folded;
}

// The number after prefix when name is prefix and one of numbers; "" otherwise.
template <std::size_t N>
std::string Numbered(const std::string& name, std::string_view prefix,
                     const std::array<std::string_view, N>& numbers) {
  if (!name.starts_with(prefix)) return {};
  const std::string_view number = std::string_view(name).substr(prefix.size());
  return std::find(numbers.begin(), numbers.end(), number) != numbers.end() ? std::string(number)
                                                                            : std::string();
}

}  // namespace

std::string FirebirdCharSet(std::string_view codeset) {
  static const std::pair<std::string_view, const char*> kNamed[] = {
      {"UTF8", "UTF8"},       {"KOI8R", "KOI8R"},        {"KOI8U", "KOI8U"},
      {"EUCKR", "KSC_5601"},  {"BIG5", "BIG_5"},         {"GB2312", "GB_2312"},
      {"GBK", "GBK"},         {"GB18030", "GB18030"},    {"TIS620", "TIS620"},
      {"EUCJP", "EUCJ_0208"}, {"SHIFTJIS", "SJIS_0208"}, {"SJIS", "SJIS_0208"},
  };
  static constexpr std::array<std::string_view, 10> kIsoParts = {"1", "2", "3", "4", "5",
                                                                 "6", "7", "8", "9", "13"};
  static constexpr std::array<std::string_view, 9> kWindows = {"1250", "1251", "1252", "1253", "1254",
                                                               "1255", "1256", "1257", "1258"};
  static constexpr std::array<std::string_view, 15> kDos = {"437", "737", "775", "850", "852",
                                                            "857", "858", "860", "861", "862",
                                                            "863", "864", "865", "866", "869"};
  const std::string name = Folded(codeset);
  for (const auto& [codesetName, charSet] : kNamed) {
    if (name == codesetName) return charSet;
  }
  if (std::string part = Numbered(name, "ISO8859", kIsoParts); !part.empty()) return "ISO8859_" + part;
  for (std::string_view prefix : {"CP", "WINDOWS"}) {
    if (std::string page = Numbered(name, prefix, kWindows); !page.empty()) return "WIN" + page;
  }
  for (std::string_view prefix : {"CP", "IBM"}) {
    if (std::string page = Numbered(name, prefix, kDos); !page.empty()) return "DOS" + page;
  }
  return "NONE";
}

std::string LocaleCharSet() { return FirebirdCharSet(nl_langinfo(CODESET)); }
