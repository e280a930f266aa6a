// The catalogue listing of a table's columns.
#include <gtest/gtest.h>

#include "driver_support.h"

namespace drivertest {
namespace {

using Names = std::vector<std::string>;

constexpr const char* kCatalogue =
    "CREATE TABLE ZETA (A INTEGER);\n"
    "CREATE TABLE ALPHA (Z_LAST INTEGER, A_FIRST VARCHAR(10), M_MIDDLE DATE);\n"
    "CREATE TABLE \"Mixed Case\" (\"lower col\" INTEGER, \"Col \"\"Q\"\"\" INTEGER);\n"
    "CREATE VIEW BETA_VIEW (X) AS SELECT A FROM ZETA;\n";

class Catalogue : public RouteTest {
 protected:
  void SetUp() override {
    RouteTest::SetUp();
    if (IsSkipped()) return;
    m_database = MakeDatabase(kCatalogue);
    ASSERT_EQ(m_session.Connect(m_database->Connect()), 0) << ErrorText(m_session.connection.get());
    ISQLMetaData* metaData = nullptr;
    ASSERT_EQ(m_session.connection->getSQLMetaData(&metaData), 0);
    m_metaData.reset(metaData);
  }

  Names Columns(const char* table) {
    ISQLCursor* cursor = nullptr;
    EXPECT_EQ(m_metaData->getColumns(table, nullptr, 0, &cursor), 0) << ErrorText(m_metaData.get());
    Owned<ISQLCursor> owned(cursor);
    if (!owned) return {};
    char name[32] = {};
    EXPECT_EQ(owned->getColumnName(1, name), 0);
    EXPECT_STREQ(name, "COLUMN_NAME");
    return Column1(owned.get());
  }

  std::unique_ptr<testdb::TestDatabase> m_database;
  Session m_session;
  Owned<ISQLMetaData> m_metaData;
};

TEST_P(Catalogue, ListsColumnsInTheirTablesOrder) {
  EXPECT_EQ(Columns("ALPHA"), (Names{"Z_LAST", "A_FIRST", "M_MIDDLE"}));
  EXPECT_EQ(Columns("Mixed Case"), (Names{"lower col", "Col \"Q\""}));
  EXPECT_EQ(Columns("BETA_VIEW"), (Names{"X"}));
}

TEST_P(Catalogue, ColumnOrderFollowsARepositionedColumn) {
  m_session.Execute("ALTER TABLE ALPHA ALTER COLUMN M_MIDDLE POSITION 1");
  EXPECT_EQ(Columns("ALPHA"), (Names{"M_MIDDLE", "Z_LAST", "A_FIRST"}));
}

TEST_P(Catalogue, NameIsMatchedExactly) {
  EXPECT_TRUE(Columns("alpha").empty());
  EXPECT_TRUE(Columns("MIXED CASE").empty());
  EXPECT_TRUE(Columns("NO_SUCH_TABLE").empty());
  EXPECT_TRUE(Columns("A'B").empty());
}

TEST_P(Catalogue, ListingHoldsItsTransactionUntilReleased) {
  const std::string transactions =
      "SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION";
  auto count = [&] {
    auto cursor = m_session.Query(transactions);
    std::int64_t value = -1;  // COUNT(*) is a BIGINT
    bool isNull = true;
    if (cursor && cursor->next() == 0) {
      EXPECT_EQ(cursor->getInt64(1, &value, &isNull), 0);
    }
    return value;
  };
  ISQLCursor* cursor = nullptr;
  ASSERT_EQ(m_metaData->getColumns("ZETA", nullptr, 0, &cursor), 0);
  ASSERT_EQ(cursor->next(), 0);
  EXPECT_EQ(count(), 2);
  cursor->release();
  EXPECT_EQ(count(), 1);
}

TEST_P(Catalogue, ClosedConnectionListsNothing) {
  m_session.connection->disconnect();
  ISQLCursor* cursor = reinterpret_cast<ISQLCursor*>(0x1);
  EXPECT_NE(m_metaData->getColumns("ZETA", nullptr, 0, &cursor), 0);
  EXPECT_EQ(cursor, nullptr);
}

DRIVER_ROUTES(Catalogue);

}  // namespace
}  // namespace drivertest
