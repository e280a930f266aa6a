#include "transfer/folder_transfer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "base/exceptions.h"
#include "db/bulk_inserter.h"
#include "db/catalogue.h"
#include "db/layer_text.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "transfer/check_entries.h"
#include "transfer/compression.h"
#include "transfer/csv_pieces.h"
#include "transfer/text_file.h"
#include "transfer/transfer_file.h"

namespace {

constexpr const char* kListName = "tables.list";

// Spreads the bars of many transfers over one: transfer `index` of `count`
// moves its own share.
class TShareOfProgress : public IProgress {
 public:
  TShareOfProgress(IProgress& whole, std::size_t index, std::size_t count)
      : m_whole(whole), m_index(static_cast<int>(index)), m_count(static_cast<int>(count)) {}
  void SetPosition(int position) override { m_whole.SetPosition((m_index * 100 + position) / m_count); }
  void SetRowsDone(std::int64_t rows) override { m_whole.SetRowsDone(rows); }
  bool StopRequested() override { return m_whole.StopRequested(); }

 private:
  IProgress& m_whole;
  int m_index;
  int m_count;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Ends the connection's transaction unless it has been ended.
struct TRollBackOnExit {
  TSQLConnection& connection;
  ~TRollBackOnExit() {
    try {
      if (connection.InTransaction()) connection.Rollback();
    } catch (const std::exception&) {
    }
  }
};

void WriteList(const std::string& path, const std::string& list) {
  TReplacingFile replacing(path, false);
  TTextFile file(replacing.TemporaryPath(), path);
  file.Rewrite();
  file.Write(list);
  file.Close();
  replacing.Commit();
}

// The files of the folder and their tables: as tables.list names them, else
// every TABLE.csv (rejected files aside).
std::vector<std::pair<std::string, std::string>> FilesOfFolder(TSQLConnection& connection,
                                                               const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;  // table, file name
  std::vector<std::string> tables;
  connection.ListTableNames(tables);
  const std::string listPath = TransferPath(folder, kListName);
  if (IsRegularFile(listPath)) {
    TTextFile list(listPath);
    list.Reset();
    TCsvRecordReader reader(list);
    std::vector<TCsvPiece> pieces;
    reader.Read(pieces);  // FILE,TABLE
    while (!reader.AtEnd()) {
      reader.Read(pieces);
      if (pieces.size() != 2) {
        throw Exception("Line " + std::to_string(reader.LineNumber()) + " of '" + listPath +
                        "' is not a file and its table; nothing was imported.");
      }
      const auto table = FindTable(tables, pieces[1].text, connection.CharSet());
      if (!table || *table != pieces[1].text) {
        throw Exception("'" + listPath + "' names table '" + pieces[1].text +
                        "', which the database does not have; nothing was imported.");
      }
      if (pieces[0].text.find('/') != std::string::npos ||
          !IsRegularFile(TransferPath(folder, pieces[0].text))) {
        throw Exception("'" + listPath + "' names file '" + pieces[0].text + "' of table '" + *table +
                        "', which is not a file of the folder; nothing was imported.");
      }
      files.emplace_back(*table, pieces[0].text);
    }
    list.CloseQuietly();
  } else {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      const std::string file = entry.path().filename().string();
      if (!entry.is_regular_file() || TableOfFileName(file).empty()) continue;
      if (file.find(".rejected.") != std::string::npos) continue;
      const auto table = FindTable(tables, TableOfFileName(file), connection.CharSet());
      if (!table) {
        throw Exception("File '" + TransferPath(folder, file) +
                        "' names no table of the database; nothing was imported.");
      }
      files.emplace_back(*table, file);
    }
    if (error) throw Exception("Cannot read folder '" + folder + "': " + error.message() + ".");
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  }
  // One file a table, one table a file.
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (files[j].first == files[i].first) {
        throw Exception("Files '" + TransferPath(folder, files[j].second) + "' and '" +
                        TransferPath(folder, files[i].second) + "' both hold table '" + files[i].first +
                        "'; nothing was imported.");
      }
      if (files[j].second == files[i].second) {
        throw Exception("File '" + TransferPath(folder, files[i].second) + "' is named for tables '" +
                        files[j].first + "' and '" + files[i].first + "'; nothing was imported.");
      }
    }
  }
  return files;
}

