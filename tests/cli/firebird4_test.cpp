// The types Firebird 4 added, moved by the command-line program through a
// real Firebird 4 server (FB4_TEST_SERVER, scripts/fb4server.sh) under two
// locales, and compared in the server: every value comes back equal, with
// its zone as it was written.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/cli_support.h"
#include "common/test_database.h"

namespace {

namespace fs = std::filesystem;

using clitest::Quoted;
using clitest::ReadFile;
using clitest::TRun;
using clitest::WriteFile;

const char* const kColumns =
    "(ID INTEGER NOT NULL PRIMARY KEY, I INT128, N NUMERIC(38,4), DN DECIMAL(19,2), D16 DECFLOAT(16), "
    "D34 DECFLOAT(34), TTZ TIME WITH TIME ZONE, TSTZ TIMESTAMP WITH TIME ZONE, N18 NUMERIC(18,2), "
    "V VARCHAR(20))";

// The extremes of each type, its specials, and zones as regions and offsets.
const char* const kRows =
    "INSERT INTO T VALUES (1, 170141183460469231731687303715884105727, "
    "9999999999999999999999999999999999.9999, 99999999999999999.99, 9.999999999999999E384, "
    "9.999999999999999999999999999999999E6144, '23:59:59.9999 Europe/Berlin', "
    "'9999-12-31 23:59:59.9999 +05:30', 1.25, 'caf' || _UTF8 x'C3A9');\n"
    "INSERT INTO T VALUES (2, -170141183460469231731687303715884105728, "
    "-9999999999999999999999999999999999.9999, -0.01, -1E-383, 1E-6143, '00:00:00.0000 -14:00', "
    "'0001-01-01 00:00:00.0000 America/Sao_Paulo', -1.25, '');\n"
    // DECFLOAT's subnormals: below the smallest normal value.
    "INSERT INTO T (ID, D16, D34) VALUES (3, 1E-398, -1E-6176);\n"
    "INSERT INTO T (ID, D16, D34) VALUES (4, CAST('Infinity' AS DECFLOAT(16)), "
    "CAST('-Infinity' AS DECFLOAT(34)));\n"
    "INSERT INTO T (ID, D16, D34, I) VALUES (5, CAST('NaN' AS DECFLOAT(16)), CAST('-0' AS DECFLOAT(34)), "
    "0);\n"
    "INSERT INTO T (ID) VALUES (6);\n";

// Rows of T that C holds equal, in every column, the zone's name included.
const char* const kEqualRows =
    "SELECT COUNT(*) FROM T JOIN C ON C.ID = T.ID WHERE C.I IS NOT DISTINCT FROM T.I AND "
    "C.N IS NOT DISTINCT FROM T.N AND C.DN IS NOT DISTINCT FROM T.DN AND "
    "CAST(C.D16 AS VARCHAR(50)) IS NOT DISTINCT FROM CAST(T.D16 AS VARCHAR(50)) AND "
    "CAST(C.D34 AS VARCHAR(50)) IS NOT DISTINCT FROM CAST(T.D34 AS VARCHAR(50)) AND "
    "CAST(C.TTZ AS VARCHAR(60)) IS NOT DISTINCT FROM CAST(T.TTZ AS VARCHAR(60)) AND "
    "CAST(C.TSTZ AS VARCHAR(60)) IS NOT DISTINCT FROM CAST(T.TSTZ AS VARCHAR(60)) AND "
    "C.N18 IS NOT DISTINCT FROM T.N18 AND C.V IS NOT DISTINCT FROM T.V;";

class Firebird4Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testdb::Firebird4Server().empty() || testdb::Firebird4Root().empty())
      GTEST_SKIP() << "FB4_TEST_SERVER is not set (scripts/fb4server.sh starts one)";
    database = std::make_unique<testdb::TestDatabase>(
        testdb::TServerKind::kFirebird4,
        std::string("CREATE TABLE T ") + kColumns + ";\nCREATE TABLE C " + kColumns + ";\nCOMMIT;\n" + kRows);
  }

  TRun Cli(const std::string& arguments, const std::string& locale = "C.UTF-8",
           const std::string& user = "SYSDBA", const std::string& password = testdb::Password()) {
    const fs::path dir = database->Dir();
    const std::string command =
        "cd " + Quoted(dir.string()) + " && LC_ALL=" + locale + " ISC_PASSWORD=" + Quoted(password) + " " +
        Quoted(VP_CLI_PATH) + " --server " + Quoted(database->ServerName()) + " --database " +
        Quoted(database->Path()) + " --user " + user + " " + arguments + " > run.out 2> run.err";
    TRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(dir / "run.out");
    run.err = ReadFile(dir / "run.err");
    return run;
  }

  // The single number an isql query prints.
  std::string Count(const std::string& sql) {
    std::istringstream output(database->Execute("SET HEADING OFF;\n" + sql));
    std::string word;
    output >> word;
    return word;
  }

  std::unique_ptr<testdb::TestDatabase> database;
};

