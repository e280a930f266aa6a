// Column descriptions and values of every Firebird column type.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "driver_support.h"

namespace drivertest {
namespace {

constexpr const char* kTypes = R"sql(
CREATE TABLE ALL_TYPES (
  ID INTEGER NOT NULL,
  C_CHAR CHAR(5),
  C_VARCHAR VARCHAR(20),
  C_SMALLINT SMALLINT,
  C_INTEGER INTEGER,
  C_BIGINT BIGINT,
  C_FLOAT FLOAT,
  C_DOUBLE DOUBLE PRECISION,
  C_NUMERIC NUMERIC(18,4),
  C_DECIMAL DECIMAL(9,2),
  C_NUMERIC_SMALL NUMERIC(4,1),
  C_NUMERIC_WHOLE NUMERIC(10,0),
  C_DATE DATE,
  C_TIME TIME,
  C_TIMESTAMP TIMESTAMP,
  C_BOOLEAN BOOLEAN,
  C_MEMO BLOB SUB_TYPE TEXT,
  C_BINARY BLOB SUB_TYPE BINARY,
  C_ARRAY INTEGER[3]
);
INSERT INTO ALL_TYPES VALUES (1, 'ab', 'xy ', -32768, -2147483648, 9223372036854775807, 1.5, -2.25,
  922337203685477.5807, -1234567.89, -999.9, 1234567890, '1899-12-29', '00:00:00', '1899-12-30 00:00:00',
  TRUE, 'line 1' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'line 2' || ASCII_CHAR(10), x'00FF0A000D', NULL);
INSERT INTO ALL_TYPES (ID) VALUES (2);
INSERT INTO ALL_TYPES VALUES (3, 'abcde', '', 32767, 2147483647, -9223372036854775808, -0.25, 1e300,
  -922337203685477.5808, 0.05, 0, -1, '0001-01-01', '23:59:59.9999', '1600-02-29 23:59:59.999',
  FALSE, '', x'', NULL);
INSERT INTO ALL_TYPES (ID, C_DATE, C_TIMESTAMP, C_NUMERIC, C_DECIMAL, C_CHAR) VALUES
  (4, '2000-02-29', '2004-03-05 14:07:09.5', -0.0001, -0.5, ' a');
CREATE VIEW TYPES_VIEW AS SELECT ID, C_NUMERIC, C_DECIMAL FROM ALL_TYPES;
)sql";

struct Description {
  const char* column;
  std::uint16_t type;
  std::uint16_t subtype;
  std::uint32_t length;
  std::int16_t precision;
  std::int16_t scale;
};

std::string BcdText(const TBcd& bcd) {
  int places = bcd.signSpecialPlaces & 0x3F;
  std::string digits;
  for (int i = 0; i < bcd.precision; ++i) {
    int nibble = i % 2 == 0 ? bcd.fraction[i / 2] >> 4 : bcd.fraction[i / 2] & 0x0F;
    digits += static_cast<char>('0' + nibble);
  }
  std::string text = digits.substr(0, digits.size() - places);
  text.erase(0, std::min(text.find_first_not_of('0'), text.empty() ? 0 : text.size() - 1));
  if (text.empty()) text = "0";
  if (places > 0) text += "." + digits.substr(digits.size() - places);
  return ((bcd.signSpecialPlaces & 0x80) ? "-" : "") + text + " (precision " + std::to_string(bcd.precision) +
         ")";
}

// The value of a column of the current row, read the way the access layer
// reads it for the column's type code, as text for comparing.
std::string Render(ISQLCursor* cursor, std::uint16_t column) {
  std::uint16_t type = 0, subtype = 0;
  EXPECT_EQ(cursor->getColumnType(column, &type, &subtype), 0);
  bool isNull = false;
  SQLResult status = 0;
  std::string text;
  char buffer[64];
  switch (type) {
    case fldZSTRING:
      return "'" + StringValue(cursor, column) + "'";
    case fldINT16: {
      std::int16_t value = 0;
      status = cursor->getInt16(column, &value, &isNull);
      text = std::to_string(value);
      break;
    }
    case fldINT32: {
      std::int32_t value = 0;
      status = cursor->getInt32(column, &value, &isNull);
      text = std::to_string(value);
      break;
    }
    case fldINT64: {
      std::int64_t value = 0;
      status = cursor->getInt64(column, &value, &isNull);
      text = std::to_string(value);
      break;
    }
    case fldFLOAT: {
      double value = 0;
      status = cursor->getDouble(column, &value, &isNull);
      std::snprintf(buffer, sizeof buffer, "%.17g", value);
      text = buffer;
      break;
    }
    case fldBCD: {
      TBcd value;
      status = cursor->getBcd(column, &value, &isNull);
      text = BcdText(value);
      break;
    }
    case fldBOOL: {
      bool value = false;
      status = cursor->getBoolean(column, &value, &isNull);
      text = value ? "true" : "false";
      break;
    }
    case fldDATE: {
      std::int32_t value = 0;
      status = cursor->getDate(column, &value, &isNull);
      text = "day " + std::to_string(value);
      break;
    }
    case fldTIME: {
      std::uint32_t value = 0;
      status = cursor->getTime(column, &value, &isNull);
      text = std::to_string(value) + " x 0.1 ms";
      break;
    }
    case fldDATETIMESTAMP: {
      TSQLTimeStamp value;
      status = cursor->getTimeStamp(column, &value, &isNull);
      std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u.%04u", value.year, value.month,
                    value.day, value.hour, value.minute, value.second, value.fraction);
      text = buffer;
      break;
    }
    case fldBLOB: {
      std::uint32_t size = 0;
      status = cursor->getBlobSize(column, &size, &isNull);
      if (status != 0 || isNull) break;
      std::string content(size, '\0');
      status = cursor->getBlob(column, content.data(), size, &isNull);
      text = "[" + content + "]";
      break;
    }
    default:
      return "type " + std::to_string(type);
  }
  EXPECT_EQ(status, 0) << ErrorText(cursor);
  return isNull ? "null" : text;
}

