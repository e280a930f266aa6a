// Any bytes as a file: the raw lines read must be the file's bytes (but a
// last Ctrl-Z), their texts those the line rules give, and those texts
// written back must read back unchanged.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "transfer/line_rules.h"
#include "transfer/text_file.h"

namespace {

// Files in memory, reached by path like any other.
struct MemoryFile {
  int fd = memfd_create("fuzz", 0);
  std::string path = "/proc/self/fd/" + std::to_string(fd);
};

// The line rules, one byte at a time: a last Ctrl-Z is no data; a line ends
// at a line feed; carriage returns never become text.
// Left out of the coverage feedback: its byte loop says nothing about the
// code under test and would slow every run down.
__attribute__((no_sanitize("coverage"))) std::vector<std::string> ExpectedLines(std::string bytes) {
  if (!bytes.empty() && bytes.back() == 26) bytes.pop_back();
  std::vector<std::string> lines;
  std::string text(bytes.size(), '\0');
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t length = 0;
    for (; i < bytes.size() && bytes[i] != '\n'; ++i) {
      if (bytes[i] != '\r') text[length++] = bytes[i];
    }
    if (i < bytes.size()) ++i;
    lines.emplace_back(text.data(), length);
  }
  return lines;
}

// The texts of the lines, read as the import reads them, in raw pieces of at
// most maxBytes; the raw pieces must be bytes's own, all of them but a last
// Ctrl-Z.
std::vector<std::string> ReadAll(const std::string& path, const std::string& bytes, std::size_t maxBytes) {
  TTextFile file(path);
  file.Reset();
  std::vector<std::string> lines;
  std::string raw;
  std::string line;
  std::size_t offset = 0;
  while (!file.Eof()) {
    file.ReadRawLine(raw, maxBytes);
    if (raw.empty() || raw.size() > maxBytes || bytes.compare(offset, raw.size(), raw) != 0) std::abort();
    offset += raw.size();
    line += raw;
    if (raw.back() != '\n' && !file.Eof()) continue;
    std::string text;
    linerules::AppendText(text, line);
    lines.push_back(std::move(text));
    line.clear();
  }
  if (offset != bytes.size() - (!bytes.empty() && bytes.back() == 26 ? 1 : 0)) std::abort();
  file.Close();
  return lines;
}

void Fill(const MemoryFile& file, const std::string& bytes) {
  if (ftruncate(file.fd, 0) != 0 ||
      pwrite(file.fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    std::abort();
}

std::string Content(const MemoryFile& file) {
  std::string bytes(static_cast<std::size_t>(lseek(file.fd, 0, SEEK_END)), '\0');
  if (pread(file.fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) std::abort();
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const MemoryFile input;
  static const MemoryFile output;
  if (size == 0) return 0;
  // The first byte may put the rest just before the end of the first block,
  // where line ends, carriage returns and Ctrl-Z meet a refill, and may have
  // the lines read in pieces of a few bytes.
  const std::string payload(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> expected;
  std::string bytes;
  if (data[0] & 1) {
    expected.push_back(std::string(kTextFileBufferSize - 1 - data[0] / 2, 'p'));
    bytes = expected.front() + "\n";
  }
  bytes += payload;
  Fill(input, bytes);
  for (std::string& line : ExpectedLines(payload)) expected.push_back(std::move(line));
  // Pieces of a few bytes, or past the long first line of a few blocks' parts.
  const std::size_t piece = 1 + data[0] / 8 % 8 + (data[0] & 1 ? kTextFileBufferSize / 8 : 0);
  const std::size_t maxBytes = data[0] & 2 ? piece : std::string::npos;
  if (ReadAll(input.path, bytes, maxBytes) != expected) std::abort();

  TTextFile file(output.path);
  file.Rewrite();
  std::string written;
  for (const std::string& line : expected) {
    if (data[0] & 4) {
      file.WriteLn(line);
    } else {
      file.Write(line);
      file.WriteLineEnd();
    }
    written += line + "\r\n";
  }
  file.Close();
  if (Content(output) != written) std::abort();
  if (ReadAll(output.path, written, std::string::npos) != expected) std::abort();
  return 0;
}
