// The command-line program run as a user runs it, over real Firebird
// databases, embedded and through the loopback server when FB_TEST_SERVER
// names it: its files equal the window's, a pipe copies a table, portable
// files cross locales, and its exit statuses tell a script what happened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "cli/cli_support.h"
#include "common/test_database.h"
#include "db/locale_formats.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "transfer/table_transfer.h"

namespace {

namespace fs = std::filesystem;

using clitest::Quoted;
using clitest::ReadFile;
using clitest::TRun;
using clitest::WriteFile;

struct TSilent : IProgress, IMessages {
  void SetPosition(int) override {}
  void ShowMessage(const std::string&) override {}
};

const char* const kEveryType =
    "(ID INTEGER NOT NULL PRIMARY KEY, S SMALLINT, B BIGINT, D DOUBLE PRECISION, N4 NUMERIC(9,2), "
    "N18 NUMERIC(18,4), DT DATE, TM TIME, TS TIMESTAMP, BO BOOLEAN, C CHAR(6), V VARCHAR(30), "
    "MEMO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY)";

const char* const kRows =
    "INSERT INTO SOURCE VALUES (1, -32768, -9223372036854775808, 0.1, -1234567.89, -99999999999999.9999, "
    "'1950-02-28', '14:07:09', '2004-03-05 14:07:09', TRUE, 'ab', 'comma, \"quote\"', "
    "'line' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'break', x'00FF0D0A2C22');\n"
    "INSERT INTO SOURCE VALUES (2, 32767, 9223372036854775807, 1.0E300, 0.5, 0.0001, '2024-02-12', "
    "'00:00:00', '1899-12-30 00:00:00', FALSE, '', '', '', '');\n"
    "INSERT INTO SOURCE (ID, D) VALUES (3, -0E0);\n";

class CliTest : public ::testing::TestWithParam<testdb::TServerKind> {
 protected:
  void SetUp() override {
    if (const std::string missing = testdb::MissingServer(GetParam()); !missing.empty())
      GTEST_SKIP() << missing;
    source = std::make_unique<testdb::TestDatabase>(
        GetParam(),
        std::string("CREATE TABLE SOURCE ") + kEveryType + ";\nCREATE TABLE COPY " + kEveryType +
            ";\nCREATE TABLE \"Mixed Case\" (\"order\" INTEGER, \"Two Words\" VARCHAR(10));\n"
            "INSERT INTO \"Mixed Case\" VALUES (1, 'x,y');\nCREATE TABLE EMPTY_ONE (ID INTEGER);\n" +
            kRows);
    dir = source->Dir();
  }

  // Through a server (Firebird 3 or 4), not the embedded engine.
  bool Remote() const { return GetParam() != testdb::TServerKind::kEmbedded; }

  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    LocaleFormats() = TLocaleFormats();
  }

  // The connection options for a database: through the server, or the file.
  std::string Target(const testdb::TestDatabase& database) const {
    return (database.ServerName().empty() ? "" : "--server " + Quoted(database.ServerName()) + " ") +
           "--database " + Quoted(database.Path());
  }

  // Runs a shell command line in the test's folder; "cli" stands for the program.
  TRun Shell(const std::string& commandLine, const std::string& locale = "C.UTF-8") {
    std::string line = commandLine;
    for (std::size_t at; (at = line.find("cli ")) != std::string::npos;) line.replace(at, 3, "\"$CLI\"");
    const std::string command = "cd " + Quoted(dir.string()) + " && CLI=" + Quoted(VP_CLI_PATH) +
                                " LC_ALL=" + locale + " ISC_PASSWORD=" + Quoted(testdb::Password()) +
                                " sh -c " + Quoted(line) + " > run.out 2> run.err";
    TRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(dir / "run.out");
    run.err = ReadFile(dir / "run.err");
    return run;
  }

  TRun Cli(const std::string& arguments, const std::string& locale = "C.UTF-8") {
    return Shell("cli " + Target(*source) + " " + arguments, locale);
  }

  // The window's export of a table under a locale, through the same functions.
  std::string LibraryExport(const std::string& table, const char* locale) {
    EXPECT_TRUE(std::setlocale(LC_ALL, locale)) << locale;
    LoadLocaleFormats();
    std::setlocale(LC_NUMERIC, "C");
    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", source->Connect());
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    TSQLDataSet dataSet("sdsTable", &connection);
    TTransferRequest request{dir.string(), "library.csv", table};
    TSilent silent;
    ExportTable(dataSet, request, silent, silent);
    // Two embedded engines must not hold one file: the program opens it next.
    connection.SetConnected(false);
    return ReadFile(dir / "library.csv");
  }

  std::unique_ptr<testdb::TestDatabase> source;
  fs::path dir;
};

INSTANTIATE_TEST_SUITE_P(Firebird, CliTest,
                         ::testing::Values(testdb::TServerKind::kEmbedded, testdb::TServerKind::kServer,
                                           testdb::TServerKind::kFirebird4),
                         [](const auto& info) { return testdb::KindName(info.param); });

TEST_P(CliTest, ExportEqualsTheWindowsExportByteForByte) {
  for (const char* locale : {"en_GB.UTF-8", "de_DE.UTF-8"}) {
    for (const char* table : {"SOURCE", "Mixed Case", "EMPTY_ONE"}) {
      SCOPED_TRACE(std::string(locale) + " " + table);
      const std::string expected = LibraryExport(table, locale);
      ASSERT_NE(expected.find("\r\n"), std::string::npos);
      TRun run = Cli(std::string("-q export ") + Quoted(table) + " cli.csv", locale);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(ReadFile(dir / "cli.csv"), expected);
      // Standard output, also when it is a file the shell appends to.
      WriteFile(dir / "appended.csv", "kept\n");
      run = Cli(std::string("export ") + Quoted(table) + " - >> appended.csv", locale);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(ReadFile(dir / "appended.csv"), "kept\n" + expected);
      EXPECT_NE(run.err.find("records of table '" + std::string(table) + "' has been exported"),
                std::string::npos);
    }
  }
}

TEST_P(CliTest, APipeCopiesATableAndPortableFilesCrossLocales) {
  // Embedded, the copy goes into a second database: one engine per file.
  std::unique_ptr<testdb::TestDatabase> second;
  if (!Remote())
    second =
        std::make_unique<testdb::TestDatabase>(false, std::string("CREATE TABLE COPY ") + kEveryType + ";");
  const std::string copyTarget = second ? Target(*second) : Target(*source);
  auto exportOf = [&](const std::string& target, const std::string& table) {
    TRun run = Shell("cli --portable " + target + " export " + table + " -");
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  };
  const std::string original = exportOf(Target(*source), "SOURCE");
  ASSERT_NE(original.find("2004-03-05 14:07:09"), std::string::npos) << original;
  ASSERT_NE(original.find(",0.1,"), std::string::npos) << original;
  // A negative zero keeps its sign, there and back.
  ASSERT_NE(original.find("\r\n3,,,-0,"), std::string::npos) << original;

  struct TCase {
    const char* exportFlags;
    const char* exportLocale;
    const char* importLocale;
  } cases[] = {{"", "de_DE.UTF-8", "de_DE.UTF-8"},
               {"--portable", "en_GB.UTF-8", "en_US.UTF-8"},
               {"--portable", "en_GB.UTF-8", "de_DE.UTF-8"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.exportFlags) + " " + c.exportLocale + " -> " + c.importLocale);
    TRun run = Shell("cli -q " + Target(*source) + " " + c.exportFlags + " export SOURCE - | LC_ALL=" +
                         c.importLocale + " cli " + copyTarget + " import COPY -",
                     c.exportLocale);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("3 records of table 'COPY' has been imported"), std::string::npos) << run.err;
    std::string copied = exportOf(copyTarget, "COPY");
    EXPECT_EQ(copied, original);
    (second ? *second : *source).Execute("DELETE FROM COPY;");
  }
}

