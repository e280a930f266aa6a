// Export of a table of a million rows into a CSV file, and import of the
// first 100,000 lines of that file, each printed beside references measured
// in the same run on the same embedded database:
//
//   transfer_bench [exportRows (default 1000000)] [importRows (default 100000)]
//
// Export, against: the client library fetching every row (isc_dsql_fetch, no
// value turned into text), and isql-fb selecting the whole table to
// /dev/null. Import, against: the client library running the same literal
// INSERT texts one statement and one transaction per row (both as
// isc_dsql_execute_immediate and as allocate, prepare, execute, commit and
// drop, which is what the driver does for each line), and one prepared INSERT
// with parameters run for every row in a single transaction (the ceiling).
// The import and the per-row references take turns over tenths of the lines,
// each into a table of its own that starts empty.
// Character sets: export and import of the same table with its text columns
// declared UTF8, through a connection of set UTF8 beside one of set NONE,
// taking turns (embedded, and the import through the loopback server too).
// Everything lives in a temporary folder that is removed at the end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "db/locale_formats.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "db/value_parse.h"
#include "tests/common/test_database.h"
#include "transfer/csv_pieces.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"

namespace {

using bench::Clock;
using bench::Seconds;

constexpr const char* kSource = "BENCH";
constexpr const char* kImported = "BENCH_IMPORT";
constexpr const char* kImmediate = "BENCH_IMMEDIATE";
constexpr const char* kPerRow = "BENCH_PER_ROW";
constexpr const char* kPrepared = "BENCH_PREPARED";
constexpr const char* kUtf8Source = "BENCH_UTF8";
constexpr const char* kUtf8Imported = "BENCH_UTF8_IMPORT";

// The benchmark columns with the text columns declared UTF8.
std::string Utf8Columns() {
  std::string columns = bench::kColumns;
  for (const char* type : {"VARCHAR(40)", "CHAR(8)"}) {
    const std::size_t at = columns.find(type);
    columns.insert(at + std::string(type).size(), " CHARACTER SET UTF8");
  }
  return columns;
}

class CountingProgress : public IProgress {
 public:
  void SetPosition(int position) override {
    ++calls;
    last = position;
  }
  long calls = 0;
  int last = -1;
};

class CountingMessages : public IMessages {
 public:
  void ShowMessage(const std::string& text) override {
    if (text == "Invalid data!") ++invalid;
    last = text;
  }
  long invalid = 0;
  std::string last;
};

double Rate(long rows, double seconds) { return rows / seconds; }

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Report(const char* what, long rows, double seconds) {
  std::printf("  %-44s %8ld rows %8.3f s %10.0f rows/s\n", what, rows, seconds, Rate(rows, seconds));
  std::fflush(stdout);
}

// isql-fb selecting every row of the table, its output thrown away.
double IsqlSelect(const testdb::TestDatabase& database) {
  const auto script = database.Dir() / "select.sql";
  std::ofstream(script) << "SET LIST OFF;\nSET HEADING OFF;\nSELECT * FROM " << kSource << ";\n";
  const std::string command = "isql-fb -q -b -user SYSDBA -password '" + testdb::Password() + "' -i '" +
                              script.string() + "' '" + database.Path() + "' > /dev/null";
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = Seconds(start);
  if (status != 0) throw std::runtime_error("isql-fb failed: " + command);
  return seconds;
}

// The header and the first rows data lines of a file, split into parts
// files of (nearly) equal size, each with the header; returns their names.
std::vector<std::string> SplitHead(const std::filesystem::path& from, long rows, int parts) {
  std::ifstream in(from, std::ios::binary);
  std::string header, line;
  std::getline(in, header);
  std::vector<std::string> names;
  for (int part = 0; part < parts; ++part) {
    names.push_back("import-" + std::to_string(part) + ".csv");
    std::ofstream out(from.parent_path() / names.back(), std::ios::binary);
    out << header << '\n';
    for (long i = rows * part / parts; i < rows * (part + 1) / parts && std::getline(in, line); ++i)
      out << line << '\n';
    if (!out) throw std::runtime_error("cannot write " + names.back());
  }
  return names;
}

// The INSERT texts the import sends for the lines of a file (for the
// benchmark table's columns): pieces bound for number and date columns in the
// server's form, every piece a quoted literal, an empty unquoted piece null.
std::vector<std::string> InsertTexts(const std::filesystem::path& file, const std::string& table) {
  using Reader = std::optional<std::string> (*)(std::string_view);
  const Reader readers[] = {nullptr,         nullptr,         nullptr,       nullptr,
                            ParseNumberText, ParseNumberText, ParseDateText, ParseDateTimeText};
  TTextFile text(file.string());
  text.Reset();
  IOCheck();
  TCsvRecordReader reader(text);
  std::vector<TCsvPiece> pieces;
  reader.Read(pieces);
  std::string head = "INSERT INTO " + table + "(";
  for (std::size_t i = 0; i < pieces.size(); ++i) head += (i ? "," : "") + pieces[i].text;
  head += ") VALUES (";

  std::vector<std::string> texts;
  while (!reader.AtEnd()) {
    reader.Read(pieces);
    std::string statement = head;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i) statement += ", ";
      if (pieces[i].text.empty() && !pieces[i].quoted) {
        statement += "null";
        continue;
      }
      std::optional<std::string> serverForm;
      if (i < std::size(readers) && readers[i]) serverForm = readers[i](pieces[i].text);
      statement += '\'';
      for (char c : serverForm ? *serverForm : pieces[i].text) {
        if (c == '\'') statement += '\'';
        statement += c;
      }
      statement += '\'';
    }
    statement += ')';
    texts.push_back(std::move(statement));
  }
  text.Close();
  IOCheck();
  return texts;
}

