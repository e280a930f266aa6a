// varnelo-pelmora-cli: the window's export and import for scripts, cron jobs
// and servers without a display, on the same core and driver.
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "cli/terminal.h"
#include "db/bulk_inserter.h"
#include "db/catalogue.h"
#include "db/layer_text.h"
#include "db/locale_charset.h"
#include "db/locale_formats.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "db/table_reader.h"
#include "driver/connect_string.h"
#include "transfer/compression.h"
#include "transfer/csv_pieces.h"
#include "transfer/folder_transfer.h"
#include "transfer/import_columns.h"
#include "transfer/option_words.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_summary.h"

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
    "       varnelo-pelmora-cli [OPTIONS] --query QUERY export FILE\n"
    "       varnelo-pelmora-cli [OPTIONS] import TABLE FILE\n"
    "       varnelo-pelmora-cli [OPTIONS] export-all FOLDER\n"
    "       varnelo-pelmora-cli [OPTIONS] import-all FOLDER\n";

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
    "  export-all FOLDER    write every table (no views) into FOLDER/TABLE.csv, all\n"
    "                       in one snapshot, and the list of files in tables.list\n"
    "  import-all FOLDER    import every FOLDER/TABLE.csv into its table, tables\n"
    "                       that others refer to first\n"
    "\n"
    "Options:\n"
    "  -s, --server HOST         Firebird server (HOST or HOST/PORT); without it the\n"
    "                            database file is opened in this process\n"
    "  -d, --database PATH       the database file (its path on the server with --server)\n"
    "  -u, --user NAME           user name (default: $ISC_USER, else SYSDBA)\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "      --role NAME           the SQL role to work in (default: $ISC_ROLE)\n"
    "      --portable            dates, times and numbers in the server's own forms\n"
    "                            (2004-03-05, 14:07:09, 12.5), whatever the locale\n"
    "      --where CONDITION     export: only the rows where CONDITION (SQL) holds\n"
    "      --query QUERY         export the rows of a query (SQL) instead of a table:\n"
    "                            export --query QUERY FILE\n"
    "      --from-line N         import: pass over the data lines before line N of the\n"
    "                            file (to go on where a failed import ended); not\n"
    "                            with --mode replace, which imports all or nothing\n"
    "      --mode MODE           import: append (new rows, the default), replace (the\n"
    "                            table's rows deleted first, all in one transaction)\n"
    "                            or upsert (a line whose key matches a row updates it)\n"
    "      --key A,B             with --mode upsert: the columns that match a line to\n"
    "                            a row (default: the primary key)\n"
    "      --atomic              import in one transaction: a failure, a refused line\n"
    "                            or a stop leaves the table as it was\n"
    "      --max-refusals N      stop the import after N refused lines\n"
    "      --rejected-dir DIR    keep the refused lines in DIR, not beside the file\n"
    "      --dry-run             import every line, then undo it all: the counts and\n"
    "                            refused lines of a real import, nothing changed but\n"
    "                            generators and identity columns, which may advance\n"
    "      --charset NAME        the Firebird character set of the file's text (UTF8,\n"
    "                            WIN1252, ISO8859_1, ...; default: the locale's, UTF8\n"
    "                            under a UTF-8 locale, NONE under the C locale)\n"
    "      --delimiter C         what separates the values of a line: , (the default),\n"
    "                            ; | or tab\n"
    "      --null TEXT           a null is written as TEXT, and TEXT read unquoted is\n"
    "                            a null (\"TEXT\" in quotes is the text itself); an empty\n"
    "                            value is then an empty text (default: a null is an\n"
    "                            empty value, an empty text is written \"\")\n"
    "      --no-header           export: no line naming the columns; import: the file\n"
    "                            has none, its values are the table's columns in the\n"
    "                            table's order, or those of --columns\n"
    "      --columns A,B         export: these columns in this order; import: the\n"
    "                            table column of each of the file's columns, in file\n"
    "                            order, whatever a header line names; - passes a file\n"
    "                            column over\n"
    "      --ignore-unknown-columns\n"
    "                            import: pass over the file's columns the table lacks\n"
    "                            (and name them) instead of refusing the file\n"
    "      --line-end lf|crlf    export: what ends a line (default crlf); the import\n"
    "                            reads either\n"
    "      --quote minimal|all|text\n"
    "                            export: quote the values that need it (the default),\n"
    "                            every value, or every value but numbers and booleans;\n"
    "                            a null is never quoted; the import reads each\n"
    "      --bom                 export: start the file with a UTF-8 byte-order mark\n"
    "                            (only when the file's text is UTF-8)\n"
    "      --compress gz|zst     pack standard output, or read standard input packed,\n"
    "                            as gzip or zstd; export-all names its files\n"
    "                            TABLE.csv.gz or TABLE.csv.zst. A FILE ending in .gz\n"
    "                            or .zst is packed so without it\n"
    "      --summary FILE        at the end, write one JSON object a table into FILE\n"
    "                            (\"-\": standard output, unless the data goes there):\n"
    "                            its rows, refused lines, exit status, SQLSTATE, ...\n"
    "  -q, --quiet               no progress bar and no count message\n"
    "  -h, --help                show this text\n"
    "  -V, --version             show the version\n"
    "\n"
    "The import options (--from-line, --mode, --key, --atomic, --max-refusals,\n"
    "--rejected-dir, --dry-run, --ignore-unknown-columns) are refused by export\n"
    "and export-all.\n"
    "\n"
    "Text is written and read in the --charset set and stored in each column's\n"
    "own; a character a column's set cannot hold is a refused line. --charset NONE\n"
    "converts nothing: the file holds each column's bytes as stored, as files of\n"
    "earlier versions do. Such a file of a WIN1252 database reads back with\n"
    "--charset WIN1252 (or NONE); take the set its columns are declared in.\n"
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
  std::string role;
  bool portable = false;
  std::string charSet;  // empty: the locale's
  bool quiet = false;
  std::int64_t fromLine = 0;
  TTransferRequest::TMode mode = TTransferRequest::TMode::mAppend;
  std::vector<std::string> keyColumns;
  bool atomic = false;
  bool dryRun = false;
  std::int64_t maxRefusals = 0;
  std::string rejectedDir;
  std::string where;
  std::string query;
  TCsvDialect dialect;
  TCompression compression = TCompression::cNone;  // none: not given
  std::string summary;                             // empty: none
  std::vector<std::string> importOnly;             // the options given that only an import takes ("--mode")
  std::vector<std::string> operands;               // the command and its arguments
};