class Types : public RouteTest {
 protected:
  void SetUp() override {
    RouteTest::SetUp();
    if (IsSkipped()) return;
    m_database = MakeDatabase(kTypes);
    ASSERT_EQ(m_session.Connect(m_database->Connect()), 0) << ErrorText(m_session.connection.get());
  }

  // The rendered values of one column, row by row, ordered by ID.
  std::vector<std::string> Values(const std::string& column) {
    auto cursor = m_session.Query("SELECT " + column + " FROM ALL_TYPES ORDER BY ID");
    std::vector<std::string> values;
    if (!cursor) return values;
    while (cursor->next() == 0) values.push_back(Render(cursor.get(), 1));
    return values;
  }

  std::unique_ptr<testdb::TestDatabase> m_database;
  Session m_session;
};

TEST_P(Types, DescribesEveryColumnType) {
  const Description expected[] = {
      {"ID", fldINT32, 0, 4, 0, 0},
      {"C_CHAR", fldZSTRING, fldstFIXED, 5, 5, 0},
      {"C_VARCHAR", fldZSTRING, 0, 20, 20, 0},
      {"C_SMALLINT", fldINT16, 0, 2, 0, 0},
      {"C_INTEGER", fldINT32, 0, 4, 0, 0},
      {"C_BIGINT", fldINT64, 0, 8, 0, 0},
      {"C_FLOAT", fldFLOAT, 0, 8, 0, 0},
      {"C_DOUBLE", fldFLOAT, 0, 8, 0, 0},
      {"C_NUMERIC", fldBCD, 0, sizeof(TBcd), 18, -4},
      {"C_DECIMAL", fldBCD, 0, sizeof(TBcd), 9, -2},
      {"C_NUMERIC_SMALL", fldBCD, 0, sizeof(TBcd), 4, -1},
      {"C_NUMERIC_WHOLE", fldBCD, 0, sizeof(TBcd), 10, 0},
      {"C_DATE", fldDATE, 0, 4, 0, 0},
      {"C_TIME", fldTIME, 0, 4, 0, 0},
      {"C_TIMESTAMP", fldDATETIMESTAMP, 0, sizeof(TSQLTimeStamp), 0, 0},
      {"C_BOOLEAN", fldBOOL, 0, sizeof(bool), 0, 0},
      {"C_MEMO", fldBLOB, fldstMEMO, 8, 0, 0},
      {"C_BINARY", fldBLOB, fldstBINARY, 8, 0, 0},
      {"C_ARRAY", fldARRAY, 0, 8, 0, 0},
  };
  auto cursor = m_session.Query("SELECT * FROM ALL_TYPES");
  ASSERT_NE(cursor, nullptr);
  std::uint16_t count = 0;
  ASSERT_EQ(cursor->getColumnCount(&count), 0);
  ASSERT_EQ(count, std::size(expected));
  for (std::uint16_t i = 1; i <= count; ++i) {
    const Description& want = expected[i - 1];
    SCOPED_TRACE(want.column);
    char name[32] = {};
    std::uint16_t type = 99, subtype = 99;
    std::uint32_t length = 0;
    std::int16_t precision = -1, scale = -1;
    bool readOnly = true, nullable = false;
    EXPECT_EQ(cursor->getColumnName(i, name), 0);
    EXPECT_EQ(cursor->getColumnType(i, &type, &subtype), 0);
    EXPECT_EQ(cursor->getColumnLength(i, &length), 0);
    EXPECT_EQ(cursor->getColumnPrecision(i, &precision), 0);
    EXPECT_EQ(cursor->getColumnScale(i, &scale), 0);
    EXPECT_EQ(cursor->isReadOnly(i, &readOnly), 0);
    EXPECT_EQ(cursor->isNullable(i, &nullable), 0);
    EXPECT_STREQ(name, want.column);
    EXPECT_EQ(type, want.type);
    EXPECT_EQ(subtype, want.subtype);
    EXPECT_EQ(length, want.length);
    EXPECT_EQ(precision, want.precision);
    EXPECT_EQ(scale, want.scale);
    EXPECT_FALSE(readOnly);
    EXPECT_EQ(nullable, i != 1) << "only ID is NOT NULL";
  }
  EXPECT_EQ(cursor->getColumnType(0, nullptr, nullptr), 8);
  EXPECT_EQ(cursor->getColumnType(count + 1, nullptr, nullptr), 8);
}

