// The connection and dataset against real Firebird databases: embedded, and
// through the loopback server when FB_TEST_SERVER names it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "base/exceptions.h"
#include "common/test_database.h"
#include "db/catalogue.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"

namespace {

std::string FailureText(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& failure) {
    return failure.what();
  }
  return "(no failure)";
}

class FirebirdLayerTest : public ::testing::TestWithParam<bool> {
 protected:
  bool ThroughServer() const { return GetParam(); }

  void SetUp() override {
    if (ThroughServer() && testdb::Server().empty()) GTEST_SKIP() << "FB_TEST_SERVER is not set";
  }

  // A fresh database made with setupSql, and the connection set up for it.
  void MakeDatabase(const std::string& setupSql = {}) {
    database = std::make_unique<testdb::TestDatabase>(ThroughServer(), setupSql);
    connection.Params().SetValue("Database", database->Connect());
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
  }

  void OpenTable(const std::string& table) {
    dataSet.SetActive(false);
    dataSet.SetCommandType(ctTable);
    dataSet.SetCommandText(table);
    dataSet.SetActive(true);
  }

  std::int64_t Run(const std::string& sql) {
    TSQLCommand statement(connection);
    statement.Prepare(sql);
    return statement.Execute();
  }

  std::unique_ptr<testdb::TestDatabase> database;
  TSQLConnection connection{"scnDatabase"};
  TSQLDataSet dataSet{"sdsTable", &connection};
};

INSTANTIATE_TEST_SUITE_P(Firebird, FirebirdLayerTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "Embedded"; });

TEST_P(FirebirdLayerTest, ConnectsWithTheStartingParametersAndDisconnects) {
  MakeDatabase();
  // The starting list names the role "RoleName", which no database defines.
  ASSERT_EQ(connection.Params().Value("RoleName"), "RoleName");
  connection.SetConnected(true);
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(connection.ConnectionState(), csStateOpen);
  connection.SetConnected(true);  // already connected: nothing happens
  connection.SetConnected(false);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);
  connection.SetConnected(true);
  EXPECT_TRUE(connection.Connected());
}

TEST_P(FirebirdLayerTest, AWrongPasswordGivesTheServersWords) {
  if (!ThroughServer()) GTEST_SKIP() << "the embedded engine takes any password";
  MakeDatabase();
  connection.Params().SetValue("Password", "not-the-password");
  std::string text = FailureText([&] { connection.SetConnected(true); });
  EXPECT_NE(text.find("Your user name and password are not defined"), std::string::npos) << text;
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);
  EXPECT_EQ(connection.LastError(), text);
}

TEST_P(FirebirdLayerTest, AMissingDatabaseIsNamedAndTheConnectCanBeRepeated) {
  MakeDatabase();
  const std::string missing = (database->Dir() / "missing.fdb").string();
  connection.Params().SetValue("Database", ThroughServer() ? testdb::Server() + ":" + missing : missing);
  std::string text = FailureText([&] { connection.SetConnected(true); });
  EXPECT_NE(text.find("missing.fdb"), std::string::npos) << text;
  EXPECT_EQ(connection.ConnectionState(), csStateClosed);

  connection.Params().SetValue("Database", " " + database->Connect() + " ");  // trimmed
  connection.SetConnected(true);
  EXPECT_TRUE(connection.Connected());
}

// The window and the command-line program list every table and view; the
// folder transfers take those that keep rows of their own.
TEST_P(FirebirdLayerTest, ListsTablesAndViewsAndWhichKeepRows) {
  MakeDatabase(
      "CREATE TABLE T_ONE (ID INTEGER);\n"
      "CREATE TABLE \"Mixed Case\" (ID INTEGER);\n"
      "CREATE VIEW V_ONE AS SELECT ID FROM T_ONE;\n"
      "CREATE GLOBAL TEMPORARY TABLE G_TXN (ID INTEGER) ON COMMIT DELETE ROWS;\n"
      "CREATE GLOBAL TEMPORARY TABLE G_CONN (ID INTEGER) ON COMMIT PRESERVE ROWS;\n");
  std::vector<std::string> tables = {"stale"};
  connection.ListTableNames(tables);  // connects first
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(tables, (std::vector<std::string>{"G_CONN", "G_TXN", "Mixed Case", "T_ONE", "V_ONE"}));
  std::vector<std::pair<std::string, bool>> listed;
  for (const TListedTable& table : ListTables(connection)) listed.emplace_back(table.name, table.keepsRows);
  const std::vector<std::pair<std::string, bool>> expected = {
      {"G_CONN", false}, {"G_TXN", false}, {"Mixed Case", true}, {"T_ONE", true}, {"V_ONE", false}};
  EXPECT_EQ(listed, expected);
}

