#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/table_port.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_file.h"

namespace {

std::string HeaderLine(const std::vector<std::string>& columnNames) {
  std::string header;
  for (const auto& name : columnNames) {
    AppendCsvPiece(header, name);
    header += ',';
  }
  if (!header.empty()) header.pop_back();
  return header;
}

// The current row as one line. A column without a field (an array) gives an
// empty piece, so that every line stays aligned with the header.
void AppendRowLine(std::string& line, const TTableReader& table) {
  for (std::size_t column = 0, count = table.ColumnNames().size(); column < count; ++column) {
    TField* field = table.Field(column);
    if (field && !field->IsNull()) {
      const std::size_t start = line.size();
      field->AppendValueText(line);
      // An empty text is written as "" so that it does not read back as null.
      if (line.size() == start) {
        line += "\"\"";
      } else {
        QuoteCsvPieceFrom(line, start);
      }
    }
    line += ',';
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

  auto stopped = [&] {
    file.Close();
    IOResult();
    result.stopped = true;
    messages.ShowResult(result);
    return result;
  };

  try {
    TTableReader table(dataSet, TTableReader::TSource{request.tableName, request.where, request.query});
    file.WriteLn(HeaderLine(table.ColumnNames()));
    IOCheck();
    progress.SetPosition(10);

    const std::int64_t recordCount = table.CountRows();

    std::string line;
    std::int64_t written = 0;
    while (!table.AtEnd()) {
      if (progress.StopRequested()) return stopped();
      line.clear();
      AppendRowLine(line, table);
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
