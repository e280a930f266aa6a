// The files an import keeps its refused lines in, beside the file it reads:
// "customer.csv" gives "customer.rejected.csv" (the header and each refused
// line exactly as it stood) and "customer.rejected.log" ("Line N: reason").
//
// They always match what the table holds: a refused line is written out
// only once the rows before it are committed, and forgotten when they are
// rolled back. Both are new files of the import's own, made under a
// temporary name before the first line is read and put in place (replacing
// the earlier files, or a symbolic link, never writing through one) when the
// first refused line is written out. An import without refused lines leaves
// earlier files as they were.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TRejectedFiles {
 public:
  // Makes the two files. base: the path of the source without its
  // extension. keepEarlier: the files of an earlier import at these names
  // start the new ones (an import that goes on where one ended). Throws
  // EInOutError naming the folder and why when they cannot be made there.
  TRejectedFiles(std::string base, std::string header, bool keepEarlier);
  // Removes the files that were never put in place.
  ~TRejectedFiles();
  TRejectedFiles(const TRejectedFiles&) = delete;
  TRejectedFiles& operator=(const TRejectedFiles&) = delete;

  // Keeps a refused line until the next Commit or Discard.
  void Add(const std::string& record, std::int64_t lineNumber, const std::string& reason);
  // The lines kept so far belong to committed rows: written out. Throws
  // EInOutError naming the file and why when it cannot be written.
  void Commit();
  // The lines kept since the last Commit are forgotten.
  void Discard() { m_waiting.clear(); }
  // A refused line was written out: the files are in place.
  bool Made() const { return m_placed; }
  std::string CsvPath() const { return m_base + ".rejected.csv"; }
  std::string LogPath() const { return m_base + ".rejected.log"; }
  // Ends the writing; throws EInOutError when a file cannot be closed.
  void Close();

 private:
  struct TFile {
    std::string path;       // where it goes
    std::string temporary;  // where it is made
    int fd = -1;
  };
  struct TLine {
    std::string record;
    std::string logLine;
  };

  void Make(TFile& file, bool keepEarlier, const std::string& start);
  void Write(TFile& file, const std::string& bytes);

  std::string m_base;
  TFile m_csv;
  TFile m_log;
  std::vector<TLine> m_waiting;
  bool m_placed = false;
};

// The rejected files' base for the import of folder/fileName: the path
// without its extension; for standard input the name as it stands, in the
// current folder.
std::string RejectedBase(const std::string& folder, const std::string& fileName, bool standardStream);
