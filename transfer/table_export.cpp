#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/layer_text.h"
#include "db/table_port.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/import_columns.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_file.h"

namespace {

// The reader's columns the file takes, in the file's order: those the
// dialect names, matched as an import matches its header, else all.
std::vector<std::size_t> ChosenColumns(const std::vector<std::string>& names,
                                       const TTransferRequest& request) {
  std::vector<std::size_t> chosen;
  if (request.dialect.columns.empty()) {
    for (std::size_t column = 0; column < names.size(); ++column) chosen.push_back(column);
    return chosen;
  }
  const std::string source = request.query.empty() ? "table" : "query";
  std::vector<bool> taken(names.size(), false);
  for (const std::string& name : request.dialect.columns) {
    const std::size_t column = MatchColumnName(names, name, taken);
    if (column == names.size()) {
      const bool twice =
          std::any_of(names.begin(), names.end(), [&](const std::string& n) { return SameText(n, name); });
      throw Exception(twice ? "Column '" + name + "' is named twice."
                            : "The " + source + " has no column '" + name + "'.");
    }
    taken[column] = true;
    chosen.push_back(column);
  }
  return chosen;
}

std::string HeaderLine(const std::vector<std::string>& columnNames, const std::vector<std::size_t>& chosen,
                       const TCsvDialect& dialect) {
  std::string header;
  for (std::size_t column : chosen) {
    AppendCsvPiece(header, columnNames[column], dialect);
    header += dialect.delimiter;
  }
  if (!header.empty()) header.pop_back();
  return header;
}

// The current row as one line. A column without a field (an array) gives a
// null, so that every line stays aligned with the header.
void AppendRowLine(std::string& line, const TTableReader& table, const std::vector<std::size_t>& chosen,
                   const TCsvDialect& dialect) {
  for (std::size_t column : chosen) {
    TField* field = table.Field(column);
    if (!field || field->IsNull()) {
      line += dialect.nullText;
    } else {
      const std::size_t start = line.size();
      field->AppendValueText(line);
      // An empty text is written as "" so that it does not read back as null.
      if (line.size() == start) {
        line += "\"\"";
      } else {
        QuoteCsvPieceFrom(line, start, dialect);
      }
    }
    line += dialect.delimiter;
  }
  if (!line.empty()) line.pop_back();
}

}  // namespace

TTransferResult ExportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                            IMessages& messages) {
  progress.SetPosition(0);

  TTransferResult result;
  result.direction = TTransferDirection::tdExport;
  result.tableName = request.query.empty() ? request.tableName : std::string();
  result.path = TransferPath(request.folder, request.fileName);
  // The rows go into a temporary file that replaces the target only once
  // everything succeeded; a failure or a stop leaves an earlier file as it was.
  std::optional<TReplacingFile> replacing;
  if (!request.standardStream) {
    CheckRegularFile(result.path);
    replacing.emplace(result.path);
  }
  // Failures name the file the user chose, not the new one beside it.
  TTextFile file(replacing ? replacing->TemporaryPath() : result.path, result.path);
  file.Rewrite();
  IOCheck();
  file.SetLineEnd(request.dialect.lineEnd);

  auto stopped = [&] {
    file.Close();
    IOResult();
    result.stopped = true;
    messages.ShowResult(result);
    return result;
  };

  try {
    TTableReader table(dataSet, TTableReader::TSource{request.tableName, request.where, request.query});
    const std::vector<std::size_t> chosen = ChosenColumns(table.ColumnNames(), request);
    if (request.dialect.header) {
      file.WriteLn(HeaderLine(table.ColumnNames(), chosen, request.dialect));
      IOCheck();
    }
    progress.SetPosition(10);

    const std::int64_t recordCount = table.CountRows();

    std::string line;
    std::int64_t written = 0;
    while (!table.AtEnd()) {
      if (progress.StopRequested()) return stopped();
      line.clear();
      AppendRowLine(line, table, chosen, request.dialect);
      file.WriteLn(line);
      IOCheck();
      table.Next();
      ++written;
      // Rows committed after the count was taken never carry the bar past 100.
      if (recordCount > 0) {
        progress.SetPosition(static_cast<int>(10 + 90 * std::min(written, recordCount) / recordCount));
        progress.SetRowsDone(written);
      }
    }

    table.Close();
    file.Close();
    IOCheck();
    if (replacing) replacing->Commit();
    progress.SetPosition(100);
    progress.SetRowsDone(written);

    result.rows = written;
    messages.ShowResult(result);
    return result;
  } catch (const std::exception&) {
    // A Stop may cancel a call that waits on the server, or end the file's
    // reader; the failure that follows is the stop.
    if (progress.StopRequested()) return stopped();
    throw;
  }
}
