// The layer's side of the driver contract, against the fake driver: what a
// real server cannot be made to do on demand.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "base/exceptions.h"
#include "db/sql_command.h"
#include "db/value_text.h"
#include "fake_fixture.h"

namespace {

std::string FailureText(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& failure) {
    return failure.what();
  }
  return "(no failure)";
}

struct LoadCase {
  const char* name;
  std::string libraryName;
  std::string getDriverFunc;
  std::string vendorLib;
  SQLResult entryStatus;
  std::string expected;
};

class LoadFailureTest : public FakeDriverTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadFailureTest, NamesWhatFailedToLoadAndStaysClosed) {
  const LoadCase& c = GetParam();
  connection.SetLibraryName(c.libraryName);
  connection.SetGetDriverFunc(c.getDriverFunc);
  connection.SetVendorLib(c.vendorLib);
  Fake().entryStatus = c.entryStatus;

  EXPECT_EQ(FailureText([&] { connection.SetConnected(true); }), c.expected);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);
  EXPECT_EQ(Fake().liveConnections, 0);

  // Mended settings connect on the next try.
  connection.SetLibraryName("libfakedriver.so");
  connection.SetGetDriverFunc("getSQLDriverFIREBIRD");
  Fake().entryStatus = 0;
  connection.SetConnected(true);
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(connection.ConnectionState(), csStateOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadFailureTest,
    ::testing::Values(LoadCase{"MissingLibrary", "libvp-no-such-driver.so", "getSQLDriverFIREBIRD",
                               "libfbclient.so.2", 0,
                               "Unable to Load libvp-no-such-driver.so: libvp-no-such-driver.so: cannot open "
                               "shared object file: No such file or directory"},
                      LoadCase{"MissingEntry", "libfakedriver.so", "getSQLDriverNONE", "libfbclient.so.2", 0,
                               "Unable to Find Procedure getSQLDriverNONE"},
                      LoadCase{"EntryFails", "libfakedriver.so", "getSQLDriverFIREBIRD", "libfbclient.so.2",
                               1, "Unable to Load libfbclient.so.2"},
                      LoadCase{"EntrySaysWhy", "libfakedriver.so", "getSQLDriverFIREBIRD", "libvp-client.so",
                               255, "Unable to Load libvp-client.so: fake failure"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeDriverTest, SettingsAreCheckedBeforeAnyLibraryIsTouched) {
  struct Case {
    std::function<void(TSQLConnection&)> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {[](TSQLConnection& c) { c.SetDriverName(""); }, "Missing DriverName property"},
      {[](TSQLConnection& c) { c.SetLibraryName(""); }, "scnDatabase: DLL/Shared Library Name not Set"},
      {[](TSQLConnection& c) { c.SetVendorLib(""); }, "scnDatabase: DLL/Shared Library Name not Set"},
      {[](TSQLConnection& c) { c.Params().SetValue("Database", ""); }, "Missing Database property"},
      {[](TSQLConnection& c) {
         c.Params().SetValue("Database", "");
         c.SetConnectionName("");
       },
       "Connection name missing"},
  };
  for (const auto& c : cases) {
    TSQLConnection fresh("scnDatabase");
    fresh.SetLibraryName("libfakedriver.so");
    fresh.Params().SetValue("Database", "fake.fdb");
    c.change(fresh);
    EXPECT_EQ(FailureText([&] { fresh.SetConnected(true); }), c.expected);
    EXPECT_EQ(fresh.ConnectionState(), csStateClosed);
  }
  EXPECT_TRUE(Fake().log.empty());
}

TEST_F(FakeDriverTest, ConnectSetsOptionsFromTheStartingParametersInOrder) {
  connection.Params().SetValue("User_Name", " sysdba ");
  connection.SetConnected(true);
  const std::vector<std::string> expected = {
      "entry libfbclient.so.2 ''",
      "c1 option 3='RoleName'",
      "c1 option 4=1",
      "c1 option 5=0",
      "c1 option 6=0",
      "c1 option 16=3",
      "c1 option 25=0",
      "c1 connect fake.fdb  sysdba  quillbank",
  };
  EXPECT_EQ(Fake().log, expected);
}

TEST_F(FakeDriverTest, ConnectHonoursTheOtherKeysInTheirPlace) {
  auto& params = connection.Params();
  params.SetLines({"Database= /data/x.fdb ",
                   "User_Name=u",
                   "Password=p",
                   "Custom String=c s",
                   "Connection Timeout= 7",
                   "Trim Char=true",
                   "Multiple Transaction=yes",
                   "Server Port=3050",
                   "OS Authentication=TRUE",
                   "SqlDialect=1",
                   "Interbase TransIsolation=DirtyRead",
                   "ServerCharSet=WIN1252",
                   "BlockingMode=True",
                   "AutoCommit=False",
                   "CommitRetain=x",
                   "WaitOnLocks=False",
                   "RoleName= R ",
                   "HostName=db",
                   "ErrorResourceFile= errors.txt ",
                   "BlobSize=100"});
  connection.SetConnected(true);
  const std::vector<std::string> expected = {
      "entry libfbclient.so.2 'errors.txt'",
      "c1 option 10='db'",
      "c1 option 3='R'",
      "c1 option 4=0",
      "c1 option 5=0",
      "c1 option 0=0",
      "c1 option 1=1",
      "c1 option 15='WIN1252'",
      "c1 option 6=2",
      "c1 option 16=1",
      "c1 option 20=1",
      "c1 option 23='3050'",
      "c1 option 22=0",
      "c1 option 25=1",
      "c1 option 31='c s'",
      "c1 option 32=7",
      "c1 connect /data/x.fdb u p",
  };
  EXPECT_EQ(Fake().log, expected);
}

TEST_F(FakeDriverTest, IsolationOtherThanTheTwoNamedOnesIsReadCommitted) {
  for (const auto& [value, option] : std::vector<std::pair<std::string, std::string>>{
           {"repeatableread", "c1 option 6=1"},
           {"RepeatableRead", "c1 option 6=1"},
           {" RepeatableRead", "c1 option 6=0"},  // lowered, not trimmed
           {"ReadCommited", "c1 option 6=0"}}) {
    Fake() = TFakeDriverState{};
    TSQLConnection fresh;
    fresh.SetLibraryName("libfakedriver.so");
    fresh.Params().SetValue("Interbase TransIsolation", value);
    fresh.SetConnected(true);
    EXPECT_EQ(LogLines("c1 option 6="), std::vector<std::string>{option}) << value;
  }
}

TEST_F(FakeDriverTest, AParameterThatIsNoNumberFailsTheConnect) {
  connection.Params().SetValue("SQLDialect", " 3x ");
  EXPECT_EQ(FailureText([&] { connection.SetConnected(true); }), "'3x' is not a valid integer value");
  EXPECT_THROW(connection.SetConnected(true), EConvertError);
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);
  EXPECT_EQ(Fake().liveConnections, 0);
  EXPECT_TRUE(LogLines("c1 connect").empty());
}

TEST_F(FakeDriverTest, ARefusedConnectGivesTheDriversTextAndReleasesWithoutDisconnect) {
  Fake().connectStatus = 300;
  Fake().errorText = "Your user name and password are not defined";
  EXPECT_EQ(FailureText([&] { connection.SetConnected(true); }),
            "Your user name and password are not defined");
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);
  EXPECT_EQ(Fake().liveConnections, 0);
  EXPECT_TRUE(LogLines("c1 disconnect").empty());
  EXPECT_EQ(connection.LastError(), "Your user name and password are not defined");
}