TEST_P(Types, DeclaredPrecisionComesThroughViewsAndAliases) {
  auto cursor = m_session.Query(
      "SELECT V.C_NUMERIC AS AMOUNT, V.C_DECIMAL, CAST(1.5 AS NUMERIC(5,2)) AS COMPUTED, C_NUMERIC * 2 AS "
      "TWICE "
      "FROM TYPES_VIEW V");
  ASSERT_NE(cursor, nullptr);
  struct Case {
    std::uint16_t column;
    std::int16_t precision, scale;
    bool readOnly;
  };
  // Columns that come from no table get the precision their storage holds.
  for (Case want :
       {Case{1, 18, -4, false}, Case{2, 9, -2, false}, Case{3, 9, -2, true}, Case{4, 18, -4, true}}) {
    std::int16_t precision = 0, scale = 0;
    bool readOnly = false;
    EXPECT_EQ(cursor->getColumnPrecision(want.column, &precision), 0);
    EXPECT_EQ(cursor->getColumnScale(want.column, &scale), 0);
    EXPECT_EQ(cursor->isReadOnly(want.column, &readOnly), 0);
    EXPECT_EQ(precision, want.precision) << "column " << want.column;
    EXPECT_EQ(scale, want.scale) << "column " << want.column;
    EXPECT_EQ(readOnly, want.readOnly) << "column " << want.column;
  }
}

struct ValueCase {
  const char* column;
  std::vector<std::string> rows;  // rows 1 to 4
};