struct TUsageError {
  std::string text;
};

void Fail(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kProgram, Printable(text, true).c_str());
}

// A whole number of 1 or more; throws TUsageError with problem otherwise.
std::int64_t PositiveNumber(const char* text, const char* problem) {
  if (const auto number = PositiveNumberOfWord(text)) return *number;
  throw TUsageError{problem};
}

// An option as written, without a value given with "=" (which may be a
// password typed in the wrong place, and is never echoed).
std::string OptionName(const std::string& argument) {
  return Printable(argument.substr(0, argument.find('=')));
}

// What is wrong with an option getopt refused: one that looks like a
// password option, a flag given a value, or one we do not know.
std::string OptionProblem(const std::string& argument, int shortOption) {
  const std::string name = argument.substr(0, argument.find('='));
  if (name.size() > 3 && name.starts_with("--") && std::string("--password").starts_with(name)) {
    return "a password is not taken from the command line, where other users can read it; "
           "use ISC_PASSWORD or --password-file";
  }
  if (name.starts_with("--") && name.size() > 2 && name.size() < argument.size()) {
    for (const char* flag : {"--portable", "--quiet", "--help", "--version", "--atomic", "--dry-run",
                             "--no-header", "--ignore-unknown-columns", "--bom"}) {
      if (std::string(flag).starts_with(name)) return "option " + std::string(flag) + " takes no value";
    }
  }
  if (!name.starts_with("--") && shortOption > 0 && shortOption < 128 && std::isprint(shortOption)) {
    return std::string("unknown option -") + static_cast<char>(shortOption);
  }
  return "unknown option " + OptionName(argument);
}

enum TLongOption {
  kPasswordFile = 1000,
  kPortable,
  kPassword,
  kFromLine,
  kMode,
  kKey,
  kAtomic,
  kMaxRefusals,
  kRejectedDir,
  kDryRun,
  kWhere,
  kQuery,
  kCharSet,
  kDelimiter,
  kNull,
  kNoHeader,
  kColumns,
  kLineEnd,
  kRole,
  kIgnoreUnknownColumns,
  kQuote,
  kBom,
  kCompress,
  kSummary,
};

