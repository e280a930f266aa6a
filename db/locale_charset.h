// The Firebird character set that stands for the user's locale: the set a
// connection takes texts in and hands them over in, so that files and the
// terminal hold the same characters as the database.
#pragma once

#include <string>
#include <string_view>

// The Firebird set of a codeset as nl_langinfo(CODESET) names it: "UTF-8"
// gives UTF8, "ISO-8859-1" ISO8859_1, "KOI8-R" KOI8R, "CP1251" WIN1251,
// "EUC-KR" KSC_5601; letter case, "-" and "_" do not count. ASCII (the C
// locale's "ANSI_X3.4-1968") and a codeset Firebird has no set for give
// NONE: each column's bytes as they are stored.
std::string FirebirdCharSet(std::string_view codeset);

// The set of the C library's current locale (its LC_CTYPE).
std::string LocaleCharSet();
