// Export and import, each printed beside references measured in the same
// run, on databases made for the run:
//
//   transfer_bench [exportRows (default 1000000)] [importRows (default 100000)] [PART...]
//
// PART: export, import, server or charsets (default: all of them).
//
// Embedded: the export of a table of exportRows rows against the client
// library fetching every row (isc_dsql_fetch, no value turned into text) and
// isql-fb selecting the table to /dev/null; the import of its first
// importRows lines against one prepared INSERT executed for every row in a
// single transaction (the ceiling), taking turns, each into a table of its
// own that starts empty; the peak memory of the whole export and of the
// import of the whole file; the export into a .zst file beside the plain one.
// Through the loopback server named by FB_TEST_SERVER, when there is one: a
// table of short notes as a text blob (BT) and the same as VARCHAR (NB),
// exported and imported, against the client library's fetch over the same
// loopback and isql-fb.
// Character sets: export and import of the same table with its text columns
// declared UTF8, through a connection of set UTF8 beside one of set NONE,
// taking turns (embedded, and the import through the loopback server too).
// Everything lives in a temporary folder that is removed at the end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "db/locale_formats.h"
#include "db/sql_command.h"
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
constexpr const char* kPrepared = "BENCH_PREPARED";
constexpr int kImportTurns = 3;
constexpr long kNoteRows = 200000;
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

// Whether two files hold the same bytes, read a piece at a time so that the
// process's peak memory stays the transfers' own.
bool SameBytes(const std::filesystem::path& one, const std::filesystem::path& other) {
  std::ifstream a(one, std::ios::binary), b(other, std::ios::binary);
  std::vector<char> x(1 << 20), y(1 << 20);
  while (a && b) {
    a.read(x.data(), static_cast<std::streamsize>(x.size()));
    b.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (a.gcount() != b.gcount() || !std::equal(x.begin(), x.begin() + a.gcount(), y.begin())) return false;
  }
  return !a && !b;
}

// Adds the processor seconds used since before to sum.
void AddCpu(bench::CpuSeconds& sum, const bench::CpuSeconds& before) {
  const bench::CpuSeconds after = bench::CpuUsed();
  sum.self += after.self - before.self;
  sum.server = before.server < 0 ? -1 : std::max(sum.server, 0.0) + after.server - before.server;
}

// The cores the processor seconds kept busy over seconds: this process's and the server's.
std::string CoresText(const bench::CpuSeconds& cpu, double seconds) {
  char text[64];
  if (cpu.server < 0) {
    std::snprintf(text, sizeof text, "%.2f", cpu.self / seconds);
  } else {
    std::snprintf(text, sizeof text, "%.2f (client %.2f)", (cpu.self + cpu.server) / seconds,
                  cpu.self / seconds);
  }
  return text;
}

void Report(const char* what, long rows, double seconds) {
  std::printf("  %-44s %8ld rows %8.3f s %10.0f rows/s\n", what, rows, seconds, Rate(rows, seconds));
  std::fflush(stdout);
}

