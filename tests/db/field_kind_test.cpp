// Which field each column description becomes, and the exact decimal
// conversions behind the two BCD kinds.
#include <gtest/gtest.h>

#include <cstring>

#include "base/exceptions.h"
#include "db/fields.h"
#include "fake_fixture.h"

namespace {

TColumnDesc Column(std::uint16_t type, std::uint16_t subtype = 0, std::int16_t first = 10,
                   std::int16_t second = 0, std::uint32_t length = 4) {
  TColumnDesc column;
  column.name = "C";
  column.typeCode = type;
  column.subtypeCode = subtype;
  column.firstUnit = first;
  column.secondUnit = second;
  column.dataLength = length;
  return column;
}

struct KindCase {
  const char* name;
  TColumnDesc column;
  TFieldDefClass defClass;
  TFieldKind kind;  // for fdField
  std::int32_t size;
  std::int32_t precision;
};

class ChooseFieldKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(ChooseFieldKindTest, FollowsTheTypeCode) {
  const KindCase& c = GetParam();
  TFieldDef def = ChooseFieldKind(c.column, {});
  ASSERT_EQ(def.defClass, c.defClass);
  if (c.defClass == fdField) {
    EXPECT_EQ(def.kind, c.kind) << FieldKindName(def.kind);
    EXPECT_EQ(def.size, c.size);
    EXPECT_EQ(def.precision, c.precision);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ChooseFieldKindTest,
    ::testing::Values(KindCase{"Unknown", Column(fldUNKNOWN), fdNone, fkString, 0, 0},
                      KindCase{"Varchar", Column(fldZSTRING, 0, 30), fdField, fkString, 30, 0},
                      KindCase{"EmptyString", Column(fldZSTRING, 0, 0), fdNone, fkString, 0, 0},
                      KindCase{"Date", Column(fldDATE), fdField, fkDate, 0, 0},
                      KindCase{"Memo", Column(fldBLOB, fldstMEMO, 0), fdField, fkMemo, 0, 0},
                      KindCase{"HugeMemo", Column(fldBLOB, fldstHMEMO, 8), fdField, fkMemo, 8, 0},
                      KindCase{"BinaryBlob", Column(fldBLOB, fldstBINARY), fdField, fkBlob, 10, 0},
                      KindCase{"Boolean", Column(fldBOOL), fdField, fkBoolean, 0, 0},
                      KindCase{"Smallint", Column(fldINT16, 0, 0, 0, 2), fdField, fkSmallint, 0, 0},
                      KindCase{"SmallintWrongLength", Column(fldINT16, 0, 0, 0, 4), fdNone, fkString, 0, 0},
                      KindCase{"Integer", Column(fldINT32), fdField, fkInteger, 0, 0},
                      KindCase{"UnsignedInteger", Column(fldUINT32), fdField, fkInteger, 0, 0},
                      KindCase{"Float", Column(fldFLOAT), fdField, fkFloat, 0, 0},
                      KindCase{"Bcd9_2", Column(fldBCD, 0, 9, -2), fdField, fkBCD, 2, 9},
                      KindCase{"Bcd14_4", Column(fldBCD, 0, 14, -4), fdField, fkBCD, 4, 14},
                      KindCase{"Bcd15_0", Column(fldBCD, 0, 15, 0), fdField, fkFMTBCD, 0, 15},
                      KindCase{"Bcd10_6", Column(fldBCD, 0, 10, -6), fdField, fkFMTBCD, 6, 10},
                      KindCase{"Bcd18_2", Column(fldBCD, 0, 18, -2), fdField, fkFMTBCD, 2, 18},
                      KindCase{"ScaleAbovePrecision", Column(fldBCD, 0, 2, -3), fdField, fkBCD, 3, 3},
                      KindCase{"Bcd38_0", Column(fldBCD, 0, 38, 0), fdField, fkFMTBCD, 8, 32},
                      KindCase{"Bcd38_38", Column(fldBCD, 0, 38, -38), fdField, fkFMTBCD, 8, 32},
                      KindCase{"Bcd38_10", Column(fldBCD, 0, 38, -10), fdField, fkFMTBCD, 10, 32},
                      KindCase{"Bcd34_2", Column(fldBCD, 0, 34, 2), fdField, fkFMTBCD, 2, 32},
                      KindCase{"FmtBcd5_2", Column(fldFMTBCD, 0, 5, -2), fdField, fkFMTBCD, 2, 5},
                      KindCase{"Time", Column(fldTIME), fdField, fkTime, 0, 0},
                      KindCase{"Code14", Column(14), fdNone, fkString, 0, 0},
                      KindCase{"Code16", Column(16), fdNone, fkString, 0, 0},
                      KindCase{"Cursor", Column(fldCURSOR), fdCursor, fkString, 0, 0},
                      KindCase{"Int64", Column(fldINT64), fdField, fkLargeint, 0, 0},
                      KindCase{"UInt64", Column(fldUINT64), fdField, fkLargeint, 0, 0},
                      KindCase{"Record", Column(fldADT), fdStructured, fkString, 0, 0},
                      KindCase{"Array", Column(fldARRAY), fdStructured, fkString, 0, 0},
                      KindCase{"Reference", Column(fldREF), fdStructured, fkString, 0, 0},
                      KindCase{"EmptyReference", Column(fldREF, 0, 0), fdNone, fkString, 0, 0},
                      KindCase{"NestedTable", Column(fldTABLE), fdStructured, fkString, 0, 0},
                      KindCase{"TimeStamp", Column(fldDATETIMESTAMP), fdField, fkSQLTimeStamp, 0, 0},
                      KindCase{"Code26", Column(26), fdNone, fkString, 0, 0},
                      KindCase{"Code300", Column(300), fdNone, fkString, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChooseFieldKind, AttributesComeFromTheDescription) {
  TColumnDesc column = Column(fldZSTRING, fldstFIXED, 5);
  column.nullable = false;
  column.readOnly = true;
  TFieldDef def = ChooseFieldKind(column, {});
  EXPECT_TRUE(def.required);
  EXPECT_TRUE(def.readOnly);
  EXPECT_TRUE(def.fixedChar);

  // A promoted decimal reads as a formatted BCD column.
  EXPECT_EQ(ChooseFieldKind(Column(fldBCD, 0, 18, -2), {}).typeCode, fldFMTBCD);
}

TEST(ChooseFieldKind, RepeatedNamesGetANumber) {
  struct Case {
    std::string name;
    std::vector<std::string> existing;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"A", {}, "A"},
      {"A", {"A"}, "A_1"},
      {"A", {"A", "A_1"}, "A_2"},
      {"a", {"A"}, "a_1"},  // names are unique ignoring letter case, as lookups are
      {"A", {"A", "a_1", "A_2"}, "A_3"},
      {"A_1", {"A", "A_1"}, "A_1_1"},
  };
  for (const auto& c : cases) {
    TColumnDesc column = Column(fldINT32);
    column.name = c.name;
    EXPECT_EQ(ChooseFieldKind(column, c.existing).name, c.expected) << c.name;
  }
}

std::string BcdDigits(const TBcd& bcd) {
  std::string text = (bcd.signSpecialPlaces & 0x80) ? "-" : "";
  int places = bcd.signSpecialPlaces & 0x3F;
  for (int i = 0; i < bcd.precision; ++i) {
    if (i == bcd.precision - places) text += '.';
    std::uint8_t byte = bcd.fraction[i / 2];
    text += static_cast<char>('0' + (i % 2 == 0 ? byte >> 4 : byte & 0x0F));
  }
  return text;
}

TEST(NormalizeBcd, BringsValuesToPrecisionAndScale) {
  struct Case {
    std::string value;
    int precision;
    int scale;
    std::string expected;  // "overflow" for a value that does not fit
  };
  const std::vector<Case> cases = {
      {"12.50", 18, 2, "0000000000000012.50"},
      {"-12.5", 5, 2, "-012.50"},
      {"999.99", 5, 2, "999.99"},
      {"1000.00", 5, 2, "overflow"},
      {"0001000.00", 6, 2, "1000.00"},  // leading zeros beyond the precision are fine
      {"1.005", 5, 2, "001.01"},        // extra decimals round half away from zero
      {"-1.004", 5, 2, "-001.00"},
      {"999.995", 5, 2, "overflow"},  // rounding carries out of the precision
      {"-0.00", 3, 2, "0.00"},        // no negative zero
      {"12345678901234567890123456789012", 32, 0, "12345678901234567890123456789012"},
      {"123456789012345678901234.56789012", 32, 8, "123456789012345678901234.56789012"},
      {"1234567890123456789012345", 32, 8, "overflow"},
  };
  for (const auto& c : cases) {
    if (c.expected == "overflow") {
      EXPECT_THROW(NormalizeBcd(MakeBcd(c.value), c.precision, c.scale), EConvertError) << c.value;
    } else {
      EXPECT_EQ(BcdDigits(NormalizeBcd(MakeBcd(c.value), c.precision, c.scale)), c.expected) << c.value;
    }
  }
  TBcd empty{};
  EXPECT_THROW(NormalizeBcd(empty, 5, 2), EConvertError);
  TBcd badDigit = MakeBcd("12");
  badDigit.fraction[0] = 0xA1;
  EXPECT_THROW(NormalizeBcd(badDigit, 5, 2), EConvertError);
  EXPECT_THROW(NormalizeBcd(MakeBcd("1"), 0, 0), EConvertError);
}

TEST(BcdToFixedPoint, CountsTenThousandthsExactly) {
  struct Case {
    std::string value;
    std::int64_t expected;
  };
  const std::vector<Case> cases = {
      {"12.50", 125000},
      {"-0.5", -5000},
      {"0.0001", 1},
      {"123.45", 1234500},
      {"0", 0},
      {"99999999999999.9999", 999999999999999999},
      {"922337203685477.5807", INT64_MAX},
      {"-922337203685477.5808", INT64_MIN},
      {"1.23456", 12346},  // a fifth decimal rounds
      {"-1.23454", -12345},
  };
  for (const auto& c : cases) EXPECT_EQ(BcdToFixedPoint(MakeBcd(c.value)), c.expected) << c.value;
  EXPECT_THROW(BcdToFixedPoint(MakeBcd("922337203685477.5808")), EConvertError);
  EXPECT_THROW(BcdToFixedPoint(MakeBcd("1000000000000000")), EConvertError);
}

}  // namespace
