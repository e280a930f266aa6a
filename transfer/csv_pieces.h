// Pieces of a comma-separated line: how the export writes one and how the
// import reads a record back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/text_file.h"

// The form of a file's lines. The defaults are the window's files: commas,
// a null as an empty piece, a header line naming every column, CR LF.
struct TCsvDialect {
  // What separates the pieces of a line: ',' ';' '|' or a tab.
  char delimiter = ',';
  // An unquoted piece equal to it is a null, and a value equal to it is
  // written in quotes. Never a text that needs quotes itself. Empty: an
  // empty unquoted piece is a null; otherwise an empty piece is an empty text.
  std::string nullText;
  // The file's first line names its columns.
  bool header = true;
  // Export: these columns in this order (matched to the table's as the
  // import matches a header); import: the table column of each of the
  // file's columns, in file order, whatever a header line names. Empty: the
  // header's, else all the table's.
  // A column named "-" there is a file column passed over.
  std::vector<std::string> columns;
  // Import: a file column the table has no column for is passed over (and
  // named) rather than ending the import before its first line.
  bool ignoreUnknownColumns = false;
  // Export: what ends a line; the import reads either.
  TLineEnd lineEnd = TLineEnd::leCrLf;
  // Export: which values are written in double quotes. A null is never
  // quoted, so that it stays distinct from an empty text ("") in every way;
  // the import reads every way.
  enum class TQuoting {
    qMinimal,  // those that need them (NeedsCsvQuotes, a value equal to the null text, an empty text)
    qAll,      // every value, and the header's names
    qText,     // every value but numbers and booleans, and the header's names
  } quoting = TQuoting::qMinimal;
  // Export: the file starts with a UTF-8 byte-order mark (for a file whose
  // text is UTF-8 only); the import passes over one either way.
  bool byteOrderMark = false;
};

// True when a piece must be written in double quotes: it holds the
// delimiter, a double quote, a carriage return, a line feed or a Ctrl-Z.
bool NeedsCsvQuotes(std::string_view piece, char delimiter);
// Appends a piece to a line: in double quotes, each inner double quote
// doubled, when it needs quotes, equals a null text that is not empty or
// starts with a byte-order mark (a header name too, harmlessly); every other
// piece as it stands. Every piece in quotes when the dialect's quoting is not
// the minimal one (the header's names are text).
void AppendCsvPiece(std::string& line, std::string_view piece, const TCsvDialect& dialect = {});
// Quotes, in place, the piece that starts at `from` in line when it needs it
// (as AppendCsvPiece would have written it), or always.
void QuoteCsvPieceFrom(std::string& line, std::size_t from, const TCsvDialect& dialect = {},
                       bool always = false);

// The most bytes one record may take in a file, its line ends included: a
// file without line ends (`import T - < /dev/zero`) ends with an error
// rather than filling the memory.
constexpr std::size_t kMaxRecordBytes = std::size_t{256} << 20;

// One piece of a record as the import reads it.
struct TCsvPiece {
  std::string text;
  // Began with a double quote: its bytes stand exactly as written between
  // the quotes (a doubled quote for one), delimiters and line breaks included.
  bool quoted = false;
};

// Reads the records of a file open for reading, the first of them its header.
//
// A record is one line, cut at its delimiters (commas in the examples
// below, as in the default dialect), by the line rules of the text
// file facility (a lone carriage return dropped; a Ctrl-Z is data except as
// the file's last byte). A double quote inside a piece is kept as it stands:
// `1,a"b` gives `1` and `a"b`. A piece that begins with a double quote runs
// to its closing quote, across line ends if need be, keeping every byte, a
// doubled quote standing for one. Bytes between the closing quote and the
// next comma are kept too, the closing quote with them, since it closed
// nothing: `"x"y,z` gives `x"y` and `z`.
//
// A line without text is one empty piece. Such blank lines at the end of the
// file are no records (the line end an editor adds), unless the records are
// a single piece and the null text is empty: a file of one column writes a
// null as a blank line then. The records have as many pieces as the first
// one, the header, unless SetPiecesPerRecord says otherwise.
//
// A UTF-8 byte-order mark (EF BB BF) that starts the file is no data, as
// spreadsheets write one in front of the first line, a header or a row; the
// first record's bytes are those after it.
//
// Failures of the file throw EInOutError. A record larger than
// maxRecordBytes throws Exception naming the line it starts on.
class TCsvRecordReader {
 public:
  explicit TCsvRecordReader(TTextFile& file, std::size_t maxRecordBytes = kMaxRecordBytes)
      : TCsvRecordReader(file, TCsvDialect(), maxRecordBytes) {}
  TCsvRecordReader(TTextFile& file, const TCsvDialect& dialect, std::size_t maxRecordBytes = kMaxRecordBytes)
      : m_file(file),
        m_delimiter(dialect.delimiter),
        m_nullIsEmpty(dialect.nullText.empty()),
        m_maxRecordBytes(maxRecordBytes) {}
  // The records are to have count pieces (a file without a header, or one
  // read as other columns than its header names); call before the first
  // record is read, or after the header.
  void SetPiecesPerRecord(std::size_t count);
  // True when no record remains. Reads ahead past blank lines.
  bool AtEnd();
  void Read(std::vector<TCsvPiece>& pieces);

  // Of the record read last: the bytes it took in the file, exactly as they
  // stand (its line ends included), and the number of its first line.
  const std::string& Record() const { return m_record; }
  std::int64_t LineNumber() const { return m_lineNumber; }
  // The number of the line the next record begins on.
  std::int64_t NextLineNumber() const { return m_nextLine; }
  // True when a quoted piece was still open at the end of the file.
  bool Unterminated() const { return m_unterminated; }
  // Bytes of the file taken by the records read so far.
  std::int64_t BytesRead() const { return m_bytesRead; }

 private:
  void TakeLine();
  void ReadFileLine(std::string& line, std::size_t maxBytes);
  [[noreturn]] void FailTooLarge(std::int64_t lineNumber) const;
  void ReadPieces(std::vector<TCsvPiece>& pieces);

  TTextFile& m_file;
  char m_delimiter;
  bool m_nullIsEmpty;
  std::size_t m_maxRecordBytes;
  std::string m_raw;
  std::string m_record;
  // Blank lines read ahead, in runs of equal bytes, then the line after them.
  struct TBlankRun {
    std::string raw;
    std::int64_t count;
  };
  std::deque<TBlankRun> m_blanks;
  std::string m_ahead;
  bool m_hasAhead = false;
  // The records are one piece that is null when empty: blank lines at the end are records.
  bool m_blankLinesAreRecords = false;
  bool m_piecesKnown = false;
  std::int64_t m_lineNumber = 0;
  std::int64_t m_nextLine = 1;
  std::int64_t m_bytesRead = 0;
  bool m_unterminated = false;
  bool m_atStart = true;  // nothing read from the file yet
};
