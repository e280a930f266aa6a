#include "db/layer_text.h"

#include <cerrno>
#include <cstdlib>

#include "base/exceptions.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

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