TEST_P(Types, ReadsEveryValue) {
  const ValueCase cases[] = {
      {"C_CHAR", {"'ab   '", "''", "'abcde'", "' a   '"}},
      {"C_VARCHAR", {"'xy '", "''", "''", "''"}},
      {"C_SMALLINT", {"-32768", "null", "32767", "null"}},
      {"C_INTEGER", {"-2147483648", "null", "2147483647", "null"}},
      {"C_BIGINT", {"9223372036854775807", "null", "-9223372036854775808", "null"}},
      {"C_FLOAT", {"1.5", "null", "-0.25", "null"}},
      {"C_DOUBLE", {"-2.25", "null", "1.0000000000000001e+300", "null"}},
      {"C_NUMERIC",
       {"922337203685477.5807 (precision 19)", "null", "-922337203685477.5808 (precision 19)",
        "-0.0001 (precision 18)"}},
      {"C_DECIMAL", {"-1234567.89 (precision 9)", "null", "0.05 (precision 9)", "-0.50 (precision 9)"}},
      {"C_NUMERIC_SMALL", {"-999.9 (precision 4)", "null", "0.0 (precision 4)", "null"}},
      {"C_NUMERIC_WHOLE", {"1234567890 (precision 10)", "null", "-1 (precision 10)", "null"}},
      {"C_DATE", {"day -1", "null", "day -693593", "day 36585"}},
      {"C_TIME", {"0 x 0.1 ms", "null", "863999999 x 0.1 ms", "null"}},
      {"C_TIMESTAMP",
       {"1899-12-30 00:00:00.0000", "null", "1600-02-29 23:59:59.9990", "2004-03-05 14:07:09.5000"}},
      {"C_BOOLEAN", {"true", "null", "false", "null"}},
      {"C_MEMO", {"[line 1\r\nline 2\n]", "null", "[]", "null"}},
      {"C_BINARY", {std::string("[\0\xFF\n\0\r]", 7), "null", "[]", "null"}},
  };
  for (const ValueCase& want : cases) {
    EXPECT_EQ(Values(want.column), want.rows) << want.column;
  }
}

// Every value reads the same from the cursor and from a copy of its row, in
// a query with parameters and in one without.
TEST_P(Types, EveryValueReadsAlikeFromRowImagesWithOrWithoutParameters) {
  const std::string columns =
      "ID, C_CHAR, C_VARCHAR, C_SMALLINT, C_INTEGER, C_BIGINT, C_FLOAT, C_DOUBLE, C_NUMERIC, C_DECIMAL, "
      "C_NUMERIC_SMALL, C_NUMERIC_WHOLE, C_DATE, C_TIME, C_TIMESTAMP, C_BOOLEAN, C_MEMO, C_BINARY, "
      "CAST(C_MEMO AS BLOB SUB_TYPE TEXT CHARACTER SET UTF8)";
  constexpr std::uint16_t kColumns = 19;
  std::vector<std::string> ways[4];
  for (const bool withParameter : {false, true}) {
    ISQLCommand* made = nullptr;
    ASSERT_EQ(m_session.connection->getSQLCommand(&made), 0);
    Owned<ISQLCommand> command(made);
    const std::string sql =
        "SELECT " + columns + " FROM ALL_TYPES" + (withParameter ? " WHERE ID > ?" : "") + " ORDER BY ID";
    ASSERT_EQ(command->prepare(sql.c_str(), withParameter ? 1 : 0), 0) << ErrorText(command.get());
    if (withParameter) {
      ASSERT_EQ(command->setParameterText(1, "0", 1), 0);
    }
    ISQLCursor* opened = nullptr;
    ASSERT_EQ(command->execute(&opened), 0) << ErrorText(command.get());
    Owned<ISQLCursor> cursor(opened);
    std::uint32_t size = 0;
    ASSERT_EQ(cursor->getRowImageSize(&size), 0);
    ISQLCursor* reader = nullptr;
    ASSERT_EQ(cursor->getImageReader(&reader), 0);
    Owned<ISQLCursor> images(reader);
    std::vector<std::string>& direct = ways[withParameter ? 2 : 0];
    std::vector<std::string>& copied = ways[withParameter ? 3 : 1];
    std::vector<char> image(size);
    while (cursor->next() == 0) {
      ASSERT_EQ(cursor->copyRowImage(image.data()), 0);
      ASSERT_EQ(images->showRowImage(image.data()), 0);
      for (std::uint16_t column = 1; column <= kColumns; ++column) {
        direct.push_back(Render(cursor.get(), column));
        copied.push_back(Render(images.get(), column));
      }
    }
  }
  EXPECT_EQ(ways[0].size(), 4u * kColumns);
  for (const auto& way : ways) EXPECT_EQ(way, ways[0]);
}

