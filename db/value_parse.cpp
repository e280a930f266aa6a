#include "db/value_parse.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>

#include "db/locale_formats.h"
#include "db/value_text.h"

namespace {

std::string_view Trimmed(std::string_view piece) {
  const std::size_t first = piece.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return piece.substr(first, piece.find_last_not_of(" \t") - first + 1);
}

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The parts read so far; -1 where nothing was read.
struct TReadParts {
  int Year = -1;
  int Month = -1;
  int Day = -1;
  int DayOfWeek = -1;
  int Hour = -1;
  int Minute = -1;
  int Second = -1;
  int Millisecond = -1;
  int TenThousandths = -1;  // the fraction written right after the seconds
  int Afternoon = -1;
  bool TwelveHour = false;
};

// The year that two digits name, as the server reads a two-digit year: the
// one in the current century, a century earlier or later when that is more
// than 50 years from the current year.
int YearOfTwoDigits(int digits) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const int current = local.tm_year + 1900;
  const int year = current / 100 * 100 + digits;
  if (year > current + 50) return year - 100;
  if (year < current - 50) return year + 100;
  return year;
}

// A part that a pattern names twice must read the same both times.
bool Store(int& part, int value) {
  if (part >= 0 && part != value) return false;
  part = value;
  return true;
}

class TDateTimeScanner {
 public:
  // With fullWidth every number has as many digits as it may have (four for
  // a year, two for the others); without, fewer may do, two for a year.
  TDateTimeScanner(std::string_view text, const TLocaleFormats& formats, bool fullWidth)
      : m_text(text), m_formats(formats), m_fullWidth(fullWidth) {}

