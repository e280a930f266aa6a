// varnelo-pelmora-cli: the window's export and import for scripts, cron jobs
// and servers without a display, on the same core and driver.
#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "db/layer_text.h"
#include "db/locale_formats.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "driver/connect_string.h"
#include "transfer/table_transfer.h"

namespace {

constexpr const char* kProgram = "varnelo-pelmora-cli";

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 3;

const char* const kUsage =
    "Usage: varnelo-pelmora-cli [OPTIONS] tables\n"
    "       varnelo-pelmora-cli [OPTIONS] fields TABLE\n"
    "       varnelo-pelmora-cli [OPTIONS] export TABLE FILE\n"
    "       varnelo-pelmora-cli [OPTIONS] import TABLE FILE\n";

const char* const kHelp =
    "Moves the rows of one table of a Firebird database into a CSV file and back,\n"
    "exactly as the Varnelo Pelmora window does.\n"
    "\n"
    "Commands:\n"
    "  tables               list the tables and views of the database\n"
    "  fields TABLE         list the columns of TABLE\n"
    "  export TABLE FILE    write TABLE into the CSV file FILE (\"-\": standard output)\n"
    "  import TABLE FILE    insert the lines of the CSV file FILE into TABLE\n"
    "                       (\"-\": standard input); refused lines are reported as\n"
    "                       FILE:LINE: reason and kept in FILE.rejected.csv\n"
    "\n"
    "Options:\n"
    "  -s, --server HOST         Firebird server (HOST or HOST/PORT); without it the\n"
    "                            database file is opened in this process\n"
    "  -d, --database PATH       the database file (its path on the server with --server)\n"
    "  -u, --user NAME           user name (default: $ISC_USER, else SYSDBA)\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "      --portable            dates, times and numbers in the server's own forms\n"
    "                            (2004-03-05, 14:07:09, 12.5), whatever the locale\n"
    "  -q, --quiet               no progress bar and no count message\n"
    "  -h, --help                show this text\n"
    "  -V, --version             show the version\n"
    "\n"
    "The password comes from $ISC_PASSWORD, from --password-file, or is asked on\n"
    "the terminal; never from the command line, which other users can read.\n"
    "\n"
    "Exit status: 0 done; 3 done, but the database refused some lines; 1 failure;\n"
    "2 wrong arguments; 130 (143) stopped by Ctrl-C (SIGTERM).\n";

struct TCliOptions {
  std::string server;
  std::string database;
  std::string user;
  std::string passwordFile;
  bool portable = false;
  bool quiet = false;
  std::vector<std::string> operands;  // the command and its arguments
};

struct TUsageError {
  std::string text;
};

void Fail(const std::string& text) { std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str()); }

TCliOptions ParseArguments(int argc, char** argv) {
  enum { kPasswordFile = 1000, kPortable, kPassword };
  static const option kOptions[] = {
      {"server", required_argument, nullptr, 's'},   {"database", required_argument, nullptr, 'd'},
      {"user", required_argument, nullptr, 'u'},     {"password-file", required_argument, nullptr, kPasswordFile},
      {"portable", no_argument, nullptr, kPortable}, {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},           {"version", no_argument, nullptr, 'V'},
      {"password", optional_argument, nullptr, kPassword}, {nullptr, 0, nullptr, 0}};
  TCliOptions options;
  opterr = 0;
  int option;
  while ((option = getopt_long(argc, argv, ":s:d:u:p:qhV", kOptions, nullptr)) != -1) {
    switch (option) {
      case 's':
        options.server = optarg;
        break;
      case 'd':
        options.database = optarg;
        break;
      case 'u':
        options.user = optarg;
        break;
      case kPasswordFile:
        options.passwordFile = optarg;
        break;
      case kPortable:
        options.portable = true;
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'h':
        std::printf("%s\n%s", kUsage, kHelp);
        std::exit(kExitDone);
      case 'V':
        std::printf("%s %s\n", kProgram, VP_VERSION);
        std::exit(kExitDone);
      case 'p':
      case kPassword:
        throw TUsageError{"a password is not taken from the command line, where other users can read it; "
                          "use ISC_PASSWORD or --password-file"};
      case ':':
        throw TUsageError{std::string("option ") + argv[optind - 1] + " needs a value"};
      default:
        throw TUsageError{std::string("unknown option ") +
                          (optopt ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1])};
    }
  }
  for (int i = optind; i < argc; ++i) options.operands.emplace_back(argv[i]);

  if (options.operands.empty()) throw TUsageError{"no command given"};
  const std::string& command = options.operands[0];
  std::size_t arguments;
  if (command == "tables")
    arguments = 0;
  else if (command == "fields")
    arguments = 1;
  else if (command == "export" || command == "import")
    arguments = 2;
  else
    throw TUsageError{"unknown command '" + command + "'"};
  if (options.operands.size() != arguments + 1)
    throw TUsageError{"'" + command + "' takes " + std::to_string(arguments) +
                      (arguments == 1 ? " argument" : " arguments")};
  if (options.database.empty()) throw TUsageError{"no database given (--database PATH)"};
  return options;
}

// "host:path" reaches a server even without --server.
std::string ConnectString(const TCliOptions& options) {
  if (!options.server.empty()) return ServerConnectString(options.server, options.database);
  if (NamesServer(options.database)) return options.database;
  // The embedded engine reads a relative path from its own folder, not ours.
  return std::filesystem::absolute(options.database).lexically_normal().string();
}

std::string UserName(const TCliOptions& options) {
  if (!options.user.empty()) return options.user;
  const char* user = std::getenv("ISC_USER");
  return user && *user ? user : "SYSDBA";
}