TEST_P(Types, NullCharColumnReadsAsNull) {
  auto cursor = m_session.Query("SELECT C_CHAR FROM ALL_TYPES WHERE ID = 2");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  char buffer[8] = "xxxxxxx";
  std::uint32_t length = 99;
  bool isNull = false;
  EXPECT_EQ(cursor->getString(1, buffer, sizeof buffer, &length, &isNull), 0);
  EXPECT_TRUE(isNull);
}

struct Conversion {
  const char* column;
  const char* getter;
  SQLResult status;
};

SQLResult CallGetter(ISQLCursor* cursor, const std::string& getter) {
  bool isNull = false;
  if (getter == "String") {
    char buffer[64];
    std::uint32_t length = 0;
    return cursor->getString(1, buffer, sizeof buffer, &length, &isNull);
  }
  if (getter == "Int16") {
    std::int16_t value;
    return cursor->getInt16(1, &value, &isNull);
  }
  if (getter == "Int32") {
    std::int32_t value;
    return cursor->getInt32(1, &value, &isNull);
  }
  if (getter == "Int64") {
    std::int64_t value;
    return cursor->getInt64(1, &value, &isNull);
  }
  if (getter == "Double") {
    double value;
    return cursor->getDouble(1, &value, &isNull);
  }
  if (getter == "Bcd") {
    TBcd value;
    return cursor->getBcd(1, &value, &isNull);
  }
  if (getter == "Boolean") {
    bool value;
    return cursor->getBoolean(1, &value, &isNull);
  }
  if (getter == "Date") {
    std::int32_t value;
    return cursor->getDate(1, &value, &isNull);
  }
  if (getter == "Time") {
    std::uint32_t value;
    return cursor->getTime(1, &value, &isNull);
  }
  if (getter == "TimeStamp") {
    TSQLTimeStamp value;
    return cursor->getTimeStamp(1, &value, &isNull);
  }
  if (getter == "DateTime") {
    double value;
    return cursor->getDateTime(1, &value, &isNull);
  }
  std::uint32_t size;
  return cursor->getBlobSize(1, &size, &isNull);
}

TEST_P(Types, GettersConvertOnlyWhatTheyCan) {
  const Conversion cases[] = {
      {"C_SMALLINT", "Int32", 0}, {"C_SMALLINT", "Int64", 0}, {"C_INTEGER", "Int64", 0},
      {"C_BIGINT", "Bcd", 0},     {"C_INTEGER", "Double", 0}, {"C_NUMERIC", "Double", 0},
      {"C_TIMESTAMP", "Date", 0}, {"C_TIMESTAMP", "Time", 0}, {"C_DATE", "TimeStamp", 0},
      {"C_TIME", "DateTime", 0},  {"C_MEMO", "String", 0},    {"C_INTEGER", "Int16", 6},
      {"C_BIGINT", "Int32", 6},   {"C_NUMERIC", "Int64", 6},  {"C_DOUBLE", "Bcd", 6},
      {"C_VARCHAR", "Int32", 6},  {"C_INTEGER", "String", 6}, {"C_SMALLINT", "Boolean", 6},
      {"C_TIME", "Date", 6},      {"C_DATE", "Time", 6},      {"C_VARCHAR", "DateTime", 6},
      {"C_CHAR", "Blob", 6},      {"C_BOOLEAN", "Double", 6}, {"C_ARRAY", "String", 6},
  };
  for (const Conversion& want : cases) {
    auto cursor = m_session.Query(std::string("SELECT ") + want.column + " FROM ALL_TYPES WHERE ID = 1");
    ASSERT_NE(cursor, nullptr);
    ASSERT_EQ(cursor->next(), 0);
    EXPECT_EQ(CallGetter(cursor.get(), want.getter), want.status) << want.column << " as " << want.getter;
  }
}