const option kOptions[] = {{"server", required_argument, nullptr, 's'},
                           {"database", required_argument, nullptr, 'd'},
                           {"user", required_argument, nullptr, 'u'},
                           {"password-file", required_argument, nullptr, kPasswordFile},
                           {"portable", no_argument, nullptr, kPortable},
                           {"quiet", no_argument, nullptr, 'q'},
                           {"help", no_argument, nullptr, 'h'},
                           {"version", no_argument, nullptr, 'V'},
                           {"password", optional_argument, nullptr, kPassword},
                           {"from-line", required_argument, nullptr, kFromLine},
                           {"mode", required_argument, nullptr, kMode},
                           {"key", required_argument, nullptr, kKey},
                           {"atomic", no_argument, nullptr, kAtomic},
                           {"max-refusals", required_argument, nullptr, kMaxRefusals},
                           {"rejected-dir", required_argument, nullptr, kRejectedDir},
                           {"dry-run", no_argument, nullptr, kDryRun},
                           {"where", required_argument, nullptr, kWhere},
                           {"query", required_argument, nullptr, kQuery},
                           {"charset", required_argument, nullptr, kCharSet},
                           {"delimiter", required_argument, nullptr, kDelimiter},
                           {"null", required_argument, nullptr, kNull},
                           {"no-header", no_argument, nullptr, kNoHeader},
                           {"columns", required_argument, nullptr, kColumns},
                           {"line-end", required_argument, nullptr, kLineEnd},
                           {"role", required_argument, nullptr, kRole},
                           {"ignore-unknown-columns", no_argument, nullptr, kIgnoreUnknownColumns},
                           {"quote", required_argument, nullptr, kQuote},
                           {"bom", no_argument, nullptr, kBom},
                           {"compress", required_argument, nullptr, kCompress},
                           {"summary", required_argument, nullptr, kSummary},
                           {nullptr, 0, nullptr, 0}};

// The value an option's word stands for; usage says what it takes.
template <class T>
T WordValue(std::optional<T> value, const char* usage) {
  if (value) return *value;
  throw TUsageError{usage};
}

// Takes an option only an import takes into options, and notes it there by
// its name; false for any other option.
bool TakeImportOption(TCliOptions& options, int option) {
  switch (option) {
    case kFromLine:
      options.fromLine =
          PositiveNumber(optarg, "--from-line takes the number of a line of the file (1 or more)");
      break;
    case kMaxRefusals:
      options.maxRefusals = PositiveNumber(optarg, "--max-refusals takes a number of lines (1 or more)");
      break;
    case kMode:
      options.mode = WordValue(ModeOfWord(optarg), "--mode takes append, replace or upsert");
      break;
    case kKey:
      options.keyColumns = NamesOfList(optarg);
      break;
    case kAtomic:
      options.atomic = true;
      break;
    case kRejectedDir:
      if (*optarg == '\0') throw TUsageError{"--rejected-dir takes a folder"};
      options.rejectedDir = optarg;
      break;
    case kDryRun:
      options.dryRun = true;
      break;
    case kIgnoreUnknownColumns:
      options.dialect.ignoreUnknownColumns = true;
      break;
    default:
      return false;
  }
  const auto entry = std::find_if(std::begin(kOptions), std::end(kOptions),
                                  [option](const struct option& o) { return o.val == option; });
  options.importOnly.push_back(std::string("--") + entry->name);
  return true;
}

// Takes an option of the file's form into options; false for any other.
bool TakeDialectOption(TCliOptions& options, int option) {
  switch (option) {
    case kDelimiter:
      options.dialect.delimiter = WordValue(DelimiterOfWord(optarg), "--delimiter takes , ; | or tab");
      return true;
    case kNull:
      options.dialect.nullText = optarg;
      return true;
    case kNoHeader:
      options.dialect.header = false;
      return true;
    case kColumns:
      options.dialect.columns = NamesOfList(optarg);
      return true;
    case kLineEnd:
      options.dialect.lineEnd = WordValue(LineEndOfWord(optarg), "--line-end takes lf or crlf");
      return true;
    case kQuote:
      options.dialect.quoting = WordValue(QuotingOfWord(optarg), "--quote takes minimal, all or text");
      return true;
    case kBom:
      options.dialect.byteOrderMark = true;
      return true;
    default:
      return false;
  }
}

