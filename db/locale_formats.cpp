#include "db/locale_formats.h"

#include <langinfo.h>
#include <locale.h>

#include <clocale>
#include <cstring>

namespace {

// One strftime conversion: its letter, the "-" flag (no padding) and the E
// modifier (the locale's era).
struct TConversion {
  char Letter = '\0';
  bool NoPadding = false;
  bool Era = false;
  std::size_t End = 0;  // Index after the conversion
};

// Reads the conversion that starts with the "%" at pos; false when the format
// ends before its letter.
bool ReadConversion(std::string_view format, std::size_t pos, TConversion& conversion) {
  std::size_t i = pos + 1;
  conversion = TConversion{};
  while (i < format.size() && std::strchr("-_0^#", format[i]) != nullptr && format[i] != '\0') {
    if (format[i] == '-') conversion.NoPadding = true;
    ++i;
  }
  while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
  if (i < format.size() && (format[i] == 'E' || format[i] == 'O')) {
    conversion.Era = format[i] == 'E';
    ++i;
  }
  if (i >= format.size()) return false;
  conversion.Letter = format[i];
  conversion.End = i + 1;
  return true;
}

// Replaces the composite conversions by their parts.
std::string ExpandComposites(std::string_view format) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    TConversion conversion;
    if (format[i] != '%' || !ReadConversion(format, i, conversion)) {
      out += format[i];
      continue;
    }
    switch (conversion.Letter) {
      case 'D':
        out += "%m/%d/%y";
        break;
      case 'F':
        out += "%Y-%m-%d";
        break;
      case 'T':
        out += "%H:%M:%S";
        break;
      case 'R':
        out += "%H:%M";
        break;
      case 'r':
        out += "%I:%M:%S %p";
        break;
      default:
        out.append(format.substr(i, conversion.End - i));
        break;
    }
    i = conversion.End - 1;
  }
  return out;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Appends text of the format so that the date routine copies it: letters,
// quotes, ":" and a "/" that is not the date separator are quoted.
void AppendLiteral(std::string& out, std::string_view text, char dateSeparator) {
  bool open = false;
  for (char c : text) {
    const bool quoted = IsAsciiLetter(c) || c == '\'' || c == ':' || (c == '/' && dateSeparator != '/');
    if (quoted) {
      if (!open) out += '"';
      open = true;
      out += c;
      continue;
    }
    if (open) out += '"';
    open = false;
    if (c == '"') {
      out += "'\"'";
    } else {
      out += c;
    }
  }
  if (open) out += '"';
}

std::string Item(locale_t locale, nl_item item) {
  const char* text = nl_langinfo_l(item, locale);
  return text != nullptr ? text : "";
}

void ReadChar(locale_t locale, nl_item item, char& target) {
  const std::string text = Item(locale, item);
  if (text.size() == 1) target = text[0];
}

void ReadText(locale_t locale, nl_item item, std::string& target) {
  std::string text = Item(locale, item);
  if (!text.empty()) target = std::move(text);
}

TLocaleFormats ReadFrom(locale_t locale) {
  TLocaleFormats formats;
  ReadChar(locale, RADIXCHAR, formats.DecimalSeparator);
  ReadChar(locale, THOUSEP, formats.ThousandSeparator);

  // The currency item starts with its position: "-" before, "+" after, "." in
  // place of the decimal separator.
  std::string currency = Item(locale, CRNCYSTR);
  if (!currency.empty() && std::strchr("-+.", currency[0]) != nullptr) currency.erase(0, 1);
  if (!currency.empty()) formats.CurrencyString = currency;

  const std::string dateFormat = Item(locale, D_FMT);
  if (!dateFormat.empty()) {
    formats.DateSeparator = SeparatorOf(dateFormat, formats.DateSeparator);
    const bool withEras = !Item(locale, ERA).empty();
    std::string pattern = DatePatternOf(dateFormat, withEras, formats.DateSeparator);
    if (!pattern.empty()) formats.ShortDateFormat = std::move(pattern);
  }

  const std::string timeFormat = Item(locale, T_FMT);
  if (!timeFormat.empty()) {
    formats.TimeSeparator = SeparatorOf(timeFormat, formats.TimeSeparator);
    if (auto patterns = TimePatternsOf(timeFormat)) {
      formats.ShortTimeFormat = std::move(patterns->ShortTime);
      formats.LongTimeFormat = std::move(patterns->LongTime);
    }
  }

  ReadText(locale, AM_STR, formats.TimeAMString);
  ReadText(locale, PM_STR, formats.TimePMString);
  for (int i = 0; i < 12; ++i) {
    ReadText(locale, static_cast<nl_item>(ABMON_1 + i), formats.ShortMonthNames[static_cast<std::size_t>(i)]);
    ReadText(locale, static_cast<nl_item>(MON_1 + i), formats.LongMonthNames[static_cast<std::size_t>(i)]);
  }
  for (int i = 0; i < 7; ++i) {
    ReadText(locale, static_cast<nl_item>(ABDAY_1 + i), formats.ShortDayNames[static_cast<std::size_t>(i)]);
    ReadText(locale, static_cast<nl_item>(DAY_1 + i), formats.LongDayNames[static_cast<std::size_t>(i)]);
  }
  return formats;
}

}  // namespace