// What each table holds after a run that ended early, one sentence each.
std::vector<std::string> Outcome(const TFolderResult& run, const std::vector<std::string>& order) {
  std::vector<std::string> outcome;
  if (run.rolledBack) {
    outcome.push_back(
        "No table was changed: the import of the folder was one transaction, and it was undone.");
    return outcome;
  }
  for (const std::string& table : order) {
    const auto done = std::find_if(run.tables.begin(), run.tables.end(),
                                   [&](const TFolderTable& t) { return t.table == table; });
    if (done == run.tables.end()) {
      outcome.push_back("Table '" + table + "' was not imported: it holds the rows it held.");
    } else if (!done->result) {
      outcome.push_back("Table '" + table + "' (file '" + done->path +
                        "') failed: it holds the rows it held and the rows committed before the failure.");
    } else if (done->result->headerMismatch) {
      outcome.push_back("Table '" + table + "' (file '" + done->path +
                        "') was not imported: its header did not fit.");
    } else {
      outcome.push_back("Table '" + table + "' (file '" + done->path + "') took " +
                        std::to_string(done->result->rows) + " new rows.");
    }
  }
  return outcome;
}

}  // namespace

std::string TableFileName(const std::string& table) {
  std::string name;
  for (char c : table) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || byte >= 0x80 || c == '_' || c == '$' || c == '-') {
      name += c;
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", byte);
      name += escape;
    }
  }
  return name + ".csv";
}

std::string TableOfFileName(const std::string& file) {
  const std::string_view name =
      std::string_view(file).substr(0, file.size() - CompressionSuffix(CompressionOfName(file)).size());
  if (!name.ends_with(".csv")) return {};
  const std::string stem(name.substr(0, name.size() - 4));
  std::string table;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] == '%' && i + 2 < stem.size() && std::isxdigit(static_cast<unsigned char>(stem[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(stem[i + 2]))) {
      table += static_cast<char>(std::stoi(stem.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      table += stem[i];
    }
  }
  return table;
}

std::optional<std::string> FindTable(const std::vector<std::string>& tables, const std::string& name,
                                     std::string_view charSet) {
  if (std::find(tables.begin(), tables.end(), name) != tables.end()) return name;
  std::optional<std::string> found;
  for (const std::string& table : tables) {
    if (!SameName(table, name, charSet)) continue;
    if (found) return std::nullopt;
    found = table;
  }
  return found;
}

TFolderResult ExportFolder(TSQLConnection& connection, const std::string& folder,
                           const TTransferRequest& each, IProgress& progress, IFolderMessages& messages) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw Exception("Cannot make folder '" + folder + "': " + error.message() + ".");
  TFolderResult run;
  // One picture of the whole database, which nothing the export runs may change.
  connection.StartTransaction(eTxnSnapshotReadOnly);
  TRollBackOnExit end{connection};
  std::vector<std::string> tables;
  for (TListedTable& table : ListTables(connection)) {
    if (table.keepsRows) tables.push_back(std::move(table.name));
  }
  TSQLDataSet dataSet("sdsTable", &connection);
  std::string list = "FILE,TABLE\r\n";
  for (std::size_t i = 0; i < tables.size(); ++i) {
    TTransferRequest request = each;
    request.folder = folder;
    request.fileName = TableFileName(tables[i]) + std::string(CompressionSuffix(each.compression));
    request.tableName = tables[i];
    request.replaceLinks = true;
    TFolderTable done{tables[i], TransferPath(folder, request.fileName), std::nullopt, {}};
    TShareOfProgress share(progress, i, tables.size());
    const auto start = std::chrono::steady_clock::now();
    try {
      const std::unique_ptr<IMessages> tableMessages = messages.ForFile(done.path);
      done.result = ExportTable(dataSet, request, share, *tableMessages);
      done.seconds = SecondsSince(start);
    } catch (const std::exception& failure) {
      done.seconds = SecondsSince(start);
      done.failure = failure.what();
      done.sqlState = FailureSqlState(failure);
      // An earlier run's file of the table is not this run's: it goes.
      ::unlink(done.path.c_str());
      messages.TableFailed(done.table, done.path, done.failure);
    }
    const bool stopped = done.result && done.result->stopped;
    if (done.result && !stopped) {
      AppendCsvPiece(list, request.fileName);
      list += ',';
      AppendCsvPiece(list, tables[i]);
      list += "\r\n";
    }
    run.tables.push_back(std::move(done));
    if (stopped) break;
  }
  connection.Rollback();
  const std::string listPath = TransferPath(folder, kListName);
  try {
    WriteList(listPath, list);
  } catch (const std::exception& failure) {
    run.tables.push_back({{}, listPath, std::nullopt, failure.what()});
    messages.TableFailed({}, listPath, failure.what());
  }
  return run;
}