struct StatusCase {
  SQLResult status;
  std::string expected;
};

TEST_F(FakeDriverTest, EveryStatusHasItsText) {
  const std::vector<StatusCase> cases = {
      {1, "Driver Error: Insufficient Memory for Operation"},
      {2, "Driver Error: Invalid Field Type"},
      {3, "Driver Error: Invalid Handle"},
      {4, "Driver Error: Invalid Time"},
      {5, "Driver Error: Operation Not Supported"},
      {6, "Driver Error: Invalid Data Translation"},
      {7, "Driver Error: Invalid Parameter"},
      {8, "Driver Error: Parameter/Column out of Range"},
      {9, "Driver Error: Parameter Not Set"},
      {10, "Driver Error: Result set at EOF"},
      {11, "Driver Error: Invalid Username/Password"},
      {12, "Driver Error: Invalid Precision"},
      {13, "Driver Error: Invalid Length"},
      {14, "Driver Error: Invalid Transaction Isolation Level"},
      {15, "Driver Error: Invalid Transaction ID"},
      {16, "Driver Error: Duplicate Transaction ID"},
      {17, "Driver Error: No Mapping for Error Code Found"},
      {18, "Driver Error: Local Transaction already active"},
      {19, "Driver Error: Multiple Transactions not Enabled"},
      {20, "Driver Error: No Mapping for Error Code Found"},
      {21, "Driver Error: No Mapping for Error Code Found"},
      {100, "Driver Error: No Mapping for Error Code Found"},
      {254, "Driver Error: No Mapping for Error Code Found"},
      {255, "fake failure"},
      {65535, "fake failure"},
  };
  for (const auto& c : cases) {
    Fake().connectStatus = c.status;
    EXPECT_EQ(FailureText([&] { connection.SetConnected(true); }), c.expected) << c.status;
    EXPECT_EQ(connection.LastError(), c.expected);
  }
}

