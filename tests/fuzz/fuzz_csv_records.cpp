// Any bytes as an import file: the records take the file's bytes in order
// (after a byte-order mark, which is no part of any record),
// leaving only blank lines at the end and a last Ctrl-Z (or stopping at a
// record over the limit); their pieces, written again as the export writes
// them, read back as the same texts.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "transfer/csv_pieces.h"
#include "transfer/text_file.h"

namespace {

struct MemoryFile {
  int fd = memfd_create("fuzz", 0);
  std::string path = "/proc/self/fd/" + std::to_string(fd);
};

void Fill(const MemoryFile& file, const std::string& bytes) {
  if (ftruncate(file.fd, 0) != 0 ||
      pwrite(file.fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    std::abort();
}

using TRecords = std::vector<std::vector<TCsvPiece>>;

// The records of the file, the bytes they took, and whether a record over
// the limit ended the reading.
TRecords ReadAll(const MemoryFile& input, std::size_t limit, std::string& taken, bool& tooLarge) {
  TTextFile file(input.path);
  file.Reset();
  TCsvRecordReader reader(file, limit);
  TRecords records;
  std::vector<TCsvPiece> pieces;
  tooLarge = false;
  try {
    while (!reader.AtEnd()) {
      reader.Read(pieces);
      if (reader.Record().size() > limit) std::abort();
      taken += reader.Record();
      records.push_back(pieces);
    }
  } catch (const EInOutError&) {
    std::abort();
  } catch (const Exception&) {
    tooLarge = true;
  }
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const MemoryFile input;
  static const MemoryFile output;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Fill(input, bytes);
  std::string taken;
  bool tooLarge = false;
  TRecords records = ReadAll(input, 512, taken, tooLarge);
  const std::string body = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
  if (body.compare(0, taken.size(), taken) != 0) std::abort();
  if (!tooLarge) {
    std::string rest = body.substr(taken.size());
    if (!rest.empty() && rest.back() == 26) rest.pop_back();
    if (rest.find_first_not_of("\r\n") != std::string::npos) std::abort();
    // A one-piece header makes blank lines records, wherever they stand.
    if (!rest.empty() && !records.empty() && records.front().size() == 1) std::abort();
  }

  // Cut short by the limit, the records read may end in blank lines, which
  // at the end of the file written from them are no records.
  if (tooLarge && !records.empty() && records.front().size() != 1) {
    while (records.size() > 1 && records.back().size() == 1 && records.back()[0].text.empty() &&
           !records.back()[0].quoted) {
      records.pop_back();
    }
  }

  // A quoted empty text stays quoted, as the export keeps an empty value
  // apart from a null.
  std::string written;
  for (const auto& record : records) {
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (i > 0) written += ',';
      if (record[i].quoted && record[i].text.empty()) {
        written += "\"\"";
      } else {
        AppendCsvPiece(written, record[i].text);
      }
    }
    written += "\r\n";
  }
  // Nothing but blank lines: the blank lines at a file's end are no records.
  if (written.find_first_not_of("\r\n") == std::string::npos) return 0;
  Fill(output, written);
  std::string again;
  const TRecords back = ReadAll(output, kMaxRecordBytes, again, tooLarge);
  if (tooLarge || again != written || back.size() != records.size()) std::abort();
  for (std::size_t r = 0; r < records.size(); ++r) {
    if (back[r].size() != records[r].size()) std::abort();
    for (std::size_t i = 0; i < records[r].size(); ++i) {
      if (back[r][i].text != records[r][i].text) std::abort();
    }
  }
  return 0;
}
