// Running statements: each in a transaction of its own, committed at once or
// rolled back; a query's transaction lives as long as its cursor.
#include <gtest/gtest.h>

#include "driver_support.h"

namespace drivertest {
namespace {

constexpr const char* kPeople =
    "CREATE TABLE PEOPLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20));\n"
    "INSERT INTO PEOPLE VALUES (1, 'Ann');\n"
    "INSERT INTO PEOPLE VALUES (2, 'Bob');\n"
    "INSERT INTO PEOPLE VALUES (3, 'Cid');\n";

class Commands : public RouteTest {
 protected:
  void SetUp() override {
    RouteTest::SetUp();
    if (IsSkipped()) return;
    m_database = MakeDatabase(kPeople);
    ASSERT_EQ(m_session.Connect(m_database->Connect()), 0) << ErrorText(m_session.connection.get());
  }

  Owned<ISQLCommand> NewCommand(Session& session) {
    ISQLCommand* command = nullptr;
    EXPECT_EQ(session.connection->getSQLCommand(&command), 0);
    return Owned<ISQLCommand>(command);
  }

  // A single integer that a query gives, read through a connection of its own.
  std::int64_t Count(const std::string& sql) {
    Session other;
    EXPECT_EQ(other.Connect(m_database->Connect()), 0) << ErrorText(other.connection.get());
    return CountOn(other, sql);
  }

  static std::int64_t CountOn(Session& session, const std::string& sql) {
    auto cursor = session.Query(sql);
    if (!cursor || cursor->next() != 0) return -1;
    std::int64_t value = -1;
    bool isNull = true;
    EXPECT_EQ(cursor->getInt64(1, &value, &isNull), 0) << ErrorText(cursor.get());
    return value;
  }

