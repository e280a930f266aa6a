// Export and import of whole tables against real Firebird databases,
// embedded and through the loopback server when FB_TEST_SERVER names it.
#include "transfer/table_transfer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "base/exceptions.h"
#include "common/test_database.h"
#include "db/bulk_inserter.h"
#include "db/catalogue.h"
#include "db/locale_charset.h"
#include "db/locale_formats.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "db/table_reader.h"
#include "transfer/csv_pieces.h"

namespace {

struct TProgressRecorder : IProgress {
  std::vector<int> positions;
  void SetPosition(int position) override { positions.push_back(position); }
};

struct TMessageRecorder : IMessages {
  std::vector<std::string> texts;
  void ShowMessage(const std::string& text) override { texts.push_back(text); }
};

using testdb::ReadFile;

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class TableTransferTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && testdb::Server().empty()) GTEST_SKIP() << "FB_TEST_SERVER is not set";
  }

  void MakeDatabase(const std::string& setupSql) {
    database = std::make_unique<testdb::TestDatabase>(GetParam(), setupSql);
    folder = database->Dir() / "csv";
    std::filesystem::create_directory(folder);
    connection.Params().SetValue("Database", database->Connect());
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    connection.SetConnected(true);
  }

  TTransferRequest Request(const std::string& table, const std::string& fileName = "out.csv") {
    return TTransferRequest{folder.string(), fileName, table};
  }

  std::int32_t Export(const std::string& table, const std::string& fileName = "out.csv") {
    return static_cast<std::int32_t>(ExportTable(dataSet, Request(table, fileName), progress, messages).rows);
  }

  std::int32_t Import(const std::string& table, const std::string& fileName = "in.csv") {
    return static_cast<std::int32_t>(ImportTable(dataSet, Request(table, fileName), progress, messages).rows);
  }

  // The first column of the first row of a query, as text.
  std::string Query(const std::string& sql) {
    TSQLDataSet query("", &connection);
    query.SetCommandType(ctQuery);
    query.SetCommandText(sql);
    query.SetActive(true);
    std::string text = query.AtEnd() ? "(no row)" : query.FieldAt(0).ValueText();
    query.SetActive(false);
    return text;
  }

  std::unique_ptr<testdb::TestDatabase> database;
  std::filesystem::path folder;
  TSQLConnection connection{"scnDatabase"};
  TSQLDataSet dataSet{"sdsTable", &connection};
  TProgressRecorder progress;
  TMessageRecorder messages;
};

INSTANTIATE_TEST_SUITE_P(Firebird, TableTransferTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "Embedded"; });

const char* const kCustomerSql =
    "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), NOTE VARCHAR(200));\n";

TEST_P(TableTransferTest, ExportWritesHeaderAndRowsAsPlainValues) {
  MakeDatabase(std::string(kCustomerSql) +
               "INSERT INTO CUSTOMER VALUES (7, 'Anna', NULL);\n"
               "INSERT INTO CUSTOMER VALUES (8, NULL, NULL);\n"
               "INSERT INTO CUSTOMER VALUES (9, 'Bob', 'x');\n");
  EXPECT_EQ(Export("CUSTOMER"), 3);
  EXPECT_EQ(ReadFile(folder / "out.csv"), "ID,NAME,NOTE\r\n7,Anna,\r\n8,,\r\n9,Bob,x\r\n");
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0],
            "3 records of table 'CUSTOMER' has been exported into file '" + folder.string() + "/out.csv'");
  EXPECT_EQ(progress.positions.front(), 0);
  EXPECT_EQ(progress.positions[1], 10);
  EXPECT_EQ(progress.positions.back(), 100);
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(dataSet.CommandType(), ctTable);
  EXPECT_EQ(dataSet.CommandText(), "CUSTOMER");
}

TEST_P(TableTransferTest, ExportQuotesPiecesThatWouldBreakTheLine) {
  MakeDatabase(std::string(kCustomerSql) +
               "INSERT INTO CUSTOMER VALUES (1, 'Smith, John', 'say \"hi\"');\n"
               "INSERT INTO CUSTOMER VALUES (2, '', NULL);\n"
               "INSERT INTO CUSTOMER VALUES (3, 'two' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'lines', "
               "'lf' || ASCII_CHAR(10) || 'only');\n"
               "INSERT INTO CUSTOMER VALUES (4, 'it''s', 'z' || ASCII_CHAR(26));\n");
  EXPECT_EQ(Export("CUSTOMER"), 4);
  EXPECT_EQ(ReadFile(folder / "out.csv"),
            "ID,NAME,NOTE\r\n"
            "1,\"Smith, John\",\"say \"\"hi\"\"\"\r\n"
            "2,\"\",\r\n"
            "3,\"two\r\nlines\",\"lf\nonly\"\r\n"
            "4,it's,\"z\x1a\"\r\n");
}

TEST_P(TableTransferTest, ExportOfAnEmptyTableWritesTheHeaderOnlyAndReplacesAnEarlierFile) {
  MakeDatabase(kCustomerSql);
  WriteFile(folder / "out.csv", std::string(5000, 'x'));
  EXPECT_EQ(Export("CUSTOMER"), 0);
  EXPECT_EQ(ReadFile(folder / "out.csv"), "ID,NAME,NOTE\r\n");
  EXPECT_EQ(messages.texts.back().substr(0, 30), "0 records of table 'CUSTOMER' ");
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 10, 100}));
}

TEST_P(TableTransferTest, AFileThatCannotBeCreatedEndsTheExportBeforeAnyRow) {
  MakeDatabase(kCustomerSql);
  TTransferRequest request = Request("CUSTOMER");
  request.folder = (folder / "missing").string();
  try {
    ExportTable(dataSet, request, progress, messages);
    FAIL() << "no failure";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.Code(), 3);
    EXPECT_EQ(failure.what(), "Cannot create a file in folder '" + request.folder + "' (for file '" +
                                  request.folder + "/out.csv'): No such file or directory");
  }
  EXPECT_EQ(progress.positions, std::vector<int>{0});
  EXPECT_TRUE(messages.texts.empty());
  EXPECT_FALSE(dataSet.Active());
}

// Only the target's own file is in the folder: no temporary file stays behind.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct TStopAfter : TProgressRecorder {
  std::size_t rows;
  explicit TStopAfter(std::size_t stopAt) : rows(stopAt) {}
  bool StopRequested() override { return positions.size() > rows; }
};

// A failure or a stop at any point leaves an earlier file byte for byte as
// it was, nobody holding it, and no temporary file behind.
TEST_P(TableTransferTest, AFailedOrStoppedExportLeavesTheEarlierFileAsItWas) {
  MakeDatabase(std::string(kCustomerSql) +
               "SET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 2000) DO BEGIN "
               "INSERT INTO CUSTOMER VALUES (:I, 'a row long enough to fill a disk', NULL); "
               "I = I + 1; END END^\n"
               "SET TERM ;^\n");
  const std::string earlier = "ID,NAME,NOTE\r\n1,earlier,\r\n";
  // A file system of 64 KB that the rows overflow, when we may mount one.
  const std::filesystem::path small = database->Dir() / "small";
  std::filesystem::create_directory(small);
  const bool mounted =
      std::system(("mount -t tmpfs -o size=64k tmpfs '" + small.string() + "' 2>/dev/null").c_str()) == 0;
  struct Case {
    const char* name;
    std::filesystem::path target;
    std::function<void()> run;
  };
  std::vector<Case> cases = {
      {"missing table", folder / "out.csv",
       [this] { EXPECT_THROW(Export("NO_SUCH_TABLE"), EDatabaseError); }},
      {"stop after a row", folder / "out.csv",
       [this] {
         TStopAfter stopper(3);
         TTransferResult result = ExportTable(dataSet, Request("CUSTOMER"), stopper, messages);
         EXPECT_TRUE(result.stopped);
         EXPECT_EQ(messages.texts, std::vector<std::string>{"Export of table 'CUSTOMER' stopped: nothing was "
                                                            "written into file '" +
                                                            (folder / "out.csv").string() + "'"});
       }},
  };
  if (mounted) {
    cases.push_back({"full disk", small / "out.csv", [&] {
                       TTransferRequest request = Request("CUSTOMER");
                       request.folder = small.string();
                       try {
                         ExportTable(dataSet, request, progress, messages);
                         ADD_FAILURE() << "no failure";
                       } catch (const EInOutError& failure) {
                         EXPECT_EQ(failure.Code(), 112);
                         EXPECT_EQ(failure.what(), "Cannot write file '" + (small / "out.csv").string() +
                                                       "': No space left on device");
                       }
                     }});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.target, earlier);
    messages.texts.clear();
    c.run();
    EXPECT_FALSE(dataSet.Active());
    EXPECT_EQ(ReadFile(c.target), earlier);
    EXPECT_EQ(FolderEntries(c.target.parent_path()), std::vector<std::string>{"out.csv"});
    int fd = open(c.target.c_str(), O_RDONLY);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
  }
  if (mounted && std::system(("umount '" + small.string() + "'").c_str()) != 0)
    GTEST_LOG_(WARNING) << "the tmpfs at " << small << " could not be unmounted";
  if (!mounted) GTEST_LOG_(INFO) << "no tmpfs could be mounted: the full-disk case did not run";
}