// isql-fb selecting every row of table of database (a path, or host:path),
// its output thrown away.
double IsqlSelect(const std::filesystem::path& folder, const std::string& database,
                  const std::string& table) {
  const auto script = folder / "select.sql";
  std::ofstream(script) << "SET LIST OFF;\nSET HEADING OFF;\nSELECT * FROM " << table << ";\n";
  const std::string command = "isql-fb -q -b -user SYSDBA -password '" + testdb::Password() + "' -i '" +
                              script.string() + "' '" + database + "' > /dev/null";
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

// The first rows rows of the source table fetched beforehand; then, timed,
// one INSERT prepared once and executed for each of them with the fetched
// values as its parameters, all in one transaction.
double PreparedInsertOneTransaction(const bench::FbClient& client, const std::string& path, long rows,
                                    const std::string& target) {
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

  std::string insertText = "insert into " + target + " values (";
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
      TSQLCommand clear(connection);
      clear.Prepare(std::string("DELETE FROM ") + kUtf8Imported);
      clear.Run();
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
  if (!SameBytes(database.Dir() / files[0], database.Dir() / files[1])) {
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

// The resident set's high-water mark (VmHWM) in KB.
long HighWaterKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The notes tables through the server: NB holds a note of about 50 bytes
// as VARCHAR, BT the same as a text blob; *_IMPORTn are empty copies, one
// for each turn (a table emptied by DELETE would make each import pay for
// collecting the rows and blobs deleted before it).
std::string NotesScript() {
  const char* const columns =
      "(ID INTEGER NOT NULL, NAME VARCHAR(40), AMOUNT NUMERIC(15,2), DAY_ DATE, STAMP TIMESTAMP, TXT ";
  std::string script;
  for (const char* table : {"NB", "NB_IMPORT0", "NB_IMPORT1", "NB_IMPORT2"})
    script += std::string("CREATE TABLE ") + table + columns + "VARCHAR(200));\n";
  for (const char* table : {"BT", "BT_IMPORT0", "BT_IMPORT1", "BT_IMPORT2"})
    script += std::string("CREATE TABLE ") + table + columns + "BLOB SUB_TYPE TEXT);\n";
  return script + "COMMIT;\nSET TERM ^ ;\nEXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " +
         std::to_string(kNoteRows) +
         ") DO BEGIN INSERT INTO NB VALUES (:I, 'customer ' || :I, :I / 100.0, DATEADD(MOD(:I, 3650) DAY TO "
         "DATE '2000-01-01'), DATEADD(:I SECOND TO TIMESTAMP '2010-06-01 08:00:00'), 'a note of about fifty "
         "bytes for the row number ' || :I); I = I + 1; END END^\nSET TERM ; ^\nINSERT INTO BT SELECT * FROM "
         "NB;\n";
}

// Export and import of NB and BT through the loopback server, taking turns.
bool CompareNotes(const testdb::TestDatabase& database, const bench::FbClient& client) {
  const std::string remote = testdb::Server() + ":" + database.Path();
  TSQLConnection server("scnServer");
  server.Params().SetValue("Database", remote);
  server.Params().SetValue("User_Name", "SYSDBA");
  server.Params().SetValue("Password", testdb::Password());
  server.SetConnected(true);
  TSQLDataSet dataSet("sdsServer", &server);
  CountingProgress progress;
  CountingMessages messages;
  const char* const tables[] = {"NB", "BT"};
  constexpr int kTurns = 3;
  double exportSeconds[2] = {}, importSeconds[2] = {}, rawSeconds = 0, nextSeconds = 0;
  long exported[2] = {}, imported[2] = {}, rawRows = 0, nextRows = 0, keyedRows = 0;
  // Processor seconds of this process and of the server, for the raw fetch
  // (also with each row's key, as the export reads it) and the export of NB.
  bench::CpuSeconds rawCpu, keyedCpu, exportCpu;
  // The machine's speed drifts: the raw fetch and the exports take turns.
  for (int turn = 0; turn < kTurns; ++turn) {
    bench::CpuSeconds before = bench::CpuUsed();
    auto start = Clock::now();
    rawRows += bench::RawFetch(client, remote, testdb::Password(), "NB", -1, [](bench::RowBuffer&) {});
    rawSeconds += Seconds(start);
    AddCpu(rawCpu, before);
    start = Clock::now();
    nextRows += bench::RawFetchNext(client, remote, testdb::Password(), "NB");
    nextSeconds += Seconds(start);
    before = bench::CpuUsed();
    keyedRows += bench::RawFetchNext(client, remote, testdb::Password(), "NB", true);
    AddCpu(keyedCpu, before);
    for (int t = 0; t < 2; ++t) {
      TTransferRequest request{database.Dir().string(), std::string(tables[t]) + ".csv", tables[t]};
      before = bench::CpuUsed();
      start = Clock::now();
      exported[t] += ExportTable(dataSet, request, progress, messages).rows;
      exportSeconds[t] += Seconds(start);
      if (t == 0) AddCpu(exportCpu, before);
    }
  }
  const double isqlSeconds = IsqlSelect(database.Dir(), remote, "BT");
  const bool sameFiles = SameBytes(database.Dir() / "NB.csv", database.Dir() / "BT.csv");
  for (int turn = 0; turn < 2 * kTurns; ++turn) {
    const int t = (turn + 1) % 2;
    const std::string target = std::string(tables[t]) + "_IMPORT" + std::to_string(turn / 2);
    TTransferRequest request{database.Dir().string(), std::string(tables[t]) + ".csv", target};
    const auto start = Clock::now();
    imported[t] += ImportTable(dataSet, request, progress, messages).rows;
    importSeconds[t] += Seconds(start);
  }
  server.SetConnected(false);

  std::printf(
      "through the loopback server %s: notes as VARCHAR (NB) and as a text blob (BT), %ld rows, %d turns\n",
      testdb::Server().c_str(), kNoteRows, kTurns);
  Report("raw isc_dsql_fetch of NB (attach included)", rawRows, rawSeconds);
  Report("raw IResultSet::fetchNext of NB (attach incl.)", nextRows, nextSeconds);
  Report("isql-fb SELECT * FROM BT > /dev/null", kNoteRows, isqlSeconds);
  Report("ExportTable NB", exported[0], exportSeconds[0]);
  Report("ExportTable BT", exported[1], exportSeconds[1]);
  Report("ImportTable NB", imported[0], importSeconds[0]);
  Report("ImportTable BT", imported[1], importSeconds[1]);
  std::printf(
      "  => export NB at %.1f%% of the raw fetch (%.1f%% of fetchNext, goal >= 80%%); BT takes %.2fx NB's "
      "time (goal <= 2),\n"
      "     BT %.2fx as fast as isql-fb (goal >= 3); import BT at %.1f%% of NB's rate (goal >= 70%%)\n",
      100.0 * Rate(exported[0], exportSeconds[0]) / Rate(rawRows, rawSeconds),
      100.0 * Rate(exported[0], exportSeconds[0]) / Rate(nextRows, nextSeconds),
      exportSeconds[1] / exportSeconds[0], Rate(exported[1], exportSeconds[1]) / Rate(kNoteRows, isqlSeconds),
      100.0 * Rate(imported[1], importSeconds[1]) / Rate(imported[0], importSeconds[0]));
  // On a machine of few cores the raw fetch alone may keep them all busy
  // (the client, and the server working ahead of it): then every
  // instruction spent on the values lengthens the export.
  std::printf("     cores kept busy: raw fetch %s, export NB %s, of %ld on this machine\n",
              CoresText(rawCpu, rawSeconds).c_str(), CoresText(exportCpu, exportSeconds[0]).c_str(),
              sysconf(_SC_NPROCESSORS_ONLN));
  if (rawCpu.server >= 0 && exportCpu.server >= 0) {
    const double rawPerRow = 1e6 * rawCpu.server / static_cast<double>(rawRows);
    const double keyedPerRow = 1e6 * keyedCpu.server / static_cast<double>(keyedRows);
    const double exportPerRow = 1e6 * exportCpu.server / static_cast<double>(exported[0]);
    std::printf(
        "     server processor time per row: raw fetch %.2f us, with RDB$DB_KEY %.2f us, export NB %.2f us\n"
        "     (%+.1f%% of the raw fetch's, goal within 10%%; %+.1f%% of the keyed fetch's)\n",
        rawPerRow, keyedPerRow, exportPerRow, 100.0 * (exportPerRow / rawPerRow - 1),
        100.0 * (exportPerRow / keyedPerRow - 1));
  }
  if (!sameFiles) std::fprintf(stderr, "transfer_bench: the files of NB and BT differ\n");
  return sameFiles && exported[0] == exported[1] && imported[0] == imported[1] &&
         imported[0] == kTurns * kNoteRows;
}

}  // namespace

int main(int argc, char** argv) {
  const long exportRows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long importRows = std::min(argc > 2 ? std::atol(argv[2]) : 100000, exportRows);
  if (exportRows <= 0 || importRows <= 0) {
    std::fprintf(stderr, "usage: transfer_bench [exportRows] [importRows]\n");
    return 2;
  }
  std::vector<std::string> parts(argv + std::min(argc, 3), argv + argc);
  auto runs = [&parts](const char* part) {
    return parts.empty() || std::find(parts.begin(), parts.end(), part) != parts.end();
  };
  SetUpProcessLocale(TFormatsSource::fsUserLocale);
  const bool throughServer = !testdb::Server().empty() && runs("server");
  try {
    std::printf("transfer_bench: export %ld rows, import %ld rows, embedded database, dates as %s\n",
                exportRows, importRows, LocaleFormats().ShortDateFormat.c_str());
    auto start = Clock::now();
    std::string setup = bench::FillScript(kSource, exportRows);
    for (int turn = 0; turn < kImportTurns; ++turn) {
      for (const char* table : {kImported, kPrepared})
        setup += "CREATE TABLE " + std::string(table) + std::to_string(turn) + " " + bench::kColumns + ";\n";
    }
    for (const char* table : {kUtf8Source, kUtf8Imported})
      setup += std::string("CREATE TABLE ") + table + " " + Utf8Columns() + ";\n";
    setup += std::string("COMMIT;\nINSERT INTO ") + kUtf8Source + " SELECT * FROM " + kSource + ";\n";
    if (throughServer) setup += NotesScript();
    testdb::TestDatabase database(false, setup);
    std::printf("creating the tables: %.1f s\n", Seconds(start));
    const std::string& path = database.Path();
    bench::FbClient client;

    std::printf("export of %s, embedded\n", kSource);
    long checksum = 0;
    auto sum = [&checksum](bench::RowBuffer& row) { checksum += row.Bytes()[0]; };
    bench::RawFetch(client, path, testdb::Password(), kSource, -1, sum);  // warms the file cache
    const double isqlSeconds = IsqlSelect(database.Dir(), path, kSource);
    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", path);
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    TSQLDataSet dataSet("sdsTable", &connection);
    TTransferRequest request{database.Dir().string(), "bench.csv", kSource};
    connection.SetConnected(true);
    CountingProgress progress;
    CountingMessages messages;
    // The machine's speed drifts: the raw fetch and the export take turns.
    constexpr int kExportTurns = 3;
    long rawRows = 0, nextRows = 0, keyedRows = 0, exported = 0, exportPeakKb = 0, packedExported = 0;
    double rawSeconds = 0, nextSeconds = 0, keyedSeconds = 0, exportSeconds = 0, packedSeconds = 0;
    TTransferRequest packedRequest{database.Dir().string(), "bench.csv.zst", kSource};
    bench::CpuSeconds rawCpu, exportCpu;
    for (int turn = 0; turn < kExportTurns; ++turn) {
      bench::CpuSeconds before = bench::CpuUsed();
      start = Clock::now();
      rawRows += bench::RawFetch(client, path, testdb::Password(), kSource, -1, sum);
      rawSeconds += Seconds(start);
      AddCpu(rawCpu, before);
      start = Clock::now();
      nextRows += bench::RawFetchNext(client, path, testdb::Password(), kSource);
      nextSeconds += Seconds(start);
      start = Clock::now();
      keyedRows += bench::RawFetchNext(client, path, testdb::Password(), kSource, true);
      keyedSeconds += Seconds(start);
      std::ofstream("/proc/self/clear_refs") << "5";
      before = bench::CpuUsed();
      start = Clock::now();
      exported += ExportTable(dataSet, request, progress, messages).rows;
      exportSeconds += Seconds(start);
      AddCpu(exportCpu, before);
      exportPeakKb = std::max(exportPeakKb, HighWaterKb());
      start = Clock::now();
      packedExported += ExportTable(dataSet, packedRequest, progress, messages).rows;
      packedSeconds += Seconds(start);
    }
    Report("raw isc_dsql_fetch (attach included)", rawRows, rawSeconds);
    Report("raw IResultSet::fetchNext (attach incl.)", nextRows, nextSeconds);
    Report("raw fetchNext with RDB$DB_KEY (attach incl.)", keyedRows, keyedSeconds);
    Report("isql-fb SELECT * > /dev/null (process)", rawRows / kExportTurns, isqlSeconds);
    const auto csv = database.Dir() / request.fileName;
    const auto csvBytes = std::filesystem::file_size(csv);
    Report("ExportTable (connection open)", exported, exportSeconds);
    const double exportRate = Rate(exported, exportSeconds);
    std::printf(
        "  => %.1f%% of the raw fetch (%.1f%% of fetchNext, which the driver uses: goal >= 90%%), %.2fx "
        "isql-fb; %d turns each\n",
        100.0 * exportRate / Rate(rawRows, rawSeconds), 100.0 * exportRate / Rate(nextRows, nextSeconds),
        exportRate / Rate(rawRows / kExportTurns, isqlSeconds), kExportTurns);
    // The export reads each row's key for its bar: the fetch of the same columns.
    std::printf(
        "     %.1f%% of fetchNext with RDB$DB_KEY, which the export reads; the key costs the fetch %.1f%%\n",
        100.0 * exportRate / Rate(keyedRows, keyedSeconds),
        100.0 * (1 - Rate(keyedRows, keyedSeconds) / Rate(nextRows, nextSeconds)));
    std::printf("  cores kept busy: raw fetch %s, export %s\n", CoresText(rawCpu, rawSeconds).c_str(),
                CoresText(exportCpu, exportSeconds).c_str());
    std::printf(
        "  CSV file %.1f MB, %.1f MB/s; %ld progress calls, last at %d; peak RSS %ld KB (goal < 100 MB)\n",
        csvBytes / 1e6, csvBytes / 1e6 / (exportSeconds / kExportTurns), progress.calls / kExportTurns,
        progress.last, exportPeakKb);
    Report("ExportTable into .zst", packedExported, packedSeconds);
    std::printf("  => %.2fx the plain export's time (goal <= 1.3x); file %.1f MB, %.1f%% of the plain one\n",
                packedSeconds / exportSeconds,
                std::filesystem::file_size(database.Dir() / "bench.csv.zst") / 1e6,
                100.0 * std::filesystem::file_size(database.Dir() / "bench.csv.zst") / csvBytes);

    long imported = kImportTurns * importRows, wholeImported = exportRows;
    if (runs("import")) {
      // Each commit waits for the disk, whose speed drifts with whatever else
      // runs on the machine: the import and the prepared ceiling take turns,
      // each into a table of its own that starts empty.
      std::printf("import of the first %ld lines into empty tables, embedded, %d turns each\n", importRows,
                  kImportTurns);
      request.fileName = SplitHead(csv, importRows, 1).front();
      double importSeconds = 0, preparedSeconds = 0;
      imported = 0;
      for (int turn = 0; turn < kImportTurns; ++turn) {
        connection.SetConnected(false);
        preparedSeconds +=
            PreparedInsertOneTransaction(client, path, importRows, kPrepared + std::to_string(turn));
        connection.SetConnected(true);
        request.tableName = kImported + std::to_string(turn);
        start = Clock::now();
        imported += ImportTable(dataSet, request, progress, messages).rows;
        importSeconds += Seconds(start);
      }
      Report("client: one prepared INSERT, one transaction", kImportTurns * importRows, preparedSeconds);
      Report("ImportTable", imported, importSeconds);
      std::printf("  => %.1f%% of the prepared ceiling (goal >= 70%%); %ld \"Invalid data!\"\n",
                  100.0 * Rate(imported, importSeconds) / Rate(kImportTurns * importRows, preparedSeconds),
                  messages.invalid);

      // The whole file into an empty table, with the peak memory of that
      // import alone (the kernel's high-water mark is reset first).
      wholeImported = 0;
      {
        TSQLCommand clear(connection);
        clear.Prepare(std::string("DELETE FROM ") + kImported + "0");
        clear.Run();
        std::ofstream("/proc/self/clear_refs") << "5";
        request.fileName = "bench.csv";
        request.tableName = kImported + std::string("0");
        start = Clock::now();
        wholeImported = ImportTable(dataSet, request, progress, messages).rows;
        const double wholeSeconds = Seconds(start);
        std::printf("import of the whole file (%ld lines), embedded\n", exportRows);
        Report("ImportTable", wholeImported, wholeSeconds);
        std::printf("  peak RSS during this import %ld KB (goal < 100 MB)\n", HighWaterKb());
      }
    }
    connection.SetConnected(false);

    const bool notesAgree = !throughServer || CompareNotes(database, client);
    const bool charSetsAgree = !runs("charsets") || CompareCharSets(database, importRows);
    std::printf("(checksum %ld, peak RSS %ld KB)\n", checksum, bench::PeakRssKb());
    if (!charSetsAgree || !notesAgree || exported != rawRows || packedExported != exported ||
        imported != kImportTurns * importRows || wholeImported != exportRows || messages.invalid != 0) {
      std::fprintf(stderr, "transfer_bench: row counts differ\n");
      return 1;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "transfer_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