  std::unique_ptr<testdb::TestDatabase> m_database;
  Session m_session;
};

struct Change {
  const char* sql;
  std::uint32_t rows;
  std::int64_t peopleAfter;
};

TEST_P(Commands, ChangesCountTheirRowsAndStayCommitted) {
  const Change changes[] = {
      {"INSERT INTO PEOPLE VALUES (4, 'Dee')", 1, 4},
      {"UPDATE PEOPLE SET NAME = NAME || '!' WHERE ID <= 3", 3, 4},
      {"UPDATE PEOPLE SET NAME = 'x' WHERE ID = 99", 0, 4},
      {"DELETE FROM PEOPLE WHERE ID IN (1, 2)", 2, 2},
      {"CREATE TABLE OTHER (A INTEGER)", 0, 2},
  };
  auto command = NewCommand(m_session);
  for (const Change& change : changes) {
    ISQLCursor* cursor = reinterpret_cast<ISQLCursor*>(0x1);
    ASSERT_EQ(command->executeImmediate(change.sql, &cursor), 0)
        << change.sql << ": " << ErrorText(command.get());
    EXPECT_EQ(cursor, nullptr) << change.sql;
    std::uint64_t rows = 99;
    EXPECT_EQ(command->getRowsAffected(&rows), 0);
    EXPECT_EQ(rows, change.rows) << change.sql;
    EXPECT_EQ(Count("SELECT COUNT(*) FROM PEOPLE"), change.peopleAfter) << change.sql;
  }
}

// In a transaction the connection holds open, a prepared statement's rows
// are counted when they are asked for, each execution its own.
TEST_P(Commands, ChangesInAnOpenTransactionCountTheirRows) {
  ASSERT_EQ(m_session.connection->startTransaction(eTxnReadCommitted), 0);
  auto command = NewCommand(m_session);
  ASSERT_EQ(command->prepare("UPDATE PEOPLE SET NAME = NAME || '!' WHERE ID <= ?", 1), 0);
  for (const auto& [last, expected] : {std::pair("3", 3u), std::pair("0", 0u), std::pair("1", 1u)}) {
    ASSERT_EQ(command->setParameterText(1, last, 1), 0);
    ISQLCursor* cursor = nullptr;
    ASSERT_EQ(command->execute(&cursor), 0) << ErrorText(command.get());
    std::uint64_t rows = 99;
    EXPECT_EQ(command->getRowsAffected(&rows), 0);
    EXPECT_EQ(rows, expected) << last;
  }
  EXPECT_EQ(m_session.connection->rollback(), 0);
}

TEST_P(Commands, InsertStaysAfterALaterStatementFails) {
  auto command = NewCommand(m_session);
  ISQLCursor* cursor = nullptr;
  ASSERT_EQ(command->executeImmediate("INSERT INTO PEOPLE VALUES (10, 'Eve')", &cursor), 0);
  std::uint64_t rows = 0;
  ASSERT_EQ(command->getRowsAffected(&rows), 0);
  EXPECT_EQ(rows, 1u);

  EXPECT_GE(command->executeImmediate("INSERT INTO NO_SUCH_TABLE VALUES (1)", &cursor), kSQLServerError);
  EXPECT_EQ(cursor, nullptr);
  std::string text = ErrorText(command.get());
  EXPECT_NE(text.find("Table unknown\nNO_SUCH_TABLE"), std::string::npos) << text;
  EXPECT_EQ(command->getRowsAffected(&rows), 0);
  EXPECT_EQ(rows, 0u);

  m_session.connection->disconnect();
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PEOPLE WHERE ID = 10"), 1);
}

TEST_P(Commands, FailingChangeIsRolledBackWhole) {
  auto command = NewCommand(m_session);
  ISQLCursor* cursor = nullptr;
  // The second row breaks the key after the first has gone in.
  SQLResult status = command->executeImmediate(
      "INSERT INTO PEOPLE SELECT ID + 10, NAME FROM PEOPLE UNION ALL SELECT 1, 'dup' FROM RDB$DATABASE",
      &cursor);
  EXPECT_GE(status, kSQLServerError);
  std::string text = ErrorText(command.get());
  EXPECT_NE(text.find("violation of PRIMARY or UNIQUE KEY constraint"), std::string::npos) << text;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PEOPLE"), 3);
}

TEST_P(Commands, EachObjectKeepsItsOwnErrorText) {
  auto failing = NewCommand(m_session);
  auto fine = NewCommand(m_session);
  ISQLCursor* cursor = nullptr;
  EXPECT_GE(failing->prepare("SELEC * FROM PEOPLE", 0), kSQLServerError);
  std::string text = ErrorText(failing.get());
  EXPECT_NE(text.find("Token unknown"), std::string::npos) << text;
  EXPECT_NE(text.find("SELEC"), std::string::npos) << text;
  ASSERT_EQ(fine->executeImmediate("DELETE FROM PEOPLE WHERE ID = 3", &cursor), 0);
  EXPECT_EQ(ErrorText(fine.get()), "");
  EXPECT_EQ(ErrorText(m_session.connection.get()), "");
  EXPECT_EQ(ErrorText(failing.get()), text);
}

TEST_P(Commands, PreparedQueryRunsAgainAndEndsWithNoData) {
  auto command = NewCommand(m_session);
  ASSERT_EQ(command->setOption(eCommRowsetSize, 20), 0);
  ASSERT_EQ(command->prepare(" select * from PEOPLE order by ID", 0), 0) << ErrorText(command.get());
  for (int run = 0; run < 2; ++run) {
    ISQLCursor* raw = nullptr;
    ASSERT_EQ(command->execute(&raw), 0) << ErrorText(command.get());
    Owned<ISQLCursor> cursor(raw);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(cursor->next(), 0);
    EXPECT_EQ(cursor->next(), 0);
    EXPECT_EQ(cursor->next(), 0);
    EXPECT_EQ(cursor->next(), kSQLNoData);
    EXPECT_EQ(cursor->next(), kSQLNoData);
    EXPECT_EQ(StringValue(cursor.get(), 2), "Cid") << "the last row stays current at the end";
  }
}

TEST_P(Commands, EmptyResultEndsAtOnce) {
  auto cursor = m_session.Query("SELECT * FROM PEOPLE WHERE ID < 0");
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->next(), kSQLNoData);
  bool isNull = false;
  std::int32_t value = 0;
  EXPECT_NE(cursor->getInt32(1, &value, &isNull), 0) << "no row was ever current";
}

TEST_P(Commands, PreparedChangeRunsEachTimeItIsExecuted) {
  auto command = NewCommand(m_session);
  ASSERT_EQ(command->prepare("UPDATE PEOPLE SET NAME = NAME || '+' WHERE ID = 1", 0), 0);
  for (int run = 0; run < 3; ++run) {
    ISQLCursor* cursor = reinterpret_cast<ISQLCursor*>(0x1);
    ASSERT_EQ(command->execute(&cursor), 0) << ErrorText(command.get());
    EXPECT_EQ(cursor, nullptr);
  }
  auto cursor = m_session.Query("SELECT NAME FROM PEOPLE WHERE ID = 1");
  EXPECT_EQ(Column1(cursor.get()), std::vector<std::string>{"Ann+++"});
}

// One prepared statement run again and again, each parameter given another
// kind of value or another length each time (text, double, null, a blob's
// text of several segments): every row stores what it was given.
TEST_P(Commands, ParametersTakeAnyKindAndLengthAtEachExecution) {
  m_session.Execute(
      "CREATE TABLE VALS (ID INTEGER, NAME VARCHAR(20), AMOUNT DOUBLE PRECISION, NOTE BLOB SUB_TYPE TEXT)");
  struct Value {
    enum { kNull, kText, kDouble } kind;
    std::string text = {};
    double real = 0;
  };
  const Value null{Value::kNull};
  auto text = [](std::string t) { return Value{Value::kText, std::move(t)}; };
  auto real = [](double d) { return Value{Value::kDouble, {}, d}; };
  struct Row {
    Value name, amount, note;
    const char* stored;
  };
  const Row rows[] = {
      {text("Ann"), real(1.5), text("first"), "Ann|1.5000|5"},
      {null, text("2.25"), null, "-|2.2500|-"},
      {text("a longer name here"), null, text(""), "a longer name here|-|0"},
      {text(""), real(-3), text(std::string(70000, 'n')), "|-3.0000|70000"},
      {text("Bo"), text("7"), text("x"), "Bo|7.0000|1"},
  };
  auto command = NewCommand(m_session);
  ASSERT_EQ(command->prepare("INSERT INTO VALS VALUES (?, ?, ?, ?)", 4), 0) << ErrorText(command.get());
  int id = 0;
  for (const Row& row : rows) {
    const std::string key = std::to_string(++id);
    ASSERT_EQ(command->setParameterText(1, key.data(), static_cast<std::uint32_t>(key.size())), 0);
    std::uint16_t index = 2;
    for (const Value* value : {&row.name, &row.amount, &row.note}) {
      if (value->kind == Value::kNull) {
        ASSERT_EQ(command->setParameterNull(index), 0);
      }
      if (value->kind == Value::kDouble) {
        ASSERT_EQ(command->setParameterDouble(index, value->real), 0);
      }
      if (value->kind == Value::kText) {
        ASSERT_EQ(command->setParameterText(index, value->text.data(),
                                            static_cast<std::uint32_t>(value->text.size())),
                  0);
      }
      ++index;
    }
    ISQLCursor* cursor = nullptr;
    ASSERT_EQ(command->execute(&cursor), 0) << row.stored << ": " << ErrorText(command.get());
  }
  auto cursor = m_session.Query(
      "SELECT COALESCE(NAME, '-') || '|' || COALESCE(CAST(CAST(AMOUNT AS NUMERIC(18, 4)) AS VARCHAR(30)), "
      "'-')"
      " || '|' || COALESCE(OCTET_LENGTH(NOTE), '-') FROM VALS ORDER BY ID");
  std::vector<std::string> expected;
  for (const Row& row : rows) expected.push_back(row.stored);
  EXPECT_EQ(Column1(cursor.get()), expected);
}

TEST_P(Commands, ExecuteWithoutPreparedStatementFails) {
  auto command = NewCommand(m_session);
  ISQLCursor* cursor = nullptr;
  EXPECT_EQ(command->execute(&cursor), 3);
  EXPECT_GE(command->prepare("SELECT * FROM NO_SUCH_TABLE", 0), kSQLServerError);
  EXPECT_EQ(command->execute(&cursor), 3);
}

TEST_P(Commands, TransactionStatementsAreRefused) {
  auto command = NewCommand(m_session);
  ISQLCursor* cursor = nullptr;
  EXPECT_EQ(command->executeImmediate("COMMIT", &cursor), 5);
  EXPECT_EQ(command->executeImmediate("SET TRANSACTION", &cursor), 5);
}

TEST_P(Commands, QueryTransactionLivesAsLongAsItsCursor) {
  const std::string transactions =
      "SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION";
  EXPECT_EQ(CountOn(m_session, transactions), 1) << "only the counting query's own";
  auto cursor = m_session.Query("SELECT * FROM PEOPLE");
  ASSERT_NE(cursor, nullptr);
  while (cursor->next() == 0) {
  }
  EXPECT_EQ(CountOn(m_session, transactions), 2) << "the finished cursor still holds its transaction";
  cursor.reset();
  EXPECT_EQ(CountOn(m_session, transactions), 1);
}

TEST_P(Commands, ReexecutingClosesThePreviousCursor) {
  auto command = NewCommand(m_session);
  ASSERT_EQ(command->prepare("SELECT NAME FROM PEOPLE ORDER BY ID", 0), 0);
  ISQLCursor* first = nullptr;
  ISQLCursor* second = nullptr;
  ASSERT_EQ(command->execute(&first), 0);
  Owned<ISQLCursor> firstOwned(first);
  ASSERT_EQ(first->next(), 0);
  ASSERT_EQ(command->execute(&second), 0) << ErrorText(command.get());
  Owned<ISQLCursor> secondOwned(second);
  EXPECT_EQ(first->next(), 3);
  EXPECT_EQ(Column1(second), (std::vector<std::string>{"Ann", "Bob", "Cid"}));
}

TEST_P(Commands, NoWaitMeetsALockHeldByAnOpenCursor) {
  auto locking = m_session.Query("SELECT * FROM PEOPLE WHERE ID = 1 WITH LOCK");
  ASSERT_NE(locking, nullptr);
  ASSERT_EQ(locking->next(), 0);
  Session other;
  ASSERT_EQ(other.connection->setOption(eConnWaitOnLocks, 0), 0);
  ASSERT_EQ(other.Connect(m_database->Connect()), 0);
  auto command = NewCommand(other);
  ISQLCursor* cursor = nullptr;
  EXPECT_GE(command->executeImmediate("UPDATE PEOPLE SET NAME = 'x' WHERE ID = 1", &cursor), kSQLServerError);
  std::string text = ErrorText(command.get());
  EXPECT_NE(text.find("update conflicts with concurrent update"), std::string::npos) << text;
  locking.reset();
  EXPECT_EQ(command->executeImmediate("UPDATE PEOPLE SET NAME = 'x' WHERE ID = 1", &cursor), 0)
      << ErrorText(command.get());
}

TEST_P(Commands, ReleasingAConnectionEndsItsAttachmentAndLeavesItsObjectsHarmless) {
  Session victim;
  ASSERT_EQ(victim.Connect(m_database->Connect()), 0);
  auto command = NewCommand(victim);
  ISQLMetaData* rawMetaData = nullptr;
  ASSERT_EQ(victim.connection->getSQLMetaData(&rawMetaData), 0);
  Owned<ISQLMetaData> metaData(rawMetaData);
  ISQLCursor* raw = nullptr;
  ASSERT_EQ(command->executeImmediate("SELECT * FROM PEOPLE", &raw), 0);
  Owned<ISQLCursor> cursor(raw);
  ASSERT_EQ(cursor->next(), 0);
  const std::string attachments = "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0";
  EXPECT_EQ(CountOn(m_session, attachments), 2);

  victim.connection.reset();  // released without a disconnect
  EXPECT_EQ(CountOn(m_session, attachments), 1);
  EXPECT_EQ(cursor->next(), 3);
  bool isNull = false;
  std::int32_t value = 0;
  EXPECT_EQ(cursor->getInt32(1, &value, &isNull), 3);
  EXPECT_EQ(command->executeImmediate("SELECT * FROM PEOPLE", &raw), 3);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(metaData->getColumns("PEOPLE", nullptr, 0, &raw), 3);
}

TEST_P(Commands, DisconnectEndsOpenCursorsFirst) {
  auto command = NewCommand(m_session);
  ISQLCursor* raw = nullptr;
  ASSERT_EQ(command->executeImmediate("INSERT INTO PEOPLE VALUES (20, 'Fay')", &raw), 0);
  auto cursor = m_session.Query("SELECT * FROM PEOPLE");
  ASSERT_NE(cursor, nullptr);
  ASSERT_EQ(cursor->next(), 0);
  EXPECT_EQ(m_session.connection->disconnect(), 0);
  EXPECT_EQ(cursor->next(), 3);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0"), 1);
  EXPECT_EQ(Count("SELECT COUNT(*) FROM PEOPLE"), 4);
}

// The client frees a cursor with the transaction it reads in: ending the
// connection's open transaction closes its cursors first, and they answer
// as closed afterwards.
TEST_P(Commands, EndingTheOpenTransactionClosesItsCursors) {
  for (const bool commit : {true, false}) {
    ASSERT_EQ(m_session.connection->startTransaction(eTxnReadCommitted), 0);
    auto cursor = m_session.Query("SELECT NAME FROM PEOPLE ORDER BY ID");
    ASSERT_NE(cursor, nullptr);
    ASSERT_EQ(cursor->next(), 0);
    EXPECT_EQ(commit ? m_session.connection->commit() : m_session.connection->rollback(), 0) << commit;
    EXPECT_EQ(cursor->next(), 3) << commit;
    cursor.reset();
    EXPECT_EQ(Column1(m_session.Query("SELECT NAME FROM PEOPLE ORDER BY ID").get()),
              (std::vector<std::string>{"Ann", "Bob", "Cid"}));
  }
}

DRIVER_ROUTES(Commands);

}  // namespace
}  // namespace drivertest

