// How pieces are written for a line and read back as records.
#include "transfer/csv_pieces.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/exceptions.h"
#include "common/test_database.h"
#include "transfer/text_file.h"

namespace {

TEST(CsvPieces, PiecesThatWouldBreakTheLineAreQuoted) {
  struct Case {
    std::string piece, written;
  } cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"lf\n", "\"lf\n\""},
      {"cr\r", "\"cr\r\""},
      {std::string("z\x1a"), std::string("\"z\x1a\"")},
      {"it's", "it's"},
      {" spaced ", " spaced "},
      {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
      // As a file's first bytes, a mark would be taken for the file's own.
      {"\xEF\xBB\xBFmark", "\"\xEF\xBB\xBFmark\""},
      {"in\xEF\xBB\xBFside", "in\xEF\xBB\xBFside"},
  };
  for (const auto& c : cases) {
    std::string line = "x,";
    AppendCsvPiece(line, c.piece);
    EXPECT_EQ(line, "x," + c.written) << c.piece;
    std::string inPlace = "x," + c.piece;
    QuoteCsvPieceFrom(inPlace, 2);
    EXPECT_EQ(inPlace, "x," + c.written) << c.piece;
  }
}

// Long pieces are checked many bytes at a time: every special byte is found
// wherever it stands, and bytes that only resemble one are not.
TEST(CsvPieces, ASpecialByteIsFoundAnywhereInALongPiece) {
  // Each special byte with its high bit set, and its neighbours.
  const std::string plain =
      "\xA2\x8D\x8A\x9A\xAC!#\x0B\x0C\x0E\x1B\x19+-:a b\t\x01\x7F\xFF" + std::string(19, 'x');
  for (char delimiter : {',', ';'}) {
    EXPECT_FALSE(NeedsCsvQuotes(plain, delimiter));
    for (char special : {delimiter, '"', '\r', '\n', '\x1A'}) {
      for (std::size_t at = 0; at < plain.size(); ++at) {
        std::string piece = plain;
        piece[at] = special;
        EXPECT_TRUE(NeedsCsvQuotes(piece, delimiter)) << int(special) << " at " << at;
      }
    }
  }
}

// Each file's records, pieces separated by "|", quoted pieces marked with "q:".
std::vector<std::string> Records(const std::string& bytes) {
  auto dir = testdb::MakeTempDir("vp-csv");
  auto path = dir / "in.csv";
  std::ofstream(path, std::ios::binary) << bytes;
  TTextFile file(path.string());
  file.Reset();
  TCsvRecordReader reader(file);
  std::vector<std::string> records;
  std::vector<TCsvPiece> pieces;
  while (!reader.AtEnd()) {
    reader.Read(pieces);
    std::string record;
    for (const auto& piece : pieces) {
      if (!record.empty()) record += '|';
      record += (piece.quoted ? "q:" : "") + piece.text;
    }
    records.push_back(record);
  }
  file.Close();
  std::filesystem::remove_all(dir);
  return records;
}

