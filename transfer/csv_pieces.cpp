#include "transfer/csv_pieces.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/exceptions.h"
#include "transfer/line_rules.h"
#include "transfer/split_delimited.h"
#include "transfer/text_file.h"

namespace {

using linerules::kCtrlZ;

// The bytes besides the delimiter that make a piece need quotes; a Ctrl-Z
// too, which older readers take for the end of the file.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> table{};
  table[static_cast<unsigned char>('"')] = true;
  table[static_cast<unsigned char>('\r')] = true;
  table[static_cast<unsigned char>('\n')] = true;
  table[static_cast<unsigned char>(kCtrlZ)] = true;
  return table;
}();

void AppendQuoted(std::string& line, std::string_view piece) {
  line += '"';
  for (char c : piece) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

// The text of a line without double quotes, the delimiter in front, as the line rules read it.
std::string PlainLineText(const std::string& raw, char delimiter) {
  std::string text;
  text.reserve(raw.size() + 1);
  text += delimiter;
  linerules::AppendText(text, raw);
  return text;
}

// An empty piece equal to the empty null text is left to the caller: a
// header has no empty names, and the export writes an empty value as "".
// A piece that starts with a byte-order mark is quoted too: as a file's
// first bytes the import would take the mark for the file's own.
bool QuotedInDialect(std::string_view piece, const TCsvDialect& dialect) {
  return NeedsCsvQuotes(piece, dialect.delimiter) ||
         (!dialect.nullText.empty() && piece == dialect.nullText) || piece.starts_with("\xEF\xBB\xBF");
}

}  // namespace

bool NeedsCsvQuotes(std::string_view piece, char delimiter) {
  // Sixteen bytes at a time, each compared with the five bytes at once.
  using TBytes = unsigned char __attribute__((vector_size(16)));
  std::size_t at = 0;
  if (piece.size() >= sizeof(TBytes)) {
    const auto each = [](char c) { return TBytes{} + static_cast<unsigned char>(c); };
    const TBytes quote = each('"'), cr = each('\r'), lf = each('\n'), ctrlZ = each(kCtrlZ),
                 delim = each(delimiter);
    for (; at + sizeof(TBytes) <= piece.size(); at += sizeof(TBytes)) {
      TBytes bytes;
      std::memcpy(&bytes, piece.data() + at, sizeof bytes);
      const auto found =
          (bytes == quote) | (bytes == cr) | (bytes == lf) | (bytes == ctrlZ) | (bytes == delim);
      std::uint64_t halves[2];
      std::memcpy(halves, &found, sizeof halves);
      if ((halves[0] | halves[1]) != 0) return true;
    }
  }
  for (; at < piece.size(); ++at) {
    const char c = piece[at];
    if (kSpecial[static_cast<unsigned char>(c)] || c == delimiter) return true;
  }
  return false;
}

void AppendCsvPiece(std::string& line, std::string_view piece, const TCsvDialect& dialect) {
  if (dialect.quoting != TCsvDialect::TQuoting::qMinimal || QuotedInDialect(piece, dialect)) {
    AppendQuoted(line, piece);
  } else {
    line.append(piece);
  }
}

void QuoteCsvPieceFrom(std::string& line, std::size_t from, const TCsvDialect& dialect, bool always) {
  std::string_view piece(line.data() + from, line.size() - from);
  if (!always && !QuotedInDialect(piece, dialect)) return;
  std::string quoted;
  AppendQuoted(quoted, piece);
  line.replace(from, std::string::npos, quoted);
}

bool TCsvRecordReader::AtEnd() {
  if (!m_blanks.empty() || m_hasAhead) return false;
  if (m_blankLinesAreRecords) return m_file.Eof();
  std::int64_t blankLines = 0;
  for (;;) {
    if (m_file.Eof()) break;
    ReadFileLine(m_ahead, m_maxRecordBytes + 1);
    if (m_ahead.size() > m_maxRecordBytes) FailTooLarge(m_nextLine + blankLines);
    if (!linerules::IsBlank(m_ahead)) {
      m_hasAhead = true;
      return false;
    }
    if (m_blanks.empty() || m_blanks.back().raw != m_ahead) {
      m_blanks.push_back({m_ahead, 1});
    } else {
      ++m_blanks.back().count;
    }
    ++blankLines;
  }
  // Blank lines up to the end: taken, but no records.
  for (const TBlankRun& run : m_blanks) {
    m_bytesRead += static_cast<std::int64_t>(run.raw.size()) * run.count;
    m_nextLine += run.count;
  }
  m_blanks.clear();
  return true;
}