TEST_P(CliTest, ExitStatusesTellWhatHappened) {
  WriteFile(dir / "refused.csv", "ID,N4\r\n10,1.5\r\n1,2.5\r\nx,3\r\n11,4\r\n");
  WriteFile(dir / "wrong-header.csv", "ID,NOPE\r\n10,1\r\n");
  const std::string badPassword = Remote() ? "--server " + Quoted(source->ServerName()) + " --database " +
                                                 Quoted(source->Path()) + " --password-file wrong-password"
                                           : "--database " + Quoted((dir / "missing.fdb").string());
  WriteFile(dir / "wrong-password", "not the password\n");
  struct TCase {
    std::string commandLine;  // after "cli"
    int status;
    std::string inOut;  // a text standard output holds
    std::string inErr;  // a text standard error holds
  } cases[] = {
      {Target(*source) + " tables", 0, "COPY\nEMPTY_ONE\nMixed Case\nSOURCE\n", ""},
      {Target(*source) + " fields source", 0, "ID\nS\nB\n", ""},
      {Target(*source) + " import SOURCE refused.csv", 3, "", "refused.csv:3: "},
      {Target(*source) + " import SOURCE wrong-header.csv", 1, "", "does not match"},
      {badPassword + " tables", 1, "", "cannot connect"},
      {Target(*source) + " export NO_SUCH_TABLE out.csv", 1, "", "no table 'NO_SUCH_TABLE'"},
      {Target(*source) + " fields NO_SUCH_TABLE", 1, "", "no table 'NO_SUCH_TABLE'"},
      {Target(*source) + " export SOURCE no-such-folder/out.csv", 1, "", "varnelo-pelmora-cli: "},
      {Target(*source), 2, "", "no command given"},
      {Target(*source) + " export SOURCE", 2, "", "'export' takes 2 arguments"},
      {Target(*source) + " copy SOURCE", 2, "", "unknown command 'copy'"},
      {Target(*source) + " --colour tables", 2, "", "unknown option --colour"},
      {Target(*source) + " --password secret tables", 2, "", "ISC_PASSWORD"},
      {Target(*source) + " --null 'a,b' export SOURCE x.csv", 2, "",
       "--null takes a text without the delimiter"},
      {Target(*source) + " --columns ID,NOPE export SOURCE x.csv", 1, "", "The table has no column 'NOPE'."},
      {Target(*source) + " --columns bin,memo,ID --where 'ID = 1' export SOURCE -", 0,
       "BIN,MEMO,ID\r\n\"" + std::string(1, '\0') + "\xFF\r\n,\"\"\",\"line\r\nbreak\",1\r\n", ""},
      {Target(*source) + " --columns s --query 'SELECT ID, S FROM SOURCE WHERE ID = 1' export -", 0,
       "S\r\n-32768\r\n", ""},
      {"tables", 2, "", "no database given"},
      {"--version", 0, "varnelo-pelmora-cli " VP_VERSION "\n", ""},
      {"--help", 0, "import TABLE FILE", ""},
      {Target(*source) + " --mode replace --from-line 3 import SOURCE refused.csv", 2, "",
       "--from-line does not go with --mode replace"},
      {Target(*source) + " --key ID import SOURCE refused.csv", 2, "",
       "--key names the columns an upsert matches"},
      {Target(*source) + " --key ID --mode append import SOURCE refused.csv", 2, "",
       "it needs --mode upsert"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.commandLine);
    TRun run = Shell("cli " + c.commandLine);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.out.find(c.inOut), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    if (c.status == 2) {
      EXPECT_NE(run.err.find("Usage: varnelo-pelmora-cli"), std::string::npos);
    }
  }
  // An export refuses each option of an import, naming it, and writes nothing.
  for (const std::string option :
       {"--mode upsert", "--key ID", "--atomic", "--max-refusals 1", "--from-line 2", "--dry-run"}) {
    for (const std::string command : {"export SOURCE out.csv", "export-all all"}) {
      SCOPED_TRACE(option + " " + command);
      const TRun run = Shell("cli " + Target(*source) + " " + option + " " + command);
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.err.find(option.substr(0, option.find(' ')) + " is for an import, not for '" +
                             command.substr(0, command.find(' ')) + "'"),
                std::string::npos)
          << run.err;
      EXPECT_FALSE(fs::exists(dir / "out.csv"));
      EXPECT_FALSE(fs::exists(dir / "all"));
    }
  }
  // The lines the database took stay; the refused ones are in the rejected file.
  TRun run = Shell("cli -q " + Target(*source) + " --portable export SOURCE -");
  EXPECT_NE(run.out.find("\r\n10,"), std::string::npos);
  EXPECT_NE(run.out.find("\r\n11,"), std::string::npos);

  if (!Remote()) return;
  // "host/port:path" in --database reaches the server as --server does, and
  // so needs a password.
  const std::string joined = Quoted(source->ServerName() + ":" + source->Path());
  run = Shell("cli --database " + joined + " tables");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "COPY\nEMPTY_ONE\nMixed Case\nSOURCE\n");
  run = Shell("env -u ISC_PASSWORD setsid -w cli --database " + joined + " tables < /dev/null");
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find("no password"), std::string::npos) << run.err;
}

// What the program prints and where it writes cannot be turned against the
// user: closed descriptors, control characters in names, option values
// that may be a password, a reader that goes away.
TEST_P(CliTest, DescriptorsTerminalAndOptionsAreSafe) {
  source->Execute(
      "CREATE TABLE \"A\x1b[2JB\" (ID INTEGER);\nCREATE TABLE \"A\\x1b[2JB\" (LITERAL INTEGER);\n"
      "CREATE TABLE BIG (ID INTEGER, NAME VARCHAR(40));\nCOMMIT;\n"
      "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 50000) DO BEGIN "
      "INSERT INTO BIG VALUES (:I, 'name ' || :I); I = I + 1; END END^\nSET TERM ; ^\n");
  struct TCase {
    std::string commandLine;  // "cli" stands for the program
    int status;
    std::string inOut;
    std::string inErr;
  } cases[] = {
      {"cli " + Target(*source) + " tables >&-", 1, "", "standard output is closed"},
      {"cli " + Target(*source) + " export BIG - >&-", 1, "", "standard output is closed"},
      {"cli " + Target(*source) + " import BIG - <&-", 1, "", "standard input is closed"},
      // Every name printed can be typed back: a backslash is escaped too.
      {"cli " + Target(*source) + " tables", 0, "A\\x1b[2JB\nA\\\\x1b[2JB\nBIG\n", ""},
      {"cli " + Target(*source) + " fields 'A\\x1b[2JB'", 0, "ID\n", ""},
      {"cli " + Target(*source) + " fields 'A\\\\x1b[2JB'", 0, "LITERAL\n", ""},
      {"cli " + Target(*source) + " --passw=secret tables", 2, "", "a password is not taken"},
      {"cli " + Target(*source) + " --portable=yes tables", 2, "", "option --portable takes no value"},
      {"cli " + Target(*source) + " --quiet=1 tables", 2, "", "option --quiet takes no value"},
      {"cli " + Target(*source) + " --from-line 0 import BIG x.csv", 2, "", "--from-line takes"},
      {"(cli " + Target(*source) + " export BIG -; echo $? > status) | head -c 1 > /dev/null; cat status", 0,
       "141\n", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.commandLine);
    TRun run = Shell(c.commandLine);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.out.find(c.inOut), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.err.find("secret"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("yes"), std::string::npos) << run.err;
  }

  if (!Remote()) return;  // one embedded engine per file: the lock needs a server
  // Ctrl-C while an insert waits on a row another transaction holds.
  source->Execute("ALTER TABLE EMPTY_ONE ADD CONSTRAINT UQ_ONE UNIQUE (ID);\n");
  TSQLConnection holder("holder");
  holder.Params().SetValue("Database", source->Connect());
  holder.Params().SetValue("User_Name", "SYSDBA");
  holder.Params().SetValue("Password", testdb::Password());
  holder.StartTransaction();
  TSQLCommand hold(holder);
  hold.Prepare("INSERT INTO EMPTY_ONE VALUES (1)");
  hold.Run();
  WriteFile(dir / "one.csv", "ID\r\n1\r\n");
  // The Ctrl-C comes once the server reports the program's insert waiting.
  WriteFile(
      dir / "waiting.sql",
      "SELECT 'WAITING' FROM MON$STATEMENTS WHERE MON$STATE = 1 AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
      "AND MON$SQL_TEXT CONTAINING 'EMPTY_ONE';\n");
  const std::string watch = "isql-fb -q -user SYSDBA -i waiting.sql " + Quoted(source->Connect());
  const auto start = std::chrono::steady_clock::now();
  TRun run = Shell("cli " + Target(*source) + " import EMPTY_ONE one.csv & pid=$!; tries=0; until " + watch +
                   " | grep -q WAITING || [ $tries -gt 300 ]; do sleep 0.1; tries=$((tries+1)); done; "
                   "kill -INT $pid; wait $pid");
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_NE(run.err.find("0 records"), std::string::npos) << run.err;
  holder.Rollback();
}