TEST(CsvPieces, RecordsAreReadBackAsWritten) {
  using R = std::vector<std::string>;
  struct Case {
    const char* name;
    std::string bytes;
    R records;
  } cases[] = {
      {"plain lines", "a,b\r\nc,d\n", R{"a|b", "c|d"}},
      {"empty line is one empty piece", "\r\nx\r\n", R{"", "x"}},
      {"trailing comma", "a,\r\n", R{"a|"}},
      {"last line without line end", "a\r\nb", R{"a", "b"}},
      {"lone carriage return dropped", "a\rb,c\r\n", R{"ab|c"}},
      {"ctrl-z inside a line is data",
       "ab\x1a"
       "cd,e\r\nf\r\n",
       R{"ab\x1a"
         "cd|e",
         "f"}},
      {"ctrl-z at the start of a line is data",
       "a\r\n\x1a"
       "b\r\n",
       R{"a",
         "\x1a"
         "b"}},
      {"a last ctrl-z is the end mark", "a,b\r\nc,d\x1a", R{"a|b", "c|d"}},
      {"a quote inside an unquoted piece stays", "1,a\"b,c\"\r\n", R{"1|a\"b|c\""}},
      {"quoted piece keeps commas", "1,\"a,b\",c\r\n", R{"1|q:a,b|c"}},
      {"doubled quote is one", "\"say \"\"hi\"\"\"\r\n", R{"q:say \"hi\""}},
      {"quoted empty", "\"\",\r\n", R{"q:|"}},
      {"line ends inside quotes are kept exactly", "1,\"x\r\ny\nz\rw\",2\r\n3\r\n",
       R{"1|q:x\r\ny\nz\rw|2", "3"}},
      {"ctrl-z inside quotes is kept",
       std::string("\"a\x1a"
                   "b\"\r\nc\r\n"),
       R{std::string("q:a\x1a"
                     "b"),
         "c"}},
      {"bytes after the closing quote keep it", "\"ab\"cd,e\r\n2,\"x\"y\r\n", R{"q:ab\"cd|e", "2|q:x\"y"}},
      {"a blank after the closing quote keeps it", "\"x\" ,y\r\n", R{"q:x\" |y"}},
      {"a lone carriage return after the closing quote is dropped", "\"x\"\r,y\r\n", R{"q:x|y"}},
      {"blank lines at the end are no records", "a,b\r\n1,2\r\n\r\n\n\r\r\n\r", R{"a|b", "1|2"}},
      {"blank lines before the end mark are no records", "a,b\r\n\r\n\x1a", R{"a|b"}},
      {"blank lines in between are records", "a,b\r\n\r\n\n1,2\r\n\r\n", R{"a|b", "", "", "1|2"}},
      {"after a one-piece header blank lines are records", "a\r\n1\r\n\r\n\r\n", R{"a", "1", "", ""}},
      {"unterminated quote runs to the end", "\"abc\r\ndef", R{"q:abc\r\ndef"}},
      {"a byte-order mark before a quoted first piece is no data", "\xEF\xBB\xBF\"ID\",\"VU\"\r\n1,x\r\n",
       R{"q:ID|q:VU", "1|x"}},
      {"a byte-order mark before a first line of values is no data",
       "\xEF\xBB\xBF"
       "5,y\r\n",
       R{"5|y"}},
      {"a byte-order mark before blank lines is no data", "\xEF\xBB\xBF\r\n\r\n1\r\n", R{"", "", "1"}},
      {"a byte-order mark after the start is data",
       "a\r\n\xEF\xBB\xBF"
       "b\r\n",
       R{"a",
         "\xEF\xBB\xBF"
         "b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Records(c.bytes), c.records) << c.name;
}

// Each record keeps its bytes and its first line; blank lines dropped at the
// end still count as taken.
TEST(CsvPieces, RecordsKeepTheirBytesAndLines) {
  auto dir = testdb::MakeTempDir("vp-csv");
  const std::string bytes = "h,i\r\n\r\n\n1,\"a\r\nb\"\r\n\r\n\r\n";
  std::ofstream(dir / "in.csv", std::ios::binary) << bytes;
  TTextFile file((dir / "in.csv").string());
  file.Reset();
  TCsvRecordReader reader(file);
  std::vector<std::pair<std::int64_t, std::string>> records;
  std::vector<TCsvPiece> pieces;
  while (!reader.AtEnd()) {
    reader.Read(pieces);
    records.emplace_back(reader.LineNumber(), reader.Record());
  }
  const std::vector<std::pair<std::int64_t, std::string>> expected = {
      {1, "h,i\r\n"}, {2, "\r\n"}, {3, "\n"}, {4, "1,\"a\r\nb\"\r\n"}};
  EXPECT_EQ(records, expected);
  EXPECT_EQ(reader.NextLineNumber(), 8);
  EXPECT_EQ(reader.BytesRead(), static_cast<std::int64_t>(bytes.size()));
  file.Close();
  std::filesystem::remove_all(dir);
}

// A record larger than the limit ends the reading with the line it starts
// on, whether it is one line, a quoted value over many, or blank lines.
TEST(CsvPieces, ARecordLargerThanTheLimitNamesItsLine) {
  struct Case {
    const char* name;
    std::size_t limit;
    std::string bytes;
    std::vector<std::string> before;  // the records read first
    std::string failure;              // "" when none; "$F" stands for the file
  } cases[] = {
      {"a record at the limit", 16, "h,i\r\n0123456789abcd\r\n", {"h|i", "0123456789abcd"}, ""},
      {"one byte more",
       16,
       "h,i\r\n0123456789abcde\r\n",
       {"h|i"},
       "The record on line 2 of file '$F' is larger than 16 bytes, the most one record may take"},
      {"a quoted value over many lines",
       16,
       "h\r\n1\r\n\"a\r\nb\r\nc\r\nd\r\ne\r\nf\"\r\n",
       {"h", "1"},
       "The record on line 3 of file '$F' is larger than 16 bytes, the most one record may take"},
      {"blank lines read ahead",
       16,
       "h,i\r\n\r\n" + std::string(20, '\r') + "\n",
       {"h|i"},
       "The record on line 3 of file '$F' is larger than 16 bytes, the most one record may take"},
      {"a file without line ends",
       std::size_t{1} << 20,
       "h,i\r\n" + std::string(3 << 20, '0'),
       {"h|i"},
       "The record on line 2 of file '$F' is larger than 1 MiB, the most one record may take"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto dir = testdb::MakeTempDir("vp-csv");
    const std::string path = (dir / "in.csv").string();
    std::ofstream(path, std::ios::binary) << c.bytes;
    TTextFile file(path);
    file.Reset();
    TCsvRecordReader reader(file, c.limit);
    std::vector<std::string> records;
    std::vector<TCsvPiece> pieces;
    std::string failure;
    try {
      while (!reader.AtEnd()) {
        reader.Read(pieces);
        std::string record;
        for (const auto& piece : pieces) record += (record.empty() ? "" : "|") + piece.text;
        records.push_back(record);
      }
    } catch (const Exception& error) {
      failure = error.what();
    }
    std::string expected = c.failure;
    if (std::size_t at = expected.find("$F"); at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(records, c.before);
    EXPECT_EQ(failure, expected);
    file.Close();
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
