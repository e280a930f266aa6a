// Writes and reads back a large file of CSV-like lines through the text file
// facility, beside dd writing and cat reading the same amount in the same run.
//
//   text_file_bench [MiB (default 1024)] [folder (default /tmp)] [rounds (default 3)]
//
// Rates are in MB/s (10^6 bytes a second), the best of the rounds. The files
// are removed at the end. The file being read is in the page cache for both
// cat and the facility.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "transfer/text_file.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double Rate(std::uintmax_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

void Report(const char* what, std::uintmax_t bytes, double seconds, double reference = 0) {
  std::printf("%-38s %9.1f MB/s", what, Rate(bytes, seconds));
  if (reference > 0)
    std::printf("   (%.0f%% of the reference above)", 100.0 * Rate(bytes, seconds) / reference);
  std::printf("\n");
  std::fflush(stdout);
}

double TimeCommand(const std::string& command) {
  sync();
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return Seconds(start);
}

// Lines such as an export writes: numbers, names, dates, amounts, notes.
std::vector<std::string> SampleLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < 4096; ++i) {
    std::string line = std::to_string(100000 + i * 37) + ",Customer " + std::to_string(i) + ",";
    line += "2024-" + std::to_string(1 + i % 12) + "-" + std::to_string(1 + i % 28) + ",";
    line += std::to_string(i * 13 % 100000) + "." + std::to_string(10 + i % 90) + ",";
    line += std::string(static_cast<std::size_t>(i * 7 % 80), 'a' + i % 26);
    lines.push_back(std::move(line));
  }
  return lines;
}

std::uintmax_t WriteLines(const std::string& path, std::uintmax_t bytes, bool withFsync) {
  const std::vector<std::string> lines = SampleLines();
  TTextFile file(path);
  file.Rewrite();
  std::uintmax_t written = 0;
  for (std::size_t i = 0; written < bytes; i = (i + 1) % lines.size()) {
    file.WriteLn(lines[i]);
    written += lines[i].size() + 2;
  }
  file.Close();
  if (withFsync) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) std::exit(1);
    close(fd);
  }
  return written;
}

std::uintmax_t ReadLines(const std::string& path, std::uintmax_t& lineCount) {
  TTextFile file(path);
  file.Reset();
  std::string line;
  std::uintmax_t read = 0;
  lineCount = 0;
  while (!file.Eof()) {
    file.ReadRawLine(line);
    read += line.size();
    ++lineCount;
  }
  file.Close();
  return read;
}

// The best of a few rounds, each measurement beside its reference, so that
// both see the same state of the machine.
struct Best {
  double seconds = 1e300;
  void Take(double value) { seconds = std::min(seconds, value); }
};

}  // namespace

int main(int argc, char** argv) {
  std::uintmax_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  fs::path folder = argc > 2 ? argv[2] : "/tmp";
  int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  if (mebibytes == 0 || rounds < 1) {
    std::fprintf(stderr, "usage: %s [MiB (1024)] [folder (/tmp)] [rounds (3)]\n", argv[0]);
    return 2;
  }
  const std::uintmax_t bytes = mebibytes << 20;
  const std::string ddPath = (folder / "text_file_bench.dd").string();
  const std::string csvPath = (folder / "text_file_bench.csv").string();
  const std::string dd =
      "dd if=/dev/zero of='" + ddPath + "' bs=1M count=" + std::to_string(mebibytes) + " status=none";
  std::printf("%ju MiB in %s, best of %d rounds\n", mebibytes, folder.c_str(), rounds);

  Best ddWrite, linesWrite, ddSyncWrite, linesSyncWrite, catRead, linesRead;
  std::uintmax_t written = 0;
  std::uintmax_t read = 0;
  std::uintmax_t lineCount = 0;
  try {
    for (int round = 0; round < rounds; ++round) {
      ddWrite.Take(TimeCommand(dd));
      sync();
      auto start = Clock::now();
      written = WriteLines(csvPath, bytes, false);
      linesWrite.Take(Seconds(start));

      ddSyncWrite.Take(TimeCommand(dd + " conv=fsync"));
      sync();
      start = Clock::now();
      WriteLines(csvPath, bytes, true);
      linesSyncWrite.Take(Seconds(start));

      catRead.Take(TimeCommand("cat '" + csvPath + "' > /dev/null"));
      start = Clock::now();
      read = ReadLines(csvPath, lineCount);
      linesRead.Take(Seconds(start));
    }
  } catch (const EInOutError& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
  }
  fs::remove(ddPath);
  fs::remove(csvPath);

  Report("write: dd bs=1M", bytes, ddWrite.seconds);
  Report("write: text file lines", written, linesWrite.seconds, Rate(bytes, ddWrite.seconds));
  Report("write: dd bs=1M conv=fsync", bytes, ddSyncWrite.seconds);
  Report("write: text file lines, then fsync", written, linesSyncWrite.seconds,
         Rate(bytes, ddSyncWrite.seconds));
  Report("read: cat > /dev/null", written, catRead.seconds);
  Report("read: text file lines", read, linesRead.seconds, Rate(written, catRead.seconds));
  std::printf("%ju lines, %ju bytes read back%s\n", lineCount, read, read == written ? "" : " (MISMATCH)");
  return read == written ? 0 : 1;
}