// The import modes, each from the same table and file: what the table
// holds afterwards and what the program says.
TEST_P(CliTest, ImportModesChangeTheTableAsTheySay) {
  source->Execute(
      "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10));\n"
      "CREATE TABLE NO_KEY (ID INTEGER, NAME VARCHAR(10));\n");
  WriteFile(dir / "in.csv", "ID,NAME\r\n2,B\r\n3,c\r\n4,d\r\n");
  struct TCase {
    std::string options;
    int status;
    std::string table;  // T's rows afterwards, as a portable export writes them
    std::string inErr;
  } cases[] = {
      {"", 3, "1,a\r\n2,b\r\n3,c\r\n4,d\r\n", "in.csv:2: violation of PRIMARY or UNIQUE KEY"},
      {"--mode upsert", 0, "1,a\r\n2,B\r\n3,c\r\n4,d\r\n", ""},
      {"--mode upsert --key ID", 0, "1,a\r\n2,B\r\n3,c\r\n4,d\r\n", ""},
      {"--mode replace", 0, "2,B\r\n3,c\r\n4,d\r\n", ""},
      {"--atomic", 1, "1,a\r\n2,b\r\n",
       "the table is as it was. Line 2 was refused, which ended the import; as the import was undone, no "
       "refused line was kept\n"},
      {"--mode replace --max-refusals 1", 1, "1,a\r\n2,b\r\n",
       "the table is as it was. Line 3 was refused, which ended the import; as the import was undone, no "
       "refused line was kept\n"},
      {"--dry-run", 3, "1,a\r\n2,b\r\n",
       "Dry run: 2 records of table 'T' would have been imported from file './in.csv'; nothing was changed, "
       "except that generators and identity columns may have advanced"},
      {"--max-refusals 1", 1, "1,a\r\n2,b\r\n", "The import stopped at line 3"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options);
    source->Execute("DELETE FROM T;\nINSERT INTO T VALUES (1, 'a');\nINSERT INTO T VALUES (2, 'b');\n");
    if (c.options.find("replace --max") != std::string::npos) {
      WriteFile(dir / "in.csv", "ID,NAME\r\n2,B\r\nx,c\r\n4,d\r\n");
    } else {
      WriteFile(dir / "in.csv", "ID,NAME\r\n2,B\r\n3,c\r\n4,d\r\n");
    }
    TRun run = Shell("cli " + Target(*source) + " " + c.options + " import T in.csv");
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    // In key order: an update may move a row.
    EXPECT_EQ(Shell("cli -q " + Target(*source) + " --portable export T - | LC_ALL=C sort").out,
              c.table + "ID,NAME\r\n");
  }
  // Rows chosen by a condition or a query; the query's own column names head the file.
  struct TExport {
    std::string options;
    int status;
    std::string out;
    std::string inErr;
  } exports[] = {
      {"--where \"NAME > 'a'\" export T -", 0, "ID,NAME\r\n2,b\r\n", ""},
      {"export --query \"SELECT NAME AS WHO, ID * 2 AS TWICE FROM T ORDER BY ID\" -", 0,
       "WHO,TWICE\r\na,2\r\nb,4\r\n", ""},
      {"export --query \"SELECT NOPE FROM T\" -", 1, "", "NOPE"},
  };
  for (const TExport& e : exports) {
    SCOPED_TRACE(e.options);
    TRun run = Shell("cli -q " + Target(*source) + " --portable " + e.options);
    EXPECT_EQ(run.status, e.status) << run.err;
    EXPECT_EQ(run.out, e.out);
    EXPECT_NE(run.err.find(e.inErr), std::string::npos) << run.err;
  }

  TRun run = Shell("cli " + Target(*source) + " --mode upsert import NO_KEY in.csv");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("has no primary key"), std::string::npos) << run.err;
  run = Shell("cli " + Target(*source) + " --mode upsert --key ID import NO_KEY in.csv");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("are no key"), std::string::npos) << run.err;
}

// A whole database to a folder and back into an empty copy: children are
// named before their parents, and a table's name need not be a file name.
TEST_P(CliTest, AWholeDatabaseGoesIntoAFolderAndBack) {
  const std::string schema =
      "CREATE TABLE PARENT (ID INTEGER NOT NULL PRIMARY KEY);\n"
      "CREATE TABLE A_CHILD (ID INTEGER, P INTEGER REFERENCES PARENT (ID));\n"
      "CREATE TABLE \"../odd/.name\" (X VARCHAR(5));\n"
      "CREATE VIEW V_CHILD AS SELECT ID FROM A_CHILD;\n";
  source->Execute(schema +
                  "INSERT INTO PARENT VALUES (1);\nINSERT INTO A_CHILD VALUES (10, 1);\n"
                  "INSERT INTO \"../odd/.name\" VALUES ('x');\n");
  // Every table in the same dialect, there and back.
  const std::string dialect = " --delimiter ';' --null NULL --line-end lf ";
  TRun run = Shell("cli -q " + Target(*source) + dialect + "export-all all");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir / "all" / "A_CHILD.csv"), "ID;P\n10;1\n");
  EXPECT_EQ(Shell("cli " + Target(*source) + " --columns ID export-all all").status, 2);
  EXPECT_TRUE(fs::exists(dir / "all" / "%2E%2E%2Fodd%2F%2Ename.csv"));
  EXPECT_FALSE(fs::exists(dir / "all" / "V_CHILD.csv"));
  EXPECT_NE(ReadFile(dir / "all" / "tables.list").find("%2E%2E%2Fodd%2F%2Ename.csv,../odd/.name\r\n"),
            std::string::npos);
  fs::remove(dir / "all" / "tables.list");

  testdb::TestDatabase copy(
      GetParam(), "CREATE TABLE SOURCE " + std::string(kEveryType) + ";\n" + "CREATE TABLE COPY " +
                      kEveryType + ";\n" +
                      "CREATE TABLE \"Mixed Case\" (\"order\" INTEGER, \"Two Words\" VARCHAR(10));\n"
                      "CREATE TABLE EMPTY_ONE (ID INTEGER);\n" +
                      schema);
  run = Shell("cli " + Target(copy) + dialect + "import-all all");
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* table : {"PARENT", "A_CHILD", "SOURCE", "Mixed Case", "../odd/.name"}) {
    SCOPED_TRACE(table);
    const std::string exportOne = " --portable export " + Quoted(table) + " -";
    EXPECT_EQ(Shell("cli -q " + Target(copy) + exportOne).out,
              Shell("cli -q " + Target(*source) + exportOne).out);
  }
  WriteFile(dir / "all" / "NOPE.csv", "ID\r\n1\r\n");
  run = Shell("cli " + Target(copy) + " import-all all");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("names no table"), std::string::npos) << run.err;
}