TEST_F(FakeDriverTest, AnErrorTextThatCannotBeHadFallsBack) {
  Fake().connectStatus = 255;
  Fake().errorText = "";
  EXPECT_EQ(FailureText([&] { connection.SetConnected(true); }), "SQL Error: Error mapping failed");

  // Asking for the text fails: nothing recorded yet, then the last recorded text.
  TSQLConnection fresh("other");
  fresh.SetLibraryName("libfakedriver.so");
  Fake().errorLengthFails = true;
  EXPECT_EQ(FailureText([&] { fresh.SetConnected(true); }), "SQL Error: Error mapping failed");
  Fake().connectStatus = 7;
  EXPECT_EQ(FailureText([&] { fresh.SetConnected(true); }), "Driver Error: Invalid Parameter");
  Fake().connectStatus = 255;
  EXPECT_EQ(FailureText([&] { fresh.SetConnected(true); }), "Driver Error: Invalid Parameter");
  Fake().errorLengthFails = false;
  Fake().errorTextFails = true;
  Fake().errorText = "not this one";
  EXPECT_EQ(FailureText([&] { fresh.SetConnected(true); }), "Driver Error: Invalid Parameter");
}

TEST_F(FakeDriverTest, DisconnectClosesDatasetsAndReleasesTheirStatements) {
  TFakeResult table;
  table.columns = {FakeColumn("ID", fldINT32)};
  table.rows = {{FakeInteger(1)}};
  AddTable("T", table);
  TSQLDataSet open("sdsTable", &connection);
  open.SetCommandText("select * from T");
  TSQLDataSet closed("other", &connection);
  closed.SetCommandType(ctTable);
  closed.SetCommandText("T");
  Fake().results["select * from T"] = table;
  closed.SetActive(true);
  closed.SetActive(false);
  open.SetActive(true);
  EXPECT_EQ(Fake().liveCommands, 2);

  connection.SetConnected(false);
  EXPECT_FALSE(open.Active());
  EXPECT_EQ(Fake().liveCommands, 0);
  EXPECT_EQ(Fake().liveCursors, 0);
  EXPECT_EQ(Fake().liveConnections, 0);
  EXPECT_EQ(LogLines("c1 disconnect").size(), 1u);
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);

  // The next open connects again and prepares anew.
  open.SetActive(true);
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(LogLines("c2 prepare").size(), 1u);
}