// Anything but a regular file is refused at once, before it is opened: a
// FIFO would block forever, /dev/zero never ends.
TEST_P(TableTransferTest, FoldersFifosAndDevicesAreRefusedAtOnce) {
  MakeDatabase(std::string(kCustomerSql) + "INSERT INTO CUSTOMER VALUES (1, 'a', NULL);\n");
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(folder / "sub");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {folder.string(), "fifo"}, {"/dev", "zero"}, {folder.string(), "sub"}};
  for (const auto& [where, name] : cases) {
    for (bool exporting : {true, false}) {
      SCOPED_TRACE(where + "/" + name + (exporting ? " export" : " import"));
      TTransferRequest request = Request("CUSTOMER");
      request.folder = where;
      request.fileName = name;
      try {
        if (exporting) {
          ExportTable(dataSet, request, progress, messages);
        } else {
          ImportTable(dataSet, request, progress, messages);
        }
        ADD_FAILURE() << "no failure";
      } catch (const EInOutError& failure) {
        EXPECT_EQ(failure.Code(), 5);
        EXPECT_EQ(std::string(failure.what()).find("Cannot use '" + where + "/" + name + "': it is "), 0u)
            << failure.what();
      }
    }
  }
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"fifo", "sub"}));
}

// Under a Turkish character-type locale ("i" upper-cases to a dotted capital
// I) the embedded engine in our process still reads its configuration, so
// the program connects and exports. Run in a fresh process, since the engine
// reads its configuration once.
TEST_P(TableTransferTest, ConnectsAndExportsUnderTurkish) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) {
          std::fprintf(stderr, "tr_TR.UTF-8 is missing (scripts/gen-locales.sh makes it)");
          std::exit(2);
        }
        std::setlocale(LC_NUMERIC, "C");
        LoadLocaleFormats();
        MakeDatabase(std::string(kCustomerSql) + "INSERT INTO CUSTOMER VALUES (1, 'i', NULL);\n");
        Export("CUSTOMER");
        const bool same = ReadFile(folder / "out.csv") == "ID,NAME,NOTE\r\n1,i,\r\n";
        // exit() skips the fixture's end: the database folder goes here.
        connection.SetConnected(false);
        database.reset();
        std::exit(same ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Another connection inserts and commits while the export runs: the file
// and the message show the table as it stood when the export began.
TEST_P(TableTransferTest, ExportIsOneSnapshotWhileOthersInsert) {
  MakeDatabase(std::string(kCustomerSql) +
               "SET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 300) DO BEGIN "
               "INSERT INTO CUSTOMER VALUES (:I, 'n', NULL); I = I + 1; END END^\n"
               "SET TERM ;^\n");
  // Asked between rows: another connection commits a row each time.
  struct TInserting : TProgressRecorder {
    TSQLConnection other{"other"};
    int next = 1000;
    int asked = 0;
    bool StopRequested() override {
      if (++asked < 3 || asked > 200) return false;
      TSQLCommand insert(other);
      insert.Prepare("INSERT INTO CUSTOMER VALUES (" + std::to_string(next++) + ", 'new', NULL)");
      insert.Run();
      return false;
    }
  } inserting;
  inserting.other.Params() = connection.Params();
  inserting.other.SetConnected(true);
  const TTransferResult result = ExportTable(dataSet, Request("CUSTOMER"), inserting, messages);
  EXPECT_GT(inserting.next, 1100);  // rows were committed meanwhile
  std::string file = ReadFile(folder / "out.csv");
  const auto lines = std::count(file.begin(), file.end(), '\n') - 1;
  EXPECT_EQ(lines, 300);
  EXPECT_EQ(result.rows, 300);
  EXPECT_EQ(messages.texts.back().substr(0, 12), "300 records ");
  EXPECT_EQ(inserting.positions.back(), 100);
  EXPECT_TRUE(
      std::all_of(inserting.positions.begin(), inserting.positions.end(), [](int p) { return p <= 100; }));
  EXPECT_FALSE(connection.InTransaction());
}

// The window lists the fields; then another connection adds a column and
// drops one. The file's header and rows both follow the table as it is.
TEST_P(TableTransferTest, ExportHeaderAndRowsAgreeAfterTheColumnsChanged) {
  MakeDatabase(std::string(kCustomerSql) + "INSERT INTO CUSTOMER VALUES (1, 'Anna', 'x');\n");
  std::vector<std::string> listed;
  connection.ListFieldNames("CUSTOMER", listed);
  TSQLConnection other{"other"};
  other.Params() = connection.Params();
  for (const char* sql : {"ALTER TABLE CUSTOMER ADD CITY VARCHAR(20)", "ALTER TABLE CUSTOMER DROP NAME",
                          "INSERT INTO CUSTOMER (ID, NOTE, CITY) VALUES (2, 'y', 'Oslo')"}) {
    TSQLCommand change(other);
    change.Prepare(sql);
    change.Run();
  }
  EXPECT_EQ(Export("CUSTOMER"), 2);
  EXPECT_EQ(ReadFile(folder / "out.csv"), "ID,NOTE,CITY\r\n1,x,\r\n2,y,Oslo\r\n");
}

// A name is used exactly as the catalogue lists it.
TEST_P(TableTransferTest, ALeadingBlankNamesAnotherTable) {
  MakeDatabase(
      "CREATE TABLE \" T\" (A INTEGER);\nCREATE TABLE T (B INTEGER);\n"
      "INSERT INTO \" T\" VALUES (1);\nINSERT INTO T VALUES (2);\nINSERT INTO T VALUES (3);\n");
  EXPECT_EQ(Export(" T", "blank.csv"), 1);
  EXPECT_EQ(ReadFile(folder / "blank.csv"), "A\r\n1\r\n");
  EXPECT_EQ(Export("T", "plain.csv"), 2);
  EXPECT_EQ(ReadFile(folder / "plain.csv"), "B\r\n2\r\n3\r\n");
}

TEST_P(TableTransferTest, ImportInsertsEachLineAndReportsTheCount) {
  MakeDatabase(kCustomerSql);
  WriteFile(folder / "in.csv",
            "id,Name,NOTE\r\n"
            "7,O'Brien,\r\n"
            "8,\"\",x\r\n"
            "9,,\r\n");
  EXPECT_EQ(Import("CUSTOMER"), 3);
  EXPECT_EQ(messages.texts,
            std::vector<std::string>{"3 records of table 'CUSTOMER' has been imported into file '" +
                                     folder.string() + "/in.csv'"});
  EXPECT_FALSE(dataSet.Active());
  EXPECT_EQ(Query("SELECT NAME FROM CUSTOMER WHERE ID = 7"), "O'Brien");
  EXPECT_EQ(Query("SELECT NAME IS NULL FROM CUSTOMER WHERE ID = 8"), "False");
  EXPECT_EQ(Query("SELECT NAME IS NULL FROM CUSTOMER WHERE ID = 9"), "True");
  EXPECT_EQ(progress.positions.front(), 0);
  EXPECT_EQ(progress.positions.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
  EXPECT_EQ(std::adjacent_find(progress.positions.begin(), progress.positions.end()),
            progress.positions.end());
}

// The file is read ahead of the rows sent; a Stop keeps exactly the rows
// sent before it, and names the line to go on from.
TEST_P(TableTransferTest, AStopMidImportKeepsTheRowsSentAndNamesTheNextLine) {
  MakeDatabase(kCustomerSql);
  std::string lines = "ID,NAME,NOTE\r\n";
  for (int id = 1; id <= 5000; ++id) lines += std::to_string(id) + ",a name long enough to move the bar,\r\n";
  WriteFile(folder / "in.csv", lines);
  TStopAfter stopper(20);
  const TTransferResult result = ImportTable(dataSet, Request("CUSTOMER", "in.csv"), stopper, messages);
  EXPECT_TRUE(result.stopped);
  ASSERT_GT(result.rows, 0);
  ASSERT_LT(result.rows, 5000);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CUSTOMER"), std::to_string(result.rows));
  EXPECT_EQ(Query("SELECT MAX(ID) FROM CUSTOMER"), std::to_string(result.rows));
  EXPECT_EQ(result.stoppedAtLine, result.rows + 2);
}

// A query's rows are read, and counted, without changing anything, even
// when what it selects from writes.
// An export runs its query once, in a snapshot that may change nothing: a
// query that writes, even through an autonomous transaction, fails with the
// server's words, and an earlier file stays.
TEST_P(TableTransferTest, AnExportedQueryRunsOnceAndWritesNothing) {
  MakeDatabase(
      "CREATE TABLE TRAIL (N INTEGER);\n"
      "SET TERM ^;\n"
      "CREATE PROCEDURE NOISY RETURNS (N INTEGER) AS BEGIN INSERT INTO TRAIL VALUES (1); "
      "N = 1; SUSPEND; N = 2; SUSPEND; END^\n"
      "CREATE PROCEDURE SIDE RETURNS (N INTEGER) AS BEGIN IN AUTONOMOUS TRANSACTION DO "
      "INSERT INTO TRAIL VALUES (2); N = 1; SUSPEND; END^\n"
      "SET TERM ;^\n");
  WriteFile(folder / "out.csv", "earlier");
  for (const char* query : {"SELECT N FROM NOISY", "SELECT N FROM SIDE",
                            "EXECUTE BLOCK RETURNS (N INTEGER) AS BEGIN IN AUTONOMOUS TRANSACTION DO INSERT "
                            "INTO TRAIL VALUES (3); "
                            "N = 3; SUSPEND; END"}) {
    SCOPED_TRACE(query);
    TTransferRequest request = Request("");
    request.query = query;
    try {
      ExportTable(dataSet, request, progress, messages);
      ADD_FAILURE() << "the query wrote";
    } catch (const EDatabaseError& failure) {
      EXPECT_NE(std::string(failure.what()).find("read-only transaction"), std::string::npos)
          << failure.what();
    }
    EXPECT_EQ(ReadFile(folder / "out.csv"), "earlier");
  }
  EXPECT_EQ(Query("SELECT COUNT(*) FROM TRAIL"), "0");
  // Duplicate or unnamed columns could not be read back: refused.
  TTransferRequest request = Request("");
  request.query = "SELECT 1 AS A, 2 AS \"a\", 3 AS B FROM RDB$DATABASE";
  try {
    ExportTable(dataSet, request, progress, messages);
    ADD_FAILURE() << "exported";
  } catch (const Exception& failure) {
    EXPECT_NE(std::string(failure.what()).find("Column 'a' is named more than once."), std::string::npos)
        << failure.what();
  }
  // A query's bar shows no total: from 10 straight to 100.
  request.query = "SELECT 1 AS N FROM RDB$DATABASE";
  progress.positions.clear();
  EXPECT_EQ(ExportTable(dataSet, request, progress, messages).rows, 1);
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 10, 100}));
}