// Text comes out in the locale's character set unless --charset names
// another; NONE gives each column's bytes as stored, as earlier versions
// did, and such a file reads back with the set its columns are declared in.
TEST_P(CliTest, TheFilesCharacterSetIsTheLocalesOrTheOnesGiven) {
  source->Execute(
      "CREATE TABLE WORDS (ID INTEGER, W VARCHAR(10) CHARACTER SET WIN1252, U VARCHAR(10) CHARACTER SET "
      "UTF8);\n"
      "CREATE TABLE W1252 (ID INTEGER, W VARCHAR(10) CHARACTER SET WIN1252);\n"
      "CREATE TABLE \"\u00C4PFEL\" (\"GR\u00D6SSE\" VARCHAR(10) CHARACTER SET ISO8859_1);\n"
      "INSERT INTO WORDS VALUES (1, _UTF8 'caf\u00E9', _UTF8 '\u041F\u0440\u0438\u0432\u0435\u0442');\n"
      "INSERT INTO \"\u00C4PFEL\" VALUES (_UTF8 'gr\u00FC\u00DF');\n");
  WriteFile(dir / "none.csv", "ID,W\r\n1,caf\xE9\r\n");
  WriteFile(dir / "lower.csv", "gr\u00F6sse\r\nutf-8\r\n");
  WriteFile(dir / "lower1252.csv", "gr\xF6sse\r\nwin1252\r\n");
  const struct {
    const char* locale;
    std::string commandLine;  // after "cli TARGET"
    int status;
    std::string out;  // standard output, exactly
    const char* inErr;
  } cases[] = {
      {"C.UTF-8", "-q export WORDS -", 0, "ID,W,U\r\n1,caf\u00E9,\u041F\u0440\u0438\u0432\u0435\u0442\r\n",
       ""},
      {"C", "-q export WORDS -", 0, "ID,W,U\r\n1,caf\xE9,\u041F\u0440\u0438\u0432\u0435\u0442\r\n", ""},
      {"C.UTF-8", "-q --charset NONE export WORDS -", 0,
       "ID,W,U\r\n1,caf\xE9,\u041F\u0440\u0438\u0432\u0435\u0442\r\n", ""},
      {"C.UTF-8", "-q --charset WIN1252 export W1252 -", 0, "ID,W\r\n", ""},
      {"C.UTF-8", "-q --charset WIN1252 export WORDS -", 1, "",
       "Row 1 of table 'WORDS' cannot be written into file '/dev/stdout' in character set WIN1252"},
      {"C.UTF-8", "--charset NO_SUCH_SET tables", 1, "", "': unknown character set 'NO_SUCH_SET'"},
      {"C.UTF-8", "tables", 0, "COPY\nEMPTY_ONE\nMixed Case\nSOURCE\nW1252\nWORDS\n\u00C4PFEL\n", ""},
      {"C.UTF-8", "fields \u00C4PFEL", 0, "GR\u00D6SSE\n", ""},
      {"C.UTF-8", "-q export \u00C4PFEL -", 0, "GR\u00D6SSE\r\ngr\u00FC\u00DF\r\n", ""},
      // Other letters than A-Z match regardless of their case too, in the file's set.
      {"C.UTF-8", "-q import \u00E4pfel lower.csv", 0, "", ""},
      {"C.UTF-8",
       "-q --charset WIN1252 import \xC4"
       "PFEL lower1252.csv",
       0, "", ""},
      {"C.UTF-8", "-q --columns gr\u00F6sse export \u00C4PFEL -", 0,
       "GR\u00D6SSE\r\ngr\u00FC\u00DF\r\nutf-8\r\nwin1252\r\n", ""},
      // A file of bytes as stored, read in the set they were stored in; read
      // as UTF-8 the byte E9 is no character.
      {"C.UTF-8", "-q import W1252 none.csv", 3, "",
       "none.csv:2: Dynamic SQL Error; SQL error code = -303; Malformed string (the line's text is taken as "
       "UTF8; the value of column 'W' is not)"},
      {"C.UTF-8", "-q --charset WIN1252 import W1252 none.csv", 0, "", ""},
      {"C.UTF-8", "-q export W1252 -", 0, "ID,W\r\n1,caf\u00E9\r\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + ": " + c.commandLine);
    TRun run = Cli(c.commandLine, c.locale);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
  }
}

// Files of other forms: each is imported with its options into an empty
// table, which is then exported with others; a file written with the same
// options it was read with comes back byte for byte.
TEST_P(CliTest, DialectsReadAndWriteOtherFormsOfFiles) {
  source->Execute("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, N NUMERIC(9,2), NAME VARCHAR(20));\n");
  struct TCase {
    const char* name;
    const char* locale;
    std::string importOptions;
    std::string file;
    int importStatus;
    std::string rejected;  // in.rejected.csv, when lines were refused
    std::string exportOptions;
    std::string exported;  // "" when the import must not have started
    std::string inErr;
  } cases[] = {
      {"semicolons and decimal commas", "de_DE.UTF-8", "--delimiter ';'",
       "ID;N;NAME\r\n1;1234,5;a,b\r\n2;-0,25;\r\n", 0, "", "--delimiter ';'",
       "ID;N;NAME\r\n1;1234,5;a,b\r\n2;-0,25;\r\n", ""},
      {"a comma header under semicolons", "C.UTF-8", "--delimiter ';'", "ID,N,NAME\r\n1,2,x\r\n", 1, "", "",
       "", "The header looks separated by commas; the values of a line must be separated by semicolons."},
      {"a null text, and the same text quoted", "C.UTF-8", "--null NULL",
       "ID,N,NAME\r\n1,NULL,NULL\r\n2,NULL,\"NULL\"\r\n3,1.5,\r\n", 0, "", "--portable --null NULL",
       "ID,N,NAME\r\n1,NULL,NULL\r\n2,NULL,\"NULL\"\r\n3,1.5,\"\"\r\n", ""},
      {"no header: the table's columns", "C.UTF-8", "--no-header", "1,2.5,x\r\nbad,,y\r\n2,,\"\"\r\n", 3,
       "bad,,y\r\n", "--portable --no-header", "1,2.5,x\r\n2,,\"\"\r\n", "in.csv:2: "},
      {"no header, columns given", "C.UTF-8", "--no-header --columns NAME,id", "x,1\r\ny,2\r\n", 0, "",
       "--portable --columns name,ID", "NAME,ID\r\nx,1\r\ny,2\r\n", ""},
      {"a header passed over for the columns given", "C.UTF-8", "--columns ID,NAME", "Kunde,Name\r\n1,x\r\n",
       0, "", "--portable", "ID,N,NAME\r\n1,,x\r\n", ""},
      {"tabs", "C.UTF-8", "--delimiter tab", "ID\tN\tNAME\r\n1\t2.5\t\"a\tb\"\r\n2\t\tc,d\r\n", 0, "",
       "--portable --delimiter tab", "ID\tN\tNAME\r\n1\t2.5\t\"a\tb\"\r\n2\t\tc,d\r\n", ""},
      {"line feeds", "C.UTF-8", "", "ID,N,NAME\r\n1,2.5,\"two\r\nlines\"\r\n2,,|\r\n", 0, "",
       "--portable --line-end lf --delimiter '|'", "ID|N|NAME\n1|2.5|\"two\r\nlines\"\n2||\"|\"\n", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    source->Execute("DELETE FROM T;\n");
    fs::remove(dir / "in.rejected.csv");
    WriteFile(dir / "in.csv", c.file);
    TRun run = Shell("cli -q " + Target(*source) + " " + c.importOptions + " import T in.csv", c.locale);
    EXPECT_EQ(run.status, c.importStatus) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    EXPECT_EQ(fs::exists(dir / "in.rejected.csv") ? ReadFile(dir / "in.rejected.csv") : "", c.rejected);
    if (c.exported.empty()) {
      EXPECT_EQ(Shell("cli -q " + Target(*source) + " --no-header export T -").out, "");
      continue;
    }
    run = Shell("cli -q " + Target(*source) + " " + c.exportOptions + " export T -", c.locale);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.exported);
  }
}

// Files of other programs: --columns names the table column of each file
// column, "-" passes one over, and --ignore-unknown-columns passes over what
// the table lacks and says so; everything else about a header still refuses
// the file before its first line.
TEST_P(CliTest, FileColumnsAreSkippedAndMappedIntoTheTable) {
  source->Execute("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), PHONE VARCHAR(20));\n");
  struct TCase {
    const char* name;
    std::string options;  // "import" or "export" follows
    std::string file;
    int status;
    std::string table;  // the table exported afterwards; unchanged ("") when nothing went in
    std::string inErr;
  } cases[] = {
      {"a header mapped, a column skipped", "--columns ID,NAME,- import",
       "Number,Customer Name,Fax\r\n1,Ann,f1\r\n2,\"Bo, B\",\r\n", 0,
       "ID,NAME,PHONE\r\n1,Ann,\r\n2,\"Bo, B\",\r\n", ""},
      {"no header, the first column skipped", "--no-header --columns -,phone,id import",
       "x,555,1\r\ny,,2\r\n", 0, "ID,NAME,PHONE\r\n1,,555\r\n2,,\r\n", ""},
      {"unknown columns passed over and named", "--ignore-unknown-columns import",
       "Fax,ID,NAME,Extra\r\nf,1,Ann,e\r\n", 0, "ID,NAME,PHONE\r\n1,Ann,\r\n",
       "File './in.csv': table 'T' has no columns 'Fax', 'Extra'; their values are passed over."},
      {"an unknown given column passed over too", "--ignore-unknown-columns --columns ID,FAX import",
       "a,b\r\n1,f\r\n", 0, "ID,NAME,PHONE\r\n1,,\r\n", "has no column 'FAX'; its values are passed over."},
      {"an unknown column refuses the file by default", "import", "ID,Fax\r\n1,f\r\n", 1, "",
       "The table has no column 'Fax'."},
      {"a column named twice refuses it all the same", "--ignore-unknown-columns import",
       "ID,Fax,id\r\n1,f,1\r\n", 1, "", "Column 'id' is named twice."},
      {"a required column missing refuses it all the same", "--ignore-unknown-columns import",
       "Fax,NAME\r\nf,Ann\r\n", 1, "",
       "Column 'ID' takes no null and has no default, but the header does not name it."},
      {"a header naming more columns than given", "--columns ID,NAME import", "ID,NAME,PHONE\r\n1,a,b\r\n", 1,
       "", "The header names 3 columns, but 2 columns are given for them."},
      {"an export writes no skipped column", "--columns ID,- export", "", 2, "", "- in --columns"},
      {"an export refuses the import's option", "--ignore-unknown-columns export", "", 2, "",
       "--ignore-unknown-columns is for an import"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    source->Execute("DELETE FROM T;\n");
    WriteFile(dir / "in.csv", c.file);
    const std::string file = c.options.ends_with("export") ? " T out.csv" : " T in.csv";
    TRun run = Cli("-q " + c.options + file);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    EXPECT_EQ(Cli("-q --portable export T -").out, c.table.empty() ? "ID,NAME,PHONE\r\n" : c.table);
  }
}

// Ctrl-C in the middle of a long export: the program stops the transfer
// (the embedded engine's own signal handlers notwithstanding) and ends.
TEST_P(CliTest, CtrlCStopsALongExport) {
  source->Execute(
      "CREATE TABLE BIG (ID INTEGER, NAME VARCHAR(40));\nCOMMIT;\nSET TERM ^ ;\n"
      "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 300000) DO BEGIN "
      "INSERT INTO BIG VALUES (:I, 'name ' || :I); I = I + 1; END END^\nSET TERM ; ^\n");
  int out[2], err[2];
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(pipe(err), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    setenv("ISC_PASSWORD", testdb::Password().c_str(), 1);
    const std::string server = source->ServerName();
    if (server.empty())
      execl(VP_CLI_PATH, VP_CLI_PATH, "--database", source->Path().c_str(), "export", "BIG", "-", nullptr);
    else
      execl(VP_CLI_PATH, VP_CLI_PATH, "--server", server.c_str(), "--database", source->Path().c_str(),
            "export", "BIG", "-", nullptr);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  // Some rows have come: the export is under way.
  char buffer[65536];
  std::size_t received = 0;
  while (received < 100000) {
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    ASSERT_GT(got, 0) << "the export ended before it could be stopped";
    received += static_cast<std::size_t>(got);
  }
  const auto stopAt = std::chrono::steady_clock::now();
  kill(child, SIGINT);
  while (read(out[0], buffer, sizeof buffer) > 0) {
  }
  std::string errors;
  for (ssize_t got; (got = read(err[0], buffer, sizeof buffer)) > 0;)
    errors.append(buffer, static_cast<std::size_t>(got));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(out[0]);
  close(err[0]);
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(5));
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130) << errors;
  EXPECT_NE(errors.find("stopped"), std::string::npos) << errors;
}

}  // namespace