  // Reads the pattern from the current position on; the pattern itself is
  // level 0 and named patterns inside a named pattern read nothing, as they write nothing.
  bool Read(std::string_view pattern, int level) {
    if (level > 1) return true;
    const std::vector<TDateTimeToken>& tokens = PatternTokens(pattern);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      // A fraction after the seconds is read unless the pattern itself puts
      // a "." there (as in "ss.zzz").
      if (tokens[i].Kind == TDateTimeTokenKind::tkSecond) {
        m_fractionAllowed = !(i + 1 < tokens.size() && tokens[i + 1].Kind == TDateTimeTokenKind::tkLiteral &&
                              tokens[i + 1].Text.starts_with('.'));
      }
      if (!ReadToken(tokens[i], level)) return false;
    }
    return true;
  }

  bool AtEnd() const { return m_pos == m_text.size(); }
  const TReadParts& Parts() const { return m_parts; }

 private:
  bool ReadToken(const TDateTimeToken& token, int level) {
    using enum TDateTimeTokenKind;
    switch (token.Kind) {
      case tkLiteral:
        return ReadExact(token.Text);
      case tkDateSeparator:
        return m_formats.DateSeparator == '\0' || ReadExact(std::string_view(&m_formats.DateSeparator, 1));
      case tkTimeSeparator:
        return m_formats.TimeSeparator == '\0' || ReadExact(std::string_view(&m_formats.TimeSeparator, 1));
      case tkDateTime: {
        if (level > 0) return true;
        if (!Read(m_formats.ShortDateFormat, level + 1)) return false;
        // The time follows only when it is not midnight.
        const std::size_t pos = m_pos;
        const TReadParts parts = m_parts;
        if (ReadExact(" ") && Read(m_formats.LongTimeFormat, level + 1)) return true;
        m_pos = pos;
        m_parts = parts;
        return true;
      }
      case tkDay:
        return ReadNumber(1, 2, m_parts.Day);
      case tkShortDayName:
        return ReadName(m_formats.ShortDayNames, m_parts.DayOfWeek);
      case tkLongDayName:
        return ReadName(m_formats.LongDayNames, m_parts.DayOfWeek);
      case tkShortDate:
        return Read(m_formats.ShortDateFormat, level + 1);
      case tkLongDate:
        return Read(m_formats.LongDateFormat, level + 1);
      case tkMonth:
        return ReadNumber(1, 2, m_parts.Month);
      case tkShortMonthName:
        return ReadName(m_formats.ShortMonthNames, m_parts.Month);
      case tkLongMonthName:
        return ReadName(m_formats.LongMonthNames, m_parts.Month);
      case tkYear2:
      case tkYear4:
        return ReadYear();
      case tkHour:
        m_parts.TwelveHour = m_parts.TwelveHour || token.TwelveHour;
        return ReadNumber(1, 2, m_parts.Hour);
      case tkMinute:
        return ReadNumber(1, 2, m_parts.Minute);
      case tkSecond:
        return ReadNumber(1, 2, m_parts.Second) && ReadFraction();
      case tkMillisecond:
        return ReadNumber(1, 3, m_parts.Millisecond);
      case tkShortTime:
        return Read(m_formats.ShortTimeFormat, level + 1);
      case tkLongTime:
        return Read(m_formats.LongTimeFormat, level + 1);
      case tkAmPmText:
        return ReadMarker(token.Text.substr(0, 2), token.Text.substr(3, 2));
      case tkAPText:
        return ReadMarker(token.Text.substr(0, 1), token.Text.substr(2, 1));
      case tkAmPmMarkers:
        return ReadMarker(m_formats.TimeAMString, m_formats.TimePMString);
      case tkEraYear:  // Eras are not read back.
      case tkEraName:
        return false;
    }
    return false;
  }

  bool ReadExact(std::string_view expected) {
    if (m_text.substr(m_pos, expected.size()) != expected) return false;
    m_pos += expected.size();
    return true;
  }

  bool MatchesNoCase(std::string_view expected) const {
    if (expected.empty() || m_text.size() - m_pos < expected.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (FoldAscii(m_text[m_pos + i]) != FoldAscii(expected[i])) return false;
    }
    return true;
  }

  bool ReadNumber(std::size_t minDigits, std::size_t maxDigits, int& part) {
    if (m_fullWidth) minDigits = maxDigits;
    std::size_t count = 0;
    int value = 0;
    while (count < maxDigits && m_pos < m_text.size() && IsDigit(m_text[m_pos])) {
      value = value * 10 + (m_text[m_pos] - '0');
      ++m_pos;
      ++count;
    }
    return count >= minDigits && Store(part, value);
  }

  // Four digits, or two (see YearOfTwoDigits).
  bool ReadYear() {
    const std::size_t start = m_pos;
    int value = -1;
    if (!ReadNumber(2, 4, value)) return false;
    const std::size_t digits = m_pos - start;
    if (digits == 3) return false;
    return Store(m_parts.Year, digits == 2 ? YearOfTwoDigits(value) : value);
  }

  // "." and one to four digits after the seconds, when they stand there.
  bool ReadFraction() {
    if (!m_fractionAllowed || m_pos + 1 >= m_text.size() || m_text[m_pos] != '.' ||
        !IsDigit(m_text[m_pos + 1]))
      return true;
    ++m_pos;
    int value = 0;
    int count = 0;
    while (m_pos < m_text.size() && IsDigit(m_text[m_pos])) {
      if (++count > 4) return false;
      value = value * 10 + (m_text[m_pos++] - '0');
    }
    for (int i = count; i < 4; ++i) value *= 10;
    return Store(m_parts.TenThousandths, value);
  }

  // The longest name that matches; its number counts from 1.
  template <std::size_t N>
  bool ReadName(const std::array<std::string, N>& names, int& part) {
    std::size_t best = N;
    for (std::size_t i = 0; i < N; ++i) {
      if (MatchesNoCase(names[i]) && (best == N || names[i].size() > names[best].size())) best = i;
    }
    if (best == N) return false;
    m_pos += names[best].size();
    return Store(part, static_cast<int>(best) + 1);
  }

  bool ReadMarker(std::string_view morning, std::string_view afternoon) {
    // The longer marker first, in case one begins with the other.
    const bool afternoonFirst = afternoon.size() > morning.size();
    for (int pass = 0; pass < 2; ++pass) {
      const bool isAfternoon = (pass == 0) == afternoonFirst;
      const std::string_view marker = isAfternoon ? afternoon : morning;
      if (MatchesNoCase(marker)) {
        m_pos += marker.size();
        return Store(m_parts.Afternoon, isAfternoon ? 1 : 0);
      }
    }
    return false;
  }

  std::string_view m_text;
  const TLocaleFormats& m_formats;
  std::size_t m_pos = 0;
  TReadParts m_parts;
  bool m_fractionAllowed = true;
  bool m_fullWidth;
};

// Which forms a piece is read in: the locale's, or the server's unambiguous
// ones, exactly as a portable file writes them: every number at its full
// width, "2004-03-05 02:07:09", so that no hour without its marker reads there.
enum class TForms { fmLocale, fmServer };

const TLocaleFormats& FormatsOf(TForms forms) {
  static const TLocaleFormats server = PortableLocaleFormats();
  return forms == TForms::fmLocale ? LocaleFormats() : server;
}

enum class TValueKind { vkDate, vkTime, vkDateTime };

std::string_view PatternOf(TValueKind kind, const TLocaleFormats& formats) {
  switch (kind) {
    case TValueKind::vkDate:
      return formats.ShortDateFormat;
    case TValueKind::vkTime:
      return formats.LongTimeFormat;
    case TValueKind::vkDateTime:
      break;
  }
  return "c";
}

