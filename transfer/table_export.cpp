#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "db/fields.h"
#include "db/layer_text.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "db/table_reader.h"
#include "transfer/batch_pipe.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/import_columns.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_file.h"
#include "transfer/worker_thread.h"

namespace {

// The columns the file takes, in the file's order: those the dialect names,
// matched as an import matches its header.
std::vector<std::size_t> ChosenColumns(const std::vector<std::string>& names, const TTransferRequest& request,
                                       const std::string& charSet) {
  const std::string source = request.query.empty() ? "table" : "query";
  return MatchColumnNames(names, request.dialect.columns, charSet, [&](const std::string& name, bool twice) {
    return twice ? "Column '" + name + "' is named twice."
                 : "The " + source + " has no column '" + name + "'.";
  });
}

std::string HeaderLine(const std::vector<std::string>& columnNames, const TCsvDialect& dialect) {
  std::string header;
  for (const std::string& name : columnNames) {
    AppendCsvPiece(header, name, dialect);
    header += dialect.delimiter;
  }
  if (!header.empty()) header.pop_back();
  return header;
}

// Rows on their way from the thread that fetches them to the one that turns
// them into lines and writes them, as row images: a batch holds at most
// kBatchRows rows and about kBatchBytes bytes.
struct TRowBatch {
  std::vector<char> images;  // row after row
  std::size_t rows = 0;
};
using TRowPipe = TBatchPipe<TRowBatch>;
constexpr std::size_t kBatchRows = 512;
constexpr std::size_t kBatchBytes = 1 << 20;

// Whether the dialect quotes every value of the field's kind.
bool AlwaysQuoted(const TField& field, TCsvDialect::TQuoting quoting) {
  switch (quoting) {
    case TCsvDialect::TQuoting::qMinimal:
      return false;
    case TCsvDialect::TQuoting::qAll:
      return true;
    case TCsvDialect::TQuoting::qText:
      break;
  }
  switch (field.Kind()) {
    case fkSmallint:
    case fkInteger:
    case fkLargeint:
    case fkFloat:
    case fkBCD:
    case fkFMTBCD:
    case fkWideDecimal:
    case fkDecFloat:
    case fkBoolean:
      return false;
    default:
      return true;
  }
}

// The row last shown as one line. A column without a field (an array)
// gives a null, so that every line stays aligned with the header.
void AppendRowLine(std::string& line, const TTableReader& table, std::size_t columns,
                   const TCsvDialect& dialect) {
  for (std::size_t column = 0; column < columns; ++column) {
    TField* field = table.ImageField(column);
    if (!field || field->IsNull()) {
      line += dialect.nullText;
    } else {
      const std::size_t start = line.size();
      field->AppendValueText(line);
      // An empty text is written as "" so that it does not read back as null.
      if (line.size() == start) {
        line += "\"\"";
      } else {
        QuoteCsvPieceFrom(line, start, dialect, AlwaysQuoted(*field, dialect.quoting));
      }
    }
    line += dialect.delimiter;
  }
  if (!line.empty()) line.pop_back();
}

// Turns the rows the pipe brings into lines of the file until the pipe
// ends; what fails here ends the pipe.
void WriteLines(TRowPipe& pipe, TTextFile& file, TTableReader& table, std::size_t imageSize,
                const TCsvDialect& dialect) {
  try {
    const std::size_t columns = table.ColumnNames().size();
    std::string line;
    while (TRowBatch* batch = pipe.Receive()) {
      for (std::size_t row = 0; row < batch->rows; ++row) {
        table.ShowImage(batch->images.data() + row * imageSize);
        line.clear();
        AppendRowLine(line, table, columns, dialect);
        file.WriteLn(line);
      }
      pipe.Return(*batch);
    }
    pipe.Quit();
  } catch (...) {
    pipe.Quit(std::current_exception());
  }
}

}  // namespace