TEST_P(FirebirdLayerTest, AnEmptyDatabaseListsNothing) {
  MakeDatabase();
  std::vector<std::string> tables = {"stale"};
  connection.ListTableNames(tables);
  EXPECT_TRUE(tables.empty());
}

TEST_P(FirebirdLayerTest, ListsColumnsInTheTablesOrder) {
  MakeDatabase("CREATE TABLE T (ZED INTEGER, ALPHA VARCHAR(10), \"mid dle\" DATE);\n");
  std::vector<std::string> columns;
  connection.ListFieldNames("T", columns);
  EXPECT_EQ(columns, (std::vector<std::string>{"ZED", "ALPHA", "mid dle"}));
  // An unknown table lists no columns.
  connection.ListFieldNames("NO_SUCH_TABLE", columns);
  EXPECT_TRUE(columns.empty());
}

TEST_P(FirebirdLayerTest, AnEmptyTableIsAtItsEndAtOnce) {
  MakeDatabase("CREATE TABLE T (ID INTEGER, NAME VARCHAR(10));\n");
  OpenTable("T");
  EXPECT_TRUE(dataSet.Active());
  EXPECT_TRUE(dataSet.AtEnd());
  EXPECT_EQ(dataSet.NumberOfFields(), 2);
  EXPECT_TRUE(dataSet.FieldAt(0).IsNull());
  dataSet.MoveNext();
  EXPECT_TRUE(dataSet.AtEnd());
}

TEST_P(FirebirdLayerTest, MoveFirstRunsTheQueryAgainOnlyAfterMoving) {
  MakeDatabase(
      "CREATE TABLE T (ID INTEGER, NAME VARCHAR(10));\n"
      "INSERT INTO T VALUES (1, 'a');\nINSERT INTO T VALUES (2, 'b');\n");
  dataSet.SetCommandText("select * from T order by ID");
  dataSet.SetActive(true);
  EXPECT_EQ(dataSet.FieldNamed("NAME").ValueText(), "a");

  EXPECT_EQ(Run("UPDATE T SET NAME = 'z' WHERE ID = 1"), 1);
  dataSet.MoveFirst();  // still on the first row: the value read stays
  EXPECT_EQ(dataSet.FieldNamed("NAME").ValueText(), "a");

  dataSet.MoveNext();
  EXPECT_EQ(dataSet.FieldNamed("NAME").ValueText(), "b");
  dataSet.MoveFirst();  // executed anew
  EXPECT_EQ(dataSet.FieldNamed("NAME").ValueText(), "z");
  EXPECT_EQ(dataSet.FieldNamed("ID").AsInteger(), 1);
}