TEST_P(TableTransferTest, ImportChecksTheHeaderAgainstTheFields) {
  struct Case {
    const char* header;
    bool accepted;
    const char* problems;  // under the message, when not accepted
  } cases[] = {
      {"ID,NAME,NOTE", true, ""},
      {"\"ID\",\"NAME\",\"NOTE\"", true, ""},
      {"NOTE,ID", true, ""},
      {"ID,ID", false, "Column 'ID' is named twice."},
      {"ID,id", false, "Column 'id' is named twice."},
      {"\xEF\xBB\xBFID,NAME", true, ""},
      {"\xEF\xBB\xBF\"ID\",\"NAME\"", true, ""},
      {"ID, NAME", false, "The table has no column ' NAME'."},
      {"ID,NAME,NOPE", false, "The table has no column 'NOPE'."},
      {"", false, "The first line is empty; it must name the columns, separated by commas."},
      {"NAME,NOTE", false, "Column 'ID' takes no null and has no default, but the header does not name it."},
      {"ID;NAME;NOTE", false,
       "The table has no column 'ID;NAME;NOTE'.\n"
       "Column 'ID' takes no null and has no default, but the header does not name it.\n"
       "The header looks separated by semicolons; the values of a line must be separated by commas."},
  };
  MakeDatabase(kCustomerSql);
  for (const auto& c : cases) {
    messages.texts.clear();
    WriteFile(folder / "in.csv", std::string(c.header) + "\r\n");
    EXPECT_EQ(Import("CUSTOMER"), 0) << c.header;
    ASSERT_EQ(messages.texts.size(), 1u) << c.header;
    if (c.accepted) {
      EXPECT_EQ(messages.texts[0].substr(0, 10), "0 records ") << c.header;
    } else {
      EXPECT_EQ(messages.texts[0],
                std::string("Column header in source file does not match the database table "
                            "fields!\n\n") +
                    c.problems)
          << c.header;
      EXPECT_EQ(progress.positions.back(), 10);
    }
    EXPECT_FALSE(dataSet.Active());
  }
}

// Answers the refusal box from a list (OK once the list runs out).
struct TRefusalRecorder : TMessageRecorder {
  std::vector<TRefusalAnswer> answers;
  std::vector<TRefusedLine> asked;
  TRefusalAnswer AskRefusedLine(const TRefusedLine& line) override {
    asked.push_back(line);
    return asked.size() <= answers.size() ? answers[asked.size() - 1] : TRefusalAnswer::raOk;
  }
};