// An upsert changes one row a line or none: its key must be a key of the
// table, and a line whose key is null (which would match every row whose
// key is null) is refused as a line.
TEST_P(CliTest, AnUpsertKeyMatchesOneRowAtMost) {
  source->Execute(
      "CREATE TABLE K (ID INTEGER NOT NULL PRIMARY KEY, B VARCHAR(5), N VARCHAR(10));\n"
      "CREATE TABLE U (ID INTEGER NOT NULL PRIMARY KEY, B VARCHAR(5) UNIQUE, N VARCHAR(10));\n");
  struct TCase {
    std::string table;
    std::string options;
    std::string lines;
    int status;
    std::string rows;  // the table's rows afterwards, sorted
    std::string inErr;
  } cases[] = {
      {"K", "--key B", "9,a,dupkey\r\n", 1, "1,a,x\r\n2,a,y\r\n3,,n1\r\n4,,n2\r\n", "are no key"},
      {"K", "--key B,N", "9,a,x2\r\n", 1, "1,a,x\r\n2,a,y\r\n3,,n1\r\n4,,n2\r\n", "are no key"},
      {"K", "--key NOPE", "9,a,x\r\n", 1, "1,a,x\r\n2,a,y\r\n3,,n1\r\n4,,n2\r\n", "does not have: 'NOPE'"},
      {"K", "--key id", "1,a,new\r\n5,,n5\r\n", 0, "1,a,new\r\n2,a,y\r\n3,,n1\r\n4,,n2\r\n5,,n5\r\n", ""},
      // A key within which a unique column lies is a key; the new row still may not repeat B.
      {"U", "--key b,ID", "9,a,both\r\n", 3, "1,a,x\r\n3,,n1\r\n4,,n2\r\n", "violation of PRIMARY or UNIQUE"},
      {"U", "--key b", "9,a,upd\r\n7,,nk1\r\n8,,nk2\r\n", 3, "3,,n1\r\n4,,n2\r\n9,a,upd\r\n",
       "in.csv:3: The key column 'B' is empty"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.table + " " + c.options);
    source->Execute(
        "DELETE FROM K;\nDELETE FROM U;\n"
        "INSERT INTO K VALUES (1, 'a', 'x');\nINSERT INTO K VALUES (2, 'a', 'y');\n"
        "INSERT INTO K VALUES (3, NULL, 'n1');\nINSERT INTO K VALUES (4, NULL, 'n2');\n"
        "INSERT INTO U VALUES (1, 'a', 'x');\n"
        "INSERT INTO U VALUES (3, NULL, 'n1');\nINSERT INTO U VALUES (4, NULL, 'n2');\n");
    WriteFile(dir / "in.csv", "ID,B,N\r\n" + c.lines);
    TRun run = Cli("--mode upsert " + c.options + " import " + c.table + " in.csv");
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    EXPECT_EQ(
        Shell("cli -q " + Target(*source) + " --no-header export " + c.table + " - | LC_ALL=C sort").out,
        c.rows);
  }
}