TEST_F(Firebird4Test, EveryNewTypeGoesOutAndComesBackEqual) {
  struct TCase {
    const char* locale;
    const char* options;
    const char* inFile;  // a piece of the exported file
  };
  const TCase cases[] = {
      {"C.UTF-8", "",
       "1,170141183460469231731687303715884105727,9999999999999999999999999999999999.9999,"
       "99999999999999999.99,9.999999999999999E384,9.999999999999999999999999999999999E6144,"
       "23:59:59.9999 Europe/Berlin,9999-12-31 23:59:59.9999 +05:30,1.25,café\r\n"},
      {"de_DE.UTF-8", "",
       "1,170141183460469231731687303715884105727,\"9999999999999999999999999999999999,9999\","
       "\"99999999999999999,99\",\"9,999999999999999E384\",\"9,999999999999999999999999999999999E6144\","
       "23:59:59.9999 Europe/Berlin,9999-12-31 23:59:59.9999 +05:30,\"1,25\",café\r\n"},
      {"de_DE.UTF-8", "--portable ", "4,,,,Infinity,-Infinity,,,,\r\n"},
      {"de_DE.UTF-8", "--charset WIN1252 --delimiter ';' ", "5;0;;;NaN;-0;;;;\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " " + c.options);
    TRun run = Cli(std::string(c.options) + "export T t.csv", c.locale);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file = ReadFile(database->Dir() / "t.csv");
    EXPECT_NE(file.find(c.inFile), std::string::npos) << file;
    run = Cli(std::string(c.options) + "--mode replace import C t.csv", c.locale);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(kEqualRows), "6");
  }

  // The same through a whole folder, a condition and an upsert.
  TRun run = Cli("export-all all", "de_DE.UTF-8");
  ASSERT_EQ(run.status, 0) << run.err;
  run = Cli("--mode replace import-all all", "de_DE.UTF-8");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(kEqualRows), "6");
  run = Cli("--where 'N > 0 AND D16 > 1' export T some.csv", "de_DE.UTF-8");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(database->Dir() / "some.csv").substr(0, 5), "ID,I,");
  EXPECT_NE(run.err.find("1 records"), std::string::npos) << run.err;
  database->Execute("UPDATE C SET N = 0, TSTZ = NULL;");
  run = Cli("--charset WIN1252 --delimiter ';' --mode upsert --key ID import C t.csv", "de_DE.UTF-8");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(kEqualRows), "6");
}

TEST_F(Firebird4Test, QueriesRefusalsAndRolesWorkAsOnFirebird3) {
  // The sum of a NUMERIC(18,2) is a NUMERIC(38,2) on Firebird 4.
  TRun run = Cli("--query 'SELECT SUM(N18) + 1 AS S, MAX(I) AS M FROM T' export -", "de_DE.UTF-8");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "S,M\r\n\"1,00\",170141183460469231731687303715884105727\r\n");

  // A value the server refuses refuses its line, in words the client
  // library does not have.
  WriteFile(database->Dir() / "bad.csv",
            "ID,TTZ,TSTZ,D16,I\n10,10:00:00 +25:00,,,\n11,,2020-01-01 10:00:00 Nowhere/Land,,\n"
            "12,,,1E999,\n13,,,,170141183460469231731687303715884105728\n14,10:00:00 UTC,,1.5,-1\n");
  run = Cli("import C bad.csv");
  EXPECT_EQ(run.status, 3) << run.err;
  for (const char* words :
       {"bad.csv:2: ", "Invalid time zone offset", "bad.csv:3: ", "Invalid time zone region",
        "bad.csv:4: ", "DECFLOAT value is out of its range", "bad.csv:5: "}) {
    EXPECT_NE(run.err.find(words), std::string::npos) << words << "\n" << run.err;
  }
  EXPECT_EQ(run.err.find("unknown ISC error"), std::string::npos) << run.err;
  EXPECT_EQ(Count("SELECT COUNT(*) FROM C WHERE ID = 14 AND I = -1;"), "1");

  // A user who may read the table only through a role.
  database->Execute(
      "CREATE USER READER PASSWORD 'reader';\nCREATE ROLE AUDIT;\nGRANT SELECT ON T TO ROLE AUDIT;\n"
      "GRANT AUDIT TO USER READER;");
  run = Cli("export T r.csv", "C.UTF-8", "READER", "reader");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no permission"), std::string::npos) << run.err;
  run = Cli("--role AUDIT export T r.csv", "C.UTF-8", "READER", "reader");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string file = ReadFile(database->Dir() / "r.csv");
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 7) << file;
  database->Execute("DROP USER READER;");
}

}  // namespace

namespace {

// A database of SQL dialect 1: its DATE is a time stamp and its wide
// NUMERIC a double; both come back equal.
TEST(OlderDialectTest, ADialectOneDatabaseMovesExactly) {
  const fs::path dir = testdb::MakeTempDir("vp-dialect1");
  const std::string path = (dir / "d1.fdb").string();
  testdb::RunIsql("SET SQL DIALECT 1;\nCREATE DATABASE '" + path + "' USER 'SYSDBA' PASSWORD '" +
                  testdb::Password() +
                  "';\nCREATE TABLE T (ID INTEGER, D DATE, N NUMERIC(15,2), S VARCHAR(10));\n"
                  "INSERT INTO T VALUES (1, '2024-03-05 14:07:09', 1234567890123.45, 'x');\n"
                  "INSERT INTO T VALUES (2, '1899-12-30 00:00:00', -0.01, NULL);\nCOMMIT;\n");
  for (const char* locale : {"C.UTF-8", "de_DE.UTF-8"}) {
    const std::string command = "cd " + Quoted(dir.string()) + " && LC_ALL=" + locale + " " +
                                Quoted(VP_CLI_PATH) + " -q --database " + Quoted(path) +
                                " export T t.csv && LC_ALL=" + locale + " " + Quoted(VP_CLI_PATH) +
                                " -q --database " + Quoted(path) + " import T t.csv 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << locale;
  }
  const std::string counts = testdb::RunIsql(
      "SET SQL DIALECT 1;\nSET HEADING OFF;\nSELECT COUNT(*), COUNT(DISTINCT D), COUNT(DISTINCT N) FROM T;\n",
      path);
  std::istringstream words(counts);
  std::string all, dates, numbers;
  words >> all >> dates >> numbers;
  EXPECT_EQ(all + " " + dates + " " + numbers, "8 2 2") << counts;
  fs::remove_all(dir);
}

}  // namespace