TEST_P(TableTransferTest, ARefusedLineIsRefusedAloneExplainedAndKept) {
  // Lines 2-8 mixed, 9-209 good rows in blocks with a duplicate key at line
  // 59, and a quote opened on line 210 that the file never closes.
  std::string good;
  for (int id = 100; id < 300; ++id) {
    good += std::to_string(id) + ",n" + std::to_string(id) + ",\r\n";
    if (id == 149) good += "1,dup in a block,z\r\n";
  }
  const std::string lines[] = {"1,a,b\r\n",
                               "2,too few\r\n",
                               "3,too,many,pieces\r\n",
                               "\r\n",
                               "1,duplicate key,x\r\n",
                               "x,not a number,y\r\n",
                               "4,\"\"\"only quotes\"\"\",\"\"\n"};
  std::string file = "ID,NAME,NOTE\r\n";
  for (const auto& line : lines) file += line;
  file += good + "5,\"open quote\r\n6,x,y\r\n";
  const std::string rejected = "ID,NAME,NOTE\r\n" + lines[1] + lines[2] + lines[3] + lines[4] + lines[5] +
                               "1,dup in a block,z\r\n5,\"open quote\r\n6,x,y\r\n";

  struct Case {
    const char* name;
    std::vector<TRefusalAnswer> answers;
    std::size_t asked;
    std::int64_t rows;
    std::int64_t refused;
    std::int64_t stoppedAtLine;  // 0: not stopped
  } cases[] = {
      {"ok", {}, 7, 202, 7, 0},
      {"skip all", {TRefusalAnswer::raSkipAll}, 1, 202, 7, 0},
      {"stop", {TRefusalAnswer::raStop}, 1, 1, 1, 4},
  };
  MakeDatabase(kCustomerSql);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSQLCommand clear(connection);
    clear.Prepare("DELETE FROM CUSTOMER");
    clear.Run();
    WriteFile(folder / "in.csv", file);
    TRefusalRecorder boxes;
    boxes.answers = c.answers;
    TTransferResult result = ImportTable(dataSet, Request("CUSTOMER", "in.csv"), progress, boxes);
    EXPECT_EQ(result.rows, c.rows);
    EXPECT_EQ(result.refused, c.refused);
    EXPECT_EQ(result.stopped, c.stoppedAtLine != 0);
    EXPECT_EQ(result.stoppedAtLine, c.stoppedAtLine);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM CUSTOMER"), std::to_string(c.rows));
    ASSERT_EQ(boxes.asked.size(), c.asked);
    ASSERT_EQ(boxes.texts.size(), 1u);
    const std::string& message = boxes.texts[0];
    EXPECT_EQ(message.find(std::to_string(c.rows) + " records of table 'CUSTOMER' has been imported"), 0u)
        << message;
    EXPECT_EQ(result.rejectedPath, (folder / "in.rejected.csv").string());
    EXPECT_NE(message.find("in.rejected.csv"), std::string::npos) << message;
    if (c.stoppedAtLine) {
      EXPECT_NE(
          message.find(". The import stopped at line 4; that line and the ones after it were not imported"),
          std::string::npos)
          << message;
      EXPECT_EQ(ReadFile(folder / "in.rejected.csv"), "ID,NAME,NOTE\r\n" + lines[1]);
      continue;
    }
    EXPECT_EQ(ReadFile(folder / "in.rejected.csv"), rejected);
    std::string log = ReadFile(folder / "in.rejected.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7) << log;
    EXPECT_EQ(log.find("Line 3: The line has 2 values; the header names 3 columns"), 0u) << log;
    if (c.asked == 7) {
      const std::pair<std::int64_t, const char*> reasons[] = {
          {3, "2 values"},           {4, "4 values"},
          {5, "1 values"},           {6, "PRIMARY or UNIQUE KEY"},
          {7, "conversion error"},   {59, "PRIMARY or UNIQUE KEY"},
          {210, "opens on line 210"}};
      for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(boxes.asked[i].lineNumber, reasons[i].first);
        EXPECT_NE(boxes.asked[i].reason.find(reasons[i].second), std::string::npos) << boxes.asked[i].reason;
      }
    }
  }
}

// Cuts the import's connection from another one after `cutAt` questions.
struct TCuttingProgress : TProgressRecorder {
  std::string database;
  int calls = 0;
  int cutAt = 0;
  bool StopRequested() override {
    if (++calls == cutAt) {
      TSQLConnection killer("killer");
      killer.Params().SetValue("Database", database);
      killer.Params().SetValue("User_Name", "SYSDBA");
      killer.Params().SetValue("Password", testdb::Password());
      TSQLCommand cut(killer);
      cut.Prepare("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
      cut.Run();
    }
    return false;
  }
};

TEST_P(TableTransferTest, ACutConnectionEndsTheImportWithOneErrorThatCountsWhatIsInTheTable) {
  MakeDatabase(kCustomerSql);
  std::string file = "ID,NAME,NOTE\r\n";
  for (int id = 1; id <= 30000; ++id) file += std::to_string(id) + ",n,\r\n";
  WriteFile(folder / "in.csv", file);
  TCuttingProgress cutting;
  cutting.database = database->Connect();
  cutting.cutAt = 25000;
  TRefusalRecorder boxes;
  std::string error;
  try {
    ImportTable(dataSet, Request("CUSTOMER", "in.csv"), cutting, boxes);
  } catch (const Exception& failure) {
    error = failure.what();
  }
  EXPECT_TRUE(boxes.asked.empty());
  EXPECT_TRUE(boxes.texts.empty());
  ASSERT_NE(error.find(" rows were committed before it"), std::string::npos) << error;
  const std::string marker = "ended at line ";
  std::size_t at = error.find(marker);
  ASSERT_NE(at, std::string::npos) << error;
  std::string rest = error.substr(at + marker.size());
  std::string committed = rest.substr(rest.find(": ") + 2);
  committed = committed.substr(0, committed.find(' '));
  connection.SetConnected(false);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CUSTOMER"), committed) << error;
  EXPECT_EQ(committed, "20000") << error;
}

// A commit the database refuses (a commit trigger) at the first, second or
// last commit: the failure counts only what is in the table, names the line
// to import again from, and the rejected files hold exactly the refused
// lines before it. Importing again from that line completes the table.
TEST_P(TableTransferTest, AFailedCommitCountsNothingOfItsRowsAndTheImportGoesOnFromTheLineItNames) {
  MakeDatabase(std::string(kCustomerSql) +
               "CREATE EXCEPTION E_NO_COMMIT 'commit refused';\n"
               "SET TERM ^;\n"
               "CREATE TRIGGER T_COMMIT ON TRANSACTION COMMIT AS BEGIN "
               "IF (EXISTS (SELECT 1 FROM CUSTOMER WHERE NAME = 'refuse')) THEN EXCEPTION E_NO_COMMIT; END^\n"
               "SET TERM ;^\n");
  constexpr int kRows = 45000;
  // A commit comes every 20,000 lines settled, refused ones included.
  struct Case {
    int marker;         // the row whose commit the trigger refuses
    int committed;      // rows in the table after the failure
    std::int64_t line;  // the line to import again from
  } cases[] = {{10000, 0, 2}, {30000, 20000 - 2, 20002}, {kRows, 40000 - 5, 40002}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marker);
    TSQLCommand clear(connection);
    clear.Prepare("DELETE FROM CUSTOMER");
    clear.Run();
    std::string file = "ID,NAME,NOTE\r\n";
    for (int id = 1; id <= kRows; ++id) {
      file += std::to_string(id % 7000 == 0 ? 1 : id) + (id == c.marker ? ",refuse,\r\n" : ",n,\r\n");
    }
    WriteFile(folder / "in.csv", file);
    TTransferRequest request = Request("CUSTOMER", "in.csv");
    TRefusalRecorder boxes;
    boxes.answers = {TRefusalAnswer::raSkipAll};
    try {
      ImportTable(dataSet, request, progress, boxes);
      FAIL() << "no failure";
    } catch (const EImportFailed& failure) {
      EXPECT_NE(std::string(failure.what()).find("commit refused"), std::string::npos) << failure.what();
      EXPECT_EQ(failure.Committed(), c.committed);
      EXPECT_EQ(failure.ResumeLine(), c.line);
      EXPECT_EQ(failure.UnknownEnd(), 0);
    }
    EXPECT_EQ(Query("SELECT COUNT(*) FROM CUSTOMER"), std::to_string(c.committed));
    // Line 7001 holds a duplicate of row 1 (and so on every 7000 rows).
    const std::string rejected = c.line > 7001 ? ReadFile(folder / "in.rejected.csv") : "";
    EXPECT_EQ(std::count(rejected.begin(), rejected.end(), '\n'),
              c.line > 7001 ? 1 + (c.line - 2) / 7000 : 0);

    // Without the trigger's row, the rest goes in from the line named.
    file.replace(file.find(",refuse,"), 8, ",n,");
    WriteFile(folder / "in.csv", file);
    request.fromLine = c.line;
    TTransferResult rest = ImportTable(dataSet, request, progress, boxes);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM CUSTOMER"), std::to_string(kRows - kRows / 7000));
    EXPECT_EQ(rest.rows, kRows - kRows / 7000 - c.committed);
    const std::string all = ReadFile(folder / "in.rejected.csv");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1 + kRows / 7000);
  }
}

