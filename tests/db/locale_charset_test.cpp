#include "db/locale_charset.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

TEST(FirebirdCharSet, NamesTheSetOfEachCodeset) {
  const struct {
    const char* codeset;
    const char* charSet;
  } rows[] = {
      {"UTF-8", "UTF8"},
      {"utf8", "UTF8"},
      {"ANSI_X3.4-1968", "NONE"},
      {"ISO-8859-1", "ISO8859_1"},
      {"ISO-8859-2", "ISO8859_2"},
      {"ISO-8859-9", "ISO8859_9"},
      {"ISO-8859-13", "ISO8859_13"},
      {"ISO-8859-15", "NONE"},  // Firebird has no set for it
      {"ISO-8859-1 ", "NONE"},
      {"KOI8-R", "KOI8R"},
      {"KOI8-U", "KOI8U"},
      {"CP1251", "WIN1251"},
      {"windows-1252", "WIN1252"},
      {"CP1259", "NONE"},
      {"CP866", "DOS866"},
      {"IBM437", "DOS437"},
      {"EUC-KR", "KSC_5601"},
      {"EUC-JP", "EUCJ_0208"},
      {"SHIFT_JIS", "SJIS_0208"},
      {"BIG5", "BIG_5"},
      {"BIG5-HKSCS", "NONE"},
      {"GB2312", "GB_2312"},
      {"GBK", "GBK"},
      {"GB18030", "GB18030"},
      {"TIS-620", "TIS620"},
      {"", "NONE"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(FirebirdCharSet(row.codeset), row.charSet) << "'" << row.codeset << "'";
}

TEST(LocaleCharSet, FollowsTheCharacterTypeOfTheCurrentLocale) {
  const struct {
    const char* locale;
    const char* charSet;
  } rows[] = {{"C", "NONE"},
              {"POSIX", "NONE"},
              {"C.UTF-8", "UTF8"},
              {"en_US.UTF-8", "UTF8"},
              {"tr_TR.UTF-8", "UTF8"}};
  for (const auto& row : rows) {
    ASSERT_TRUE(std::setlocale(LC_ALL, row.locale))
        << row.locale << " is missing (scripts/gen-locales.sh makes it)";
    EXPECT_EQ(LocaleCharSet(), row.charSet) << row.locale;
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
