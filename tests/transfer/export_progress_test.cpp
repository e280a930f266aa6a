// The export's bar, which follows where the rows lie in the table instead of
// counting them first: on every server, over tables of several pointer pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>

#include "common/test_database.h"
#include "db/catalogue.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "transfer/table_transfer.h"

namespace {

constexpr int kRows = 48000;

// Each row's position as its count was reported.
struct TRowPositions : IProgress {
  int position = -1;
  std::vector<int> positions;
  std::vector<std::pair<std::int64_t, int>> rows;
  void SetPosition(int value) override { positions.push_back(position = value); }
  void SetRowsDone(std::int64_t done) override { rows.emplace_back(done, position); }
};

struct TNoMessages : IMessages {
  void ShowMessage(const std::string&) override {}
};

// The bar keeps within a few steps of the share of the rows written.
void ExpectBarFollowsRows(const TRowPositions& progress, std::int64_t written) {
  ASSERT_GE(progress.rows.size(), 10u);
  for (const auto& [done, position] : progress.rows) {
    const double share = 10 + 90.0 * static_cast<double>(done) / static_cast<double>(written);
    ASSERT_LE(std::abs(position - share), 6) << "after " << done << " of " << written << " rows";
  }
}

class ExportProgressTest : public ::testing::TestWithParam<testdb::TServerKind> {};

TEST_P(ExportProgressTest, TheBarFollowsTheRowsWithoutCountingThem) {
  if (const std::string missing = testdb::MissingServer(GetParam()); !missing.empty())
    GTEST_SKIP() << missing;
  // Rows of about 150 bytes that do not compress, on small pages: the table
  // takes several pointer pages.
  const testdb::TestDatabase database(
      GetParam(),
      "CREATE TABLE NOTES (ID INTEGER NOT NULL, NOTE VARCHAR(200));\n"
      "CREATE VIEW LATE_NOTES AS SELECT * FROM NOTES WHERE ID > 100;\n"
      "SET TERM ^;\n"
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= " +
          std::to_string(kRows) +
          ") DO BEGIN INSERT INTO NOTES VALUES (:I, UUID_TO_CHAR(GEN_UUID()) || UUID_TO_CHAR(GEN_UUID()) || "
          "UUID_TO_CHAR(GEN_UUID()) || UUID_TO_CHAR(GEN_UUID())); I = I + 1; END END^\n"
          "SET TERM ;^\n",
      4096);
  TSQLConnection connection("scnDatabase");
  connection.Params().SetValue("Database", database.Connect());
  connection.Params().SetValue("User_Name", "SYSDBA");
  connection.Params().SetValue("Password", testdb::Password());
  connection.SetConnected(true);
  ASSERT_GE(TablePages(connection, "NOTES").value().pointerPages, 3);
  TSQLDataSet dataSet("sdsTable", &connection);

  struct Case {
    const char* name;
    const char* table;
    std::string where;
    std::string before;  // SQL run first
    int firstPosition;   // where the bar stands at the first row
    bool followsRows;    // the bar keeps within a step of the rows' share
  };
  const Case cases[] = {
      {"whole table", "NOTES", "", "", 10, true},
      // A filter reads where its rows lie: the bar starts far along.
      {"a filter on the last rows", "NOTES", "ID > " + std::to_string(kRows / 2), "", 55, false},
      // A view keeps no pages of its own: its rows are shown without a share.
      {"a view", "LATE_NOTES", "", "", 10, false},
      // Rows taken from the end leave no pages to wait for at the end.
      {"its last rows deleted", "NOTES", "", "DELETE FROM NOTES WHERE ID > " + std::to_string(kRows * 3 / 5),
       10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.before.empty()) {
      TSQLCommand before(connection);
      before.Prepare(c.before);
      before.Run();
    }
    TRowPositions progress;
    TNoMessages messages;
    TTransferRequest request{database.Dir().string(), "out.csv", c.table};
    request.where = c.where;
    const std::int64_t written = ExportTable(dataSet, request, progress, messages).rows;
    ASSERT_GT(written, 0);
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_EQ(progress.positions.back(), 100);
    ASSERT_GE(progress.rows.size(), 2u);
    EXPECT_EQ(progress.rows.back().first, written);
    EXPECT_LE(std::abs(progress.rows.front().second - c.firstPosition), 6) << progress.rows.front().second;
    // Below 100 until the last row is written.
    for (std::size_t i = 0; i + 1 < progress.rows.size(); ++i) ASSERT_LE(progress.rows[i].second, 99);
    if (c.followsRows) ExpectBarFollowsRows(progress, written);
  }
}

// A database of dialect 1 knows no BIGINT: its pages are told all the same.
TEST(ExportProgressDialectTest, TheBarOfADialectOneDatabaseFollowsItsRows) {
  const std::filesystem::path folder = testdb::MakeTempDir("vp-db");
  const std::string path = (folder / "old.fdb").string();
  testdb::RunIsql("SET SQL DIALECT 1;\nCREATE DATABASE '" + path + "' USER 'SYSDBA' PASSWORD '" +
                  testdb::Password() +
                  "' PAGE_SIZE 4096;\nCREATE TABLE T (ID INTEGER, S VARCHAR(40));\nSET TERM ^;\n"
                  "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 100000) DO BEGIN "
                  "INSERT INTO T VALUES (:I, 'a row of dialect 1, number ' || :I); I = I + 1; END END^\n"
                  "SET TERM ;^\nCOMMIT;\n");
  {
    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", path);
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    TSQLDataSet dataSet("sdsTable", &connection);
    TRowPositions progress;
    TNoMessages messages;
    const std::int64_t written =
        ExportTable(dataSet, TTransferRequest{folder.string(), "out.csv", "T"}, progress, messages).rows;
    EXPECT_EQ(written, 100000);
    ExpectBarFollowsRows(progress, written);
  }
  std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Firebird, ExportProgressTest,
                         ::testing::Values(testdb::TServerKind::kEmbedded, testdb::TServerKind::kServer,
                                           testdb::TServerKind::kFirebird4),
                         [](const auto& info) { return testdb::KindName(info.param); });

}  // namespace
