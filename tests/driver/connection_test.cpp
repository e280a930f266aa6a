// Loading the driver, connecting and its failures, connection options and
// the quoting of names.
#include <gtest/gtest.h>

#include "driver/connect_string.h"
#include "driver/fb_quote.h"
#include "driver_support.h"

namespace drivertest {
namespace {

TEST(DriverEntry, AClientLibraryThatDoesNotLoadGivesOnlyTheReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"libno-such-client.so.9", "libno-such-client.so.9: cannot open shared object file"},
      {"libm.so.6", "The client library has no function fb_get_master_interface"},
      {"", "No client library name given"},
  };
  for (const auto& [vendorLib, reason] : cases) {
    ISQLDriver* raw = nullptr;
    EXPECT_EQ(Entry()(vendorLib, "", &raw), kSQLServerError) << vendorLib;
    Owned<ISQLDriver> driver(raw);
    ASSERT_NE(driver, nullptr) << vendorLib;
    EXPECT_EQ(ErrorText(driver.get()).find(reason), 0u) << ErrorText(driver.get());
    ISQLConnection* connection = reinterpret_cast<ISQLConnection*>(0x1);
    EXPECT_NE(driver->getSQLConnection(&connection), kSQLSuccess) << vendorLib;
    EXPECT_EQ(connection, nullptr) << vendorLib;
  }
}

TEST(DriverEntry, CommandsNeedAnOpenConnection) {
  Session session;
  ISQLCommand* command = reinterpret_cast<ISQLCommand*>(0x1);
  EXPECT_EQ(session.connection->getSQLCommand(&command), 3);
  EXPECT_EQ(command, nullptr);
  ISQLMetaData* metaData = reinterpret_cast<ISQLMetaData*>(0x1);
  EXPECT_EQ(session.connection->getSQLMetaData(&metaData), 3);
  EXPECT_EQ(metaData, nullptr);
}

class Connecting : public RouteTest {};

TEST_P(Connecting, OpensTheDatabaseAndAnswersNoStatementLimit) {
  auto database = MakeDatabase("CREATE TABLE T (A INTEGER);");
  Session session;
  ASSERT_EQ(session.Connect(database->Connect()), 0) << ErrorText(session.connection.get());
  std::int32_t limit = -1, length = 0;
  EXPECT_EQ(session.connection->getOption(eConnMaxActiveStatements, &limit, sizeof limit, &length), 0);
  EXPECT_EQ(limit, 0);
  EXPECT_EQ(length, 4);
  auto cursor = session.Query("SELECT COUNT(*) FROM T");
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->next(), 0);
  EXPECT_EQ(session.connection->disconnect(), 0);
}

TEST_P(Connecting, MissingDatabaseGivesTheServersWords) {
  auto dir = testdb::MakeTempDir();
  std::filesystem::permissions(dir, std::filesystem::perms::all);
  std::string path = (dir / "missing.fdb").string();
  std::string connect = ThroughServer() ? testdb::Server() + ":" + path : path;
  Session session;
  SQLResult status = session.Connect(connect);
  EXPECT_GE(status, kSQLServerError);
  std::string text = ErrorText(session.connection.get());
  EXPECT_NE(text.find("missing.fdb"), std::string::npos) << text;
  EXPECT_NE(text.find("\n"), std::string::npos) << "the status vector's lines are joined: " << text;
  std::filesystem::remove_all(dir);
}

TEST_P(Connecting, ReconnectsAfterAFailure) {
  auto database = MakeDatabase();
  Session session;
  EXPECT_GE(session.Connect(database->Connect() + ".missing"), kSQLServerError);
  EXPECT_EQ(session.Connect(database->Connect()), 0) << ErrorText(session.connection.get());
}

DRIVER_ROUTES(Connecting);

TEST(ConnectingThroughServer, WrongPasswordGivesTheServersWords) {
  if (testdb::Server().empty()) GTEST_SKIP() << "FB_TEST_SERVER is not set";
  testdb::TestDatabase database(true);
  Session session;
  SQLResult status = session.Connect(database.Connect(), "SYSDBA", testdb::Password() + "-wrong");
  EXPECT_GE(status, kSQLServerError);
  EXPECT_EQ(
      ErrorText(session.connection.get()),
      "Your user name and password are not defined. Ask your database administrator to set up a Firebird "
      "login.");
}