std::optional<TReadParts> Scan(std::string_view piece, TForms forms, TValueKind kind) {
  const std::string_view text = Trimmed(piece);
  if (text.empty()) return std::nullopt;
  const TLocaleFormats& formats = FormatsOf(forms);
  TDateTimeScanner scanner(text, formats, forms == TForms::fmServer);
  if (!scanner.Read(PatternOf(kind, formats), 0) || !scanner.AtEnd()) return std::nullopt;
  return scanner.Parts();
}

// A part of a date or time known to be in range, in exactly width digits.
void AppendDigits(std::string& out, int value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

std::optional<std::string> DateOf(const TReadParts& parts) {
  TDateTime date = 0;
  if (!TryEncodeDate(parts.Year, parts.Month, parts.Day, date)) return std::nullopt;
  if (parts.DayOfWeek >= 0) {
    TDateTimeParts decoded;
    if (!DecodeDateTime(date, decoded) || decoded.DayOfWeek != parts.DayOfWeek) return std::nullopt;
  }
  std::string text;
  AppendDigits(text, parts.Year, 4);
  text += '-';
  AppendDigits(text, parts.Month, 2);
  text += '-';
  AppendDigits(text, parts.Day, 2);
  return text;
}

std::optional<std::string> TimeOf(const TReadParts& parts) {
  if (parts.Hour < 0 || parts.Minute < 0) return std::nullopt;
  int hour = parts.Hour;
  if (parts.TwelveHour) {
    if (hour < 1 || hour > 12 || parts.Afternoon < 0) return std::nullopt;
    hour = hour % 12 + (parts.Afternoon == 1 ? 12 : 0);
  }
  const int second = parts.Second < 0 ? 0 : parts.Second;
  TDateTime time = 0;
  if (!TryEncodeTime(hour, parts.Minute, second, parts.Millisecond < 0 ? 0 : parts.Millisecond, time)) {
    return std::nullopt;
  }
  if (parts.TenThousandths >= 0 && parts.Millisecond >= 0 && parts.Millisecond != parts.TenThousandths / 10)
    return std::nullopt;
  std::string text;
  AppendDigits(text, hour, 2);
  text += ':';
  AppendDigits(text, parts.Minute, 2);
  text += ':';
  AppendDigits(text, second, 2);
  if (parts.TenThousandths >= 0) {
    text += '.';
    AppendDigits(text, parts.TenThousandths, 4);
  } else if (parts.Millisecond >= 0) {
    text += '.';
    AppendDigits(text, parts.Millisecond, 3);
  }
  return text;
}

// A number by the grammar ParseNumberText describes, with the given decimal
// separator, in the server's form.
std::optional<std::string> ServerNumber(std::string_view piece, char separator) {
  const std::string_view text = Trimmed(piece);
  std::string out;
  std::size_t i = 0;
  auto readDigits = [&] {
    const std::size_t start = i;
    while (i < text.size() && IsDigit(text[i])) out += text[i++];
    return i > start;
  };

  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    if (text[i] == '-') out += '-';
    ++i;
  }
  if (!readDigits()) return std::nullopt;
  if (i < text.size() && text[i] == separator) {
    out += '.';
    ++i;
    if (!readDigits()) return std::nullopt;
  }
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    out += 'E';
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
      if (text[i] == '-') out += '-';
      ++i;
    }
    if (!readDigits()) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  return out;
}