// One isc_dsql_execute_immediate per text, each in a transaction of its own.
double ExecuteImmediatePerRow(const bench::FbClient& client, isc_db_handle& db,
                              const std::vector<std::string>& texts) {
  const auto start = Clock::now();
  ISC_STATUS_ARRAY status{};
  for (const auto& text : texts) {
    isc_tr_handle transaction = client.Start(db, false);
    client.executeImmediate(status, &db, &transaction, 0, text.c_str(), 3, nullptr);
    client.Check(status, "execute immediate");
    client.Commit(transaction);
  }
  return Seconds(start);
}

// What the driver does for each statement run at once: a transaction, a
// statement allocated and prepared, its type asked, executed, its row count
// asked, committed, the statement dropped.
double PrepareExecutePerRow(const bench::FbClient& client, isc_db_handle& db,
                            const std::vector<std::string>& texts) {
  std::vector<char> sqldaSpace = bench::NewSqlda(32);
  auto* sqlda = reinterpret_cast<XSQLDA*>(sqldaSpace.data());
  const auto start = Clock::now();
  ISC_STATUS_ARRAY status{};
  char info[64];
  for (const auto& text : texts) {
    isc_tr_handle transaction = client.Start(db, false);
    isc_stmt_handle statement = 0;
    client.allocate(status, &db, &statement);
    client.Check(status, "allocate");
    client.prepare(status, &transaction, &statement, 0, text.c_str(), 3, sqlda);
    client.Check(status, "prepare");
    char typeItem = isc_info_sql_stmt_type;
    client.sqlInfo(status, &statement, 1, &typeItem, sizeof info, info);
    client.Check(status, "statement type");
    client.execute(status, &transaction, &statement, 1, nullptr);
    client.Check(status, "execute");
    char recordsItem = isc_info_sql_records;
    client.sqlInfo(status, &statement, 1, &recordsItem, sizeof info, info);
    client.Check(status, "records");
    client.Commit(transaction);
    client.freeStatement(status, &statement, DSQL_drop);
    client.Check(status, "drop");
  }
  return Seconds(start);
}