TEST_P(FirebirdLayerTest, WalksEveryRowAndKeepsTheLastAtTheEnd) {
  MakeDatabase(
      "CREATE TABLE T (ID INTEGER);\n"
      "INSERT INTO T VALUES (1);\nINSERT INTO T VALUES (2);\nINSERT INTO T VALUES (3);\n");
  dataSet.SetCommandText("select ID from T order by ID");
  dataSet.SetActive(true);
  std::vector<std::string> seen;
  while (!dataSet.AtEnd()) {
    seen.push_back(dataSet.FieldAt(0).ValueText());
    dataSet.MoveNext();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(dataSet.FieldAt(0).ValueText(), "3");
  dataSet.SetActive(false);
  EXPECT_TRUE(dataSet.AtEnd());
  EXPECT_EQ(FailureText([&] { dataSet.MoveNext(); }),
            "sdsTable: Cannot perform this operation on a closed dataset");
  EXPECT_EQ(FailureText([&] { dataSet.MoveFirst(); }),
            "sdsTable: Cannot perform this operation on a closed dataset");
}

TEST_P(FirebirdLayerTest, AnInsertStaysWhenALaterStatementFails) {
  MakeDatabase("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10));\n");
  EXPECT_EQ(Run("INSERT INTO T(ID,NAME) VALUES ('1', 'O''Brien')"), 1);
  std::string text = FailureText([&] { Run("INSERT INTO T(ID,NAME) VALUES ('1', 'O''Brien')"); });
  EXPECT_NE(text.find("PRIMARY or UNIQUE KEY"), std::string::npos) << text;
  EXPECT_THROW(Run("INSERT INTO T(ID,NAME) VALUES ('x', null)"), EDatabaseError);

  connection.SetConnected(false);
  OpenTable("T");
  EXPECT_EQ(dataSet.FieldNamed("NAME").ValueText(), "O'Brien");
  dataSet.MoveNext();
  EXPECT_TRUE(dataSet.AtEnd());
}

TEST_P(FirebirdLayerTest, ATransactionSpansStatementsAndUndoesAFailedOneAlone) {
  MakeDatabase("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY);\n");
  TSQLConnection other("other");
  other.Params().SetLines(connection.Params().Lines());
  auto count = [](TSQLConnection& on) {
    TSQLDataSet query("", &on);
    query.SetCommandText("SELECT COUNT(*) FROM T");
    query.SetActive(true);
    return query.FieldAt(0).ValueText();
  };
  struct Case {
    bool commit;
    const char* countAfter;
  } cases[] = {{false, "0"}, {true, "2"}};
  for (const auto& c : cases) {
    Run("DELETE FROM T");
    connection.StartTransaction();
    EXPECT_TRUE(connection.InTransaction());
    EXPECT_THROW(connection.StartTransaction(), EDatabaseError);
    EXPECT_EQ(Run("INSERT INTO T VALUES (1)"), 1);
    EXPECT_THROW(Run("INSERT INTO T VALUES (1)"), EDatabaseError);
    EXPECT_EQ(Run("INSERT INTO T VALUES (2)"), 1);
    EXPECT_EQ(count(connection), "2");  // a query sees the transaction's own rows
    EXPECT_EQ(count(other), "0");       // nobody else does before the commit
    if (c.commit) {
      connection.Commit();
    } else {
      connection.Rollback();
    }
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(count(other), c.countAfter);
  }
  EXPECT_THROW(connection.Commit(), EDatabaseError);

  // A snapshot: the count and the rows of one cursor see the table as it
  // stood at the start, whatever others commit meanwhile.
  connection.StartTransaction(eTxnSnapshot);
  EXPECT_EQ(count(connection), "2");
  OpenTable("T");
  TSQLCommand insert(other);
  insert.Prepare("INSERT INTO T VALUES (3)");
  insert.Run();
  EXPECT_EQ(count(connection), "2");
  int rows = 0;
  for (; !dataSet.AtEnd(); dataSet.MoveNext()) ++rows;
  EXPECT_EQ(rows, 2);
  dataSet.SetActive(false);
  connection.Commit();
  EXPECT_EQ(count(connection), "3");

  // Disconnecting undoes what was not committed.
  connection.StartTransaction();
  Run("INSERT INTO T VALUES (4)");
  connection.SetConnected(false);
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(count(connection), "3");
}

TEST_P(FirebirdLayerTest, AStatementCountsTheRowsItChanged) {
  MakeDatabase(
      "CREATE TABLE T (ID INTEGER);\n"
      "INSERT INTO T VALUES (1);\nINSERT INTO T VALUES (2);\nINSERT INTO T VALUES (3);\n");
  EXPECT_EQ(Run("UPDATE T SET ID = ID + 10 WHERE ID > 1"), 2);
  EXPECT_EQ(Run("DELETE FROM T"), 3);
  EXPECT_EQ(Run("CREATE TABLE U (ID INTEGER)"), 0);
  std::vector<std::string> tables;
  connection.ListTableNames(tables);
  EXPECT_EQ(tables, (std::vector<std::string>{"T", "U"}));
}

TEST_P(FirebirdLayerTest, ATableWithAMixedCaseNameIsOpened) {
  MakeDatabase(
      "CREATE TABLE \"Mixed Case\" (\"Id\" INTEGER, \"order\" VARCHAR(5));\n"
      "INSERT INTO \"Mixed Case\" VALUES (1, 'x');\nINSERT INTO \"Mixed Case\" VALUES (2, 'y');\n"
      "CREATE TABLE \"ORDER\" (ID INTEGER);\nINSERT INTO \"ORDER\" VALUES (7);\n");
  OpenTable("Mixed Case");
  EXPECT_EQ(dataSet.FieldAt(0).FieldName(), "Id");
  EXPECT_EQ(dataSet.FieldNamed("ORDER").FieldName(), "order");
  // A reserved word as a table name.
  OpenTable("ORDER");
  EXPECT_EQ(dataSet.FieldAt(0).ValueText(), "7");
  EXPECT_EQ(connection.QuoteObjectName("ORDER"), "\"ORDER\"");
  EXPECT_EQ(connection.QuoteObjectName("T_1"), "T_1");
}

TEST_P(FirebirdLayerTest, CommandTypeAndTextFollowTheirRules) {
  MakeDatabase("CREATE TABLE T (ID INTEGER);\nINSERT INTO T VALUES (5);\n");
  dataSet.SetCommandText("T");
  dataSet.SetCommandType(ctTable);  // a change of type clears the text
  EXPECT_EQ(dataSet.CommandText(), "");
  EXPECT_EQ(FailureText([&] { dataSet.SetActive(true); }), "Missing query, table name or procedure name");

  // A table name stands exactly as given: " T" would be another table.
  dataSet.SetCommandText("\r\n\t  T");
  EXPECT_EQ(dataSet.CommandText(), "\r\n\t  T");
  dataSet.SetCommandText("T");
  dataSet.SetCommandType(ctTable);  // the same type: nothing changes
  EXPECT_EQ(dataSet.CommandText(), "T");
  dataSet.SetActive(true);
  EXPECT_EQ(dataSet.FieldAt(0).ValueText(), "5");

  const std::string refused = "sdsTable: Cannot perform this operation on an open dataset";
  EXPECT_EQ(FailureText([&] { dataSet.SetCommandText("U"); }), refused);
  EXPECT_EQ(FailureText([&] { dataSet.SetCommandType(ctQuery); }), refused);
  dataSet.SetCommandText("T");  // the value it holds
  EXPECT_TRUE(dataSet.Active());
  EXPECT_EQ(dataSet.CommandType(), ctTable);
  EXPECT_EQ(dataSet.CommandText(), "T");
}

TEST_P(FirebirdLayerTest, OpeningWhatIsNoTableFails) {
  MakeDatabase("CREATE TABLE T (ID INTEGER);\n");
  dataSet.SetCommandType(ctTable);
  dataSet.SetCommandText("NO_SUCH_TABLE");
  std::string text = FailureText([&] { dataSet.SetActive(true); });
  EXPECT_NE(text.find("NO_SUCH_TABLE"), std::string::npos) << text;
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(dataSet.CommandText(), "NO_SUCH_TABLE");

  dataSet.SetCommandType(ctQuery);
  dataSet.SetCommandText("INSERT INTO T VALUES (1)");
  EXPECT_EQ(FailureText([&] { dataSet.SetActive(true); }), "sdsTable: Cursor not returned from Query");
  EXPECT_FALSE(dataSet.Active());
}

TEST_P(FirebirdLayerTest, FieldsAreFoundByNameInAnyCase) {
  MakeDatabase(
      "CREATE TABLE T (ID INTEGER, NAME VARCHAR(10), NOTE VARCHAR(10));\n"
      "INSERT INTO T VALUES (7, 'Anna', null);\n");
  OpenTable("T");
  EXPECT_EQ(&dataSet.FieldNamed("id"), &dataSet.FieldAt(0));
  EXPECT_EQ(&dataSet.FieldNamed("Note"), &dataSet.FieldAt(2));
  EXPECT_EQ(FailureText([&] { dataSet.FieldNamed("NOPE"); }), "sdsTable: Field 'NOPE' not found");
  EXPECT_EQ(FailureText([&] { dataSet.FieldAt(3); }), "sdsTable: List index out of bounds (3)");
  EXPECT_EQ(FailureText([&] { dataSet.FieldAt(-1); }), "sdsTable: List index out of bounds (-1)");
}

TEST_P(FirebirdLayerTest, ARepeatedColumnNameGetsANumber) {
  MakeDatabase();
  dataSet.SetCommandText("select 1 as A, 2 as A, 3 as \"a_1\" from rdb$database");
  dataSet.SetActive(true);
  ASSERT_EQ(dataSet.NumberOfFields(), 3);
  EXPECT_EQ(dataSet.FieldAt(0).FieldName(), "A");
  EXPECT_EQ(dataSet.FieldAt(1).FieldName(), "A_1");
  EXPECT_EQ(dataSet.FieldAt(2).FieldName(), "a_1_1");
  EXPECT_EQ(dataSet.FieldNamed("a_1").ValueText(), "2");
}

TEST_P(FirebirdLayerTest, EachFirebirdTypeGetsItsKindAndItsValue) {
  MakeDatabase(
      "CREATE TABLE T (C_CHAR CHAR(5), C_VARCHAR VARCHAR(10), C_SMALL SMALLINT, C_INT INTEGER NOT NULL,\n"
      "  C_BIG BIGINT, C_FLOAT FLOAT, C_DOUBLE DOUBLE PRECISION, C_NUM NUMERIC(9,2), C_NUM18 NUMERIC(18,2),\n"
      "  C_DEC DECIMAL(10,6), C_NUM4 NUMERIC(4,1), C_DATE DATE, C_TIME TIME, C_STAMP TIMESTAMP, C_BOOL "
      "BOOLEAN,\n"
      "  C_TEXT BLOB SUB_TYPE TEXT, C_BLOB BLOB SUB_TYPE 0);\n"
      "INSERT INTO T VALUES ('ab', 'x,y', -32768, 2147483647, -9223372036854775808, 0.5, -2.5, 12.50,\n"
      "  -1234567890123456.78, 1234.000001, -999.9, '2004-03-05', '14:07:09', '2004-03-05 14:07:09.500',\n"
      "  TRUE, 'line one' || ASCII_CHAR(10) || 'two, \"three\"', x'00FF41');\n"
      "INSERT INTO T (C_INT) VALUES (0);\n");
  OpenTable("T");
  struct Expected {
    const char* name;
    TFieldKind kind;
    const char* text;  // null: not compared (locale-dependent)
  };
  const std::vector<Expected> expected = {
      {"C_CHAR", fkString, "ab   "},
      {"C_VARCHAR", fkString, "x,y"},
      {"C_SMALL", fkSmallint, "-32768"},
      {"C_INT", fkInteger, "2147483647"},
      {"C_BIG", fkLargeint, "-9223372036854775808"},
      {"C_FLOAT", fkFloat, nullptr},
      {"C_DOUBLE", fkFloat, nullptr},
      {"C_NUM", fkBCD, nullptr},
      {"C_NUM18", fkFMTBCD, nullptr},
      {"C_DEC", fkFMTBCD, nullptr},
      {"C_NUM4", fkBCD, nullptr},
      {"C_DATE", fkDate, nullptr},
      {"C_TIME", fkTime, nullptr},
      {"C_STAMP", fkSQLTimeStamp, nullptr},
      {"C_BOOL", fkBoolean, "True"},
      {"C_TEXT", fkMemo, "line one\ntwo, \"three\""},
      {"C_BLOB", fkBlob, nullptr},
  };
  ASSERT_EQ(dataSet.NumberOfFields(), static_cast<int>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    TField& field = dataSet.FieldAt(static_cast<int>(i));
    EXPECT_EQ(field.FieldName(), expected[i].name);
    EXPECT_EQ(field.Kind(), expected[i].kind) << expected[i].name << " is " << FieldKindName(field.Kind());
    if (expected[i].text) {
      EXPECT_EQ(field.ValueText(), expected[i].text) << expected[i].name;
    }
  }
  EXPECT_EQ(dataSet.FieldNamed("C_CHAR").Size(), 5);
  EXPECT_TRUE(dataSet.FieldNamed("C_CHAR").FixedChar());
  EXPECT_TRUE(dataSet.FieldNamed("C_INT").Required());
  EXPECT_FALSE(dataSet.FieldNamed("C_VARCHAR").Required());
  EXPECT_EQ(dataSet.FieldNamed("C_NUM18").Precision(), 18);
  EXPECT_EQ(dataSet.FieldNamed("C_NUM18").Size(), 2);

  EXPECT_DOUBLE_EQ(dataSet.FieldNamed("C_FLOAT").AsFloat(), 0.5);
  EXPECT_DOUBLE_EQ(dataSet.FieldNamed("C_DOUBLE").AsFloat(), -2.5);
  EXPECT_EQ(dataSet.FieldNamed("C_NUM").AsFixedPoint(), 125000);
  EXPECT_EQ(dataSet.FieldNamed("C_NUM4").AsFixedPoint(), -9999000);
  EXPECT_DOUBLE_EQ(dataSet.FieldNamed("C_NUM18").AsFloat(), -1234567890123456.78);
  EXPECT_DOUBLE_EQ(dataSet.FieldNamed("C_DEC").AsFloat(), 1234.000001);
  EXPECT_DOUBLE_EQ(dataSet.FieldNamed("C_DATE").AsDateTime(), 38051);
  EXPECT_DOUBLE_EQ(dataSet.FieldNamed("C_TIME").AsDateTime(), (14 * 3600 + 7 * 60 + 9) / 86400.0);
  TSQLTimeStamp stamp = dataSet.FieldNamed("C_STAMP").AsTimeStamp();
  EXPECT_EQ(stamp.year, 2004);
  EXPECT_EQ(stamp.month, 3);
  EXPECT_EQ(stamp.day, 5);
  EXPECT_EQ(stamp.hour, 14);
  EXPECT_EQ(stamp.minute, 7);
  EXPECT_EQ(stamp.second, 9);
  EXPECT_EQ(stamp.fraction, 5000u);  // ten-thousandths of a second
  EXPECT_EQ(dataSet.FieldNamed("C_BLOB").AsBytes(), std::string_view("\0\xFF"
                                                                     "A",
                                                                     3));

  dataSet.MoveNext();
  ASSERT_FALSE(dataSet.AtEnd());
  for (int i = 0; i < dataSet.NumberOfFields(); ++i) {
    EXPECT_EQ(dataSet.FieldAt(i).IsNull(), dataSet.FieldAt(i).FieldName() != "C_INT") << i;
  }
  dataSet.MoveNext();
  EXPECT_TRUE(dataSet.AtEnd());
}

// Each row the server refuses says why, with the server's SQLSTATE; a
// failure that is not about the values is no refusal but has its SQLSTATE too.
TEST_P(FirebirdLayerTest, ARefusedRowSaysWhyWithTheServersSqlState) {
  MakeDatabase(
      "CREATE TABLE PARENT (ID INTEGER NOT NULL PRIMARY KEY);\n"
      "CREATE DOMAIN POSITIVE AS INTEGER CHECK (VALUE > 0);\n"
      "CREATE EXCEPTION E_REFUSED 'no row 13';\n"
      "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(3),\n"
      "  PARENT_ID INTEGER REFERENCES PARENT, AMOUNT INTEGER CHECK (AMOUNT >= 0), QTY POSITIVE,\n"
      "  W VARCHAR(10) CHARACTER SET WIN1252);\n"
      "SET TERM ^ ;\n"
      "CREATE TRIGGER T_BI FOR T BEFORE INSERT AS BEGIN IF (NEW.ID = 13) THEN EXCEPTION E_REFUSED; END^\n"
      "SET TERM ; ^\n"
      "INSERT INTO T (ID) VALUES (1);\n");
  connection.Params().SetValue("ServerCharSet", "UTF8");
  using enum TRefusalKind;
  struct Row {
    const char* name;
    std::array<const char*, 6> values;  // ID, NAME, PARENT_ID, AMOUNT, QTY, W; null where missing
    TRefusalKind kind;
    const char* sqlState;
  };
  const Row rows[] = {
      {"key already there", {"1"}, rkKey, "23000"},
      {"null for NOT NULL", {}, rkNotNull, "23000"},
      {"no such parent", {"2", nullptr, "99"}, rkForeignKey, "23000"},
      {"table CHECK", {"2", nullptr, nullptr, "-1"}, rkCheck, "23000"},
      {"domain CHECK", {"2", nullptr, nullptr, nullptr, "0"}, rkCheck, "23000"},
      {"too long for VARCHAR(3)", {"2", "abcd"}, rkTruncation, "22001"},
      {"too large for INTEGER", {"2", nullptr, nullptr, "3000000000"}, rkTruncation, "22003"},
      {"no number", {"2", nullptr, nullptr, "abc"}, rkConversion, "22018"},
      {"no UTF-8", {"2", nullptr, nullptr, nullptr, nullptr, "\xFF"}, rkConversion, "22000"},
      {"not in WIN1252", {"2", nullptr, nullptr, nullptr, nullptr, "\u0416"}, rkTransliteration, "22018"},
      {"raised by a trigger", {"13"}, rkRaised, "HY000"},
  };
  TSQLCommand insert(connection);
  insert.Prepare("INSERT INTO T (ID, NAME, PARENT_ID, AMOUNT, QTY, W) VALUES (?, ?, ?, ?, ?, ?)");
  for (const Row& row : rows) {
    for (int i = 0; i < 6; ++i) {
      if (row.values[i]) {
        insert.SetText(i + 1, row.values[i]);
      } else {
        insert.SetNull(i + 1);
      }
    }
    try {
      insert.Execute();
      ADD_FAILURE() << row.name << ": not refused";
    } catch (const EDataRefused& refusal) {
      EXPECT_EQ(refusal.Kind(), row.kind) << row.name << ": " << refusal.what();
      EXPECT_EQ(refusal.SqlState(), row.sqlState) << row.name << ": " << refusal.what();
    }
  }

  try {
    insert.Prepare("INSERT INTO MISSING (ID) VALUES (?)");
    ADD_FAILURE() << "a missing table was prepared";
  } catch (const EDataRefused& refusal) {
    ADD_FAILURE() << "a missing table counts as refused values: " << refusal.what();
  } catch (const EDatabaseError& failure) {
    EXPECT_EQ(failure.SqlState(), "42S02") << failure.what();
  }
}

// A statement that would run for minutes ends within a second when another
// thread cancels it; cancelling when nothing runs, or when not connected,
// changes nothing, and the connection goes on working after a cancel.
TEST_P(FirebirdLayerTest, CancelEndsAWaitingStatementFromAnotherThread) {
  EXPECT_TRUE(connection.CancelOperation());
  MakeDatabase("CREATE TABLE T (ID INTEGER);");
  connection.SetConnected(true);
  EXPECT_TRUE(connection.CancelOperation());
  EXPECT_EQ(Run("INSERT INTO T VALUES (1)"), 1);

  std::atomic<bool> running{false};
  std::string failure;
  const auto started = std::chrono::steady_clock::now();
  std::thread worker([&] {
    running = true;
    failure = FailureText([&] {
      Run("EXECUTE BLOCK AS DECLARE I BIGINT = 0; BEGIN WHILE (I < 10000000000) DO I = I + 1; END");
    });
  });
  while (!running) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(connection.CancelOperation());
  worker.join();
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::milliseconds(1300));
  EXPECT_NE(failure.find("cancelled"), std::string::npos) << failure;

  EXPECT_TRUE(connection.CancelOperation());
  EXPECT_EQ(Run("INSERT INTO T VALUES (2)"), 1);
  OpenTable("T");
  int rows = 0;
  for (; !dataSet.AtEnd(); dataSet.MoveNext()) ++rows;
  EXPECT_EQ(rows, 2);
}

}  // namespace