TLocaleFormats& LocaleFormats() {
  static TLocaleFormats formats;
  return formats;
}

void LoadLocaleFormats() { LocaleFormats() = ReadLocaleFormats(); }

void SetUpProcessLocale(TFormatsSource source) {
  std::setlocale(LC_ALL, "");
  if (source == TFormatsSource::fsPortable) {
    LocaleFormats() = PortableLocaleFormats();
  } else {
    LoadLocaleFormats();
  }
  // The user's number formats are in LocaleFormats now; the C library's own
  // number texts stay in the C locale, which the embedded Firebird engine,
  // running in this process, relies on.
  std::setlocale(LC_NUMERIC, "C");
}

TLocaleFormats PortableLocaleFormats() {
  TLocaleFormats formats;
  formats.DecimalSeparator = '.';
  formats.ThousandSeparator = ',';
  formats.DateSeparator = '-';
  formats.TimeSeparator = ':';
  formats.ShortDateFormat = "yyyy/mm/dd";
  formats.LongDateFormat = "yyyy/mm/dd";
  formats.ShortTimeFormat = "hh:nn";
  formats.LongTimeFormat = "hh:nn:ss";
  formats.EraLocale = "C";
  return formats;
}

TLocaleFormats ReadLocaleFormats() {
  locale_t locale = duplocale(uselocale(nullptr));
  if (locale == nullptr) return TLocaleFormats{};
  TLocaleFormats formats = ReadFrom(locale);
  freelocale(locale);
  return formats;
}

std::optional<TLocaleFormats> ReadLocaleFormats(const char* localeName) {
  locale_t locale = newlocale(LC_ALL_MASK, localeName, nullptr);
  if (locale == nullptr) return std::nullopt;
  TLocaleFormats formats = ReadFrom(locale);
  formats.EraLocale = localeName;
  freelocale(locale);
  return formats;
}

std::string DatePatternOf(std::string_view dateFormat, bool withEras, char dateSeparator) {
  const std::string format = ExpandComposites(dateFormat);
  std::string out;
  std::size_t literalStart = 0;
  auto flushLiteral = [&](std::size_t end) {
    AppendLiteral(out, std::string_view(format).substr(literalStart, end - literalStart), dateSeparator);
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    TConversion conversion;
    if (format[i] != '%' || !ReadConversion(format, i, conversion)) continue;
    flushLiteral(i);
    const bool era = conversion.Era && withEras;
    switch (conversion.Letter) {
      case 'd':
        out += conversion.NoPadding ? "d" : "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += conversion.NoPadding ? "m" : "mm";
        break;
      case 'y':
        // A two-digit year is written with four, so that no date loses its century.
        out += era ? "ee" : "yyyy";
        break;
      case 'Y':
        out += era ? "gg ee" : "yyyy";
        break;
      case 'C':
        if (era) out += "gg";
        break;
      case 'b':
      case 'h':
        out += "mmm";
        break;
      case 'B':
        out += "mmmm";
        break;
      case 'a':
        out += "ddd";
        break;
      case 'A':
        out += "dddd";
        break;
      case '%':
        out += '%';
        break;
      default:
        break;
    }
    i = conversion.End - 1;
    literalStart = conversion.End;
  }
  flushLiteral(format.size());
  return out;
}

std::optional<TTimePatterns> TimePatternsOf(std::string_view timeFormat) {
  const std::string format = ExpandComposites(timeFormat);
  bool markerSeen = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    TConversion conversion;
    if (format[i] != '%' || !ReadConversion(format, i, conversion)) continue;
    const char letter = conversion.Letter;
    if (letter == 'p' || letter == 'P') markerSeen = true;
    if (letter == 'H' || letter == 'I' || letter == 'k' || letter == 'l') {
      const bool twelveHour = letter == 'I' || letter == 'l';
      const bool leadingZero = !(letter == 'k' || letter == 'l' || conversion.NoPadding);
      const std::string hour = leadingZero ? "hh" : "h";
      const std::string prefix = twelveHour && markerSeen ? "AMPM " : "";
      const std::string suffix = twelveHour && !markerSeen ? " AMPM" : "";
      return TTimePatterns{prefix + hour + ":mm" + suffix, prefix + hour + ":mm:ss" + suffix};
    }
    i = conversion.End - 1;
  }
  return std::nullopt;
}

char SeparatorOf(std::string_view format, char fallback) {
  const std::string expanded = ExpandComposites(format);
  char blank = '\0';
  for (std::size_t i = 0; i < expanded.size(); ++i) {
    const char c = expanded[i];
    TConversion conversion;
    if (c == '%' && ReadConversion(expanded, i, conversion)) {
      i = conversion.End - 1;
      continue;
    }
    if (static_cast<unsigned char>(c) >= 0x80 || IsAsciiLetter(c) || (c >= '0' && c <= '9')) continue;
    if (c == ' ' || c == '\t') {
      if (blank == '\0') blank = c;
      continue;
    }
    return c;
  }
  return blank != '\0' ? blank : fallback;
}
