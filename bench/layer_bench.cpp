// Reading a table of a million rows through the database layer, beside a raw
// fetch of the same rows through the Firebird client library in the same run.
//
//   layer_bench [rows]      (default 1000000; an embedded database in /tmp)
//
// Prints rows per second of: the raw isc_dsql_fetch loop; the layer reading
// every value of every row; the layer turning every value into its text (as
// an export does); and the peak resident memory.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_support.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "tests/common/test_database.h"

namespace {

using bench::PeakRssKb;
using bench::Seconds;

constexpr const char* kTable = "BENCH_ROWS";

void Report(const char* what, long rows, double seconds, double reference) {
  std::printf("%-34s %9ld rows  %7.3f s  %11.0f rows/s", what, rows, seconds, rows / seconds);
  if (reference > 0) std::printf("  %5.1f%% of raw", 100.0 * (rows / seconds) / reference);
  std::printf("\n");
}

// The same rows through the client library's own fetch loop.
long RawFetch(const std::string& path, long& checksum) {
  bench::FbClient client;
  return bench::RawFetch(client, path, testdb::Password(), kTable, -1, [&checksum](bench::RowBuffer& row) {
    XSQLDA* out = row.Sqlda();
    for (int i = 0; i < out->sqld; ++i) {
      if (*out->sqlvar[i].sqlind == 0) checksum += static_cast<unsigned char>(out->sqlvar[i].sqldata[0]);
    }
  });
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
    auto start = bench::Clock::now();
    testdb::TestDatabase database(false, bench::FillScript(kTable, rows));
    std::printf("%-34s %.1f s\n", "creating the table", Seconds(start));

    long rawChecksum = 0;
    RawFetch(database.Path(), rawChecksum);  // warms the file cache for every pass alike
    rawChecksum = 0;
    start = bench::Clock::now();
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
    start = bench::Clock::now();
    long layerRows = LayerRead(dataSet, checksum);
    Report("layer: every value", layerRows, Seconds(start), rawRate);

    start = bench::Clock::now();
    long textRows = LayerText(dataSet, checksum);
    Report("layer: every value as text", textRows, Seconds(start), rawRate);

    std::printf("%-34s %ld KB\n", "peak RSS", PeakRssKb());
    std::printf("(checksums %ld %ld)\n", rawChecksum, checksum);
    if (layerRows != rawRows || textRows != rawRows) {
      std::fprintf(stderr, "row counts differ\n");
      return 1;
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "layer_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