// Rows are judged in file order, also when many travel in one round trip: a
// row that refers to a later row of the same file is refused, through a
// server as embedded.
TEST_P(TableTransferTest, RowsReferringToLaterRowsAreRefusedInFileOrder) {
  MakeDatabase("CREATE TABLE NODE (ID INTEGER NOT NULL PRIMARY KEY, PARENT INTEGER REFERENCES NODE (ID));\n");
  std::string file = "ID,PARENT\r\n";
  for (int id = 1; id <= 300; ++id) {
    file +=
        std::to_string(id) + "," + (id == 1 ? "" : std::to_string(id % 50 == 0 ? id + 1 : id - 1)) + "\r\n";
  }
  WriteFile(folder / "in.csv", file);
  TRefusalRecorder boxes;
  boxes.answers = {TRefusalAnswer::raSkipAll};
  const TTransferResult result = ImportTable(dataSet, Request("NODE", "in.csv"), progress, boxes);
  // Row 50 points forward: refused, and so is every row after it, each
  // pointing back to one that was refused.
  EXPECT_EQ(result.refused, 251);
  EXPECT_EQ(result.rows, 49);
  EXPECT_EQ(Query("SELECT LIST(ID) FROM (SELECT ID FROM NODE WHERE ID BETWEEN 49 AND 52 ORDER BY ID)"), "49");
}

// The rejected files are new files of the import's own: a symbolic link in
// their place is replaced, not written through; a folder where they cannot
// be made stops the import before its first line, saying where and why.
TEST_P(TableTransferTest, RejectedFilesAreMadeSafelyOrTheImportDoesNotStart) {
  MakeDatabase(kCustomerSql);
  WriteFile(folder / "in.csv", "ID,NAME,NOTE\r\n1,a,\r\nx,b,\r\n");
  WriteFile(folder / "precious.txt", "keep me");
  std::filesystem::create_symlink(folder / "precious.txt", folder / "in.rejected.csv");
  TRefusalRecorder boxes;
  boxes.answers = {TRefusalAnswer::raSkipAll};
  EXPECT_EQ(ImportTable(dataSet, Request("CUSTOMER", "in.csv"), progress, boxes).rows, 1);
  EXPECT_EQ(ReadFile(folder / "precious.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(folder / "in.rejected.csv"));
  EXPECT_EQ(ReadFile(folder / "in.rejected.csv"), "ID,NAME,NOTE\r\nx,b,\r\n");

  if (geteuid() == 0) return;  // root writes into any folder
  const auto locked = folder / "locked";
  std::filesystem::create_directory(locked);
  WriteFile(locked / "in.csv", "ID,NAME,NOTE\r\n2,a,\r\n");
  std::filesystem::permissions(locked,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  try {
    ImportTable(dataSet, TTransferRequest{locked.string(), "in.csv", "CUSTOMER"}, progress, boxes);
    ADD_FAILURE() << "no failure";
  } catch (const EInOutError& failure) {
    EXPECT_NE(std::string(failure.what()).find("'" + locked.string() + "'"), std::string::npos)
        << failure.what();
    EXPECT_NE(std::string(failure.what()).find("Permission denied"), std::string::npos) << failure.what();
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM CUSTOMER"), "1");
}

TEST_P(TableTransferTest, LargeValuesComputedColumnsAndByteOrderMarksImport) {
  MakeDatabase(
      "CREATE TABLE SOURCE (ID INTEGER, MEMO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY, "
      "TWICE COMPUTED BY (ID * 2));\n"
      "CREATE TABLE COPY (ID INTEGER, MEMO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY, "
      "TWICE COMPUTED BY (ID * 2));\n"
      "CREATE TABLE F (ID INTEGER, D DOUBLE PRECISION, R FLOAT);\n");
  TSQLCommand insert(connection);
  insert.Prepare("INSERT INTO SOURCE (ID, MEMO, BIN) VALUES (1, ?, ?)");
  std::string memo(1 << 20, 'm');
  for (std::size_t i = 0; i < memo.size(); i += 1000) memo[i] = ',';
  std::string bin(100 * 1024, '\0');
  for (std::size_t i = 0; i < bin.size(); ++i) bin[i] = static_cast<char>(i * 7 % 256);
  insert.SetText(1, memo);
  insert.SetText(2, bin);
  insert.Execute();
  EXPECT_EQ(Export("SOURCE", "big.csv"), 1);
  std::filesystem::copy_file(folder / "big.csv", folder / "in.csv");
  EXPECT_EQ(Import("COPY"), 1);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM SOURCE S JOIN COPY C ON C.ID = S.ID AND C.MEMO = S.MEMO AND "
                  "C.BIN = S.BIN AND C.TWICE = 2"),
            "1");

  // Doubles the server's own text reading refuses travel as binary values.
  WriteFile(folder / "in.csv",
            "\xEF\xBB\xBFID,D,R\r\n1,4.9E-324,3.4028234663852886E38\r\n2,2.2250738585072014E-308,\r\n");
  EXPECT_EQ(Import("F"), 2) << messages.texts.back() << ReadFile(folder / "in.rejected.log");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM F WHERE D > 0 AND D < 1E-300"), "2");
}

// Blob values of every length around the sizes that travel inside a row
// (out of the table, and into it in a batch of many rows) come out byte for
// byte, and back in unchanged.
TEST_P(TableTransferTest, BlobsOfEveryLengthComeOutAndBackByteForByte) {
  MakeDatabase(
      "CREATE TABLE SOURCE (ID INTEGER, MEMO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY);\n"
      "CREATE TABLE COPY (ID INTEGER, MEMO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY);\n");
  TSQLCommand insert(connection);
  insert.Prepare("INSERT INTO SOURCE (ID, MEMO, BIN) VALUES (?, ?, ?)");
  const std::size_t out = TTableReader::InlineBlobBytes(), in = TBulkInserter::InlineBlobBytes();
  std::vector<std::size_t> lengths;
  for (int round = 0; round < 4; ++round)  // enough rows for batches
    lengths.insert(lengths.end(), {0, 1, 2, out - 1, out, out + 1, in - 1, in, in + 1});
  lengths.push_back(10u << 20);
  std::string expected = "ID,MEMO,BIN\r\n";
  int id = 0;
  for (std::size_t length : lengths) {
    std::string memo(length, 'm');
    if (length > 1) memo[1] = '\0';
    std::string bin(length, '\0');
    for (std::size_t i = 0; i < bin.size(); ++i) bin[i] = static_cast<char>(i * 7 % 256);
    insert.SetText(1, std::to_string(++id));
    insert.SetText(2, memo);
    insert.SetText(3, bin);
    insert.Execute();
    expected += std::to_string(id) + ",";
    if (length == 0) expected += "\"\"";
    AppendCsvPiece(expected, memo);
    expected += ",";
    if (length == 0) expected += "\"\"";
    AppendCsvPiece(expected, bin);
    expected += "\r\n";
  }
  insert.Prepare("INSERT INTO SOURCE (ID) VALUES (99)");
  insert.Execute();
  expected += "99,,\r\n";
  EXPECT_EQ(Export("SOURCE", "blobs.csv"), id + 1);
  EXPECT_TRUE(ReadFile(folder / "blobs.csv") == expected);
  std::filesystem::copy_file(folder / "blobs.csv", folder / "in.csv");
  EXPECT_EQ(Import("COPY"), id + 1);
  EXPECT_EQ(
      Query("SELECT COUNT(*) FROM SOURCE S JOIN COPY C ON C.ID = S.ID AND C.MEMO IS NOT DISTINCT FROM S.MEMO "
            "AND C.BIN IS NOT DISTINCT FROM S.BIN"),
      std::to_string(id + 1));
}

TEST_P(TableTransferTest, QuotedValuesComeBackByteForByte) {
  MakeDatabase(std::string(kCustomerSql) +
               "CREATE TABLE COPY (ID INTEGER, NAME VARCHAR(40), NOTE BLOB SUB_TYPE TEXT);\n"
               "CREATE TABLE SOURCE (ID INTEGER, NAME VARCHAR(40), NOTE BLOB SUB_TYPE TEXT);\n"
               "INSERT INTO SOURCE VALUES (1, 'a,b', 'x' || ASCII_CHAR(13) || ASCII_CHAR(10) || "
               "'y' || ASCII_CHAR(10) || 'z' || ASCII_CHAR(13) || 'w');\n"
               "INSERT INTO SOURCE VALUES (2, '\"q\"', 'end' || ASCII_CHAR(26) || 'more');\n"
               "INSERT INTO SOURCE VALUES (3, '', NULL);\n"
               "INSERT INTO SOURCE VALUES (4, NULL, ',');\n");
  Export("SOURCE", "source.csv");
  std::filesystem::copy_file(folder / "source.csv", folder / "in.csv");
  EXPECT_EQ(Import("COPY"), 4);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM SOURCE S JOIN COPY C ON C.ID = S.ID "
                  "WHERE C.NAME IS NOT DISTINCT FROM S.NAME AND C.NOTE IS NOT DISTINCT FROM S.NOTE"),
            "4");
}

