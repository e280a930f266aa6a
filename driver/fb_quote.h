// How the driver writes names and string literals into SQL.
#pragma once

#include <string>
#include <string_view>

namespace fbdriver {

// True for a name that is one of Firebird 3's reserved words (upper case).
bool IsReservedWord(std::string_view name);

// A regular identifier (an upper-case letter, then upper-case letters,
// digits, "_" or "$") that is not reserved stands as it is; any other name
// is put in double quotes with each inner double quote doubled.
std::string QuoteObjectName(std::string_view name);

// The text as an SQL string literal: in single quotes, each inner one doubled.
std::string SqlLiteral(std::string_view text);

}  // namespace fbdriver
