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
    case fkSQLTimeStamp:
      return required(ParseDateTimeText(piece), "time stamp", DateTimeForms);
    case fkFloat:
    case fkBCD:
    case fkFMTBCD:
    case fkWideDecimal:
    case fkDecFloat:
      return ParseNumberText(piece);
    default:
      return std::nullopt;
  }
}

const char* DelimiterName(char delimiter) {
  switch (delimiter) {
    case ';':
      return "semicolons";
    case '\t':
      return "tabs";
    case '|':
      return "vertical bars";
    default:
      return "commas";
  }
}

std::string Columns(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " column" : " columns");
}

}  // namespace

std::size_t MatchColumnName(const std::vector<std::string>& names, const std::string& name,
                            const std::vector<bool>& taken, std::string_view charSet) {
  const auto exact = std::find(names.begin(), names.end(), name);
  if (exact != names.end() && !taken[static_cast<std::size_t>(exact - names.begin())]) {
    return static_cast<std::size_t>(exact - names.begin());
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!taken[i] && SameName(names[i], name, charSet)) return i;
  }
  return names.size();
}

std::vector<std::size_t> MatchColumnNames(
    const std::vector<std::string>& names, const std::vector<std::string>& wanted, std::string_view charSet,
    const std::function<std::string(const std::string&, bool)>& problem) {
  std::vector<std::size_t> chosen;
  std::vector<bool> taken(names.size(), false);
  for (const std::string& name : wanted) {
    const std::size_t column = MatchColumnName(names, name, taken, charSet);
    if (column == names.size()) {
      const bool twice = std::any_of(names.begin(), names.end(),
                                     [&](const std::string& n) { return SameName(n, name, charSet); });
      throw Exception(problem(name, twice));
    }
    taken[column] = true;
    chosen.push_back(column);
  }
  return chosen;
}

THeaderMatch MatchHeader(const std::vector<TCsvPiece>& firstLine, const std::vector<TTableColumn>& table,
                         const TCsvDialect& dialect, std::string_view charSet) {
  THeaderMatch match;
  const bool given = !dialect.columns.empty();
  // Given names (a file without a header, or read as other columns) are no line of the file.
  const bool namedByFirstLine = dialect.header && !given;
  const std::string separated = std::string("separated by ") + DelimiterName(dialect.delimiter);
  const bool blankFirstLine = firstLine.size() == 1 && firstLine[0].text.empty() && !firstLine[0].quoted;
  if (namedByFirstLine && blankFirstLine) {
    match.problems.push_back("The first line is empty; it must name the columns, " + separated + ".");
    return match;
  }
  std::vector<std::string> header;
  if (given) {
    header = dialect.columns;
  } else if (dialect.header) {
    for (const TCsvPiece& piece : firstLine) header.push_back(piece.text);
  } else {
    for (const TTableColumn& column : table) header.push_back(column.name);
  }
  match.pieces = header.size();
  // (A blank first line, or an empty file, names nothing to count.)
  if (given && dialect.header && !blankFirstLine && firstLine.size() != header.size()) {
    match.problems.push_back("The header names " + Columns(firstLine.size()) + ", but " +
                             Columns(header.size()) + (header.size() == 1 ? " is" : " are") +
                             " given for them.");
  }
  std::vector<std::string> names;
  for (const TTableColumn& column : table) names.push_back(column.name);
  std::vector<bool> taken(table.size(), false);
  for (std::size_t p = 0; p < header.size(); ++p) {
    const std::string& name = header[p];
    if (given && name == kSkippedColumn) continue;
    const std::size_t index = MatchColumnName(names, name, taken, charSet);
    if (index == table.size()) {
      const bool twice = std::any_of(table.begin(), table.end(), [&](const TTableColumn& column) {
        return SameName(column.name, name, charSet);
      });
      if (!twice && dialect.ignoreUnknownColumns) {
        match.skipped.push_back(name);
        continue;
      }
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
      match.problems.push_back(
          "Column '" + table[i].name + "' takes no null and has no default, but " +
          (namedByFirstLine ? "the header does not name it." : "it is not among the columns given."));
    }
  }
  if (namedByFirstLine && !match.problems.empty() && firstLine.size() == 1) {
    for (char other : {',', ';', '\t'}) {
      if (other != dialect.delimiter && firstLine[0].text.find(other) != std::string::npos) {
        match.problems.push_back(std::string("The header looks separated by ") + DelimiterName(other) +
                                 "; the values of a line must be " + separated + ".");
      }
    }
  }
  return match;
}

std::string SkippedColumnsText(const std::string& path, const std::string& table,
                               const std::vector<std::string>& skipped) {
  std::string names;
  for (const std::string& name : skipped) names += (names.empty() ? "'" : ", '") + name + "'";
  return "File '" + path + "': table '" + table + "' has no " +
         (skipped.size() == 1 ? "column " : "columns ") + names + "; " +
         (skipped.size() == 1 ? "its values are" : "their values are") + " passed over.";
}

TInsertValue ImportValue(const TImportColumn& column, TColumnInput input, const TCsvPiece& piece,
                         const std::string& nullText) {
  TInsertValue value;
  if (!piece.quoted && piece.text == nullText) return value;
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