TEST_P(TableTransferTest, NamesThatNeedQuotesExportAndImport) {
  MakeDatabase(
      "CREATE TABLE \"Mixed Case\" (\"order\" INTEGER, \"Two Words\" VARCHAR(10), PLAIN VARCHAR(10));\n"
      "INSERT INTO \"Mixed Case\" VALUES (1, 'a', 'b');\n"
      "CREATE TABLE \"Mixed Copy\" (\"order\" INTEGER, \"Two Words\" VARCHAR(10), PLAIN VARCHAR(10));\n");
  EXPECT_EQ(Export("Mixed Case", "mixed.csv"), 1);
  EXPECT_EQ(ReadFile(folder / "mixed.csv"), "order,Two Words,PLAIN\r\n1,a,b\r\n");
  std::filesystem::copy_file(folder / "mixed.csv", folder / "in.csv");
  EXPECT_EQ(Import("Mixed Copy"), 1);
  EXPECT_EQ(Query("SELECT \"order\" || \"Two Words\" || PLAIN FROM \"Mixed Copy\""), "1ab");
}

TEST_P(TableTransferTest, ColumnsDifferingOnlyInLetterCaseStayApart) {
  MakeDatabase(
      "CREATE TABLE T (ABC VARCHAR(10), \"abc\" VARCHAR(10));\n"
      "CREATE TABLE U (ABC VARCHAR(10), \"abc\" VARCHAR(10));\n"
      "INSERT INTO T VALUES ('upper', 'lower');\n");
  Export("T", "t.csv");
  std::filesystem::copy_file(folder / "t.csv", folder / "in.csv");
  EXPECT_EQ(Import("U"), 1);
  EXPECT_EQ(Query("SELECT ABC || '|' || \"abc\" FROM U"), "upper|lower");
}

TEST_P(TableTransferTest, AnArrayColumnKeepsItsPlaceInEveryLine) {
  MakeDatabase(
      "CREATE TABLE WITH_ARRAY (ID INTEGER, GRID INTEGER[3], NAME VARCHAR(10));\n"
      "INSERT INTO WITH_ARRAY (ID, NAME) VALUES (1, 'one');\n");
  EXPECT_EQ(Export("WITH_ARRAY"), 1);
  EXPECT_EQ(ReadFile(folder / "out.csv"), "ID,GRID,NAME\r\n1,,one\r\n");
}

TEST_P(TableTransferTest, AMissingImportFileEndsTheImport) {
  MakeDatabase(kCustomerSql);
  try {
    Import("CUSTOMER", "missing.csv");
    FAIL() << "no failure";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.Code(), 2);
    EXPECT_EQ(failure.what(),
              "Cannot open file '" + (folder / "missing.csv").string() + "': No such file or directory");
  }
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 10}));
  EXPECT_FALSE(dataSet.Active());
}

// Every type exported and imported into an empty copy under each locale the
// user may run with; every value comes back exactly.
class RoundTripTest : public TableTransferTest {
 protected:
  // As the program does: the user's formats read, the C library's own
  // number texts left in the C locale (the embedded engine runs in-process),
  // and the connection's character set the locale's, connected anew.
  bool UseLocale(const char* locale) {
    if (!std::setlocale(LC_ALL, locale)) return false;
    LoadLocaleFormats();
    std::setlocale(LC_NUMERIC, "C");
    connection.Params().SetValue("ServerCharSet", LocaleCharSet());
    if (connection.Connected()) {
      connection.SetConnected(false);
      connection.SetConnected(true);
    }
    return true;
  }

  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    LocaleFormats() = TLocaleFormats();
  }

  // Exports a table holding each value in its own row and imports it into
  // an empty copy under each locale; every value must come back exactly.
  void RunEach(const std::vector<std::pair<const char*, const char*>>& values);
};

INSTANTIATE_TEST_SUITE_P(Locales, RoundTripTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "Embedded"; });

const char* const kEveryTypeColumns =
    "(ID INTEGER NOT NULL, S SMALLINT, I INTEGER, B BIGINT, F FLOAT, D DOUBLE PRECISION, "
    "N4 NUMERIC(9,2), N18 NUMERIC(18,4), DC DECIMAL(15,6), DT DATE, TM TIME, TS TIMESTAMP, "
    "BO BOOLEAN, C CHAR(6), V VARCHAR(30), MEMO BLOB SUB_TYPE TEXT, BIN BLOB SUB_TYPE BINARY)";

TEST_P(RoundTripTest, EveryTypeComesBackUnderEachLocale) {
  MakeDatabase(std::string("CREATE TABLE SOURCE ") + kEveryTypeColumns + ";\n" + "CREATE TABLE COPY " +
               kEveryTypeColumns + ";\n" +
               "INSERT INTO SOURCE VALUES (1, -32768, -2147483648, -9223372036854775808, 1.5, "
               "0.1, -1234567.89, -99999999999999.9999, 123456789.123456, '1950-02-28', '14:07:09', "
               "'2004-03-05 14:07:09.123', TRUE, 'ab', 'comma, \"quote\"', "
               "'line' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'break', x'00FF0D0A2C22');\n"
               "INSERT INTO SOURCE VALUES (2, 32767, 2147483647, 9223372036854775807, -3.25E-10, "
               "1.0E300, 0, 99999999999999.9999, -0.000001, '2024-02-29', '00:00:00', "
               "'1899-12-30 00:00:00', FALSE, '', '', '', '');\n"
               "INSERT INTO SOURCE VALUES (3, 0, 0, 0, 0, -2.0/3, 0.5, 0.0001, 1, '0001-01-01', '23:59:59', "
               "'9999-12-31 23:59:59', NULL, NULL, NULL, NULL, NULL);\n"
               "INSERT INTO SOURCE (ID) VALUES (4);\n");
  const char* locales[] = {"C.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8"};
  for (const char* locale : locales) {
    SCOPED_TRACE(locale);
    if (!UseLocale(locale)) {
      ADD_FAILURE() << "locale " << locale << " is missing (scripts/gen-locales.sh makes it)";
      continue;
    }
    connection.SetConnected(true);
    Query("SELECT 1 FROM RDB$DATABASE");
    TSQLCommand clear(connection);
    clear.Prepare("DELETE FROM COPY");
    clear.Run();

    Export("SOURCE", "every.csv");
    std::filesystem::remove(folder / "in.csv");
    std::filesystem::copy_file(folder / "every.csv", folder / "in.csv");
    messages.texts.clear();
    EXPECT_EQ(Import("COPY"), 4);
    EXPECT_EQ(messages.texts.size(), 1u) << messages.texts.front();

    const char* exact[] = {"S",  "I",  "B",  "F",  "D", "N4", "N18",  "DC",
                           "DT", "TM", "TS", "BO", "C", "V",  "MEMO", "BIN"};
    for (const char* column : exact) {
      EXPECT_EQ(Query(std::string("SELECT COUNT(*) FROM SOURCE S JOIN COPY C ON C.ID = S.ID WHERE C.") +
                      column + " IS NOT DISTINCT FROM S." + column),
                "4")
          << column;
    }
  }
}

TEST_P(RoundTripTest, AFileInTheServersOwnFormsImportsUnderEveryLocale) {
  MakeDatabase(std::string("CREATE TABLE COPY ") + kEveryTypeColumns + ";\n");
  const char* locales[] = {"C.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8"};
  for (const char* locale : locales) {
    SCOPED_TRACE(locale);
    ASSERT_TRUE(UseLocale(locale));
    WriteFile(folder / "in.csv",
              "ID,N4,D,DT,TS,TM\r\n"
              "1,12.5,2.25,2004-03-05,2004-03-05 14:07:09,14:07:09\r\n");
    messages.texts.clear();
    EXPECT_EQ(Import("COPY"), 1);
    EXPECT_EQ(Query("SELECT N4 || '|' || D || '|' || DT || '|' || TS || '|' || TM FROM COPY"),
              "12.50|2.250000000000000|2004-03-05|2004-03-05 14:07:09.0000|14:07:09.0000");
    TSQLCommand clear(connection);
    clear.Prepare("DELETE FROM COPY");
    clear.Run();
  }
}