TEST_P(Types, DateTimeCountsDaysWithTheTimeAsFraction) {
  auto cursor = m_session.Query(
      "SELECT CAST('1899-12-29 06:00' AS TIMESTAMP), CAST('1899-12-31 18:00' AS TIMESTAMP), C_DATE, C_TIME "
      "FROM ALL_TYPES WHERE ID = 1");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  double value = 0;
  bool isNull = true;
  ASSERT_EQ(cursor->getDateTime(1, &value, &isNull), 0);
  EXPECT_DOUBLE_EQ(value, -1.25);
  ASSERT_EQ(cursor->getDateTime(2, &value, &isNull), 0);
  EXPECT_DOUBLE_EQ(value, 1.75);
  ASSERT_EQ(cursor->getDateTime(3, &value, &isNull), 0);
  EXPECT_DOUBLE_EQ(value, -1);
  ASSERT_EQ(cursor->getDateTime(4, &value, &isNull), 0);
  EXPECT_DOUBLE_EQ(value, 0);
}

TEST_P(Types, StringIntoASmallBufferGivesTheWholeLength) {
  auto cursor = m_session.Query("SELECT C_CHAR FROM ALL_TYPES WHERE ID = 3");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  std::uint32_t length = 0;
  bool isNull = true;
  ASSERT_EQ(cursor->getString(1, buffer, 2, &length, &isNull), 0);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(std::string(buffer, 4), "abxx");
}

TEST_P(Types, BlobIsReadOnceAndAgainForEachRow) {
  auto cursor = m_session.Query("SELECT C_MEMO FROM ALL_TYPES WHERE ID IN (1, 3) ORDER BY ID");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  EXPECT_EQ(Render(cursor.get(), 1), "[line 1\r\nline 2\n]");
  EXPECT_EQ(Render(cursor.get(), 1), "[line 1\r\nline 2\n]");
  ASSERT_EQ(cursor->next(), 0);
  EXPECT_EQ(Render(cursor.get(), 1), "[]");
}

TEST_P(Types, LargeBlobComesWhole) {
  // 300 000 bytes: several segments of the largest size the client reads.
  m_session.Execute(
      "INSERT INTO ALL_TYPES (ID, C_BINARY) VALUES (5, (WITH RECURSIVE R (N) AS (SELECT 1 FROM RDB$DATABASE "
      "UNION ALL SELECT N + 1 FROM R WHERE N < 300) SELECT LIST(LPAD(N, 1000, '-'), '') FROM R))");
  auto cursor = m_session.Query("SELECT C_BINARY FROM ALL_TYPES WHERE ID = 5");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  std::string value = Render(cursor.get(), 1);
  ASSERT_EQ(value.size(), 300002u);
  for (int n = 1; n <= 300; ++n) {
    std::string piece = std::to_string(n);
    piece.insert(0, 1000 - piece.size(), '-');
    ASSERT_EQ(value.compare(1 + (n - 1) * 1000, 1000, piece), 0) << "piece " << n;
  }
}

