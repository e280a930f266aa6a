// The text of every Firebird type as the export writes it, read from a real
// database under the locales a user may run with.
#include <gtest/gtest.h>

#include <clocale>
#include <memory>

#include "common/test_database.h"
#include "db/locale_formats.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"

namespace {

class FieldTextsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    LocaleFormats() = TLocaleFormats();
  }
};

TEST_F(FieldTextsTest, EveryTypeUnderEachLocale) {
  testdb::TestDatabase database(
      false,
      "CREATE TABLE T (NEG_ZERO FLOAT, BIG DOUBLE PRECISION, SMALL DOUBLE PRECISION, THIRD DOUBLE PRECISION,"
      " N_MAX NUMERIC(18,4), N_MIN NUMERIC(18,4), N_HALF NUMERIC(9,2), LARGEST BIGINT, LEAP DATE, AT_TIME "
      "TIME,"
      " MIDNIGHT TIMESTAMP, HALF_SECOND TIMESTAMP, AFTERNOON TIMESTAMP, PADDED CHAR(6), FLAG BOOLEAN,"
      " BYTES BLOB SUB_TYPE BINARY, NOTHING VARCHAR(5));\n"
      "INSERT INTO T VALUES (-0.0, 1E15, 0.000012, 1E0/3, 99999999999999.9999, -99999999999999.9999, 12.50,"
      " 9223372036854775807, '2024-02-29', '14:07:09', '2024-02-29 00:00:00', '2024-02-29 00:00:00.500',"
      " '2004-03-05 14:07:09', 'ab', FALSE, x'410042' || ASCII_CHAR(13) || ASCII_CHAR(10), NULL);\n");
  struct Expected {
    const char* column;
    const char* c;       // under C.UTF-8
    const char* german;  // under de_DE.UTF-8
  };
  const Expected expected[] = {
      {"NEG_ZERO", "0", "0"},
      {"BIG", "1E15", "1E15"},
      {"SMALL", "1.2E-5", "1,2E-5"},
      {"THIRD", "0.3333333333333333", "0,3333333333333333"},
      {"N_MAX", "99999999999999.9999", "99999999999999,9999"},
      {"N_MIN", "-99999999999999.9999", "-99999999999999,9999"},
      {"N_HALF", "12.5", "12,5"},
      {"LARGEST", "9223372036854775807", "9223372036854775807"},
      {"LEAP", "02/29/2024", "29.02.2024"},
      {"AT_TIME", "14:07:09", "14:07:09"},
      {"MIDNIGHT", "02/29/2024", "29.02.2024"},
      {"HALF_SECOND", "02/29/2024 00:00:00.5", "29.02.2024 00:00:00.5"},
      {"AFTERNOON", "03/05/2004 14:07:09", "05.03.2004 14:07:09"},
      {"PADDED", "ab    ", "ab    "},
      {"FLAG", "False", "False"},
  };

  for (const char* locale : {"C.UTF-8", "de_DE.UTF-8"}) {
    SCOPED_TRACE(locale);
    ASSERT_TRUE(std::setlocale(LC_ALL, locale)) << "scripts/gen-locales.sh makes " << locale;
    LoadLocaleFormats();
    std::setlocale(LC_NUMERIC, "C");
    const bool german = std::string(locale) == "de_DE.UTF-8";

    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", database.Path());
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", "any");
    TSQLDataSet dataSet("sdsTable", &connection);
    dataSet.SetCommandType(ctTable);
    dataSet.SetCommandText("T");
    dataSet.SetActive(true);
    for (const auto& e : expected) {
      EXPECT_EQ(dataSet.FieldNamed(e.column).ValueText(), german ? e.german : e.c) << e.column;
    }
    EXPECT_EQ(dataSet.FieldNamed("BYTES").ValueText(), std::string("A\0B\r\n", 5));
    EXPECT_TRUE(dataSet.FieldNamed("NOTHING").IsNull());
  }
}

}  // namespace