// Takes one option getopt_long found into options; argument is the word of
// the command line it came from. --help and --version answer and end here.
void TakeOption(TCliOptions& options, int option, const char* argument) {
  if (TakeImportOption(options, option) || TakeDialectOption(options, option)) return;
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
    case kRole:
      options.role = optarg;
      break;
    case 'q':
      options.quiet = true;
      break;
    case kPasswordFile:
      options.passwordFile = optarg;
      break;
    case kPortable:
      options.portable = true;
      break;
    case kCharSet:
      options.charSet = optarg;
      break;
    case kWhere:
      options.where = optarg;
      break;
    case kQuery:
      options.query = optarg;
      break;
    case kCompress:
      options.compression = WordValue(CompressionOfWord(optarg), "--compress takes gz or zst");
      break;
    case kSummary:
      if (*optarg == '\0') throw TUsageError{"--summary takes a file, or - for standard output"};
      options.summary = optarg;
      break;
    case 'h':
      std::printf("%s\n%s", kUsage, kHelp);
      std::exit(kExitDone);
    case 'V':
      std::printf("%s %s\n", kProgram, VP_VERSION);
      std::exit(kExitDone);
    case 'p':
    case kPassword:
      throw TUsageError{
          "a password is not taken from the command line, where other users can read it; "
          "use ISC_PASSWORD or --password-file"};
    case ':':
      throw TUsageError{"option " + OptionName(argument) + " needs a value"};
    default:
      throw TUsageError{OptionProblem(argument, optopt)};
  }
}

// How many arguments the command takes after its name; throws TUsageError
// for a command that is none.
std::size_t ArgumentCount(const std::string& command, const TCliOptions& options) {
  if (command == "tables") return 0;
  if (command == "fields" || command == "export-all" || command == "import-all") return 1;
  // A query stands for the table.
  if (command == "export" && !options.query.empty()) return 1;
  if (command == "export" || command == "import") return 2;
  throw TUsageError{"unknown command '" + command + "'"};
}

// Refuses options that do not go with the command or with each other, rather
// than leave one of them without effect.
void CheckCombinations(const TCliOptions& options) {
  const std::string& command = options.operands[0];
  if (command.starts_with("export") && !options.importOnly.empty())
    throw TUsageError{options.importOnly.front() + " is for an import, not for '" + command + "'"};
  if ((!options.where.empty() || !options.query.empty()) && command != "export")
    throw TUsageError{"--where and --query choose the rows of an export"};
  // Each table of a whole database has columns and keys of its own.
  if ((command == "export-all" || command == "import-all") &&
      (!options.dialect.columns.empty() || !options.keyColumns.empty() || options.fromLine > 0))
    throw TUsageError{"--columns, --key and --from-line name one table's columns or lines, not all tables'"};
  if (command.starts_with("export") && std::ranges::count(options.dialect.columns, kSkippedColumn) > 0)
    throw TUsageError{"- in --columns passes a file column over on an import; an export writes columns"};
  if (!options.where.empty() && !options.query.empty())
    throw TUsageError{"--where is for a table; put the condition into the --query"};
  if (!options.keyColumns.empty() && options.mode != TTransferRequest::TMode::mUpsert)
    throw TUsageError{"--key names the columns an upsert matches; it needs --mode upsert"};
  // A replace that failed left the table as it was: it starts again from the first line.
  if (options.fromLine > 0 && options.mode == TTransferRequest::TMode::mReplace)
    throw TUsageError{"--from-line does not go with --mode replace, which imports the whole file or nothing"};
  // Written as it stands, the null text must read back as one unquoted piece.
  if (NeedsCsvQuotes(options.dialect.nullText, options.dialect.delimiter))
    throw TUsageError{"--null takes a text without the delimiter, double quotes or line ends"};
  const bool oneFile = command == "export" || command == "import";
  if (!options.summary.empty() && !oneFile && command != "export-all" && command != "import-all")
    throw TUsageError{"--summary is for export, import, export-all and import-all"};
  if (options.summary == "-" && command == "export" && options.operands.back() == "-")
    throw TUsageError{"--summary - does not go with an export to standard output, which holds the data"};
  // A named file is packed as its name says; --compress may only agree.
  const std::string& file = options.operands.back();
  if (oneFile && file != "-" && options.compression != TCompression::cNone &&
      CompressionOfName(file) != options.compression) {
    throw TUsageError{"--compress " + CompressionWord(options.compression) + " does not go with file '" +
                      file + "': a file's compression follows its name (.gz, .zst)"};
  }
}