TEST_F(FakeDriverTest, TheConnectionsEndClosesAndUnbindsItsDatasets) {
  TFakeResult table;
  table.columns = {FakeColumn("ID", fldINT32)};
  table.rows = {{FakeInteger(1)}};
  Fake().results["select * from T"] = table;
  auto owned = std::make_unique<TSQLConnection>("scnDatabase");
  owned->SetLibraryName("libfakedriver.so");
  TSQLDataSet dataSet("sdsTable", owned.get());
  dataSet.SetCommandText("select * from T");
  dataSet.SetActive(true);
  owned.reset();
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(dataSet.SQLConnection(), nullptr);
  EXPECT_EQ(Fake().liveConnections, 0);
  EXPECT_EQ(Fake().liveCommands, 0);
  EXPECT_EQ(FailureText([&] { dataSet.SetActive(true); }), "sdsTable: Missing SQLConnection property");
}

TEST_F(FakeDriverTest, RowsPerFetchComeFromRowsetSize) {
  Fake().results["select 1"] = TFakeResult{{FakeColumn("X", fldINT32)}, {{FakeInteger(1)}}};
  for (const auto& [value, expected] :
       std::vector<std::pair<std::string, std::string>>{{"", "c1 command option 0=20"},
                                                        {" 50 ", "c1 command option 0=50"},
                                                        {"many", "c1 command option 0=20"}}) {
    Fake().log.clear();
    connection.Params().SetValue("RowsetSize", value);
    TSQLDataSet dataSet("", &connection);
    dataSet.SetCommandText("select 1");
    dataSet.SetActive(true);
    EXPECT_EQ(LogLines("c1 command option 0="), std::vector<std::string>{expected}) << value;
  }
}

TEST_F(FakeDriverTest, APrepareFailureOfATableGivesTheServersWords) {
  connection.SetConnected(true);
  TSQLDataSet dataSet("sdsTable", &connection);
  dataSet.SetCommandType(ctTable);
  dataSet.SetCommandText("T");

  Fake().prepareStatus = 255;
  Fake().errorText = "Table unknown\nT";
  EXPECT_EQ(FailureText([&] { dataSet.SetActive(true); }), "Table unknown\nT");
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(dataSet.CommandText(), "T");
  EXPECT_EQ(Fake().liveCommands, 0);
}

TEST_F(FakeDriverTest, AStatementWithoutCursorCannotBeOpened) {
  TSQLDataSet dataSet("sdsTable", &connection);
  dataSet.SetCommandText("update T set A = 1");
  EXPECT_EQ(FailureText([&] { dataSet.SetActive(true); }), "sdsTable: Cursor not returned from Query");
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(Fake().liveCommands, 0);
}

TEST_F(FakeDriverTest, ACursorColumnFailsTheOpen) {
  Fake().results["select * from P"] =
      TFakeResult{{FakeColumn("ID", fldINT32), FakeColumn("RC", fldCURSOR)}, {}};
  TSQLDataSet dataSet("sdsTable", &connection);
  dataSet.SetCommandText("select * from P");
  EXPECT_EQ(FailureText([&] { dataSet.SetActive(true); }), "Field 'RC' is of an unknown type");
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(Fake().liveCursors, 0);
  EXPECT_EQ(Fake().valueCalls, 0);
}