// Values at the edges of what each type stores.
TEST_P(RoundTripTest, ExtremeValuesComeBackExactly) {
  RunEach({
      {"N18", "922337203685477.5807"},
      {"N18", "-922337203685477.5808"},
      {"N96", "2147.483647"},
      {"N96", "-2147.483648"},
      {"D182", "92233720368547758.07"},
      {"D182", "-92233720368547758.08"},
      {"VN", "'a' || ASCII_CHAR(0) || 'b'"},
      {"CN", "ASCII_CHAR(0) || 'x' || ASCII_CHAR(0)"},
      {"VO", "x'00112233'"},
      {"CO", "x'00112233445566778899AABBCCDDEEFF'"},
      {"D", "0.30000000000000004"},
      {"D", "1.7976931348623157E308"},
      {"D", "-1.7976931348623157E308"},
      {"D", "1E0 / 3"},
      {"TM", "'12:34:56.789'"},
      {"TM", "'23:59:59.9999'"},
      {"TS", "'2020-01-01 00:00:00.5'"},
  });
}

// Doubles whose texts the server refuses ("numeric value is out of range")
// come back because the import sends such pieces as binary doubles.
TEST_P(RoundTripTest, DoublesTheServerRefusesAsTextComeBackExactly) {
  RunEach({
      {"D", "POWER(2E0, -1074)"},  // 4.9E-324
      {"D", "POWER(2E0, -1022)"},  // 2.2250738585072014E-308
      {"F", "CAST((2E0 - POWER(2E0, -23)) * POWER(2E0, 127) AS FLOAT)"},
      {"F", "CAST(-(2E0 - POWER(2E0, -23)) * POWER(2E0, 127) AS FLOAT)"},
  });
}

// Text columns of every kind of character set.
const char* const kCharSetColumns =
    "(ID INTEGER NOT NULL, U VARCHAR(12) CHARACTER SET UTF8, W VARCHAR(12) CHARACTER SET WIN1252, "
    "R VARCHAR(12) CHARACTER SET WIN1251, L VARCHAR(12) CHARACTER SET ISO8859_1, C CHAR(6) CHARACTER SET "
    "WIN1252, "
    "N VARCHAR(12) CHARACTER SET NONE, O VARCHAR(12) CHARACTER SET OCTETS, B BLOB SUB_TYPE TEXT CHARACTER "
    "SET WIN1252)";

// Under a UTF-8 locale every text column comes out in UTF-8 whatever its
// set, NONE and OCTETS byte for byte; through a connection of set NONE each
// comes out as stored. Either file goes back into an empty copy unchanged:
// three hundred rows, so that a server takes them in batches, and a text
// blob of many segments.
TEST_P(RoundTripTest, EachColumnsCharactersComeOutInTheConnectionsSetAndGoBackUnchanged) {
  MakeDatabase(std::string("CREATE TABLE SOURCE ") + kCharSetColumns + ";\nCREATE TABLE COPY " +
               kCharSetColumns +
               ";\n"
               "INSERT INTO SOURCE VALUES (1, _UTF8 'Grüße 日本', _UTF8 'café €', _UTF8 'Привет', "
               "_UTF8 'naïve', _UTF8 'çà', x'C3A9', x'C3B6', _UTF8 'Œuvre — «ok»');\n"
               "INSERT INTO SOURCE (ID) VALUES (2);\n"
               "INSERT INTO SOURCE VALUES (3, '', '', '', '', '', '', '', '');\n"
               "SET TERM ^;\n"
               "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I < 100) DO BEGIN "
               "INSERT INTO SOURCE SELECT ID + :I * 10, U, W, R, L, C, N, O, B FROM SOURCE WHERE ID < 10; "
               "I = I + 1; END END^\n"
               "SET TERM ;^\n"
               "INSERT INTO SOURCE (ID, B) VALUES (5000, "
               "CAST(RPAD(_WIN1252 '', 30000, _UTF8 '€éa') AS BLOB SUB_TYPE TEXT CHARACTER SET WIN1252) || "
               "RPAD(_WIN1252 '', 30000, _UTF8 'éx€') || RPAD(_WIN1252 '', 30000, _UTF8 'éé€'));\n");
  ASSERT_TRUE(UseLocale("en_US.UTF-8"));
  ASSERT_EQ(connection.Params().Value("ServerCharSet"), "UTF8");
  const struct {
    const char* charSet;
    std::string firstRow;
  } cases[] = {
      {"UTF8", "1,Grüße 日本,café €,Привет,naïve,çà    ,é,ö,Œuvre — «ok»\r\n"},
      {"NONE",
       "1,Grüße 日本,caf\xE9 \x80,\xCF\xF0\xE8\xE2\xE5\xF2,na\xEFve,\xE7\xE0    ,é,ö,\x8Cuvre \x97 "
       "\xABok\xBB\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charSet);
    connection.SetConnected(false);
    connection.Params().SetValue("ServerCharSet", c.charSet);
    TSQLCommand clear(connection);
    clear.Prepare("DELETE FROM COPY");
    clear.Run();
    ASSERT_EQ(Export("SOURCE", "in.csv"), 301);
    const std::string file = ReadFile(folder / "in.csv");
    EXPECT_EQ(file.substr(0, file.find("\r\n2,") + 2), "ID,U,W,R,L,C,N,O,B\r\n" + c.firstRow);
    messages.texts.clear();
    EXPECT_EQ(Import("COPY"), 301) << (messages.texts.empty() ? "" : messages.texts.back());
    for (const char* column : {"U", "W", "R", "L", "C", "N", "O", "B"}) {
      EXPECT_EQ(Query(std::string("SELECT COUNT(*) FROM SOURCE S JOIN COPY C ON C.ID = S.ID WHERE C.") +
                      column + " IS NOT DISTINCT FROM S." + column),
                "301")
          << column;
    }
  }
}

// A UTF-8 file from elsewhere: each column stores the characters its set
// can hold, as those characters, and a line with one it cannot hold is
// refused with its number and the server's words; nothing goes in changed.
TEST_P(RoundTripTest, ATextFromElsewhereIsStoredAsItsCharactersOrRefused) {
  MakeDatabase(std::string("CREATE TABLE T ") + kCharSetColumns + ";\n");
  ASSERT_TRUE(UseLocale("en_US.UTF-8"));
  const char* const columns[] = {"U", "W", "R", "L", "C", "N", "O", "B"};
  const struct {
    const char* word;
    const char* heldBy;  // the columns whose set holds it
  } words[] = {{"café", "UWLCNOB"}, {"Привет", "URNO"}, {"日本語", "UNO"}, {"\U0001F600", "UNO"}};
  // Lines of every column and word amid lines any column takes, so that a
  // server takes them in batches.
  const std::string filler = ",x,x,x,x,x,x,x,x\r\n";
  std::string file = "ID,U,W,R,L,C,N,O,B\r\n";
  for (int id = 1000; id < 1150; ++id) file += std::to_string(id) + filler;
  struct Line {
    std::int64_t number;
    int id;
    const char* column;
    std::string word;
    bool held;
  };
  std::vector<Line> lines;
  int id = 1;
  for (const auto& w : words) {
    for (std::size_t c = 0; c < std::size(columns); ++c, ++id) {
      std::string line = std::to_string(id);
      for (std::size_t other = 0; other < std::size(columns); ++other)
        line += "," + std::string(other == c ? w.word : "");
      file += line + "\r\n";
      lines.push_back({151 + static_cast<std::int64_t>(lines.size()) + 1, id, columns[c], w.word,
                       std::string(w.heldBy).find(columns[c][0]) != std::string::npos});
    }
  }
  for (int more = 2000; more < 2150; ++more) file += std::to_string(more) + filler;
  WriteFile(folder / "in.csv", file);

  TRefusalRecorder boxes;
  const TTransferResult result = ImportTable(dataSet, Request("T", "in.csv"), progress, boxes);
  std::size_t held = 0;
  std::vector<std::int64_t> refusedLines;
  for (const Line& line : lines) {
    SCOPED_TRACE(std::string(line.column) + " " + line.word);
    const std::string stored =
        Query("SELECT " + std::string(line.column) + " FROM T WHERE ID = " + std::to_string(line.id));
    if (!line.held) {
      refusedLines.push_back(line.number);
      EXPECT_EQ(stored, "(no row)");
      continue;
    }
    ++held;
    EXPECT_EQ(stored, line.column == std::string("C") ? line.word + "  " : line.word);
  }
  EXPECT_EQ(result.rows, static_cast<std::int64_t>(300 + held));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), std::to_string(300 + held));
  std::vector<std::int64_t> askedLines;
  for (const TRefusedLine& asked : boxes.asked) {
    askedLines.push_back(asked.lineNumber);
    EXPECT_EQ(asked.kind, TRefusalKind::rkTransliteration) << asked.reason;
    EXPECT_NE(asked.reason.find("Cannot transliterate character between character sets"), std::string::npos)
        << asked.reason;
  }
  EXPECT_EQ(askedLines, refusedLines);
}

