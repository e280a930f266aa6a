// Reaching the driver library the way the access layer does: dlopen the
// library built beside the test program, look up its entry, and hold its
// objects in owners that release them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/test_database.h"
#include "driver/sql_driver.h"

namespace drivertest {

struct Releaser {
  void operator()(ISQLObject* object) const {
    if (object) object->release();
  }
};
template <class T>
using Owned = std::unique_ptr<T, Releaser>;

// The driver's entry function; the test fails when the library cannot be
// loaded.
TGetDriverFunc Entry();

// The last error text of a driver object.
std::string ErrorText(ISQLObject* object);

// A driver with one connection; Connect() uses the database's connect string.
struct Session {
  Owned<ISQLDriver> driver;
  Owned<ISQLConnection> connection;

  Session();
  SQLResult Connect(const std::string& database, const std::string& user = "SYSDBA",
                    const std::string& password = testdb::Password());
  // Runs sql with executeImmediate; the test fails on a non-zero status.
  Owned<ISQLCursor> Query(const std::string& sql);
  void Execute(const std::string& sql);
};

// The text of a column of the current row (empty for null).
std::string StringValue(ISQLCursor* cursor, std::uint16_t column);
// Every row's text of the first column.
std::vector<std::string> Column1(ISQLCursor* cursor);

// Runs the test for an embedded database and, when FB_TEST_SERVER names a
// server, for one reached through it.
enum class Route { kEmbedded, kServer };
std::string RouteName(const testing::TestParamInfo<Route>& info);

class RouteTest : public testing::TestWithParam<Route> {
 protected:
  void SetUp() override;
  bool ThroughServer() const { return GetParam() == Route::kServer; }
  // A fresh database made with the setup SQL, reached the way the test asks.
  std::unique_ptr<testdb::TestDatabase> MakeDatabase(const std::string& setupSql = {}) const;
};

#define DRIVER_ROUTES(suite)                                                                          \
  INSTANTIATE_TEST_SUITE_P(Routes, suite,                                                             \
                           testing::Values(drivertest::Route::kEmbedded, drivertest::Route::kServer), \
                           drivertest::RouteName)

}  // namespace drivertest