TEST_F(FakeDriverTest, ColumnsWithoutAKindGetNoField) {
  TFakeColumn empty = FakeColumn("EMPTY");
  empty.precision = 0;
  TFakeColumn wide = FakeColumn("WIDE", fldINT16);
  wide.length = 4;
  Fake().results["select *"] =
      TFakeResult{{FakeColumn("A", fldINT32), empty, FakeColumn("ARR", fldARRAY), wide, FakeColumn("Z")},
                  {{FakeInteger(1), FakeText(""), FakeNull(), FakeInteger(2), FakeText("z")}}};
  TSQLDataSet dataSet("", &connection);
  dataSet.SetCommandText("select *");
  dataSet.SetActive(true);
  ASSERT_EQ(dataSet.NumberOfFields(), 2);
  EXPECT_EQ(dataSet.FieldAt(0).FieldName(), "A");
  EXPECT_EQ(dataSet.FieldAt(1).FieldName(), "Z");
  EXPECT_EQ(dataSet.FieldAt(1).FieldNo(), 5);
  EXPECT_EQ(dataSet.FieldAt(1).ValueText(), "z");
}

TEST_F(FakeDriverTest, EachValueIsReadOncePerRow) {
  TFakeColumn blob = FakeColumn("B", fldBLOB, fldstBINARY);
  Fake().results["select *"] =
      TFakeResult{{FakeColumn("N", fldINT32), FakeColumn("S"), blob},
                  {{FakeInteger(7), FakeText("seven"), FakeText(std::string("a\0b", 3))},
                   {FakeNull(), FakeText("eight"), FakeNull()}}};
  TSQLDataSet dataSet("", &connection);
  dataSet.SetCommandText("select *");
  dataSet.SetActive(true);
  EXPECT_EQ(Fake().valueCalls, 0);  // nothing read until asked

  TField& number = dataSet.FieldAt(0);
  EXPECT_FALSE(number.IsNull());
  EXPECT_EQ(number.ValueText(), "7");
  EXPECT_EQ(Fake().valueCalls, 1);
  EXPECT_EQ(dataSet.FieldAt(2).ValueText(), std::string("a\0b", 3));  // a blob keeps its NUL bytes
  EXPECT_EQ(Fake().valueCalls, 3);                                    // size and content

  dataSet.MoveNext();
  EXPECT_TRUE(number.IsNull());
  EXPECT_EQ(number.ValueText(), "");
  EXPECT_EQ(Fake().valueCalls, 4);
}

TEST_F(FakeDriverTest, BigIntegersAreFetched) {
  Fake().results["select *"] = TFakeResult{{FakeColumn("BIG", fldINT64), FakeColumn("UBIG", fldUINT64)},
                                           {{FakeInteger(9007199254740993), FakeInteger(-1)}}};
  TSQLDataSet dataSet("", &connection);
  dataSet.SetCommandText("select *");
  dataSet.SetActive(true);
  EXPECT_EQ(dataSet.FieldAt(0).Kind(), fkLargeint);
  EXPECT_EQ(dataSet.FieldAt(0).ValueText(), "9007199254740993");
  EXPECT_EQ(dataSet.FieldAt(1).ValueText(), "-1");
}

TEST_F(FakeDriverTest, DecimalsKeepEveryDigit) {
  auto decimal = [](const char* name, std::uint16_t type, std::int16_t precision, std::int16_t scale) {
    TFakeColumn column = FakeColumn(name, type);
    column.precision = precision;
    column.scale = scale;
    return column;
  };
  auto bcd = [](const std::string& text) {
    TFakeValue value;
    value.isNull = false;
    value.bcd = MakeBcd(text);
    return value;
  };
  Fake().results["select *"] = TFakeResult{
      {decimal("SMALL", fldBCD, 14, -4), decimal("WIDE", fldBCD, 18, -2), decimal("TIGHT", fldFMTBCD, 5, -2)},
      {{bcd("-9999999999.9999"), bcd("-9999999999999999.99"), bcd("1234.56")}}};
  TSQLDataSet dataSet("", &connection);
  dataSet.SetCommandText("select *");
  dataSet.SetActive(true);

  TField& small = dataSet.FieldAt(0);
  EXPECT_EQ(small.Kind(), fkBCD);
  EXPECT_EQ(small.AsFixedPoint(), -99999999999999);
  EXPECT_EQ(small.ValueText(), FixedPointText(-99999999999999));

  TField& wide = dataSet.FieldAt(1);
  EXPECT_EQ(wide.Kind(), fkFMTBCD);
  TBcd value = wide.AsBcd();
  EXPECT_EQ(value.precision, 18);
  EXPECT_EQ(value.signSpecialPlaces, 0x80 | 2);
  EXPECT_EQ(std::memcmp(value.fraction, MakeBcd("9999999999999999.99").fraction, sizeof value.fraction), 0);

  // 1234.56 has more digits than the five declared; every stored digit shows.
  EXPECT_EQ(dataSet.FieldAt(2).Kind(), fkFMTBCD);
  EXPECT_EQ(dataSet.FieldAt(2).ValueText(), "1234.56");
}