bool TakesByteOrderMark(std::string_view charSet) {
  std::string name;
  for (char c : charSet) {
    if (c != '-' && c != '_') name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return name == "UTF8";
}

TTransferResult ExportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                            IMessages& messages) {
  progress.SetPosition(0);

  TTransferResult result;
  result.direction = TTransferDirection::tdExport;
  result.tableName = request.query.empty() ? request.tableName : std::string();
  result.path = TransferPath(request.folder, request.fileName);
  // A byte-order mark says the text is UTF-8; before any file is made.
  if (request.dialect.byteOrderMark && dataSet.SQLConnection() &&
      !TakesByteOrderMark(dataSet.SQLConnection()->CharSet())) {
    const std::string charSet = dataSet.SQLConnection()->CharSet();
    throw Exception("A byte-order mark heads only a file of UTF-8 text; this file's text is " +
                    (charSet.empty() ? std::string("NONE") : charSet) + ".");
  }
  // The rows go into a temporary file that replaces the target only once
  // everything succeeded; a failure or a stop leaves an earlier file as it was.
  std::optional<TReplacingFile> replacing;
  if (!request.standardStream) {
    CheckRegularFile(result.path);
    replacing.emplace(result.path, !request.replaceLinks);
  }
  // Failures name the file the user chose, not the new one beside it.
  TTextFile file(replacing ? replacing->TemporaryPath() : result.path, result.path);
  file.SetCompression(request.FileCompression());
  file.Rewrite();
  file.SetLineEnd(request.dialect.lineEnd);
  if (request.dialect.byteOrderMark) {
    file.Write("\xEF\xBB\xBF");
  }

  auto stopped = [&] {
    file.CloseQuietly();
    result.stopped = true;
    messages.ShowResult(result);
    return result;
  };

  try {
    TTableReader::TSource source{request.tableName, request.where, request.query, {}};
    if (!request.dialect.columns.empty()) {
      const std::string charSet = dataSet.SQLConnection()->CharSet();
      source.choose = [&request, charSet](const std::vector<std::string>& names) {
        return ChosenColumns(names, request, charSet);
      };
    }
    std::int64_t fetched = 0;
    // A failure while rows are read names the row, and the character set
    // the text was to be written in.
    auto rowFailure = [&](const EDatabaseError& failure) {
      const std::string source =
          request.query.empty() ? "of table '" + request.tableName + "'" : "of the query";
      std::string context = "Row " + std::to_string(fetched + 1) + " " + source +
                            " cannot be written into file '" + result.path + "'";
      const std::string charSet =
          dataSet.SQLConnection() ? dataSet.SQLConnection()->Params().Value("ServerCharSet") : "";
      if (failure.SqlState() == "22018" || failure.SqlState() == "22000") {
        context += " in character set " + (charSet.empty() ? std::string("NONE") : charSet) +
                   " (write it in the set its columns are declared in, or in NONE)";
      }
      return EDatabaseError(context + ": " + failure.what(), failure.SqlState());
    };
    // The first row is fetched as the reader opens.
    std::optional<TTableReader> opened;
    try {
      opened.emplace(dataSet, source);
    } catch (const EDatabaseError& failure) {
      if (failure.SqlState() != "22018" && failure.SqlState() != "22000") throw;
      throw rowFailure(failure);
    }
    TTableReader& table = *opened;
    if (request.dialect.header) {
      file.WriteLn(HeaderLine(table.ColumnNames(), request.dialect));
    }
    progress.SetPosition(10);

    // The bar follows the share of the table's pages passed, so that the
    // table is read once, without counting its rows first; it reaches 100
    // when the last row is written, and is told every 64 rows, since it
    // moves by pages. A query (or a table whose pages cannot be told) shows
    // its rows as they come, the bar waiting at 10.
    const bool byPages = table.ShareRead().has_value();
    auto showRow = [&](std::int64_t rows) {
      if (!byPages) {
        if (rows % 1024 == 0) progress.SetRowsDone(rows);
      } else if (rows % 64 == 1) {
        progress.SetPosition(10 + static_cast<int>(90 * table.ShareRead().value_or(0)));
        progress.SetRowsDone(rows);
      }
    };

    // Each row is copied here as it was fetched, on the caller's thread,
    // which alone fetches; another thread turns the copies into lines and
    // writes them (reading long blobs, too), while the next rows are fetched.
    const std::size_t imageSize = table.ImageSize();
    const std::size_t batchRows =
        std::clamp<std::size_t>(kBatchBytes / std::max<std::size_t>(imageSize, 1), 1, kBatchRows);
    TRowPipe pipe;
    std::thread writer(WriteLines, std::ref(pipe), std::ref(file), std::ref(table), imageSize,
                       std::cref(request.dialect));
    TJoinOnExit join{writer, [&pipe] { pipe.Abandon(); }};
    // The writer uses the file: it ends before the file is closed.
    auto stopHere = [&] {
      pipe.Abandon();
      writer.join();
      return stopped();
    };

    // The writer takes every batch until the end, or fails: Take never
    // gives null here.
    auto take = [&] {
      TRowBatch* taken = pipe.Take();
      taken->rows = 0;
      taken->images.resize(batchRows * imageSize);
      return taken;
    };
    TRowBatch* batch = take();
    try {
      while (!table.AtEnd()) {
        if (progress.StopRequested()) return stopHere();
        table.CopyRow(batch->images.data() + batch->rows * imageSize);
        showRow(fetched + 1);
        if (++batch->rows == batchRows) {
          pipe.Send(*batch);
          batch = take();
        }
        table.Next();
        ++fetched;
      }
    } catch (const EDatabaseError& failure) {
      if (progress.StopRequested()) throw;
      throw rowFailure(failure);
    }
    if (progress.StopRequested()) return stopHere();
    if (batch->rows > 0) pipe.Send(*batch);
    pipe.Finish();
    writer.join();
    const std::int64_t written = fetched;

    table.Close();
    file.Close();
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
