#include "driver_support.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace drivertest {

TGetDriverFunc Entry() {
  static TGetDriverFunc entry = [] {
    auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libfbdriver.so";
    void* library = dlopen(path.c_str(), RTLD_NOW);
    if (!library) return TGetDriverFunc{};
    return reinterpret_cast<TGetDriverFunc>(dlsym(library, "getSQLDriverFIREBIRD"));
  }();
  EXPECT_NE(entry, nullptr) << "libfbdriver.so or its entry is missing";
  return entry;
}

std::string ErrorText(ISQLObject* object) {
  std::uint32_t length = 0;
  if (object->getErrorMessageLen(&length) != 0) return "<no error length>";
  std::string text(length + 1, '\0');
  if (object->getErrorMessage(text.data()) != 0) return "<no error text>";
  text.resize(length);
  return text;
}

Session::Session() {
  ISQLDriver* rawDriver = nullptr;
  TGetDriverFunc entry = Entry();
  if (!entry) return;
  EXPECT_EQ(entry("libfbclient.so.2", "", &rawDriver), 0);
  driver.reset(rawDriver);
  if (!driver) return;
  ISQLConnection* rawConnection = nullptr;
  EXPECT_EQ(driver->getSQLConnection(&rawConnection), 0);
  connection.reset(rawConnection);
}

SQLResult Session::Connect(const std::string& database, const std::string& user,
                           const std::string& password) {
  if (!connection) return 3;
  return connection->connect(database.c_str(), user.c_str(), password.c_str());
}

Owned<ISQLCursor> Session::Query(const std::string& sql) {
  ISQLCommand* rawCommand = nullptr;
  EXPECT_EQ(connection->getSQLCommand(&rawCommand), 0);
  Owned<ISQLCommand> command(rawCommand);
  if (!command) return nullptr;
  ISQLCursor* cursor = nullptr;
  SQLResult status = command->executeImmediate(sql.c_str(), &cursor);
  EXPECT_EQ(status, 0) << sql << ": " << ErrorText(command.get());
  return Owned<ISQLCursor>(cursor);
}

void Session::Execute(const std::string& sql) {
  Owned<ISQLCursor> cursor = Query(sql);
  EXPECT_EQ(cursor, nullptr) << sql << " gave a cursor";
}

std::string StringValue(ISQLCursor* cursor, std::uint16_t column) {
  std::uint32_t length = 0;
  bool isNull = true;
  EXPECT_EQ(cursor->getString(column, nullptr, 0, &length, &isNull), 0) << ErrorText(cursor);
  if (isNull) return {};
  std::string text(length, '\0');
  EXPECT_EQ(cursor->getString(column, text.data(), length, &length, &isNull), 0) << ErrorText(cursor);
  return text;
}

std::vector<std::string> Column1(ISQLCursor* cursor) {
  std::vector<std::string> values;
  SQLResult status;
  while ((status = cursor->next()) == 0) values.push_back(StringValue(cursor, 1));
  EXPECT_EQ(status, kSQLNoData) << ErrorText(cursor);
  return values;
}

std::string RouteName(const testing::TestParamInfo<Route>& info) {
  return info.param == Route::kServer ? "Server" : "Embedded";
}

void RouteTest::SetUp() {
  if (ThroughServer() && testdb::Server().empty()) GTEST_SKIP() << "FB_TEST_SERVER is not set";
}

std::unique_ptr<testdb::TestDatabase> RouteTest::MakeDatabase(const std::string& setupSql) const {
  return std::make_unique<testdb::TestDatabase>(ThroughServer(), setupSql);
}

}  // namespace drivertest
