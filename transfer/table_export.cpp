#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "db/sql_dataset.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_common.h"
#include "transfer/transfer_file.h"

namespace {

// The field of each piece of a row. A column of the list without a field
// object (an array) gets an empty piece, so that every line stays aligned
// with the header. When the list does not describe the dataset's columns,
// each field of the dataset gives one piece, in the dataset's order.
std::vector<TField*> PieceFields(TSQLDataSet& dataSet, const std::vector<std::string>& fieldList) {
  std::vector<TField*> fields;
  const int count = dataSet.NumberOfFields();
  fields.reserve(count);
  for (int i = 0; i < count; ++i) fields.push_back(&dataSet.FieldAt(i));

  std::vector<TField*> pieces;
  std::size_t next = 0;
  for (const auto& name : fieldList) {
    if (next < fields.size() && fields[next]->FieldName() == name) {
      pieces.push_back(fields[next++]);
    } else {
      pieces.push_back(nullptr);
    }
  }
  return next == fields.size() ? pieces : fields;
}

std::string HeaderLine(const std::vector<std::string>& fieldList) {
  std::string header;
  for (const auto& name : fieldList) {
    AppendCsvPiece(header, name);
    header += ',';
  }
  if (!header.empty()) header.pop_back();
  return header;
}

// Reads the count and the rows in one snapshot transaction, so that the file
// is one consistent picture of the table even while others write to it. A
// transaction the caller has open already is used as it stands.
class TSnapshot {
 public:
  explicit TSnapshot(TSQLDataSet& dataSet) : m_connection(dataSet.SQLConnection()) {
    if (m_connection && !m_connection->InTransaction()) {
      m_connection->StartTransaction(eTxnSnapshot);
      m_started = true;
    }
  }
  // Nothing was changed: ending it either way leaves the database as it was.
  ~TSnapshot() {
    if (!m_started) return;
    try {
      if (m_connection->InTransaction()) m_connection->Rollback();
    } catch (...) {
    }
  }
  TSnapshot(const TSnapshot&) = delete;
  TSnapshot& operator=(const TSnapshot&) = delete;

 private:
  TSQLConnection* m_connection;
  bool m_started = false;
};

}  // namespace

TTransferResult ExportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                         IMessages& messages) {
  progress.SetPosition(0);

  const std::string path = TransferPath(request.folder, request.fileName);
  // The rows go into a temporary file that replaces the target only once
  // everything succeeded; a failure or a stop leaves an earlier file as it was.
  std::optional<TReplacingFile> replacing;
  if (!request.standardStream) {
    CheckRegularFile(path);
    replacing.emplace(path);
  }
  TTextFile file(replacing ? replacing->TemporaryPath() : path);
  file.Rewrite();
  IOCheck();
  file.WriteLn(HeaderLine(request.fieldList));
  IOCheck();

  TTransferResult result;
  auto stopped = [&] {
    file.Close();
    IOResult();
    result.stopped = true;
    messages.ShowMessage("Export of table '" + request.tableName + "' stopped: nothing was written into file '" +
                         path + "'");
    return result;
  };

  try {
    std::optional<TSnapshot> snapshot(std::in_place, dataSet);
    TOpenedTable table(dataSet, request.tableName);
    progress.SetPosition(10);

    dataSet.MoveFirst();
    const std::int64_t recordCount = dataSet.CountRecords();
    const std::vector<TField*> pieceFields = PieceFields(dataSet, request.fieldList);

    std::string line;
    std::int64_t written = 0;
    while (!dataSet.AtEnd()) {
      if (progress.StopRequested()) return stopped();
      line.clear();
      for (TField* field : pieceFields) {
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
      file.WriteLn(line);
      IOCheck();
      dataSet.MoveNext();
      ++written;
      // Rows committed after the count was taken never carry the bar past 100.
      if (recordCount > 0) {
        progress.SetPosition(static_cast<int>(10 + 90 * std::min<std::int64_t>(written, recordCount) / recordCount));
        progress.SetRowsDone(written);
      }
    }

    dataSet.SetActive(false);
    snapshot.reset();
    file.Close();
    IOCheck();
    if (replacing) replacing->Commit();
    progress.SetPosition(100);
    progress.SetRowsDone(written);

    messages.ShowMessage(TransferMessage(static_cast<std::int32_t>(written), request.tableName, "exported", path));
    result.rows = written;
    return result;
  } catch (const EDatabaseError&) {
    // A Stop may cancel a call that waits on the server; its failure is the stop.
    if (progress.StopRequested()) return stopped();
    throw;
  }
}
