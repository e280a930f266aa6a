// The connection's parameter list and the integer reading its values go through.
#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "db/layer_text.h"
#include "db/sql_connection.h"

namespace {

TEST(SQLParams, StartsWithTheProgramsList) {
  TSQLConnection connection;
  const std::vector<std::string> expected = {
      "DriverName=Interbase",
      "Database=database.gdb",
      "RoleName=RoleName",
      "User_Name=sysdba",
      "Password=quillbank",
      "ServerCharSet=",
      "SQLDialect=3",
      "ErrorResourceFile=",
      "LocaleCode=0000",
      "BlobSize=-1",
      "CommitRetain=False",
      "WaitOnLocks=True",
      "Interbase TransIsolation=ReadCommited",
      "Trim Char=False",
  };
  EXPECT_EQ(connection.Params().Lines(), expected);
  EXPECT_EQ(connection.LibraryName(), "libfbdriver.so");
  EXPECT_EQ(connection.GetDriverFunc(), "getSQLDriverFIREBIRD");
  EXPECT_EQ(connection.VendorLib(), "libfbclient.so.2");
  EXPECT_EQ(connection.DriverName(), "Interbase");
  EXPECT_EQ(connection.ConnectionName(), "IBConnection");
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);
  EXPECT_FALSE(connection.Connected());
}

TEST(SQLParams, LookupIgnoresCaseAndTakesTheFirstMatch) {
  TSQLParams params;
  params.SetLines({"SQLDialect=3", "Name=a=b", "name=second", "Bare", "Empty="});
  EXPECT_EQ(params.Value("SqlDialect"), "3");
  EXPECT_EQ(params.Value("NAME"), "a=b");
  EXPECT_EQ(params.Value("Bare"), "");
  EXPECT_EQ(params.Value("Empty"), "");
  EXPECT_EQ(params.Value("Missing"), "");
  EXPECT_EQ(params.Value("Nam"), "");
}

TEST(SQLParams, SettingReplacesAppendsOrDeletes) {
  struct Case {
    const char* name;
    const char* value;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"database", "x.fdb", {"database=x.fdb", "User_Name=sysdba", "user_name=other"}},
      {"Password", "p", {"Database=a", "User_Name=sysdba", "user_name=other", "Password=p"}},
      {"USER_NAME", "", {"Database=a", "user_name=other"}},  // only the first match goes
      {"Missing", "", {"Database=a", "User_Name=sysdba", "user_name=other"}},
  };
  for (const auto& c : cases) {
    TSQLParams params;
    params.SetLines({"Database=a", "User_Name=sysdba", "user_name=other"});
    params.SetValue(c.name, c.value);
    EXPECT_EQ(params.Lines(), c.expected) << c.name;
  }
}

TEST(LayerText, IntegersAreReadStrictly) {
  struct Case {
    const char* text;
    int expected;
  };
  for (const Case& c : {Case{"3", 3}, Case{" -1 ", -1}, Case{"+7", 7}, Case{"2147483647", 2147483647},
                        Case{"-2147483648", -2147483647 - 1}, Case{"007", 7}}) {
    EXPECT_EQ(StrToInt(c.text), c.expected) << c.text;
  }
  for (const char* bad :
       {"", " ", "3x", "1.5", "-", "2147483648", "-2147483649", "0x10", "99999999999999999999"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& failure) {
      EXPECT_EQ(failure.what(), "'" + TrimBlanks(bad) + "' is not a valid integer value");
    }
  }
}

TEST(LayerText, TrimmingTakesEveryCharacterUpToCode32) {
  EXPECT_EQ(TrimBlanks("\t\r\n x \x01"), "x");
  EXPECT_EQ(TrimLeftBlanks("\n\t select 1 "), "select 1 ");
  EXPECT_TRUE(SameText("Table_Name", "TABLE_NAME"));
  EXPECT_FALSE(SameText("A", "A "));
  EXPECT_EQ(WithObjectName("", "text"), "text");
  EXPECT_EQ(WithObjectName("sdsTable", "text"), "sdsTable: text");
}

// Names match regardless of the case of every letter that has one, read in
// the connection's character set; bytes that are no character match only
// themselves.
TEST(LayerText, NamesMatchRegardlessOfLetterCaseInTheirCharacterSet) {
  const struct {
    const char* a;
    const char* b;
    const char* charSet;
    bool same;
  } cases[] = {
      {"CUSTOMER", "customer", "UTF8", true},
      {"\u00C4RGER", "\u00E4rger", "UTF8", true},
      {"\u00C4RGER", "\u00E4rger", "utf8", true},
      {"\u00C4RGER", "\u00E4rger", "NONE", true},  // the catalogue's UTF-8, as it stands
      {"\u00C4RGER", "\u00E4rger", "", true},
      {"\u041F\u0420\u0418\u0412\u0415\u0422", "\u043F\u0440\u0438\u0432\u0435\u0442", "UTF8", true},
      {"\u00C4RGER", "\u00E4rgern", "UTF8", false},
      {"\u00C4RGER", "ARGER", "UTF8", false},
      {"STRASSE", "stra\u00DFe", "UTF8", false},
      {"\xC4RGER", "\xE4rger", "UTF8", false},  // no UTF-8: the bytes differ
      {"\xC4RGER", "\xE4rger", "WIN1252", true},
      {"\xC4RGER", "\xE4rger", "ISO8859_1", true},
      {"\xF0\xD2\xC9", "\xD0\xF2\xE9", "KOI8R", true},  // При and пРИ
      {"\xC4RGER", "\xE4rger", "SJIS_0208", false},     // a set without cases here: A-Z alone
      {"Table_Name", "TABLE_NAME", "SJIS_0208", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameName(c.a, c.b, c.charSet), c.same) << c.a << " " << c.b << " " << c.charSet;
    EXPECT_EQ(SameName(c.b, c.a, c.charSet), c.same) << c.b << " " << c.a << " " << c.charSet;
  }
}

}  // namespace