// The password, from the file, the environment or the terminal. An embedded
// engine takes the user's word for who he is, so without a server nobody is
// asked. Throws TUsageError when a server needs one and none can be had.
std::string Password(const TCliOptions& options, const std::string& user) {
  if (!options.passwordFile.empty()) {
    std::ifstream file(options.passwordFile, std::ios::binary);
    std::string password;
    if (!file || !std::getline(file, password))
      throw std::runtime_error("cannot read the password file '" + options.passwordFile + "'");
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
  }
  if (const char* password = std::getenv("ISC_PASSWORD")) return password;
  if (options.server.empty() && !NamesServer(options.database)) return {};
  const std::string where = options.server.empty() ? options.database : options.server;
  if (auto password = AskPassword("Password for " + user + " on " + where + ": ")) return *password;
  throw TUsageError{"no password: set ISC_PASSWORD, give --password-file, or run on a terminal"};
}

// The table as the database lists it: the exact name, else the one name that
// differs from it only in letter case (CUSTOMER for customer).
std::optional<std::string> FindTable(TSQLConnection& connection, const std::string& name) {
  std::vector<std::string> tables;
  connection.ListTableNames(tables);
  if (std::find(tables.begin(), tables.end(), name) != tables.end()) return name;
  std::optional<std::string> found;
  for (const std::string& table : tables) {
    if (!SameText(table, name)) continue;
    if (found) return std::nullopt;
    found = table;
  }
  return found;
}

int StoppedStatus() { return 128 + StopSignal(); }

// The count message has already named the refused lines and their file.
int ExitStatus(const TTransferResult& result) {
  if (result.headerMismatch) return kExitFailure;
  if (result.stopped) return StopSignal() ? StoppedStatus() : kExitFailure;
  if (result.refused > 0) return kExitRefused;
  return kExitDone;
}

int List(TSQLConnection& connection, const TCliOptions& options) {
  std::vector<std::string> names;
  if (options.operands[0] == "tables") {
    connection.ListTableNames(names);
  } else {
    const auto table = FindTable(connection, options.operands[1]);
    if (!table) {
      Fail("no table '" + options.operands[1] + "' in the database");
      return kExitFailure;
    }
    connection.ListFieldNames(*table, names);
  }
  if (StopSignal()) return StoppedStatus();
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    Fail("cannot write the list to standard output");
    return kExitFailure;
  }
  return kExitDone;
}

int Transfer(TSQLConnection& connection, const TCliOptions& options) {
  const bool isExport = options.operands[0] == "export";
  const std::string& file = options.operands[2];
  const auto table = FindTable(connection, options.operands[1]);
  if (!table) {
    Fail("no table '" + options.operands[1] + "' in the database");
    return kExitFailure;
  }

  TTransferRequest request;
  request.tableName = *table;
  if (file == "-") {
    request.folder = "/dev";
    request.fileName = isExport ? "stdout" : "stdin";
    request.standardStream = true;
  } else {
    const std::filesystem::path path(file);
    if (!path.has_filename()) {
      Fail("'" + file + "' names a folder, not a file");
      return kExitFailure;
    }
    request.folder = path.has_parent_path() ? path.parent_path().string() : ".";
    // "/name": the folder is the root, which the transfer's "/" already gives.
    if (request.folder == "/") request.folder.clear();
    request.fileName = path.filename().string();
  }

  // A bar beside CSV lines on the same terminal would only garble both.
  const bool barVisible =
      !options.quiet && isatty(STDERR_FILENO) && !(isExport && file == "-" && isatty(STDOUT_FILENO));
  TTerminalProgress progress(barVisible);
  TTerminalMessages messages(progress, file, options.quiet);
  TSQLDataSet dataSet("sdsTable", &connection);
  TTransferResult result;
  try {
    result = isExport ? ExportTable(dataSet, request, progress, messages)
                      : ImportTable(dataSet, request, progress, messages);
  } catch (const std::exception& failure) {
    progress.Clear();
    Fail(failure.what());
    return kExitFailure;
  }
  progress.Clear();
  return ExitStatus(result);
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  std::string password;
  std::string user;
  try {
    options = ParseArguments(argc, argv);
    user = UserName(options);
    password = Password(options, user);
  } catch (const TUsageError& error) {
    Fail(error.text);
    std::fprintf(stderr, "%sTry '%s --help' for more.\n", kUsage, kProgram);
    return kExitUsage;
  } catch (const std::exception& failure) {
    Fail(failure.what());
    return kExitFailure;
  }

  SetUpProcessLocale(options.portable ? TFormatsSource::fsPortable : TFormatsSource::fsUserLocale);

  TSQLConnection connection("scnDatabase");
  const std::string database = ConnectString(options);
  connection.Params().SetValue("Database", database);
  connection.Params().SetValue("User_Name", user);
  connection.Params().SetValue("Password", password);
  try {
    connection.SetConnected(true);
  } catch (const std::exception& failure) {
    Fail("cannot connect to '" + database + "': " + failure.what());
    return kExitFailure;
  }
  CatchStopSignals();

  int status;
  try {
    status = options.operands[0] == "tables" || options.operands[0] == "fields" ? List(connection, options)
                                                                              : Transfer(connection, options);
  } catch (const std::exception& failure) {
    Fail(failure.what());
    status = kExitFailure;
  }
  try {
    connection.SetConnected(false);
  } catch (const std::exception& failure) {
    Fail(failure.what());
    if (status == kExitDone) status = kExitFailure;
  }
  return status;
}
