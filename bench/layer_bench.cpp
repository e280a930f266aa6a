// Reading a table of a million rows through the database layer, beside a raw
// fetch of the same rows through the Firebird client library in the same run.
//
//   layer_bench [rows]      (default 1000000; an embedded database in /tmp)
//
// Prints rows per second of: the raw isc_dsql_fetch loop; the layer reading
// every value of every row; the layer turning every value into its text (as
// an export does); and the peak resident memory.
#include <dlfcn.h>
#include <ibase.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "tests/common/test_database.h"

namespace {

constexpr const char* kTable = "BENCH_ROWS";

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Report(const char* what, long rows, double seconds, double reference) {
  std::printf("%-34s %9ld rows  %7.3f s  %11.0f rows/s", what, rows, seconds, rows / seconds);
  if (reference > 0) std::printf("  %5.1f%% of raw", 100.0 * (rows / seconds) / reference);
  std::printf("\n");
}

std::string FillScript(long rows) {
  return "CREATE TABLE " + std::string(kTable) +
         " (ID INTEGER NOT NULL, BIG BIGINT, NAME VARCHAR(40), CODE CHAR(8),\n"
         "  AMOUNT NUMERIC(12,2), RATIO DOUBLE PRECISION, DAY_ DATE, STAMP TIMESTAMP);\n"
         "COMMIT;\n"
         "SET TERM ^ ;\n"
         "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN\n"
         "  WHILE (I < " +
         std::to_string(rows) +
         ") DO BEGIN\n"
         "    INSERT INTO " +
         kTable +
         " VALUES (:I, :I * 1000003, 'customer name number ' || :I, 'C' || MOD(:I, 1000),\n"
         "      :I / 100.0, :I / 7.0, DATEADD(MOD(:I, 3650) DAY TO DATE '2000-01-01'),\n"
         "      DATEADD(:I SECOND TO TIMESTAMP '2010-06-01 08:00:00'));\n"
         "    I = I + 1;\n"
         "  END\n"
         "END^\n"
         "SET TERM ; ^\n";
}

// The same rows through the client library's own fetch loop.
long RawFetch(const std::string& path, long& checksum) {
  void* client = dlopen("libfbclient.so.2", RTLD_NOW);
  if (!client) throw std::runtime_error(dlerror());
  auto attach = reinterpret_cast<decltype(&isc_attach_database)>(dlsym(client, "isc_attach_database"));
  auto detach = reinterpret_cast<decltype(&isc_detach_database)>(dlsym(client, "isc_detach_database"));
  auto startMultiple = reinterpret_cast<decltype(&isc_start_multiple)>(dlsym(client, "isc_start_multiple"));
  auto commit = reinterpret_cast<decltype(&isc_commit_transaction)>(dlsym(client, "isc_commit_transaction"));
  auto allocate =
      reinterpret_cast<decltype(&isc_dsql_allocate_statement)>(dlsym(client, "isc_dsql_allocate_statement"));
  auto prepare = reinterpret_cast<decltype(&isc_dsql_prepare)>(dlsym(client, "isc_dsql_prepare"));
  auto execute = reinterpret_cast<decltype(&isc_dsql_execute)>(dlsym(client, "isc_dsql_execute"));
  auto fetch = reinterpret_cast<decltype(&isc_dsql_fetch)>(dlsym(client, "isc_dsql_fetch"));
  auto freeStatement =
      reinterpret_cast<decltype(&isc_dsql_free_statement)>(dlsym(client, "isc_dsql_free_statement"));

  ISC_STATUS_ARRAY status{};
  auto check = [&status](const char* step) {
    if (status[0] == 1 && status[1] != 0)
      throw std::runtime_error(std::string("raw fetch failed at ") + step);
  };
  const std::string user = "SYSDBA", password = testdb::Password();
  std::string dpb = {static_cast<char>(isc_dpb_version1), static_cast<char>(isc_dpb_user_name),
                     static_cast<char>(user.size())};
  dpb += user;
  dpb += {static_cast<char>(isc_dpb_password), static_cast<char>(password.size())};
  dpb += password;
  isc_db_handle db = 0;
  attach(status, 0, path.c_str(), &db, static_cast<short>(dpb.size()), dpb.data());
  check("attach");

  static char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version,
                       isc_tpb_wait};
  struct {
    isc_db_handle* db;
    long length;
    char* tpb;
  } teb = {&db, sizeof tpb, tpb};
  isc_tr_handle transaction = 0;
  startMultiple(status, &transaction, 1, &teb);
  check("start");