TFolderResult ImportFolder(TSQLConnection& connection, const std::string& folder,
                           const TTransferRequest& each, IProgress& progress, IFolderMessages& messages) {
  const auto files = FilesOfFolder(connection, folder);
  std::vector<std::string> tables;
  for (const auto& [table, file] : files) tables.push_back(table);
  tables = ParentsFirst(connection, tables);

  TFolderResult run;
  // A replace empties parents only after their children, and fills them
  // first; in one transaction, so that a failure takes nothing away.
  const bool oneTransaction = each.OneTransaction();
  TRollBackOnExit end{connection};
  if (oneTransaction) {
    connection.StartTransaction();
    if (each.mode == TTransferRequest::TMode::mReplace) {
      for (auto table = tables.rbegin(); table != tables.rend(); ++table) {
        try {
          DeleteAllRows(connection, *table);
        } catch (const std::exception& failure) {
          throw Exception("Cannot empty table '" + *table + "': " + failure.what() +
                          "\nNo table was changed.");
        }
      }
    }
  }
  TSQLDataSet dataSet("sdsTable", &connection);
  bool failed = false;
  bool stopped = false;
  for (std::size_t i = 0; i < tables.size() && !stopped && !(failed && oneTransaction); ++i) {
    const auto file =
        std::find_if(files.begin(), files.end(), [&](const auto& f) { return f.first == tables[i]; });
    TTransferRequest request = each;
    request.folder = folder;
    request.fileName = file->second;
    request.tableName = tables[i];
    request.sharedTransaction = oneTransaction;
    if (oneTransaction)
      request.mode =
          each.mode == TTransferRequest::TMode::mUpsert ? each.mode : TTransferRequest::TMode::mAppend;
    TFolderTable done{tables[i], TransferPath(folder, file->second), std::nullopt, {}};
    TShareOfProgress share(progress, i, tables.size());
    const auto start = std::chrono::steady_clock::now();
    try {
      const std::unique_ptr<IMessages> tableMessages = messages.ForFile(done.path);
      done.result = ImportTable(dataSet, request, share, *tableMessages);
      done.seconds = SecondsSince(start);
      stopped = done.result->stopped;
      failed = failed || done.result->headerMismatch;
    } catch (const std::exception& failure) {
      done.seconds = SecondsSince(start);
      done.failure = failure.what();
      done.sqlState = FailureSqlState(failure);
      if (const auto* import = dynamic_cast<const EImportFailed*>(&failure)) {
        done.resumeLine = import->ResumeLine();
        done.rejectedPath = import->RejectedPath();
      }
      failed = true;
      messages.TableFailed(done.table, done.path, done.failure);
    }
    run.tables.push_back(std::move(done));
  }
  if (oneTransaction) {
    if (failed || stopped || each.dryRun) {
      connection.Rollback();
      run.rolledBack = failed || stopped;
    } else {
      try {
        connection.Commit();
      } catch (const std::exception& failure) {
        run.tables.push_back({{}, folder, std::nullopt, failure.what()});
        messages.TableFailed({}, folder, failure.what());
        failed = true;
        run.rolledBack = true;
      }
    }
  }
  if (failed || stopped) run.outcome = Outcome(run, tables);
  return run;
}
