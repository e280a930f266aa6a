// Every table of a database into a folder of CSV files, one file a table,
// and such a folder back into its tables: one snapshot for the export, the
// tables others refer to first for the import, and the list of files
// (tables.list) that ties each file to its table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/reporting.h"
#include "transfer/table_transfer.h"

class TSQLConnection;

// The table's file in such a folder: its name with the bytes a file name
// should not hold (a "/", a leading ".", control characters, blanks and "%")
// written as %XX, and ".csv".
std::string TableFileName(const std::string& table);
// The table a file name of such a folder names, packed (".csv.gz",
// ".csv.zst") or not ("" when it is none).
std::string TableOfFileName(const std::string& file);

// The table of tables (as the database lists them) that name means: the
// exact name, else the one name that differs from it only in letter case in
// charSet (CUSTOMER for customer); none when no table or several match.
std::optional<std::string> FindTable(const std::vector<std::string>& tables, const std::string& name,
                                     std::string_view charSet);

// What a folder transfer did with one table.
struct TFolderTable {
  std::string table;
  std::string path;                       // its file
  std::optional<TTransferResult> result;  // when it ended without failing
  std::string failure;                    // the failure's words otherwise
  std::string sqlState = {};              // the server's SQLSTATE of the failure, "" for none
  std::int64_t resumeLine = 0;            // a failed import: the line to go on from
  std::string rejectedPath = {};          // a failed import: its refused lines kept, "" for none
  double seconds = 0;                     // how long the table took
};

struct TFolderResult {
  std::vector<TFolderTable> tables;  // in the order they were moved
  // The whole run was one transaction that was rolled back (a failure, a
  // stop or a refused line of an --atomic run): no table was changed.
  bool rolledBack = false;
  // What each table holds after a failure, one sentence each.
  std::vector<std::string> outcome;
};

// How a folder transfer reports each table: its messages (made anew for
// each table's file), and each failure as it happens.
class IFolderMessages {
 public:
  virtual ~IFolderMessages() = default;
  virtual std::unique_ptr<IMessages> ForFile(const std::string& path) = 0;
  virtual void TableFailed(const std::string& table, const std::string& path, const std::string& failure) = 0;
};

// Writes every table (no views) into folder/TableFileName(table), all in one
// read-only snapshot, in the request's dialect and compression (whose suffix
// the file names take), and the list of files into
// folder/tables.list. Every file is made new and put in place, replacing a
// symbolic link rather than writing through it. The file of a table that
// fails is removed, so that no earlier file of it is taken for this run's.
// Throws Exception when the folder cannot be made.
TFolderResult ExportFolder(TSQLConnection& connection, const std::string& folder,
                           const TTransferRequest& each, IProgress& progress, IFolderMessages& messages);

// Imports the files of folder into their tables, the tables others refer to
// first: those tables.list names when it is there, else every TABLE.csv
// (TABLE.csv.gz and TABLE.csv.zst too, each unpacked as its name says).
// Each file goes to one table and each table takes one file; a file that
// names no table, or two files of one table, end the run before anything is
// imported (Exception). A replace empties the tables children first, all in
// one transaction with the filling; so does any run that is --atomic or a
// dry run: a failure, a stop or (atomic) a refused line then changes no table.
TFolderResult ImportFolder(TSQLConnection& connection, const std::string& folder,
                           const TTransferRequest& each, IProgress& progress, IFolderMessages& messages);
