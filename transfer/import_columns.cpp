#include "transfer/import_columns.h"

#include <algorithm>

#include "db/layer_text.h"
#include "db/value_parse.h"

namespace {

// The value text in the server's own form, when the piece reads as a value
// of the column's kind; otherwise nullopt, and the piece goes as it stands,
// except for a date, time or time stamp: the server reads some of those month
// first, so one that does not read refuses its line.
std::optional<std::string> ServerForm(std::optional<TFieldKind> kind, const std::string& piece) {
  if (!kind) return std::nullopt;
  const auto required = [&piece](std::optional<std::string> value, const char* what, std::string (*forms)()) {
    if (!value) throw EConvertError("'" + piece + "' is no " + what + " in the form " + forms());
    return value;
  };
  switch (*kind) {
    case fkDate:
      return required(ParseDateText(piece), "date", DateForms);
    case fkTime:
      return required(ParseTimeText(piece), "time", TimeForms);
    case fkDateTime:
    case fkSQLTimeStamp:
      return required(ParseDateTimeText(piece), "time stamp", DateTimeForms);
    case fkFloat:
    case fkCurrency:
    case fkBCD:
    case fkFMTBCD:
      return ParseNumberText(piece);
    default:
      return std::nullopt;
  }
}

}  // namespace

THeaderMatch MatchHeader(std::vector<TCsvPiece> header, const std::vector<TTableColumn>& table) {
  THeaderMatch match;
  if (header.size() == 1 && header[0].text.empty() && !header[0].quoted) {
    match.problems.push_back("The first line is empty; it must name the columns, separated by commas.");
    return match;
  }
  if (!header.empty() && !header[0].quoted && header[0].text.starts_with("\xEF\xBB\xBF")) {
    header[0].text.erase(0, 3);  // a byte-order mark, as spreadsheets write it
  }
  std::vector<bool> taken(table.size(), false);
  for (std::size_t p = 0; p < header.size(); ++p) {
    const std::string& name = header[p].text;
    std::size_t index = table.size();
    for (std::size_t i = 0; i < table.size() && index == table.size(); ++i) {
      if (table[i].name == name) index = i;
    }
    if (index == table.size() || taken[index]) {
      index = table.size();
      for (std::size_t i = 0; i < table.size() && index == table.size(); ++i) {
        if (!taken[i] && SameText(table[i].name, name)) index = i;
      }
    }
    if (index == table.size()) {
      const bool twice = std::any_of(table.begin(), table.end(), [&](const TTableColumn& column) {
        return SameText(column.name, name);
      });
      match.problems.push_back(twice ? "Column '" + name + "' is named twice."
                                     : "The table has no column '" + name + "'.");
      continue;
    }
    taken[index] = true;
    if (table[index].computed) continue;
    match.columns.push_back({table[index].name, p, table[index].kind});
  }
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].required && !taken[i]) {
      match.problems.push_back("Column '" + table[i].name +
                               "' takes no null and has no default, but the header does not name it.");
    }
  }
  if (!match.problems.empty() && header.size() == 1) {
    for (const auto& [separator, name] : {std::pair{';', "semicolons"}, std::pair{'\t', "tabs"}}) {
      if (header[0].text.find(separator) != std::string::npos) {
        match.problems.push_back(std::string("The header looks separated by ") + name +
                                 "; the values of a line must be separated by commas.");
      }
    }
  }
  return match;
}

TInsertValue ImportValue(const TImportColumn& column, TColumnInput input, const TCsvPiece& piece) {
  TInsertValue value;
  if (piece.text.empty() && !piece.quoted) return value;
  if (input == TColumnInput::ciDouble) {
    // The server's own reading of a text refuses some doubles its columns
    // hold, so a number we can read travels as the very double it names.
    if (std::optional<double> real = ParseDoubleText(piece.text)) {
      value.kind = TInsertValue::ivDouble;
      value.real = *real;
      return value;
    }
  }
  std::optional<std::string> serverForm = ServerForm(column.kind, piece.text);
  value.kind = TInsertValue::ivText;
  value.text = serverForm ? std::move(*serverForm) : piece.text;
  return value;
}