void TCsvRecordReader::FailTooLarge(std::int64_t lineNumber) const {
  const std::size_t mebibyte = std::size_t{1} << 20;
  const std::string limit = m_maxRecordBytes % mebibyte == 0
                                ? std::to_string(m_maxRecordBytes / mebibyte) + " MiB"
                                : std::to_string(m_maxRecordBytes) + " bytes";
  throw Exception("The record on line " + std::to_string(lineNumber) + " of file '" + m_file.Path() +
                  "' is larger than " + limit + ", the most one record may take");
}

// The file's next line, without the byte-order mark that may start the file
// (its bytes counted as read).
void TCsvRecordReader::ReadFileLine(std::string& line, std::size_t maxBytes) {
  m_file.ReadRawLine(line, maxBytes);
  if (!m_atStart) return;
  m_atStart = false;
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (line.starts_with(kByteOrderMark)) {
    line.erase(0, kByteOrderMark.size());
    m_bytesRead += static_cast<std::int64_t>(kByteOrderMark.size());
  }
}

// The record's next line into m_raw: a line read ahead, else the file's next.
void TCsvRecordReader::TakeLine() {
  if (!m_blanks.empty()) {
    m_raw = m_blanks.front().raw;
    if (--m_blanks.front().count == 0) m_blanks.pop_front();
  } else if (m_hasAhead) {
    m_raw.swap(m_ahead);
    m_hasAhead = false;
  } else {
    ReadFileLine(m_raw, m_maxRecordBytes - m_record.size() + 1);
  }
  if (m_record.size() + m_raw.size() > m_maxRecordBytes) FailTooLarge(m_lineNumber);
  m_record += m_raw;
  m_bytesRead += static_cast<std::int64_t>(m_raw.size());
  if (!m_raw.empty()) ++m_nextLine;
}

void TCsvRecordReader::SetPiecesPerRecord(std::size_t count) {
  m_piecesKnown = true;
  m_blankLinesAreRecords = count == 1 && m_nullIsEmpty;
}

void TCsvRecordReader::Read(std::vector<TCsvPiece>& pieces) {
  pieces.clear();
  m_record.clear();
  m_unterminated = false;
  m_lineNumber = m_nextLine;
  TakeLine();
  ReadPieces(pieces);
  if (!m_piecesKnown) SetPiecesPerRecord(pieces.size());
}

void TCsvRecordReader::ReadPieces(std::vector<TCsvPiece>& pieces) {
  if (m_raw.find('"') == std::string::npos) {
    TDynamicArrayStr texts;
    SplitDelimited(PlainLineText(m_raw, m_delimiter), texts);
    pieces.reserve(texts.size());
    for (auto& text : texts) pieces.push_back({std::move(text), false});
    return;
  }

  std::size_t p = 0;
  for (;;) {
    TCsvPiece piece;
    // Where the closing quote stands in the text, when one was found.
    std::size_t closedAt = std::string::npos;
    if (p < m_raw.size() && m_raw[p] == '"') {
      piece.quoted = true;
      ++p;
      for (;;) {
        std::size_t q = m_raw.find('"', p);
        if (q == std::string::npos) {
          // The value goes on over the line end, which is part of it.
          piece.text.append(m_raw, p, std::string::npos);
          TakeLine();
          p = 0;
          if (m_raw.empty()) {  // the file ended inside the quotes
            m_unterminated = true;
            break;
          }
          continue;
        }
        piece.text.append(m_raw, p, q - p);
        if (q + 1 < m_raw.size() && m_raw[q + 1] == '"') {
          piece.text += '"';
          p = q + 2;
          continue;
        }
        p = q + 1;
        closedAt = piece.text.size();
        break;
      }
    }
    // The rest of the piece up to its delimiter, by the plain rules.
    bool recordEnds = true;
    while (p < m_raw.size()) {
      char c = m_raw[p];
      if (c == m_delimiter) {
        ++p;
        recordEnds = false;
        break;
      }
      if (linerules::EndsText(m_raw, p)) {
        p = m_raw.size();
        break;
      }
      if (c != '\r') piece.text += c;
      ++p;
    }
    // Bytes after the closing quote: it closed nothing, and stays with them.
    if (closedAt != std::string::npos && closedAt < piece.text.size()) piece.text.insert(closedAt, 1, '"');
    pieces.push_back(std::move(piece));
    if (recordEnds) return;
  }
}