TCliOptions ParseArguments(int argc, char** argv) {
  TCliOptions options;
  opterr = 0;
  for (int option; (option = getopt_long(argc, argv, ":s:d:u:p:qhV", kOptions, nullptr)) != -1;) {
    TakeOption(options, option, argv[optind - 1]);
  }
  for (int i = optind; i < argc; ++i) options.operands.emplace_back(argv[i]);

  if (options.operands.empty()) throw TUsageError{"no command given"};
  const std::string& command = options.operands[0];
  const std::size_t arguments = ArgumentCount(command, options);
  if (options.operands.size() != arguments + 1)
    throw TUsageError{"'" + command + "' takes " + std::to_string(arguments) +
                      (arguments == 1 ? " argument" : " arguments")};
  if (options.database.empty()) throw TUsageError{"no database given (--database PATH)"};
  CheckCombinations(options);
  return options;
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
    struct stat status;
    if (::stat(options.passwordFile.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH))) {
      Fail("warning: other users can read the password file '" + options.passwordFile + "' (chmod 600 it)");
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
  }
  if (const char* password = std::getenv("ISC_PASSWORD")) return password;
  if (options.server.empty() && !NamesServer(options.database)) return {};
  const std::string where = options.server.empty() ? options.database : options.server;
  if (auto password = AskPassword("Password for " + user + " on " + where + ": ")) return *password;
  throw TUsageError{"no password: set ISC_PASSWORD, give --password-file, or run on a terminal"};
}

// Why a connection failed, in words: the server's, unless it did not know
// the character set asked for (SQLSTATE 2C000), which the server only calls
// bad parameters.
std::string ConnectFailureText(const EDatabaseError& failure, const TCliOptions& options) {
  if (failure.SqlState() != "2C000") return failure.what();
  const std::string charSet = options.charSet.empty() ? LocaleCharSet() : options.charSet;
  return "unknown character set '" + charSet +
         "'; --charset takes a Firebird character set, such as UTF8, WIN1252, ISO8859_1 or NONE";
}

// The table as the database lists it: the one `tables` prints as name, when
// it is typed after that list (printed: the name itself but for backslashes
// and control characters), else as FindTable finds it.
std::optional<std::string> FindTypedTable(TSQLConnection& connection, const std::string& name) {
  std::vector<std::string> tables;
  connection.ListTableNames(tables);
  for (const std::string& table : tables) {
    if (PrintableName(table) == name) return table;
  }
  return FindTable(tables, name, connection.CharSet());
}

int StoppedStatus() { return 128 + StopSignal(); }

// The standard descriptors that were closed when the program started: they
// hold /dev/null now, so that no file opened later takes their place.
bool g_closedAtStart[3] = {};

void HoldClosedStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    g_closedAtStart[fd] = true;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) ::close(opened);
  }
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The command line again, ready for a shell, with --from-line set to line
// (first, so that it stands before every operand), or without one for 0.
std::string ResumeCommand(const std::vector<std::string>& arguments, std::int64_t line) {
  std::string text = kProgram;
  if (line > 0) text += " --from-line " + std::to_string(line);
  bool options = true;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") options = false;
    // The option as written, abbreviations included ("--from 7", "--from-l=7").
    const std::string name = argument.substr(0, argument.find('='));
    if (options && name.size() > 3 && std::string("--from-line").starts_with(name)) {
      if (name.size() == argument.size()) ++i;
      continue;
    }
    text += " " + ShellQuoted(argument);
  }
  return text;
}

std::vector<std::string> g_arguments;

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
    const auto table = FindTypedTable(connection, options.operands[1]);
    if (!table) {
      Fail("no table '" + options.operands[1] + "' in the database");
      return kExitFailure;
    }
    connection.ListFieldNames(*table, names);
  }
  if (StopSignal()) return StoppedStatus();
  for (const std::string& name : names) std::printf("%s\n", PrintableName(name).c_str());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    Fail("cannot write the list to standard output");
    return kExitFailure;
  }
  return kExitDone;
}

// The worst of two exit statuses: a stop, then a failure, then refused lines.
int Worse(int a, int b) {
  auto rank = [](int status) {
    return status >= 128 ? 3 : status == kExitFailure ? 2 : status == kExitRefused ? 1 : 0;
  };
  return rank(b) > rank(a) ? b : a;
}