// Whether a number in the server's form that no double holds lies above the
// double's range rather than below it. The largest double is near 1.8E308 and
// the smallest near 4.9E-324, so the power of ten of the first significant
// digit decides by its sign, however many digits stand before the exponent.
bool AboveDoubleRange(std::string_view number) {
  const std::size_t e = number.find('E');
  long long exponent = 0;
  if (e != std::string_view::npos) {
    const bool negative = number[e + 1] == '-';
    // Saturated: no text is long enough for its digits to outweigh 10^15.
    for (char c : number.substr(e + 1 + (negative ? 1 : 0))) {
      if (exponent < 1'000'000'000'000'000) exponent = exponent * 10 + (c - '0');
    }
    if (negative) exponent = -exponent;
  }
  const std::string_view mantissa = number.substr(0, e);
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return false;
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  // The power of ten of the first significant digit: 2 for "125", -2 for "0.05".
  const long long power =
      static_cast<long long>(point) - static_cast<long long>(first) - (first < point ? 1 : 0);
  return power + exponent >= 0;
}

std::optional<std::string> ValueIn(std::string_view piece, TForms forms, TValueKind kind) {
  const auto parts = Scan(piece, forms, kind);
  if (!parts) return std::nullopt;
  if (kind == TValueKind::vkTime) return TimeOf(*parts);
  auto date = DateOf(*parts);
  if (kind == TValueKind::vkDate || !date || parts->Hour < 0) return date;
  auto time = TimeOf(*parts);
  if (!time) return std::nullopt;
  return *date + ' ' + *time;
}

// The locale's reading first: a four-digit year in front fails every
// locale's pattern but a year-month-day one, so the server's forms never
// read as another value.
std::optional<std::string> ValueText(std::string_view piece, TValueKind kind) {
  if (auto value = ValueIn(piece, TForms::fmLocale, kind)) return value;
  return ValueIn(piece, TForms::fmServer, kind);
}

// The pattern as a message names it: the separators the formats write,
// without quotes, minutes as "mm" and the locale's markers as "AM/PM".
void AppendForm(std::string& out, std::string_view pattern, const TLocaleFormats& formats, int level) {
  using enum TDateTimeTokenKind;
  if (level > 1) return;
  for (const TDateTimeToken& token : PatternTokens(pattern)) {
    const auto letters = [&](char letter) {
      out.append(static_cast<std::size_t>(std::max(token.Digits, 1)), letter);
    };
    switch (token.Kind) {
      case tkLiteral:
      case tkAmPmText:
      case tkAPText:
        out += token.Text;
        break;
      case tkDateSeparator:
        if (formats.DateSeparator != '\0') out += formats.DateSeparator;
        break;
      case tkTimeSeparator:
        if (formats.TimeSeparator != '\0') out += formats.TimeSeparator;
        break;
      case tkDateTime:
        if (level > 0) break;
        AppendForm(out, formats.ShortDateFormat, formats, level + 1);
        out += ' ';
        AppendForm(out, formats.LongTimeFormat, formats, level + 1);
        break;
      case tkDay:
        letters('d');
        break;
      case tkShortDayName:
        out += "ddd";
        break;
      case tkLongDayName:
        out += "dddd";
        break;
      case tkMonth:
        letters('m');
        break;
      case tkShortMonthName:
        out += "mmm";
        break;
      case tkLongMonthName:
        out += "mmmm";
        break;
      case tkShortDate:
        AppendForm(out, formats.ShortDateFormat, formats, level + 1);
        break;
      case tkLongDate:
        AppendForm(out, formats.LongDateFormat, formats, level + 1);
        break;
      case tkShortTime:
        AppendForm(out, formats.ShortTimeFormat, formats, level + 1);
        break;
      case tkLongTime:
        AppendForm(out, formats.LongTimeFormat, formats, level + 1);
        break;
      case tkYear2:
        out += "yy";
        break;
      case tkYear4:
        out += "yyyy";
        break;
      case tkHour:
        letters('h');
        break;
      case tkMinute:
        letters('m');
        break;
      case tkSecond:
        letters('s');
        break;
      case tkMillisecond:
        out += "zzz";
        break;
      case tkAmPmMarkers:
        out += formats.TimeAMString + '/' + formats.TimePMString;
        break;
      case tkEraYear:
        letters('e');
        break;
      case tkEraName:
        letters('g');
        break;
    }
  }
}

// The locale's form, then the server's, unless the two are the same.
std::string Forms(TValueKind kind) {
  std::string own;
  std::string server;
  AppendForm(own, PatternOf(kind, LocaleFormats()), LocaleFormats(), 0);
  AppendForm(server, PatternOf(kind, FormatsOf(TForms::fmServer)), FormatsOf(TForms::fmServer), 0);
  return own == server ? server : own + " or " + server;
}

}  // namespace

std::optional<std::string> ParseDateText(std::string_view piece) {
  return ValueText(piece, TValueKind::vkDate);
}

std::optional<std::string> ParseTimeText(std::string_view piece) {
  return ValueText(piece, TValueKind::vkTime);
}

std::optional<std::string> ParseDateTimeText(std::string_view piece) {
  return ValueText(piece, TValueKind::vkDateTime);
}

std::string DateForms() { return Forms(TValueKind::vkDate); }

std::string TimeForms() { return Forms(TValueKind::vkTime); }

std::string DateTimeForms() { return Forms(TValueKind::vkDateTime); }

std::optional<std::string> ParseNumberText(std::string_view piece) {
  return ServerNumber(piece, LocaleFormats().DecimalSeparator);
}

std::optional<double> ParseDoubleText(std::string_view piece) {
  // A text both readings take holds no separator, so the two never differ.
  const char separator = LocaleFormats().DecimalSeparator;
  std::optional<std::string> number = ServerNumber(piece, separator);
  if (!number && separator != '.') number = ServerNumber(piece, '.');
  if (!number) return std::nullopt;
  double value = 0;
  const char* end = number->data() + number->size();
  const auto result = std::from_chars(number->data(), end, value);
  if (result.ptr != end) return std::nullopt;
  if (result.ec == std::errc::result_out_of_range) {
    if (AboveDoubleRange(*number)) return std::nullopt;
    return (*number)[0] == '-' ? -0.0 : 0.0;
  }
  if (result.ec != std::errc()) return std::nullopt;
  return value;
}
