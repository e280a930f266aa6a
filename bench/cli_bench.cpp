// The command-line program's export beside the library's, on one embedded
// database in the same run:
//
//   cli_bench [rows (default 300000)] [rounds (default 3)]
//
// The library export (ExportTable, connection already open) writes into a
// file and into /dev/null; the program, started anew each time (its start,
// connect and disconnect included), writes to /dev/null by name and to
// standard output sent to /dev/null. Each takes its best of the rounds, the
// two sides taking turns. Goal: the program at 90% or more of the library.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "bench/bench_support.h"
#include "db/locale_formats.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "tests/common/test_database.h"
#include "transfer/table_transfer.h"

namespace {

using bench::Clock;
using bench::Seconds;

struct TSilent : IProgress, IMessages {
  void SetPosition(int) override {}
  void ShowMessage(const std::string&) override {}
};

double LibraryExport(const testdb::TestDatabase& database, const std::string& folder, const std::string& file,
                     long& rows) {
  TSQLConnection connection("scnDatabase");
  connection.Params().SetValue("Database", database.Path());
  connection.Params().SetValue("User_Name", "SYSDBA");
  connection.Params().SetValue("Password", testdb::Password());
  TSQLDataSet dataSet("sdsTable", &connection);
  TTransferRequest request{folder, file, "BENCH"};
  connection.SetConnected(true);
  TSilent silent;
  const auto start = Clock::now();
  rows = static_cast<long>(ExportTable(dataSet, request, silent, silent).rows);
  const double seconds = Seconds(start);
  // The program opens the file next: one embedded engine per file.
  connection.SetConnected(false);
  return seconds;
}

double ProgramExport(const testdb::TestDatabase& database, const std::string& target) {
  const std::string command = std::string("'") + VP_CLI_PATH + "' -q --database '" + database.Path() +
                              "' export BENCH " + target;
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("failed: " + command);
  return seconds;
}

void Report(const char* what, long rows, double seconds, double reference) {
  std::printf("  %-48s %8.3f s %10.0f rows/s", what, seconds, rows / seconds);
  if (reference > 0) std::printf("  %5.1f%%", 100.0 * reference / seconds);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 300000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (rows <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: cli_bench [rows] [rounds]\n");
    return 2;
  }
  SetUpProcessLocale(TFormatsSource::fsUserLocale);
  try {
    auto start = Clock::now();
    testdb::TestDatabase database(false, bench::FillScript("BENCH", rows));
    std::printf("cli_bench: %ld rows, embedded, best of %d rounds (creating the table: %.1f s)\n", rows, rounds,
                Seconds(start));
    const std::string folder = database.Dir().string();
    constexpr double kNone = std::numeric_limits<double>::max();
    double toFile = kNone, toNull = kNone, cliNull = kNone, cliStdout = kNone;
    long exported = 0;
    for (int round = 0; round < rounds; ++round) {
      toFile = std::min(toFile, LibraryExport(database, folder, "bench.csv", exported));
      cliNull = std::min(cliNull, ProgramExport(database, "/dev/null"));
      toNull = std::min(toNull, LibraryExport(database, "/dev", "null", exported));
      cliStdout = std::min(cliStdout, ProgramExport(database, "- > /dev/null"));
    }
    if (exported != rows) throw std::runtime_error("the export wrote " + std::to_string(exported) + " rows");
    std::printf("export of %ld rows (the percentage: of the library's rate into a file)\n", rows);
    Report("library ExportTable into a file", rows, toFile, toFile);
    Report("library ExportTable into /dev/null", rows, toNull, toFile);
    Report("varnelo-pelmora-cli export BENCH /dev/null", rows, cliNull, toFile);
    Report("varnelo-pelmora-cli export BENCH - > /dev/null", rows, cliStdout, toFile);
    std::printf("  => the program at %.1f%% of the library into a file, %.1f%% of the library into /dev/null "
                "(goal >= 90%%)\n",
                100.0 * toFile / std::min(cliNull, cliStdout), 100.0 * toNull / std::min(cliNull, cliStdout));
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "cli_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
