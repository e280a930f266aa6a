#include <strings.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "db/sql_dataset.h"
#include "db/value_parse.h"
#include "transfer/check_entries.h"
#include "transfer/csv_pieces.h"
#include "transfer/table_transfer.h"
#include "transfer/text_file.h"
#include "transfer/transfer_common.h"
#include "transfer/transfer_file.h"

namespace {

// A column named by the file's header.
struct TImportColumn {
  std::string sqlName;
  // The kind of its field, which says how a value text is read; none for a
  // column without a field object.
  std::optional<TFieldKind> kind;
};

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A name the server reads without quotes: a letter, then letters, digits,
// "_" or "$". Its letter case does not matter to the server.
bool IsPlainName(const std::string& name) {
  if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
  });
}

std::optional<TFieldKind> KindOf(TSQLDataSet& dataSet, const std::string& fieldName) {
  for (int i = 0, n = dataSet.NumberOfFields(); i < n; ++i) {
    TField& field = dataSet.FieldAt(i);
    if (field.FieldName() == fieldName) return field.Kind();
  }
  return std::nullopt;
}

// The value text in the server's own form, when the piece reads as a value
// of the column's kind under the locale the export writes with; otherwise
// the piece as it stands, and the server decides.
std::optional<std::string> ServerForm(std::optional<TFieldKind> kind, const std::string& piece) {
  if (!kind) return std::nullopt;
  switch (*kind) {
    case fkDate:
      return ParseDateText(piece);
    case fkTime:
      return ParseTimeText(piece);
    case fkDateTime:
    case fkSQLTimeStamp:
      return ParseDateTimeText(piece);
    case fkFloat:
    case fkCurrency:
    case fkBCD:
    case fkFMTBCD:
      return ParseNumberText(piece);
    default:
      return std::nullopt;
  }
}

void AppendLiteral(std::string& values, const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    // A statement is a zero-terminated text: bytes with a NUL go as a binary literal.
    static const char kHex[] = "0123456789ABCDEF";
    values += "x'";
    for (unsigned char c : text) {
      values += kHex[c >> 4];
      values += kHex[c & 15];
    }
    values += '\'';
    return;
  }
  values += '\'';
  for (char c : text) {
    if (c == '\'') values += '\'';
    values += c;
  }
  values += '\'';
}

}  // namespace

TTransferResult ImportTable(TSQLDataSet& dataSet, const TTransferRequest& request, IProgress& progress,
                         IMessages& messages) {
  progress.SetPosition(0);

  TOpenedTable table(dataSet, request.tableName);
  progress.SetPosition(10);

  const std::string path = TransferPath(request.folder, request.fileName);
  if (!request.standardStream) CheckRegularFile(path);
  TTextFile file(path);
  file.Reset();
  IOCheck();
  TCsvRecordReader reader(file);
  std::vector<TCsvPiece> pieces;
  reader.Read(pieces);
  IOCheck();

  TSQLConnection& connection = *dataSet.SQLConnection();
  std::vector<TImportColumn> columns;
  std::string columnList;
  for (const auto& piece : pieces) {
    // A name written exactly as a field's goes to that field, so that
    // fields whose names differ only in letter case stay apart.
    auto field = std::find(request.fieldList.begin(), request.fieldList.end(), piece.text);
    if (field == request.fieldList.end()) {
      field = std::find_if(request.fieldList.begin(), request.fieldList.end(),
                           [&](const std::string& name) { return SameIgnoringCase(name, piece.text); });
    }
    if (field == request.fieldList.end()) {
      messages.ShowMessage("Column header in source file does not match the database table fields!");
      return {};
    }
    // The header's own spelling where the server reads it as that column;
    // the column's quoted name where it needs quotes.
    std::string quoted = connection.QuoteObjectName(*field);
    std::string sqlName = quoted == *field && IsPlainName(piece.text) ? piece.text : quoted;
    if (!columnList.empty()) columnList += ',';
    columnList += sqlName;
    columns.push_back({std::move(sqlName), KindOf(dataSet, *field)});
  }
  const std::string insertHead =
      "INSERT INTO " + connection.QuoteObjectName(request.tableName) + "(" + columnList + ") VALUES (";

  std::int32_t inserted = 0;
  std::string statement;
  for (;;) {
    const bool atEnd = reader.AtEnd();
    IOCheck();
    if (atEnd) break;
    reader.Read(pieces);
    IOCheck();

    statement = insertHead;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const TCsvPiece& piece = pieces[i];
      if (piece.text.empty() && !piece.quoted) {
        statement += "null";
      } else {
        auto serverForm = ServerForm(i < columns.size() ? columns[i].kind : std::nullopt, piece.text);
        AppendLiteral(statement, serverForm ? *serverForm : piece.text);
      }
      if (i + 1 < pieces.size()) statement += ", ";
    }
    statement += ')';

    // Each line stands alone: one the database refuses is reported and skipped.
    try {
      dataSet.SetActive(false);
      dataSet.SetCommandType(ctQuery);
      dataSet.SetCommandText(statement);
      inserted += dataSet.RunDirect();
    } catch (const std::exception&) {
      messages.ShowMessage("Invalid data!");
    }
  }

  dataSet.SetActive(false);
  file.Close();
  IOCheck();
  progress.SetPosition(100);

  messages.ShowMessage(TransferMessage(inserted, request.tableName, "imported", path));
  TTransferResult result;
  result.rows = inserted;
  return result;
}