namespace drivertest {
namespace {

class Isolation : public RouteTest {
 protected:
  // The rows a cursor delivers when three more are committed by another
  // connection after its first row.
  int RowsWithLaterInsert(std::int32_t level) {
    auto database = MakeDatabase(kPeople);
    Session reader;
    EXPECT_EQ(reader.connection->setOption(eConnTxnIsoLevel, level), 0);
    EXPECT_EQ(reader.Connect(database->Connect()), 0);
    auto cursor = reader.Query("SELECT ID FROM PEOPLE");
    if (!cursor || cursor->next() != 0) return -1;
    Session writer;
    EXPECT_EQ(writer.Connect(database->Connect()), 0);
    writer.Execute("INSERT INTO PEOPLE SELECT ID + 100, NAME FROM PEOPLE");
    int rows = 1;
    while (cursor->next() == 0) ++rows;
    return rows;
  }
};

TEST_P(Isolation, SnapshotCursorSeesNoRowsCommittedLater) { EXPECT_EQ(RowsWithLaterInsert(1), 3); }

TEST_P(Isolation, ReadCommittedCursorSeesRowsCommittedLater) {
  // Through a server the client has fetched the few rows ahead already.
  int rows = RowsWithLaterInsert(0);
  if (ThroughServer()) {
    EXPECT_GE(rows, 3);
  } else {
    EXPECT_EQ(rows, 6);
  }
  EXPECT_EQ(RowsWithLaterInsert(2), rows) << "dirty read reads committed rows";
}

DRIVER_ROUTES(Isolation);

}  // namespace
}  // namespace drivertest