TEST_F(FakeDriverTest, ListingsSkipRepeatsTheWayTheCommaTextSeesThem) {
  TFakeResult columns;
  columns.columns = {FakeColumn("COLUMN_NAME")};
  for (const char* name : {"B", "A", "B", "MY TABLE", "MY TABLE", "a", "X,Y", "X,Y", "Q\"", "Q\""}) {
    columns.rows.push_back({FakeText(name)});
  }
  Fake().results["COLUMNS T"] = columns;
  std::vector<std::string> list = {"old"};
  connection.ListFieldNames("T", list);
  const std::vector<std::string> expected = {"B",   "A",   "MY TABLE", "MY TABLE", "a",
                                             "X,Y", "X,Y", "Q\"",      "Q\""};
  EXPECT_EQ(list, expected);
  EXPECT_EQ(LogLines("c1 columns"), std::vector<std::string>{"c1 columns T kinds 0"});
  EXPECT_EQ(Fake().liveCursors, 0);
}

TEST_F(FakeDriverTest, AFailedListingLeavesTheListAsItWas) {
  TFakeResult columns;
  columns.columns = {FakeColumn("COLUMN_NAME")};
  columns.rows = {{FakeText("ID")}, {FakeText("NAME")}};
  Fake().results["COLUMNS T"] = columns;
  std::vector<std::string> list = {"OTHER_ID", "OTHER_NAME"};
  const auto before = list;

  Fake().catalogueStatus = 255;
  connection.ListFieldNames("T", list);
  EXPECT_EQ(list, before);

  Fake().catalogueStatus = 0;
  Fake().results.erase("COLUMNS T");  // the driver gives no cursor
  connection.ListFieldNames("T", list);
  EXPECT_EQ(list, before);

  Fake().results["COLUMNS T"] = columns;
  TFakeResult noNameColumn;
  noNameColumn.columns = {FakeColumn("NAME")};
  noNameColumn.rows = {{FakeText("ID")}};
  Fake().results["COLUMNS U"] = noNameColumn;
  connection.ListFieldNames("U", list);
  EXPECT_EQ(list, before);

  // A failure after the listing opened is raised, and the list is still untouched.
  Fake().nextFailsAfterRows = 1;
  EXPECT_THROW(connection.ListFieldNames("T", list), EDatabaseError);
  EXPECT_EQ(list, before);

  Fake().nextFailsAfterRows = -1;
  connection.ListFieldNames("T", list);
  EXPECT_EQ(list, (std::vector<std::string>{"ID", "NAME"}));
  EXPECT_EQ(LogLines("c1 columns").back(), "c1 columns T kinds 0");
  EXPECT_EQ(Fake().liveCursors, 0);
}

TEST_F(FakeDriverTest, RowsAffectedBeyond32BitsComeBackWhole) {
  TSQLCommand remove(connection);
  remove.Prepare("delete from T");
  Fake().rowsAffected = 5'000'000'000u;
  EXPECT_EQ(remove.Execute(), 5'000'000'000);
}

}  // namespace