namespace {

// The type each column was declared with, as the catalogue keeps it, on
// Firebird 3 (embedded) and on Firebird 4 with the types it added.
TEST(DeclaredTypesTest, EachColumnHasItsDeclaredType) {
  struct TServer {
    testdb::TServerKind kind;
    std::string columns;
    std::vector<std::pair<std::string, std::string>> expected;
  };
  // So many columns of long names that the catalogue's answer runs past 32 KB.
  TServer wide{testdb::TServerKind::kEmbedded, {}, {}};
  for (int i = 0; i < 700; ++i) {
    const std::string name = "A_COLUMN_WITH_A_LONG_NAME_" + std::to_string(1000 + i);
    wide.columns += (i ? ", " : "") + name + " INTEGER";
    wide.expected.emplace_back(name, "INTEGER");
  }
  const TServer servers[] = {
      wide,
      {testdb::TServerKind::kEmbedded,
       "S SMALLINT, I INTEGER, B BIGINT, N NUMERIC(9,2), D DECIMAL(18,4), F FLOAT, DP DOUBLE PRECISION, "
       "DT DATE, TM TIME, TS TIMESTAMP, BO BOOLEAN, C CHAR(6) CHARACTER SET WIN1252, V VARCHAR(20), "
       "M BLOB SUB_TYPE TEXT CHARACTER SET UTF8, BIN BLOB SUB_TYPE BINARY, K COMPUTED BY (I + 1)",
       {{"S", "SMALLINT"},
        {"I", "INTEGER"},
        {"B", "BIGINT"},
        {"N", "NUMERIC(9,2)"},
        {"D", "DECIMAL(18,4)"},
        {"F", "FLOAT"},
        {"DP", "DOUBLE PRECISION"},
        {"DT", "DATE"},
        {"TM", "TIME"},
        {"TS", "TIMESTAMP"},
        {"BO", "BOOLEAN"},
        {"C", "CHAR(6) CHARACTER SET WIN1252"},
        {"V", "VARCHAR(20) CHARACTER SET NONE"},
        {"M", "BLOB SUB_TYPE TEXT CHARACTER SET UTF8"},
        {"BIN", "BLOB SUB_TYPE BINARY"},
        {"K", "COMPUTED BY"}}},
      {testdb::TServerKind::kFirebird4,
       "I INT128, N NUMERIC(38,4), D DECIMAL(19,2), D16 DECFLOAT(16), D34 DECFLOAT(34), "
       "TTZ TIME WITH TIME ZONE, TSTZ TIMESTAMP WITH TIME ZONE",
       {{"I", "INT128"},
        {"N", "NUMERIC(38,4)"},
        {"D", "DECIMAL(19,2)"},
        {"D16", "DECFLOAT(16)"},
        {"D34", "DECFLOAT(34)"},
        {"TTZ", "TIME WITH TIME ZONE"},
        {"TSTZ", "TIMESTAMP WITH TIME ZONE"}}},
  };
  for (const TServer& server : servers) {
    if (server.kind == testdb::TServerKind::kFirebird4 && testdb::Firebird4Server().empty()) continue;
    testdb::TestDatabase database(server.kind, "CREATE TABLE T (" + server.columns + ");");
    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", database.Connect());
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    connection.SetConnected(true);
    EXPECT_EQ(DeclaredTypes(connection, "T"), server.expected);
  }
}

}  // namespace