// Whole folders: each file feeds one table, tables.list says which, links
// in the folder are replaced rather than written through, and a replace
// empties children before parents, all in one transaction.
TEST_P(CliTest, AFolderFeedsEachTableOnceAndNothingIsLostOnTheWay) {
  source->Execute(
      "CREATE TABLE PARENT (ID INTEGER NOT NULL PRIMARY KEY);\n"
      "CREATE TABLE CHILD (ID INTEGER NOT NULL PRIMARY KEY, P INTEGER REFERENCES PARENT (ID));\n"
      "INSERT INTO PARENT VALUES (1);\nINSERT INTO PARENT VALUES (2);\nINSERT INTO CHILD VALUES (10, 1);\n");
  fs::create_directories(dir / "all");
  WriteFile(dir / "outside.list", "keep");
  WriteFile(dir / "outside.csv", "keep");
  fs::create_symlink(dir / "outside.list", dir / "all" / "tables.list");
  fs::create_symlink(dir / "outside.csv", dir / "all" / "PARENT.csv");
  TRun run = Cli("-q export-all all");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir / "outside.list"), "keep");
  EXPECT_EQ(ReadFile(dir / "outside.csv"), "keep");
  EXPECT_FALSE(fs::is_symlink(dir / "all" / "PARENT.csv"));
  EXPECT_EQ(ReadFile(dir / "all" / "PARENT.csv"), "ID\r\n1\r\n2\r\n");

  // The same table under two names: nothing is imported, both are named.
  const std::string listed = ReadFile(dir / "all" / "tables.list");
  fs::remove(dir / "all" / "tables.list");
  fs::copy_file(dir / "all" / "PARENT.csv", dir / "all" / "parent.csv");
  run = Cli("import-all all");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("all/PARENT.csv' and '"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("both hold table 'PARENT'"), std::string::npos) << run.err;
  // tables.list names the files that count; the stray copy is left alone.
  WriteFile(dir / "all" / "tables.list", listed);

  struct TCase {
    std::string options;
    std::string childFile;
    int status;
    std::string parents;
    std::string children;
    std::string inErr;
  } cases[] = {
      {"--mode replace", "ID,P\r\n20,2\r\n", 0, "1\r\n2\r\n", "20,2\r\n", ""},
      // A refused line of an atomic run undoes every table.
      {"--mode replace --atomic", "ID,P\r\n20,2\r\n21,7\r\n", 1, "1\r\n5\r\n", "10,1\r\n11,5\r\n",
       "No table was changed"},
      // A file that does not fit its table undoes the whole replace.
      {"--mode replace", "ID,NOPE\r\n20,2\r\n", 1, "1\r\n5\r\n", "10,1\r\n11,5\r\n", "No table was changed"},
      // The other tables' rows are there already: refused, and nothing changes.
      {"--dry-run", "ID,P\r\n20,2\r\n", 3, "1\r\n5\r\n", "10,1\r\n11,5\r\n",
       "Dry run: 1 records of table 'CHILD' would have been imported"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options + " " + c.childFile);
    source->Execute(
        "DELETE FROM CHILD;\nDELETE FROM PARENT;\nINSERT INTO PARENT VALUES (1);\n"
        "INSERT INTO PARENT VALUES (5);\nINSERT INTO CHILD VALUES (10, 1);\n"
        "INSERT INTO CHILD VALUES (11, 5);\n");
    WriteFile(dir / "all" / "CHILD.csv", c.childFile);
    run = Cli(c.options + " import-all all");
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    EXPECT_EQ(Shell("cli -q " + Target(*source) + " --no-header export PARENT - | LC_ALL=C sort").out,
              c.parents);
    EXPECT_EQ(Shell("cli -q " + Target(*source) + " --no-header export CHILD - | LC_ALL=C sort").out,
              c.children);
  }

  // A table that cannot be written is named with its file, and an earlier
  // run's file of it goes, so that no import takes it for this run's.
  source->Execute("CREATE TABLE RU (W VARCHAR(10) CHARACTER SET UTF8);\nINSERT INTO RU VALUES ('\u041F');\n");
  fs::create_directories(dir / "bad");
  WriteFile(dir / "bad" / "RU.csv", "W\r\nold\r\n");
  run = Cli("-q --charset WIN1252 export-all bad");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("table 'RU', file 'bad/RU.csv': Row 1 of table 'RU' cannot be written"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(dir / "bad" / "RU.csv"));
  EXPECT_TRUE(fs::exists(dir / "bad" / "PARENT.csv"));
  EXPECT_EQ(ReadFile(dir / "bad" / "tables.list").find("RU"), std::string::npos);
}

// A text blob of the set NONE holds any bytes; through a server a short one
// travels inside its row, and must come out as it does embedded.
TEST_P(CliTest, NoneTextBlobsComeOutByteForByte) {
  source->Execute(
      "CREATE TABLE NB (ID INTEGER, T BLOB SUB_TYPE TEXT CHARACTER SET NONE);\n"
      "INSERT INTO NB VALUES (1, x'41FF42');\n"
      "INSERT INTO NB VALUES (2, CAST(LPAD('', 1500, x'41FF42') AS BLOB SUB_TYPE TEXT CHARACTER SET "
      "NONE));\n");
  TRun run = Cli("-q --portable export NB -");
  ASSERT_EQ(run.status, 0) << run.err;
  std::string longer;
  while (longer.size() < 1500)
    longer +=
        "A\xFF"
        "B";
  EXPECT_EQ(run.out,
            "ID,T\r\n1,A\xFF"
            "B\r\n2," +
                longer + "\r\n");
}