// Each table's messages under its file's name; each failure named with its
// table and file.
class TFolderTerminal : public IFolderMessages {
 public:
  TFolderTerminal(TTerminalProgress& progress, bool quiet) : m_progress(progress), m_quiet(quiet) {}
  std::unique_ptr<IMessages> ForFile(const std::string& path) override {
    return std::make_unique<TTerminalMessages>(m_progress, path, m_quiet);
  }
  void TableFailed(const std::string& table, const std::string& path, const std::string& failure) override {
    m_progress.Clear();
    Fail(table.empty() ? "'" + path + "': " + failure
                       : "table '" + table + "', file '" + path + "': " + failure);
  }

 private:
  TTerminalProgress& m_progress;
  bool m_quiet;
};

// What the options ask of every transfer; the table, the file and the
// lines are each command's own.
TTransferRequest RequestOf(const TCliOptions& options) {
  TTransferRequest request;
  request.where = options.where;
  request.query = options.query;
  request.mode = options.mode;
  request.keyColumns = options.keyColumns;
  request.atomic = options.atomic;
  request.dryRun = options.dryRun;
  request.maxRefusals = options.maxRefusals;
  request.rejectedFolder = options.rejectedDir;
  request.dialect = options.dialect;
  request.compression = options.compression;
  return request;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Into a table's entry of the summary: how its transfer ended.
void TakeResult(TSummaryEntry& entry, const TTransferResult& result, int exitStatus) {
  entry.rows = result.rows;
  entry.refused = result.refused;
  entry.stopped = result.stopped;
  entry.dryRun = result.dryRun;
  // A stopped import goes on from its first line not imported, unless
  // nothing it did was kept.
  if (result.direction == TTransferDirection::tdImport && result.stopped && !result.rolledBack)
    entry.resumeLine = result.stoppedAtLine;
  entry.rejectedFile = result.rejectedPath;
  entry.exitStatus = exitStatus;
}

// Of a failed import: its rows, the line to go on from and the kept refused lines.
void TakeFailure(TSummaryEntry& entry, const std::exception& failure, bool replace) {
  entry.exitStatus = kExitFailure;
  entry.sqlState = FailureSqlState(failure);
  if (const auto* import = dynamic_cast<const EImportFailed*>(&failure)) {
    entry.rows = import->Committed();
    // A replace that failed changed nothing: it starts again from the first line.
    entry.resumeLine = replace ? 1 : import->ResumeLine();
    entry.rejectedFile = import->RejectedPath();
  }
}

int FolderTransfer(TSQLConnection& connection, const TCliOptions& options,
                   std::vector<TSummaryEntry>& summary) {
  const TTransferRequest each = RequestOf(options);
  TTerminalProgress progress(!options.quiet && isatty(STDERR_FILENO));
  TFolderTerminal messages(progress, options.quiet);
  const std::string& folder = options.operands[1];
  const TFolderResult run = options.operands[0] == "export-all"
                                ? ExportFolder(connection, folder, each, progress, messages)
                                : ImportFolder(connection, folder, each, progress, messages);
  progress.Clear();
  int status = kExitDone;
  const bool exporting = options.operands[0] == "export-all";
  for (const TFolderTable& table : run.tables) {
    int tableStatus = table.result ? ExitStatus(*table.result) : kExitFailure;
    // Refused lines of a run undone as a whole kept nothing.
    if (run.rolledBack && tableStatus == kExitRefused) tableStatus = kExitFailure;
    status = Worse(status, tableStatus);
    TSummaryEntry entry;
    entry.direction = exporting ? TTransferDirection::tdExport : TTransferDirection::tdImport;
    if (table.result) {
      TakeResult(entry, *table.result, tableStatus);
    } else {
      entry.exitStatus = kExitFailure;
      entry.sqlState = table.sqlState;
      entry.resumeLine = table.resumeLine;
      entry.rejectedFile = table.rejectedPath;
    }
    if (!table.table.empty()) entry.table = table.table;
    entry.file = table.path;
    entry.dryRun = !exporting && options.dryRun;
    entry.seconds = table.seconds;
    summary.push_back(std::move(entry));
  }
  for (const std::string& sentence : run.outcome) std::fprintf(stderr, "%s\n", Printable(sentence).c_str());
  return status;
}

int Transfer(TSQLConnection& connection, const TCliOptions& options, TSummaryEntry& entry) {
  const bool isExport = options.operands[0] == "export";
  const bool ofQuery = !options.query.empty();
  const std::string& file = options.operands.back();
  const auto table =
      ofQuery ? std::optional<std::string>("") : FindTypedTable(connection, options.operands[1]);
  if (!table) {
    Fail("no table '" + options.operands[1] + "' in the database");
    return kExitFailure;
  }
  if (!ofQuery) entry.table = *table;

  TTransferRequest request = RequestOf(options);
  request.tableName = *table;
  request.fromLine = options.fromLine;
  if (file == "-" && g_closedAtStart[isExport ? 1 : 0]) {
    Fail(std::string("standard ") + (isExport ? "output" : "input") + " is closed: there is nothing to " +
         (isExport ? "write the table into" : "read the lines from"));
    return kExitFailure;
  }
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
  // Like the standard tools, an export into a pipe ends when its reader goes.
  if (isExport && file == "-") CatchBrokenPipe();
  TTransferResult result;
  // A replace is one transaction: it imported the whole file or nothing.
  const bool replace = options.mode == TTransferRequest::TMode::mReplace;
  try {
    result = isExport ? ExportTable(dataSet, request, progress, messages)
                      : ImportTable(dataSet, request, progress, messages);
  } catch (const EImportFailed& failure) {
    progress.Clear();
    Fail(failure.what());
    TakeFailure(entry, failure, replace);
    if (file == "-") return kExitFailure;
    const std::string resume = Printable(ResumeCommand(g_arguments, replace ? 0 : failure.ResumeLine()));
    if (failure.UnknownEnd() > 0 && replace) {
      std::fprintf(
          stderr,
          "If the rows of lines %lld to %lld are in the table, the import is done. If they are not:\n  %s\n",
          static_cast<long long>(failure.ResumeLine()), static_cast<long long>(failure.UnknownEnd() - 1),
          resume.c_str());
    } else if (replace) {
      std::fprintf(stderr, "To import the file again:\n  %s\n", resume.c_str());
    } else if (failure.UnknownEnd() > 0) {
      std::fprintf(
          stderr, "If the rows of lines %lld to %lld are in the table:\n  %s\nIf they are not:\n  %s\n",
          static_cast<long long>(failure.ResumeLine()), static_cast<long long>(failure.UnknownEnd() - 1),
          Printable(ResumeCommand(g_arguments, failure.UnknownEnd())).c_str(), resume.c_str());
    } else {
      std::fprintf(stderr, "To import the lines that were not imported:\n  %s\n", resume.c_str());
    }
    return kExitFailure;
  } catch (const std::exception& failure) {
    progress.Clear();
    Fail(failure.what());
    TakeFailure(entry, failure, replace);
    return kExitFailure;
  }
  progress.Clear();
  TakeResult(entry, result, ExitStatus(result));
  return entry.exitStatus;
}

// The --summary file: opened before the run, so that one that cannot be
// written ends the run before it starts; its lines are written at the end.
class TSummaryFile {
 public:
  // Throws EInOutError when the file cannot be made.
  explicit TSummaryFile(const std::string& name)
      : m_file(name == "-" ? "/dev/stdout" : name, name == "-" ? "standard output" : name) {
    m_file.SetLineEnd(TLineEnd::leLf);
    m_file.Rewrite();
  }
  // False, with the failure told, when the lines cannot be written.
  bool Write(const std::vector<TSummaryEntry>& entries) {
    try {
      for (const TSummaryEntry& entry : entries) m_file.WriteLn(SummaryLine(entry));
      m_file.Close();
      return true;
    } catch (const EInOutError& failure) {
      Fail(failure.what());
      return false;
    }
  }

 private:
  TTextFile m_file;
};

}  // namespace

