// The transfer options in words, as the command-line program takes them and
// the window shows and keeps them, so that a word means the same in both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/table_transfer.h"

// ",", ";", "|" or "tab" (or a tab itself); nullopt for any other word.
std::optional<char> DelimiterOfWord(std::string_view word);
// "tab" for a tab, else the delimiter itself.
std::string DelimiterWord(char delimiter);

// "lf" or "crlf"; nullopt for any other word.
std::optional<TLineEnd> LineEndOfWord(std::string_view word);
std::string LineEndWord(TLineEnd lineEnd);

// "append", "replace" or "upsert"; nullopt for any other word.
std::optional<TTransferRequest::TMode> ModeOfWord(std::string_view word);
std::string ModeWord(TTransferRequest::TMode mode);

// "minimal", "all" or "text"; nullopt for any other word.
std::optional<TCsvDialect::TQuoting> QuotingOfWord(std::string_view word);
std::string QuotingWord(TCsvDialect::TQuoting quoting);

// "gz" or "zst"; nullopt for any other word. The word of none is "".
std::optional<TCompression> CompressionOfWord(std::string_view word);
std::string CompressionWord(TCompression compression);

// A whole number of 1 or more, as strtoll reads it; nullopt otherwise.
std::optional<std::int64_t> PositiveNumberOfWord(const std::string& word);

// "A,B" as {"A", "B"}: names exactly as given, an empty one included.
std::vector<std::string> NamesOfList(const std::string& list);
// The names joined by ",".
std::string ListOfNames(const std::vector<std::string>& names);