// The first rows rows of the source table fetched beforehand; then, timed,
// one INSERT prepared once and executed for each of them with the fetched
// values as its parameters, all in one transaction.
double PreparedInsertOneTransaction(const bench::FbClient& client, const std::string& path, long rows) {
  isc_db_handle db = client.Attach(path, testdb::Password());
  isc_tr_handle transaction = client.Start(db, false);
  ISC_STATUS_ARRAY status{};
  isc_stmt_handle select = 0;
  client.allocate(status, &db, &select);
  client.Check(status, "allocate");
  std::vector<char> sqldaSpace = bench::NewSqlda(32);
  auto* values = reinterpret_cast<XSQLDA*>(sqldaSpace.data());
  const std::string selectText = std::string("select * from ") + kSource;
  client.prepare(status, &transaction, &select, 0, selectText.c_str(), 3, values);
  client.Check(status, "prepare select");
  bench::RowBuffer row(values);
  client.execute(status, &transaction, &select, 1, nullptr);
  client.Check(status, "execute select");
  std::vector<char> stored;
  long fetched = 0;
  while (fetched < rows && client.fetch(status, &select, 1, values) == 0) {
    stored.insert(stored.end(), row.Bytes().begin(), row.Bytes().end());
    ++fetched;
  }
  client.freeStatement(status, &select, DSQL_drop);
  if (fetched != rows) throw std::runtime_error("the source table has too few rows");

  std::string insertText = std::string("insert into ") + kPrepared + " values (";
  for (int i = 0; i < values->sqld; ++i) insertText += i ? ", ?" : "?";
  insertText += ')';
  const auto start = Clock::now();
  isc_stmt_handle insert = 0;
  client.allocate(status, &db, &insert);
  client.Check(status, "allocate");
  client.prepare(status, &transaction, &insert, 0, insertText.c_str(), 3, nullptr);
  client.Check(status, "prepare insert");
  const std::size_t rowSize = row.Bytes().size();
  for (long i = 0; i < rows; ++i) {
    std::copy_n(stored.data() + i * rowSize, rowSize, row.Bytes().data());
    client.execute(status, &transaction, &insert, 1, values);
    client.Check(status, "execute insert");
  }
  client.freeStatement(status, &insert, DSQL_drop);
  client.Commit(transaction);
  const double seconds = Seconds(start);
  client.Detach(db);
  return seconds;
}