int UsageFailure(const std::string& text) {
  Fail(text);
  std::fprintf(stderr, "%sTry '%s --help' for more.\n", kUsage, kProgram);
  return kExitUsage;
}

int main(int argc, char** argv) {
  HoldClosedStandardDescriptors();
  g_arguments.assign(argv, argv + argc);
  TCliOptions options;
  try {
    options = ParseArguments(argc, argv);
  } catch (const TUsageError& error) {
    return UsageFailure(error.text);
  }

  SetUpProcessLocale(options.portable ? TFormatsSource::fsPortable : TFormatsSource::fsUserLocale);
  const std::string charSet = options.charSet.empty() ? LocaleCharSet() : options.charSet;
  if (options.dialect.byteOrderMark && !TakesByteOrderMark(charSet)) {
    return UsageFailure("--bom marks a file of UTF-8 text, and this file's text is " +
                        (charSet.empty() ? std::string("NONE") : charSet) + " (see --charset)");
  }

  const auto began = std::chrono::steady_clock::now();
  const std::string& command = options.operands[0];
  const bool list = command == "tables" || command == "fields";
  const bool folder = command == "export-all" || command == "import-all";
  // The summary's entry when a single table is moved, or when the run
  // fails before any table.
  TSummaryEntry whole;
  whole.direction =
      command.starts_with("export") ? TTransferDirection::tdExport : TTransferDirection::tdImport;
  whole.file = options.operands.back();
  if (!folder && !list && options.query.empty()) whole.table = options.operands[1];
  whole.dryRun = whole.direction == TTransferDirection::tdImport && options.dryRun;
  std::vector<TSummaryEntry> summary;
  std::optional<TSummaryFile> summaryFile;
  try {
    if (!options.summary.empty()) summaryFile.emplace(options.summary);
  } catch (const std::exception& failure) {
    Fail(failure.what());
    return kExitFailure;
  }
  auto end = [&](int status, const std::exception* failure = nullptr) {
    if (!summaryFile) return status;
    if (summary.empty()) {
      whole.exitStatus = status;
      if (whole.seconds == 0) whole.seconds = SecondsSince(began);
      if (failure) whole.sqlState = FailureSqlState(*failure);
      summary.push_back(whole);
    }
    return summaryFile->Write(summary) ? status : Worse(status, kExitFailure);
  };

  std::string password;
  std::string user;
  try {
    user = UserName(options);
    password = Password(options, user);
  } catch (const TUsageError& error) {
    return end(UsageFailure(error.text));
  } catch (const std::exception& failure) {
    Fail(failure.what());
    return end(kExitFailure);
  }

  TSQLConnection connection("scnDatabase");
  const std::string database = ConnectString(options.server, options.database);
  connection.Params().SetValue("Database", database);
  connection.Params().SetValue("User_Name", user);
  connection.Params().SetValue("Password", password);
  if (const char* role = std::getenv("ISC_ROLE"); options.role.empty() && role) options.role = role;
  connection.Params().SetValue("RoleName", options.role);
  connection.Params().SetValue("ServerCharSet", charSet);
  try {
    connection.SetConnected(true);
  } catch (const EDatabaseError& failure) {
    Fail("cannot connect to '" + database + "': " + ConnectFailureText(failure, options));
    return end(kExitFailure, &failure);
  } catch (const std::exception& failure) {
    Fail("cannot connect to '" + database + "': " + failure.what());
    return end(kExitFailure);
  }
  CatchStopSignals();
  // A Ctrl-C also ends a server call that waits (on a lock, say): the
  // signal handler may not touch the connection, so a thread does, once,
  // when the transfer has not ended by itself soon after the stop (so that
  // the commit of what a stop keeps is not cancelled too).
  std::atomic<bool> finished{false};
  std::thread canceller([&] {
    int waited = 0;
    while (!finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (StopSignal() && ++waited == 10) connection.CancelOperation();
    }
  });

  int status;
  std::string sqlState;
  if (list && g_closedAtStart[1]) {
    Fail("standard output is closed: there is nothing to write the list into");
    status = kExitFailure;
  } else {
    const auto start = std::chrono::steady_clock::now();
    try {
      status = list     ? List(connection, options)
               : folder ? FolderTransfer(connection, options, summary)
                        : Transfer(connection, options, whole);
    } catch (const std::exception& failure) {
      // A Ctrl-C that cancelled the call is the stop, not a failure; it is
      // still said what the call ended with.
      Fail(StopSignal() ? "stopped: " + std::string(failure.what()) : std::string(failure.what()));
      status = StopSignal() ? StoppedStatus() : kExitFailure;
      sqlState = FailureSqlState(failure);
    }
    whole.seconds = SecondsSince(start);
  }
  finished = true;
  canceller.join();
  try {
    connection.SetConnected(false);
  } catch (const std::exception& failure) {
    Fail(failure.what());
    if (status == kExitDone) status = kExitFailure;
  }
  if (!sqlState.empty()) whole.sqlState = sqlState;
  return end(status);
}