TEST(ConnectingThroughServer, ConnectStringMayNameThePort) {
  const std::string server = testdb::Server();
  const auto slash = server.find('/');
  if (slash == std::string::npos) GTEST_SKIP() << "FB_TEST_SERVER names no port";
  testdb::TestDatabase database(true);
  Session session;
  EXPECT_EQ(session.Connect("127.0.0.1" + server.substr(slash) + ":" + database.Path()), 0)
      << ErrorText(session.connection.get());
}

TEST(ConnectionOptions, OptionsOfTheParameterListAreAccepted) {
  Session session;
  ISQLConnection* connection = session.connection.get();
  EXPECT_EQ(connection->setOptionText(eConnRoleName, "RoleName"), 0);
  EXPECT_EQ(connection->setOption(eConnWaitOnLocks, 1), 0);
  EXPECT_EQ(connection->setOption(eConnCommitRetain, 0), 0);
  EXPECT_EQ(connection->setOption(eConnTxnIsoLevel, 0), 0);
  EXPECT_EQ(connection->setOption(eConnSqlDialect, 3), 0);
  EXPECT_EQ(connection->setOption(eConnTrimChar, 0), 0);
  EXPECT_EQ(connection->setOptionText(eConnHostName, "somewhere"), 0);
  EXPECT_EQ(connection->setOptionText(eConnCustomString, "anything"), 0);
  EXPECT_EQ(connection->setOption(eConnTimeout, 10), 0);
  EXPECT_NE(connection->setOption(eConnTxnIsoLevel, 7), 0);
  EXPECT_NE(connection->setOption(static_cast<TConnectionOption>(99), 1), 0);
}

struct QuoteCase {
  const char* name;
  const char* quoted;
};

class Quoting : public testing::TestWithParam<QuoteCase> {};

TEST_P(Quoting, FollowsTheIdentifierRules) {
  EXPECT_EQ(fbdriver::QuoteObjectName(GetParam().name), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Quoting,
    testing::Values(QuoteCase{"CUSTOMER", "CUSTOMER"}, QuoteCase{"T_1$X", "T_1$X"},
                    QuoteCase{"Mixed Case", "\"Mixed Case\""}, QuoteCase{"order", "\"order\""},
                    QuoteCase{"ORDER", "\"ORDER\""}, QuoteCase{"VALUE", "\"VALUE\""},
                    QuoteCase{"YEAR", "\"YEAR\""}, QuoteCase{"TRIM", "\"TRIM\""},
                    QuoteCase{"RDB$DB_KEY", "\"RDB$DB_KEY\""}, QuoteCase{"COALESCE", "COALESCE"},
                    QuoteCase{"KEY", "KEY"}, QuoteCase{"Customer", "\"Customer\""},
                    QuoteCase{"A\"B", "\"A\"\"B\""}, QuoteCase{"_X", "\"_X\""}, QuoteCase{"1ST", "\"1ST\""},
                    QuoteCase{"A-B", "\"A-B\""}, QuoteCase{"", "\"\""}));

// The server takes each quoted name as exactly the table of that name.
class QuotedNamesOnServer : public RouteTest {};

TEST_P(QuotedNamesOnServer, ReachTheirTables) {
  const char* names[] = {"CUSTOMER", "Mixed Case", "order", "ORDER", "A\"B", "VALUE"};
  std::string setup;
  for (const char* name : names)
    setup += "CREATE TABLE " + fbdriver::QuoteObjectName(name) + " (A INTEGER);\n";
  auto database = MakeDatabase(setup);
  Session session;
  ASSERT_EQ(session.Connect(database->Connect()), 0) << ErrorText(session.connection.get());
  for (const char* name : names) {
    std::string sql = "select count(*) from " + fbdriver::QuoteObjectName(name);
    auto cursor = session.Query(sql);
    ASSERT_NE(cursor, nullptr) << sql;
    EXPECT_EQ(cursor->next(), 0) << sql;
  }
}

DRIVER_ROUTES(QuotedNamesOnServer);

}  // namespace
}  // namespace drivertest

TEST(ConnectString, NamesAServerOnlyInTheFormsFirebirdsToolsRead) {
  struct TCase {
    const char* database;
    bool server;
  } cases[] = {
      {"localhost:/data/x.fdb", true},
      {"db.example.com/3051:/data/x.fdb", true},
      {"localhost/3050:x.fdb", true},
      {"host:employee", true},
      {"inet://host/data/x.fdb", true},
      {"/data/x.fdb", false},
      {"x.fdb", false},
      {"data/x.fdb", false},
      {"./a:b.fdb", false},
      {"/data/a:b.fdb", false},
      {"C:\\data\\x.fdb", false},
      {"", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(NamesServer(c.database), c.server) << c.database;
}