// Export of kUtf8Source and import of the first importRows lines of that
// export into kUtf8Imported, through a connection of set NONE and one of set
// UTF8 in turns, each timed over all its turns; the import also through the
// server when there is one.
bool CompareCharSets(const testdb::TestDatabase& database, long importRows) {
  const char* const charSets[] = {"NONE", "UTF8"};
  constexpr int kTurns = 5;
  double exportSeconds[2] = {}, importSeconds[2] = {}, serverSeconds[2] = {};
  long exported[2] = {}, imported[2] = {}, serverImported[2] = {};
  std::string files[2];
  CountingProgress progress;
  CountingMessages messages;
  auto run = [&](const std::string& databaseName, int set, bool exporting, const std::string& fileName) {
    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", databaseName);
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    connection.Params().SetValue("ServerCharSet", charSets[set]);
    connection.SetConnected(true);
    TSQLDataSet dataSet("sdsTable", &connection);
    if (!exporting) {
      dataSet.SetCommandText(std::string("DELETE FROM ") + kUtf8Imported);
      dataSet.RunDirect();
    }
    TTransferRequest request{database.Dir().string(), fileName, exporting ? kUtf8Source : kUtf8Imported};
    const auto start = Clock::now();
    const long rows = exporting ? ExportTable(dataSet, request, progress, messages).rows
                                : ImportTable(dataSet, request, progress, messages).rows;
    const double seconds = Seconds(start);
    connection.SetConnected(false);
    return std::pair(rows, seconds);
  };
  for (int turn = 0; turn < 2 * kTurns; ++turn) {
    const int set = turn % 2;
    files[set] = std::string("charset-") + charSets[set] + ".csv";
    const auto [rows, seconds] = run(database.Path(), set, true, files[set]);
    exported[set] += rows;
    exportSeconds[set] += seconds;
  }
  if (ReadFileBytes(database.Dir() / files[0]) != ReadFileBytes(database.Dir() / files[1])) {
    std::fprintf(stderr, "transfer_bench: the files through NONE and UTF8 differ\n");
    return false;
  }
  const std::string head = SplitHead(database.Dir() / files[1], importRows, 1).front();
  for (int turn = 0; turn < 2 * kTurns; ++turn) {
    const int set = (turn + 1) % 2;
    const auto [rows, seconds] = run(database.Path(), set, false, head);
    imported[set] += rows;
    importSeconds[set] += seconds;
  }
  const bool throughServer = !testdb::Server().empty();
  for (int turn = 0; throughServer && turn < 2 * kTurns; ++turn) {
    const int set = turn % 2;
    const auto [rows, seconds] = run(testdb::Server() + ":" + database.Path(), set, false, head);
    serverImported[set] += rows;
    serverSeconds[set] += seconds;
  }

  std::printf("character sets: %s with its text columns declared UTF8, %d turns each\n", kUtf8Source, kTurns);
  auto compare = [&charSets](const char* what, const long rows[2], const double seconds[2]) {
    for (int set = 0; set < 2; ++set) {
      Report((std::string(what) + " through " + charSets[set]).c_str(), rows[set], seconds[set]);
    }
    std::printf("  => UTF8 at %.1f%% of NONE's rate (goal >= 95%%)\n",
                100.0 * Rate(rows[1], seconds[1]) / Rate(rows[0], seconds[0]));
  };
  compare("ExportTable", exported, exportSeconds);
  compare("ImportTable", imported, importSeconds);
  if (throughServer) compare("ImportTable (server)", serverImported, serverSeconds);
  return exported[0] == exported[1] && imported[0] == imported[1] && imported[0] == kTurns * importRows &&
         serverImported[0] == serverImported[1];
}

std::int64_t CountRows(TSQLDataSet& dataSet, const std::string& table) {
  dataSet.SetActive(false);
  dataSet.SetCommandType(ctTable);
  dataSet.SetCommandText(table);
  dataSet.SetActive(true);
  const std::int64_t count = dataSet.CountRecords();
  dataSet.SetActive(false);
  return count;
}

}  // namespace

