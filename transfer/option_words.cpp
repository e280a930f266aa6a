#include "transfer/option_words.h"

#include <cerrno>
#include <cstdlib>

std::optional<char> DelimiterOfWord(std::string_view word) {
  if (word == "tab" || word == "\t") return '\t';
  if (word == "," || word == ";" || word == "|") return word[0];
  return std::nullopt;
}

std::string DelimiterWord(char delimiter) { return delimiter == '\t' ? "tab" : std::string(1, delimiter); }

std::optional<TLineEnd> LineEndOfWord(std::string_view word) {
  if (word == "lf") return TLineEnd::leLf;
  if (word == "crlf") return TLineEnd::leCrLf;
  return std::nullopt;
}

std::string LineEndWord(TLineEnd lineEnd) { return lineEnd == TLineEnd::leLf ? "lf" : "crlf"; }

std::optional<TTransferRequest::TMode> ModeOfWord(std::string_view word) {
  if (word == "append") return TTransferRequest::TMode::mAppend;
  if (word == "replace") return TTransferRequest::TMode::mReplace;
  if (word == "upsert") return TTransferRequest::TMode::mUpsert;
  return std::nullopt;
}

std::string ModeWord(TTransferRequest::TMode mode) {
  switch (mode) {
    case TTransferRequest::TMode::mReplace:
      return "replace";
    case TTransferRequest::TMode::mUpsert:
      return "upsert";
    default:
      return "append";
  }
}

std::optional<TCsvDialect::TQuoting> QuotingOfWord(std::string_view word) {
  if (word == "minimal") return TCsvDialect::TQuoting::qMinimal;
  if (word == "all") return TCsvDialect::TQuoting::qAll;
  if (word == "text") return TCsvDialect::TQuoting::qText;
  return std::nullopt;
}

std::string QuotingWord(TCsvDialect::TQuoting quoting) {
  switch (quoting) {
    case TCsvDialect::TQuoting::qAll:
      return "all";
    case TCsvDialect::TQuoting::qText:
      return "text";
    default:
      return "minimal";
  }
}

std::optional<TCompression> CompressionOfWord(std::string_view word) {
  if (word == "gz") return TCompression::cGzip;
  if (word == "zst") return TCompression::cZstd;
  return std::nullopt;
}

std::string CompressionWord(TCompression compression) {
  return std::string(CompressionSuffix(compression).substr(CompressionSuffix(compression).empty() ? 0 : 1));
}

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