TEST_P(Types, LongAliasIsCutToThirtyOneBytes) {
  auto cursor = m_session.Query("SELECT 1 AS ABCDEFGHIJKLMNOPQRSTUVWXYZ_1234 FROM RDB$DATABASE");
  ASSERT_NE(cursor, nullptr);
  char name[32];
  std::memset(name, 'x', sizeof name);
  ASSERT_EQ(cursor->getColumnName(1, name), 0);
  EXPECT_STREQ(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZ_1234");
}

TEST_P(Types, TrimCharRemovesThePadding) {
  Session trimming;
  ASSERT_EQ(trimming.connection->setOption(eConnTrimChar, 1), 0);
  ASSERT_EQ(trimming.Connect(m_database->Connect()), 0) << ErrorText(trimming.connection.get());
  auto cursor = trimming.Query("SELECT C_CHAR, C_VARCHAR FROM ALL_TYPES WHERE ID IN (1, 4) ORDER BY ID");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  EXPECT_EQ(StringValue(cursor.get(), 1), "ab");
  EXPECT_EQ(StringValue(cursor.get(), 2), "xy ") << "VARCHAR values stay as stored";
  ASSERT_EQ(cursor->next(), 0);
  EXPECT_EQ(StringValue(cursor.get(), 1), " a");
}

// The server pads a CHAR(n) to n times the widest character of the
// connection's set; whatever that set, the value is the column's n
// characters, in the connection's set.
TEST_P(Types, ACharHoldsItsDeclaredCharactersInEveryConnectionSet) {
  m_session.Execute(
      "CREATE TABLE U (ID INTEGER, CU CHAR(3) CHARACTER SET UTF8, CW CHAR(3) CHARACTER SET WIN1252, "
      "VU VARCHAR(3) CHARACTER SET UTF8)");
  m_session.Execute("INSERT INTO U VALUES (1, _UTF8 '\u00E4b', _UTF8 '\u00E4b', _UTF8 '\u00E4')");
  m_session.Execute("INSERT INTO U VALUES (2, _UTF8 '\u4E2Db', NULL, NULL)");
  struct Case {
    const char* connectionSet;
    const char* select;
    std::int16_t precision;
    std::uint32_t length;
    std::string value;
  } cases[] = {
      {"NONE", "CU FROM U WHERE ID = 1", 3, 12,
       "\xC3\xA4"
       "b "},
      {"NONE", "CW FROM U WHERE ID = 1", 3, 3,
       "\xE4"
       "b "},
      {"UTF8", "CU FROM U WHERE ID = 1", 3, 12,
       "\xC3\xA4"
       "b "},
      {"UTF8", "CW FROM U WHERE ID = 1", 3, 12,
       "\xC3\xA4"
       "b "},
      {"UTF8", "VU FROM U WHERE ID = 1", 3, 12, "\xC3\xA4"},
      {"WIN1252", "CU FROM U WHERE ID = 1", 3, 3,
       "\xE4"
       "b "},
      {"GBK", "CU FROM U WHERE ID = 2", 3, 6,
       "\xD6\xD0"
       "b "},
      {"GB18030", "CU FROM U WHERE ID = 2", 3, 12,
       "\xD6\xD0"
       "b "},
      {"GB18030", "CU FROM U WHERE ID = 1", 3, 12,
       "\x81\x30\x8A\x31"
       "b "},
      {"SJIS_0208", "CU FROM U WHERE ID = 2", 3, 6,
       "\x92\x86"
       "b "},
      {"EUCJ_0208", "CU FROM U WHERE ID = 2", 3, 6,
       "\xC3\xE6"
       "b "},
      {"BIG_5", "CU FROM U WHERE ID = 2", 3, 6,
       "\xA4\xA4"
       "b "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.connectionSet) + ": " + c.select);
    Session session;
    ASSERT_EQ(session.connection->setOptionText(eConnServerCharSet, c.connectionSet), 0);
    ASSERT_EQ(session.Connect(m_database->Connect()), 0) << ErrorText(session.connection.get());
    auto cursor = session.Query(std::string("SELECT ") + c.select);
    ASSERT_NE(cursor, nullptr);
    std::int16_t precision = 0;
    std::uint32_t length = 0;
    EXPECT_EQ(cursor->getColumnPrecision(1, &precision), 0);
    EXPECT_EQ(cursor->getColumnLength(1, &length), 0);
    EXPECT_EQ(precision, c.precision);
    EXPECT_EQ(length, c.length);
    ASSERT_EQ(cursor->next(), 0) << ErrorText(cursor.get());
    EXPECT_EQ(StringValue(cursor.get(), 1), c.value);
  }
}

DRIVER_ROUTES(Types);

}  // namespace
}  // namespace drivertest