// Where the disk refuses the refused lines, their rows are not committed
// either: every line before the line to go on from is in the table or in
// the rejected file. An import that refuses nothing needs no folder it may
// write. Both need a file system of their own, which only root may mount.
TEST_P(CliTest, RefusedLinesAreNeverLost) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path small = dir / "small";
  fs::create_directories(small);
  if (Shell("mount -t tmpfs -o size=96k tmpfs " + Quoted(small.string())).status != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct TUnmount {
    fs::path path;
    ~TUnmount() {
      if (std::system(("umount -l " + Quoted(path.string())).c_str()) != 0) ADD_FAILURE() << "cannot unmount";
    }
  } unmount{small};
  source->Execute(
      "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(40));\n"
      "INSERT INTO T VALUES (0, 'there');\n");
  // Every other line a key the table holds: the refused lines outgrow the disk.
  std::string lines = "ID,V\r\n";
  for (int i = 1; i <= 3000; ++i) lines += std::to_string(i % 2 ? 0 : i) + ",v\r\n";
  WriteFile(small / "in.csv", lines);
  TRun run = Shell("cli " + Target(*source) + " import T small/in.csv");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ended at line 2: 0 rows were committed"), std::string::npos) << run.err;
  EXPECT_EQ(Shell("cli -q " + Target(*source) + " --no-header export T -").out, "0,there\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(small), fs::directory_iterator()), 1) << "hidden files left";

  // A read-only folder: a clean import, a dry run and standard input work.
  WriteFile(small / "in.csv", "ID,V\r\n1,a\r\n");
  ASSERT_EQ(Shell("mount -o remount,ro " + Quoted(small.string())).status, 0);
  for (const char* command :
       {"--dry-run import T in.csv", "import T in.csv", "--mode upsert import T - < in.csv"}) {
    SCOPED_TRACE(command);
    run = Shell("cd small && cli " + Target(*source) + " " + command);
    EXPECT_EQ(run.status, 0) << run.err;
  }
  // A refused line that cannot be kept ends the import before its row is
  // committed; the command to go on with replaces an abbreviated option.
  run = Shell("cd small && cli " + Target(*source) + " import T in.csv --from 2");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("The refused lines cannot be kept in folder"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("varnelo-pelmora-cli --from-line 2 "), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("'--from'"), std::string::npos) << run.err;
  // Or they go to a folder of their own.
  run = Shell("cd small && cli " + Target(*source) + " --rejected-dir .. import T in.csv");
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_NE(ReadFile(dir / "in.rejected.csv").find("1,a"), std::string::npos);
}

// --from-line must name a line where a record begins, inside the file.
TEST_P(CliTest, AnImportGoesOnOnlyFromWhereARecordBegins) {
  source->Execute("CREATE TABLE T (ID INTEGER, V VARCHAR(20));\n");
  WriteFile(dir / "in.csv", "ID,V\r\n1,\"two\r\nlines\"\r\n2,b\r\n");
  struct TCase {
    std::string options;
    int status;
    std::string inErr;
  } cases[] = {
      {"--from-line 3", 1, "Line 3 is inside the record that begins on line 2"},
      {"--from-line 5", 1, "The file has no line 5 to go on from: its last line is line 4"},
      {"--from-line 4", 0, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.options);
    TRun run = Cli(c.options + " import T in.csv");
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
  }
  EXPECT_EQ(Shell("cli -q " + Target(*source) + " --no-header export T -").out, "2,b\r\n");
}

namespace {

// The members of one line of JSON holding a flat object, each value as
// written ("3", "null", "\"T\""); empty when the line is no valid JSON of
// that form (unescaped control characters, bytes that are no UTF-8, bad
// escapes, trailing bytes).
std::map<std::string, std::string> JsonObject(const std::string& line) {
  std::size_t at = 0;
  bool valid = true;
  auto expect = [&](char c) {
    if (at < line.size() && line[at] == c) {
      ++at;
    } else {
      valid = false;
    }
  };
  auto string = [&]() {
    const std::size_t begin = at;
    expect('"');
    while (valid && at < line.size() && line[at] != '"') {
      const auto c = static_cast<unsigned char>(line[at]);
      if (c < 0x20) valid = false;
      if (c == '\\') {
        ++at;
        if (at < line.size() && line[at] == 'u') {
          valid = valid && at + 4 < line.size() &&
                  std::all_of(line.begin() + at + 1, line.begin() + at + 5, ::isxdigit);
          at += 4;
        } else {
          valid = valid && at < line.size() && std::string("\"\\/bfnrt").find(line[at]) != std::string::npos;
        }
        ++at;
      } else if (c >= 0x80) {
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        valid = valid && length > 0 && at + length <= line.size();
        for (std::size_t k = 1; valid && k < length; ++k) valid = (line[at + k] & 0xC0) == 0x80;
        at += std::max<std::size_t>(length, 1);
      } else {
        ++at;
      }
    }
    expect('"');
    return line.substr(begin, at - begin);
  };
  std::map<std::string, std::string> members;
  expect('{');
  while (valid && at < line.size() && line[at] != '}') {
    if (!members.empty()) expect(',');
    const std::string key = string();
    expect(':');
    const std::size_t begin = at;
    if (at < line.size() && line[at] == '"') {
      string();
    } else {
      while (at < line.size() && std::string(",}").find(line[at]) == std::string::npos) ++at;
      const std::string word = line.substr(begin, at - begin);
      valid = valid && (word == "null" || word == "true" || word == "false" ||
                        (!word.empty() && word.find_first_not_of("-0123456789.") == std::string::npos));
    }
    members[key.substr(1, key.size() - 2)] = line.substr(begin, at - begin);
  }
  expect('}');
  if (!valid || at != line.size()) return {};
  return members;
}

}  // namespace

// Every way of writing a file reads back into the same rows: packed by its
// name or by --compress, every quoting, a byte-order mark. A packed file
// that is damaged or cut short is a failure that names it, never a success.
TEST_P(CliTest, PackedQuotedAndMarkedFilesReadBackIntoTheSameRows) {
  const std::string same =
      "cli -q " + Target(*source) +
      " --query \"SELECT COUNT(*) AS N FROM SOURCE S JOIN COPY C ON C.ID = S.ID AND C.S IS NOT DISTINCT FROM "
      "S.S AND C.B IS NOT DISTINCT FROM S.B AND C.D IS NOT DISTINCT FROM S.D AND C.N4 IS NOT DISTINCT FROM "
      "S.N4 AND C.N18 IS NOT DISTINCT FROM S.N18 AND C.DT IS NOT DISTINCT FROM S.DT AND C.TM IS NOT DISTINCT "
      "FROM S.TM AND C.TS IS NOT DISTINCT FROM S.TS AND C.BO IS NOT DISTINCT FROM S.BO AND C.C IS NOT "
      "DISTINCT FROM S.C AND C.V IS NOT DISTINCT FROM S.V AND C.MEMO IS NOT DISTINCT FROM S.MEMO AND C.BIN "
      "IS "
      "NOT DISTINCT FROM S.BIN\" --no-header export -";
  struct TCase {
    std::string exportLine;  // after "cli TARGET"
    std::string importLine;
    std::string starts;  // the file's first bytes
    std::string holds;   // a text the unpacked file holds
  } cases[] = {
      {"export SOURCE t.csv.gz", "import COPY t.csv.gz", "\x1f\x8b", ""},
      {"export SOURCE t.csv.ZST", "import COPY t.csv.ZST", "\x28\xb5\x2f\xfd", ""},
      {"--compress gz export SOURCE - > t.out", "--compress gz import COPY - < t.out", "\x1f\x8b", ""},
      {"--compress zst export SOURCE - > t.out", "--compress zst import COPY - < t.out", "\x28\xb5\x2f\xfd",
       ""},
      // A null stays unquoted, an empty text is "", in every quoting.
      {"--quote all export SOURCE t.csv", "import COPY t.csv", "\"ID\",\"S\",",
       "\r\n\"3\",,,\"-0\",,,,,,,,,,\r\n"},
      {"--quote text --portable export SOURCE t.csv", "--portable import COPY t.csv", "\"ID\",",
       "\r\n2,32767,9223372036854775807,"},
      {"--bom --quote all export SOURCE t.csv.zst", "import COPY t.csv.zst", "\x28\xb5\x2f\xfd", ""},
      {"--bom export SOURCE t.csv", "import COPY t.csv", "\xEF\xBB\xBFID,S,", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.exportLine);
    source->Execute("DELETE FROM COPY;");
    TRun run = Cli(c.exportLine);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string file =
        c.exportLine.ends_with("t.out") ? "t.out" : c.exportLine.substr(c.exportLine.rfind(' ') + 1);
    EXPECT_TRUE(ReadFile(dir / file).starts_with(c.starts)) << ReadFile(dir / file);
    if (!c.holds.empty()) {
      EXPECT_NE(ReadFile(dir / file).find(c.holds), std::string::npos) << ReadFile(dir / file);
    }
    run = Cli(c.importLine);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Shell(same).out, "3\r\n");
  }
  // The packed file's earlier bytes: each line of the table at most once.
  source->Execute("DELETE FROM COPY;");
  ASSERT_EQ(Cli("export SOURCE whole.csv.gz").status, 0);
  const std::string whole = ReadFile(dir / "whole.csv.gz");
  WriteFile(dir / "cut.csv.gz", whole.substr(0, whole.size() - 9));
  std::string damaged = whole;
  damaged[damaged.size() / 2] ^= 0x55;
  WriteFile(dir / "damaged.csv.gz", damaged);
  WriteFile(dir / "plain.csv.zst", "ID\r\n1\r\n");
  WriteFile(dir / "empty.csv.gz", "");
  std::string big = "ID\r\n";
  for (int i = 10; i < 3000; ++i) big += std::to_string(i) + "\r\n";
  WriteFile(dir / "big.csv", big);
  ASSERT_EQ(Shell("gzip -c big.csv > big.csv.gz").status, 0);
  const std::string bigPacked = ReadFile(dir / "big.csv.gz");
  WriteFile(dir / "big-cut.csv.gz", bigPacked.substr(0, bigPacked.size() / 2));
  struct TFailure {
    std::string line;
    int status;
    std::string inErr;
  } failures[] = {
      {"import COPY big-cut.csv.gz", 1, "Cannot read file './big-cut.csv.gz': the file ends inside"},
      {"import COPY cut.csv.gz", 1,
       "Cannot read file './cut.csv.gz': the file ends inside its compressed data"},
      {"import COPY damaged.csv.gz", 1,
       "Cannot read file './damaged.csv.gz': it is no gzip data, or damaged"},
      {"import COPY plain.csv.zst", 1, "Cannot read file './plain.csv.zst': it is no zstd data"},
      {"import COPY empty.csv.gz", 1, "Cannot read file './empty.csv.gz'"},
      {"import COPY - < whole.csv.gz", 1, "The table has no column"},
      {"--compress zst import COPY - < whole.csv.gz", 1, "Cannot read file '/dev/stdin': it is no zstd data"},
      {"--compress gz export SOURCE out.csv", 2, "--compress gz does not go with file 'out.csv'"},
      {"--compress bz2 export SOURCE -", 2, "--compress takes gz or zst"},
      {"--quote some export SOURCE -", 2, "--quote takes minimal, all or text"},
      {"--bom --charset WIN1252 export SOURCE out.csv", 2, "--bom marks a file of UTF-8 text"},
  };
  for (const TFailure& f : failures) {
    SCOPED_TRACE(f.line);
    source->Execute("DELETE FROM COPY;");
    const TRun run = Cli(f.line);
    EXPECT_EQ(run.status, f.status) << run.err;
    EXPECT_NE(run.err.find(f.inErr), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("has been imported"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.csv"));
  }
  // A file that gzip(1) made.
  ASSERT_EQ(Cli("-q import COPY big.csv.gz").status, 0);
  EXPECT_EQ(
      Shell("cli -q " + Target(*source) + " --no-header --query 'SELECT COUNT(*) FROM COPY' export -").out,
      "2990\r\n");
  source->Execute("DELETE FROM COPY;");
  // A failed export keeps the earlier packed file as it was.
  source->Execute("CREATE TABLE RU (W VARCHAR(10) CHARACTER SET UTF8);\nINSERT INTO RU VALUES ('\u041F');");
  TRun run = Cli("--charset WIN1252 export RU whole.csv.gz");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(ReadFile(dir / "whole.csv.gz"), whole);

  // A whole folder packed, and back into its tables.
  run = Cli("-q --compress zst export-all packed");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(ReadFile(dir / "packed" / "SOURCE.csv.zst").starts_with("\x28\xb5\x2f\xfd"));
  EXPECT_NE(ReadFile(dir / "packed" / "tables.list").find("SOURCE.csv.zst,SOURCE\r\n"), std::string::npos);
  fs::remove(dir / "packed" / "tables.list");
  fs::remove(dir / "packed" / "RU.csv.zst");
  fs::copy_file(dir / "packed" / "SOURCE.csv.zst", dir / "packed" / "COPY.csv.zst",
                fs::copy_options::overwrite_existing);
  run = Cli("-q --mode replace import-all packed");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Shell(same).out, "3\r\n");
}

// --summary: one JSON object a table at the end, whatever the run's end.
TEST_P(CliTest, TheSummaryTellsScriptsWhatHappenedToEachTable) {
  source->Execute(
      "CREATE TABLE \"A\x01\" (ID INTEGER NOT NULL PRIMARY KEY);\nINSERT INTO \"A\x01\" VALUES (1);\n"
      "CREATE TABLE \"\u00C4PFEL\" (ID INTEGER);\n"
      "CREATE TABLE RU (W VARCHAR(10) CHARACTER SET UTF8);\nINSERT INTO RU VALUES ('\u041F');");
  WriteFile(dir / "in.csv", "ID\r\n1\r\n2\r\n");
  struct TCase {
    std::string line;  // after "cli TARGET"
    int status;
    std::vector<std::map<std::string, std::string>> objects;  // members each object has
  } cases[] = {
      {"--summary s.json export SOURCE out.csv.zst",
       0,
       {{{"table", "\"SOURCE\""},
         {"file", "\"out.csv.zst\""},
         {"direction", "\"export\""},
         {"rows", "3"},
         {"refused", "0"},
         {"stopped", "false"},
         {"dry_run", "false"},
         {"resume_line", "null"},
         {"rejected_file", "null"},
         {"exit_status", "0"},
         {"sqlstate", "null"}}}},
      {"--summary - import 'A\\x01' in.csv",
       3,
       {{{"table", "\"A\\u0001\""},
         {"direction", "\"import\""},
         {"rows", "1"},
         {"refused", "1"},
         {"rejected_file", "\"./in.rejected.csv\""},
         {"exit_status", "3"}}}},
      {"--summary - --dry-run --charset WIN1252 import $(printf '\\304PFEL') in.csv",
       0,
       {{{"table", "\"\\u00c4PFEL\""}, {"rows", "2"}, {"dry_run", "true"}, {"exit_status", "0"}}}},
      {"--summary - --charset WIN1252 export RU out.csv",
       1,
       {{{"table", "\"RU\""}, {"rows", "0"}, {"exit_status", "1"}, {"sqlstate", "*"}}}},
      {"--summary - import EMPTY_ONE cut.csv.gz",
       1,
       {{{"table", "\"EMPTY_ONE\""}, {"resume_line", "*"}, {"exit_status", "1"}, {"sqlstate", "null"}}}},
      {"--summary - import NO_SUCH in.csv", 1, {{{"table", "\"NO_SUCH\""}, {"exit_status", "1"}}}},
      // A statement the server refuses to prepare keeps its SQLSTATE.
      {"--summary - --where 'NOPE = 1' export SOURCE out.csv",
       1,
       {{{"table", "\"SOURCE\""}, {"exit_status", "1"}, {"sqlstate", "\"42S22\""}}}},
      {"--summary - --query 'SELECT 1 AS X FROM RDB$DATABASE' export q.csv",
       0,
       {{{"table", "null"}, {"rows", "1"}, {"file", "\"q.csv\""}}}},
      {"--summary - -q export-all folder",
       0,
       {{{"table", "\"A\\u0001\""}, {"file", "\"folder/A%01.csv\""}},
        {{"table", "\"COPY\""}},
        {{"table", "\"EMPTY_ONE\""}},
        {{"table", "\"RU\""}, {"rows", "1"}},
        {{"table", "\"Mixed Case\""}},
        {{"table", "\"SOURCE\""}, {"rows", "3"}},
        {{"table", "\"\u00C4PFEL\""}, {"exit_status", "0"}}}},
      {"--summary - tables", 2, {}},
      {"--summary - export SOURCE -", 2, {}},
  };
  std::string big = "ID\r\n";
  for (int i = 0; i < 3000; ++i) big += std::to_string(i) + "\r\n";
  WriteFile(dir / "big.csv", big);
  ASSERT_EQ(Shell("gzip -c big.csv > big.csv.gz").status, 0);
  const std::string packed = ReadFile(dir / "big.csv.gz");
  WriteFile(dir / "cut.csv.gz", packed.substr(0, packed.size() / 2));
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.line);
    fs::remove(dir / "in.rejected.csv");
    const TRun run = Cli(c.line);
    EXPECT_EQ(run.status, c.status) << run.err;
    const std::string summary = c.line.starts_with("--summary s.json") ? ReadFile(dir / "s.json") : run.out;
    std::vector<std::string> lines;
    std::istringstream in(summary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.objects.size()) << summary;
    std::vector<std::map<std::string, std::string>> objects;
    for (const std::string& line : lines) {
      objects.push_back(JsonObject(line));
      EXPECT_EQ(objects.back().size(), 12u) << line;
    }
    // Each expected object is one of the lines, in any order ("*": not null).
    for (const auto& expected : c.objects) {
      EXPECT_TRUE(std::any_of(objects.begin(), objects.end(), [&](const auto& object) {
        return std::all_of(expected.begin(), expected.end(), [&](const auto& member) {
          const auto found = object.find(member.first);
          return found != object.end() &&
                 (member.second == "*" ? found->second != "null" : found->second == member.second);
        });
      })) << summary;
    }
  }
  // One that cannot be written ends the run before it starts.
  const TRun run = Cli("--summary no-such-folder/s.json export SOURCE out2.csv");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no-such-folder/s.json"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir / "out2.csv"));
}
