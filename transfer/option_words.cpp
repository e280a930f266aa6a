#include "transfer/option_words.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace {

// Each option's words and what they stand for; a value's word is the first
// that names it.
template <class T>
struct TWord {
  std::string_view word;
  T value;
};

template <class T, std::size_t N>
std::optional<T> ValueOfWord(const TWord<T> (&words)[N], std::string_view word) {
  for (const TWord<T>& entry : words) {
    if (entry.word == word) return entry.value;
  }
  return std::nullopt;
}

template <class T, std::size_t N>
std::string WordOfValue(const TWord<T> (&words)[N], T value) {
  for (const TWord<T>& entry : words) {
    if (entry.value == value) return std::string(entry.word);
  }
  return std::string(words[0].word);
}

constexpr TWord<char> kDelimiters[] = {{",", ','}, {";", ';'}, {"|", '|'}, {"tab", '\t'}, {"\t", '\t'}};
constexpr TWord<TLineEnd> kLineEnds[] = {{"crlf", TLineEnd::leCrLf}, {"lf", TLineEnd::leLf}};
constexpr TWord<TTransferRequest::TMode> kModes[] = {{"append", TTransferRequest::TMode::mAppend},
                                                     {"replace", TTransferRequest::TMode::mReplace},
                                                     {"upsert", TTransferRequest::TMode::mUpsert}};
constexpr TWord<TCsvDialect::TQuoting> kQuotings[] = {{"minimal", TCsvDialect::TQuoting::qMinimal},
                                                      {"all", TCsvDialect::TQuoting::qAll},
                                                      {"text", TCsvDialect::TQuoting::qText}};
constexpr TWord<TCompression> kCompressions[] = {
    {"", TCompression::cNone}, {"gz", TCompression::cGzip}, {"zst", TCompression::cZstd}};

}  // namespace

std::optional<char> DelimiterOfWord(std::string_view word) { return ValueOfWord(kDelimiters, word); }
std::string DelimiterWord(char delimiter) { return delimiter == '\t' ? "tab" : std::string(1, delimiter); }

std::optional<TLineEnd> LineEndOfWord(std::string_view word) { return ValueOfWord(kLineEnds, word); }
std::string LineEndWord(TLineEnd lineEnd) { return WordOfValue(kLineEnds, lineEnd); }

std::optional<TTransferRequest::TMode> ModeOfWord(std::string_view word) { return ValueOfWord(kModes, word); }
std::string ModeWord(TTransferRequest::TMode mode) { return WordOfValue(kModes, mode); }

std::optional<TCsvDialect::TQuoting> QuotingOfWord(std::string_view word) {
  return ValueOfWord(kQuotings, word);
}
std::string QuotingWord(TCsvDialect::TQuoting quoting) { return WordOfValue(kQuotings, quoting); }

std::optional<TCompression> CompressionOfWord(std::string_view word) {
  // The word of none is no option's word.
  if (word.empty()) return std::nullopt;
  return ValueOfWord(kCompressions, word);
}
std::string CompressionWord(TCompression compression) { return WordOfValue(kCompressions, compression); }

std::optional<std::int64_t> PositiveNumberOfWord(const std::string& word) {
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0' || number < 1) return std::nullopt;
  return number;
}

std::vector<std::string> NamesOfList(const std::string& list) {
  std::vector<std::string> names;
  std::size_t begin = 0;
  for (std::size_t end; (end = list.find(',', begin)) != std::string::npos; begin = end + 1) {
    names.push_back(list.substr(begin, end - begin));
  }
  names.push_back(list.substr(begin));
  return names;
}

std::string ListOfNames(const std::vector<std::string>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) list += (i ? "," : "") + names[i];
  return list;
}
