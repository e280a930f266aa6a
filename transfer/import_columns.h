// How the pieces of an import file's lines go into the table's columns: the
// header matched against the table, and each piece turned into the value
// the inserter sends.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/bulk_inserter.h"
#include "db/catalogue.h"
#include "transfer/csv_pieces.h"

// A column named by the file's header.
struct TImportColumn {
  std::string name;       // as the table lists it
  std::size_t piece = 0;  // its piece in every line
  std::optional<TFieldKind> kind;
};

// The name that, among the columns a dialect gives, passes a file column over.
inline constexpr std::string_view kSkippedColumn = "-";

// The file's header against the table.
struct THeaderMatch {
  // The columns the header names, in the header's order, without the
  // COMPUTED BY ones (which take no values).
  std::vector<TImportColumn> columns;
  // What does not match, one sentence each; empty when the header fits.
  std::vector<std::string> problems;
  // The pieces every record of the file has.
  std::size_t pieces = 0;
  // Names of file columns the table lacks, passed over as the dialect allows.
  std::vector<std::string> skipped;
};

// The column of names that name goes to: the one written exactly so, so that
// columns whose names differ only in letter case stay apart; otherwise a
// column not yet taken that differs only in letter case (SameName, the names
// being in the connection's character set charSet). names.size() for none.
std::size_t MatchColumnName(const std::vector<std::string>& names, const std::string& name,
                            const std::vector<bool>& taken, std::string_view charSet);

// The columns of names that wanted names, in wanted's order, each matched
// by MatchColumnName. Throws Exception with problem(name, twice) for a name
// that no column has, or (twice) one whose column is named already.
std::vector<std::size_t> MatchColumnNames(
    const std::vector<std::string>& names, const std::vector<std::string>& wanted, std::string_view charSet,
    const std::function<std::string(const std::string&, bool)>& problem);

// Each name of the header goes to its column by MatchColumnName. The names
// are the dialect's columns when it gives them (each file column, in file
// order, goes into the column given for it, or nowhere for kSkippedColumn);
// else those of firstLine, the file's first line, when the dialect has a
// header; else every column of the table. The header does not fit when it
// names something that is no column (unless the dialect ignores unknown
// columns, which are then skipped), a column twice, or lacks a column every
// row needs a value for; also when a first line names another number of
// columns than the dialect gives. A first line that is to name the columns
// is also wrong when empty, and a delimiter it seems to use instead of the
// dialect's is named among the problems.
THeaderMatch MatchHeader(const std::vector<TCsvPiece>& firstLine, const std::vector<TTableColumn>& table,
                         const TCsvDialect& dialect = {}, std::string_view charSet = {});

// The message that the file columns skipped of table's file path were passed over.
std::string SkippedColumnsText(const std::string& path, const std::string& table,
                               const std::vector<std::string>& skipped);

// A piece as the value for column: an unquoted piece equal to the null text
// (by default the empty one) is null; a date, time or number that reads
// under the locale the export writes with (or in the server's own form) goes
// in the server's form, a double as the very double it names; any other
// piece goes as it stands and the server decides.
// Throws EConvertError, with the reason to show, for a piece that must not
// reach the server as it stands (the line is refused): a date, time or time
// stamp in neither form, which the server might read month first.
TInsertValue ImportValue(const TImportColumn& column, TColumnInput input, const TCsvPiece& piece,
                         const std::string& nullText = {});