  isc_stmt_handle statement = 0;
  allocate(status, &db, &statement);
  check("allocate");
  std::vector<char> sqldaSpace(XSQLDA_LENGTH(16));
  auto* out = reinterpret_cast<XSQLDA*>(sqldaSpace.data());
  out->version = SQLDA_VERSION1;
  out->sqln = 16;
  const std::string sql = std::string("select * from ") + kTable;
  prepare(status, &transaction, &statement, 0, sql.c_str(), 3, out);
  check("prepare");
  std::vector<std::vector<char>> buffers(static_cast<std::size_t>(out->sqld));
  std::vector<short> nulls(static_cast<std::size_t>(out->sqld));
  for (int i = 0; i < out->sqld; ++i) {
    XSQLVAR& var = out->sqlvar[i];
    buffers[i].resize(static_cast<std::size_t>(var.sqllen) + 2);
    var.sqldata = buffers[i].data();
    var.sqlind = &nulls[i];
  }
  execute(status, &transaction, &statement, 1, nullptr);
  check("execute");
  long rows = 0;
  while (fetch(status, &statement, 1, out) == 0) {
    ++rows;
    for (int i = 0; i < out->sqld; ++i) {
      if (nulls[i] == 0) checksum += static_cast<unsigned char>(buffers[i][0]);
    }
  }
  freeStatement(status, &statement, DSQL_drop);
  commit(status, &transaction);
  detach(status, &db);
  return rows;
}

// Every value of every row through the layer: its null flag and its value.
long LayerRead(TSQLDataSet& dataSet, long& checksum) {
  dataSet.SetActive(false);
  dataSet.SetActive(true);
  long rows = 0;
  const int fields = dataSet.NumberOfFields();
  for (; !dataSet.AtEnd(); dataSet.MoveNext()) {
    ++rows;
    for (int i = 0; i < fields; ++i) {
      const TField& field = dataSet.FieldAt(i);
      if (field.IsNull()) continue;
      switch (field.Kind()) {
        case fkString:
          checksum += static_cast<long>(field.AsBytes().size());
          break;
        case fkInteger:
        case fkLargeint:
          checksum += field.AsLargeInt() & 0xFF;
          break;
        case fkBCD:
          checksum += field.AsFixedPoint() & 0xFF;
          break;
        case fkFloat:
        case fkDate:
          checksum +=
              static_cast<long>(field.Kind() == fkFloat ? field.AsFloat() : field.AsDateTime()) & 0xFF;
          break;
        case fkSQLTimeStamp:
          checksum += field.AsTimeStamp().second;
          break;
        default:
          break;
      }
    }
  }
  dataSet.SetActive(false);
  return rows;
}

// Every value as the export writes it: one line of texts per row.
long LayerText(TSQLDataSet& dataSet, long& checksum) {
  dataSet.SetActive(true);
  long rows = 0;
  std::string line;
  const int fields = dataSet.NumberOfFields();
  for (; !dataSet.AtEnd(); dataSet.MoveNext()) {
    ++rows;
    line.clear();
    for (int i = 0; i < fields; ++i) {
      dataSet.FieldAt(i).AppendValueText(line);
      line += ',';
    }
    checksum += static_cast<long>(line.size());
  }
  dataSet.SetActive(false);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  try {
    std::printf("layer_bench: %ld rows, embedded database\n", rows);
    auto start = std::chrono::steady_clock::now();
    testdb::TestDatabase database(false, FillScript(rows));
    std::printf("%-34s %.1f s\n", "creating the table", Seconds(start));

    long rawChecksum = 0;
    RawFetch(database.Path(), rawChecksum);  // warms the file cache for every pass alike
    rawChecksum = 0;
    start = std::chrono::steady_clock::now();
    long rawRows = RawFetch(database.Path(), rawChecksum);
    double rawSeconds = Seconds(start);
    double rawRate = rawRows / rawSeconds;
    Report("raw isc_dsql_fetch", rawRows, rawSeconds, 0);
    std::printf("%-34s %ld KB\n", "peak RSS after raw fetch", PeakRssKb());

    TSQLConnection connection("scnDatabase");
    connection.Params().SetValue("Database", database.Path());
    connection.Params().SetValue("User_Name", "SYSDBA");
    connection.Params().SetValue("Password", testdb::Password());
    TSQLDataSet dataSet("sdsTable", &connection);
    dataSet.SetCommandType(ctTable);
    dataSet.SetCommandText(kTable);

    long checksum = 0;
    start = std::chrono::steady_clock::now();
    long layerRows = LayerRead(dataSet, checksum);
    Report("layer: every value", layerRows, Seconds(start), rawRate);

    start = std::chrono::steady_clock::now();
    long textRows = LayerText(dataSet, checksum);
    Report("layer: every value as text", textRows, Seconds(start), rawRate);

    start = std::chrono::steady_clock::now();
    std::int32_t count = dataSet.CountRecords();
    std::printf("%-34s %d (%.3f s)\n", "CountRecords", count, Seconds(start));
    std::printf("%-34s %ld KB\n", "peak RSS", PeakRssKb());
    std::printf("(checksums %ld %ld)\n", rawChecksum, checksum);
    if (layerRows != rawRows || textRows != rawRows || count != rawRows) {
      std::fprintf(stderr, "row counts differ\n");
      return 1;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "layer_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