// The resident set's high-water mark (VmHWM) in KB.
long HighWaterKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int main(int argc, char** argv) {
  const long exportRows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long importRows = std::min(argc > 2 ? std::atol(argv[2]) : 100000, exportRows);
  if (exportRows <= 0 || importRows <= 0) {
    std::fprintf(stderr, "usage: transfer_bench [exportRows] [importRows]\n");
    return 2;
  }
  SetUpProcessLocale(TFormatsSource::fsUserLocale);
  try {
    std::printf("transfer_bench: export %ld rows, import %ld rows, embedded database, dates as %s\n",
                exportRows, importRows, LocaleFormats().ShortDateFormat.c_str());
    auto start = Clock::now();
    std::string setup = bench::FillScript(kSource, exportRows);
    for (const char* table : {kImported, kImmediate, kPerRow, kPrepared})
      setup += std::string("CREATE TABLE ") + table + " " + bench::kColumns + ";\n";
    for (const char* table : {kUtf8Source, kUtf8Imported})
      setup += std::string("CREATE TABLE ") + table + " " + Utf8Columns() + ";\n";
    setup += std::string("COMMIT;\nINSERT INTO ") + kUtf8Source + " SELECT * FROM " + kSource + ";\n";
    testdb::TestDatabase database(false, setup);
    std::printf("creating the tables: %.1f s\n", Seconds(start));
    const std::string& path = database.Path();
    bench::FbClient client;

    std::printf("export of %s\n", kSource);
    long checksum = 0;
    auto sum = [&checksum](bench::RowBuffer& row) { checksum += row.Bytes()[0]; };
    bench::RawFetch(client, path, testdb::Password(), kSource, -1, sum);  // warms the file cache
    start = Clock::now();
    const long rawRows = bench::RawFetch(client, path, testdb::Password(), kSource, -1, sum);
    const double rawSeconds = Seconds(start);
    Report("raw isc_dsql_fetch (attach included)", rawRows, rawSeconds);
    const double isqlSeconds = IsqlSelect(database);
    Report("isql-fb SELECT * > /dev/null (process)", rawRows, isqlSeconds);

    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", path);
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    TSQLDataSet dataSet("sdsTable", &connection);
    TTransferRequest request{database.Dir().string(), "bench.csv", kSource};
    connection.SetConnected(true);

    CountingProgress progress;
    CountingMessages messages;
    start = Clock::now();
    const auto exported = ExportTable(dataSet, request, progress, messages).rows;
    const double exportSeconds = Seconds(start);
    const auto csv = database.Dir() / request.fileName;
    const auto csvBytes = std::filesystem::file_size(csv);
    Report("ExportTable (connection open)", exported, exportSeconds);
    const double exportRate = Rate(exported, exportSeconds);
    std::printf("  => %.1f%% of the raw fetch (goal 85%%), %.2fx isql-fb (goal > 1)\n",
                100.0 * exportRate / Rate(rawRows, rawSeconds), exportRate / Rate(rawRows, isqlSeconds));
    std::printf("  CSV file %.1f MB, %.1f MB/s; %ld progress calls, last at %d\n", csvBytes / 1e6,
                csvBytes / 1e6 / exportSeconds, progress.calls, progress.last);

    // Each commit waits for the disk, whose speed drifts with whatever else
    // runs on the machine: the import and the per-row references take turns
    // over the same parts of the file, each into its own table.
    const int rounds = static_cast<int>(std::min(10L, importRows));
    std::printf("import of the first %ld lines into empty tables, in %d alternating rounds\n", importRows,
                rounds);
    request.tableName = kImported;
    const std::vector<std::string> parts = SplitHead(csv, importRows, rounds);
    isc_db_handle db = client.Attach(path, testdb::Password());
    double importSeconds = 0, immediateSeconds = 0, perRowSeconds = 0;
    long imported = 0, immediateRows = 0, perRowRows = 0;
    for (int round = 0; round < rounds; ++round) {
      request.fileName = parts[round];
      const auto part = database.Dir() / parts[round];
      const std::vector<std::string> immediateTexts = InsertTexts(part, kImmediate);
      const std::vector<std::string> perRowTexts = InsertTexts(part, kPerRow);
      immediateRows += static_cast<long>(immediateTexts.size());
      perRowRows += static_cast<long>(perRowTexts.size());
      for (int turn = 0; turn < 3; ++turn) {
        switch ((round + turn) % 3) {
          case 0:
            start = Clock::now();
            imported += ImportTable(dataSet, request, progress, messages).rows;
            importSeconds += Seconds(start);
            break;
          case 1:
            immediateSeconds += ExecuteImmediatePerRow(client, db, immediateTexts);
            break;
          default:
            perRowSeconds += PrepareExecutePerRow(client, db, perRowTexts);
            break;
        }
      }
    }
    client.Detach(db);
    const double preparedSeconds = PreparedInsertOneTransaction(client, path, importRows);
    Report("client: execute_immediate + commit per row", immediateRows, immediateSeconds);
    Report("client: prepare/execute/commit/drop per row", perRowRows, perRowSeconds);
    Report("client: one prepared INSERT, one transaction", importRows, preparedSeconds);
    Report("ImportTable", imported, importSeconds);
    const double importRate = Rate(imported, importSeconds);
    std::printf(
        "  => %.1f%% of execute_immediate per row, %.1f%% of prepare/execute per row (goal >= 90%%),\n"
        "     %.1f%% of the prepared ceiling (goal >= 50%%); %ld \"Invalid data!\"\n",
        100.0 * importRate / Rate(immediateRows, immediateSeconds),
        100.0 * importRate / Rate(perRowRows, perRowSeconds),
        100.0 * importRate / Rate(importRows, preparedSeconds), messages.invalid);

    long serverImported = 0;
    if (!testdb::Server().empty()) {
      // The same lines through the loopback server, beside one prepared
      // INSERT executed per row in one transaction over the same loopback.
      connection.SetConnected(false);
      const std::string remote = testdb::Server() + ":" + path;
      TSQLConnection server("scnServer");
      server.Params().SetValue("Database", remote);
      server.Params().SetValue("User_Name", "SYSDBA");
      server.Params().SetValue("Password", testdb::Password());
      TSQLDataSet serverSet("sdsServer", &server);
      for (const char* table : {kImported, kPrepared}) {
        serverSet.SetCommandType(ctQuery);
        serverSet.SetCommandText(std::string("DELETE FROM ") + table);
        serverSet.RunDirect();
      }
      request.fileName = SplitHead(csv, importRows, 1).front();
      start = Clock::now();
      serverImported = ImportTable(serverSet, request, progress, messages).rows;
      const double serverSeconds = Seconds(start);
      server.SetConnected(false);
      const double serverPrepared = PreparedInsertOneTransaction(client, remote, importRows);
      std::printf("import of the first %ld lines through the loopback server %s\n", importRows,
                  testdb::Server().c_str());
      Report("client: one prepared INSERT per row, one transaction", importRows, serverPrepared);
      Report("ImportTable (server)", serverImported, serverSeconds);
      std::printf("  => %.2fx the prepared INSERT per row (goal >= 2)\n",
                  Rate(serverImported, serverSeconds) / Rate(importRows, serverPrepared));
    }

    // The whole file into an empty table, with the peak memory of that
    // import alone (the kernel's high-water mark is reset first).
    long wholeImported = 0;
    {
      if (!connection.Connected()) connection.SetConnected(true);
      TSQLDataSet clear("", &connection);
      clear.SetCommandText(std::string("DELETE FROM ") + kImported);
      clear.RunDirect();
      std::ofstream("/proc/self/clear_refs") << "5";
      request.fileName = "bench.csv";
      start = Clock::now();
      wholeImported = ImportTable(dataSet, request, progress, messages).rows;
      const double wholeSeconds = Seconds(start);
      std::printf("import of the whole file (%ld lines), embedded\n", exportRows);
      Report("ImportTable", wholeImported, wholeSeconds);
      std::printf("  peak RSS during this import %ld KB (goal < 100 MB)\n", HighWaterKb());
    }

    connection.SetConnected(false);
    const bool charSetsAgree = CompareCharSets(database, importRows);
    connection.SetConnected(true);

    std::printf("rows in the tables:");
    for (const char* table : {kImported, kImmediate, kPerRow, kPrepared})
      std::printf(" %s %lld", table, static_cast<long long>(CountRows(dataSet, table)));
    std::printf("\n(checksum %ld, peak RSS %ld KB)\n", checksum, bench::PeakRssKb());
    connection.SetConnected(false);
    if (!charSetsAgree || exported != rawRows || imported != importRows || wholeImported != exportRows ||
        messages.invalid != 0 ||
        (!testdb::Server().empty() && serverImported != importRows)) {
      std::fprintf(stderr, "transfer_bench: row counts differ\n");
      return 1;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "transfer_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