void RoundTripTest::RunEach(const std::vector<std::pair<const char*, const char*>>& values) {
  const char* const columns =
      "(ID INTEGER NOT NULL, N18 NUMERIC(18,4), N96 NUMERIC(9,6), D182 DECIMAL(18,2), "
      "VN VARCHAR(8) CHARACTER SET NONE, CN CHAR(4) CHARACTER SET NONE, VO VARCHAR(8) CHARACTER SET OCTETS, "
      "CO CHAR(16) CHARACTER SET OCTETS, D DOUBLE PRECISION, F FLOAT, TM TIME, TS TIMESTAMP)";
  std::string setup =
      std::string("CREATE TABLE SOURCE ") + columns + ";\nCREATE TABLE COPY " + columns + ";\n";
  for (std::size_t i = 0; i < values.size(); ++i) {
    setup += "INSERT INTO SOURCE (ID, " + std::string(values[i].first) + ") VALUES (" + std::to_string(i) +
             ", " + values[i].second + ");\n";
  }
  MakeDatabase(setup);
  for (const char* locale : {"C.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8"}) {
    SCOPED_TRACE(locale);
    ASSERT_TRUE(UseLocale(locale)) << "scripts/gen-locales.sh makes " << locale;
    TSQLCommand clear(connection);
    clear.Prepare("DELETE FROM COPY");
    clear.Run();
    messages.texts.clear();
    EXPECT_EQ(Export("SOURCE", "in.csv"), static_cast<std::int32_t>(values.size()));
    EXPECT_EQ(Import("COPY"), static_cast<std::int32_t>(values.size()));
    for (const auto& text : messages.texts) EXPECT_EQ(text.find("Invalid data"), std::string::npos) << text;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string column = values[i].first;
      EXPECT_EQ(Query("SELECT COUNT(*) FROM SOURCE S JOIN COPY C ON C.ID = S.ID WHERE S.ID = " +
                      std::to_string(i) + " AND C." + column + " IS NOT DISTINCT FROM S." + column +
                      " AND S." + column + " IS NOT NULL"),
                "1")
          << column << " = " << values[i].second << ", exported as "
          << Query("SELECT " + column + " FROM SOURCE WHERE ID = " + std::to_string(i));
    }
  }
}

// A file whose dates follow another locale: each date reads in this locale's
// order or the server's, and any other refuses its line with the forms it may
// take, where the server would have read it month first.
TEST_P(RoundTripTest, DatesOfAnotherLocaleAreRefusedNotMisread) {
  MakeDatabase("CREATE TABLE D (ID INTEGER NOT NULL, DT DATE, TS TIMESTAMP);\n");
  ASSERT_TRUE(UseLocale("de_DE.UTF-8"));
  const char* const dateForms = " is no date in the form dd.mm.yyyy or yyyy-mm-dd";
  const struct {
    const char* values;   // DT,TS
    std::string outcome;  // DT || '|' || TS as stored, or why the line was refused
  } lines[] = {
      {"05.03.2004,05.03.2004 14:07:09", "2004-03-05|2004-03-05 14:07:09.0000"},
      {"2004-03-05,2004-03-05 14:07:09.5", "2004-03-05|2004-03-05 14:07:09.5000"},
      {"01.02.03,01.02.03 00:00:01", "2003-02-01|2003-02-01 00:00:01.0000"},
      {"05/03/2004,2004-03-05", std::string("'05/03/2004'") + dateForms},
      {"31/12/1999,2004-03-05", std::string("'31/12/1999'") + dateForms},
      {"05-03-2004,2004-03-05", std::string("'05-03-2004'") + dateForms},
      {"2004-03-05,03/05/2004 14:07:09",
       "'03/05/2004 14:07:09' is no time stamp in the form dd.mm.yyyy hh:mm:ss or yyyy-mm-dd hh:mm:ss"},
  };
  std::string file = "ID,DT,TS\r\n";
  for (std::size_t i = 0; i < std::size(lines); ++i)
    file += std::to_string(i) + "," + lines[i].values + "\r\n";
  WriteFile(folder / "in.csv", file);
  TRefusalRecorder boxes;
  ImportTable(dataSet, Request("D", "in.csv"), progress, boxes);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM D"), "3");
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    const auto refusal = std::find_if(boxes.asked.begin(), boxes.asked.end(), [&](const TRefusedLine& line) {
      return line.lineNumber == static_cast<std::int64_t>(i) + 2 &&
             line.fault == TLineFault::lfUnreadableValue;
    });
    EXPECT_EQ(refusal != boxes.asked.end()
                  ? refusal->reason
                  : Query("SELECT DT || '|' || TS FROM D WHERE ID = " + std::to_string(i)),
              lines[i].outcome)
        << lines[i].values;
  }
}

// Every byte of a line is data: a Ctrl-Z anywhere but as the file's last
// byte, a quote inside an unquoted value or after a closing one. Blank lines
// at the end are no lines.
TEST_P(TableTransferTest, ImportKeepsEveryByteOfALine) {
  MakeDatabase("CREATE TABLE T (K VARCHAR(10) NOT NULL PRIMARY KEY, V VARCHAR(10));\n");
  WriteFile(folder / "in.csv",
            "K,V\r\n"
            "1,a\r\n"
            "\x1a"
            "2,b\r\n"
            "3,c\"d\r\n"
            "4,\"x\"y\r\n"
            "5,e\x1a"
            "f\r\n"
            "\r\n\n\x1a");
  const TTransferResult result = ImportTable(dataSet, Request("T", "in.csv"), progress, messages);
  EXPECT_EQ(result.rows, 5);
  EXPECT_EQ(result.refused, 0);
  const std::pair<const char*, std::string> rows[] = {{"'1'", "a"},
                                                      {"ASCII_CHAR(26) || '2'", "b"},
                                                      {"'3'", "c\"d"},
                                                      {"'4'", "x\"y"},
                                                      {"'5'",
                                                       "e\x1a"
                                                       "f"}};
  for (const auto& [key, value] : rows)
    EXPECT_EQ(Query(std::string("SELECT V FROM T WHERE K = ") + key), value);
}

// A table of one column writes a null as a blank line: such a last line is a row.
TEST_P(TableTransferTest, AOneColumnTableKeepsANullLastRow) {
  MakeDatabase(
      "CREATE TABLE ONE (V VARCHAR(10));\nCREATE TABLE COPY (V VARCHAR(10));\n"
      "INSERT INTO ONE VALUES ('a');\nINSERT INTO ONE VALUES (NULL);\n");
  EXPECT_EQ(Export("ONE", "in.csv"), 2);
  EXPECT_EQ(ReadFile(folder / "in.csv"), "V\r\na\r\n\r\n");
  EXPECT_EQ(Import("COPY"), 2);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM COPY WHERE V IS NULL"), "1");
}

}  // namespace
