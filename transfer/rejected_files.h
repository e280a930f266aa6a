// The files an import keeps its refused lines in, beside the file it reads
// (or in a folder of their own): "customer.csv" gives "customer.rejected.csv"
// (the header and each refused line exactly as it stood) and
// "customer.rejected.log" ("Line N: reason").
//
// They always match what the table holds: the refused lines are written out
// before the rows around them are committed (Stage), kept when the commit
// succeeds (Commit) and taken out again when it does not (Discard). Nothing
// is made until the first line is refused, so an import without refused
// lines needs no folder it may write and leaves earlier files as they were.
// The files are made new, without a name until they are put in place
// (replacing the earlier files, or a symbolic link, never writing through
// one), so that a killed import leaves nothing hidden behind.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class TRejectedFiles {
 public:
  // base: the path of the source without its extension. keepEarlier: the
  // files of an earlier import at these names start the new ones (an import
  // that goes on where one ended).
  TRejectedFiles(std::string base, std::string header, bool keepEarlier);
  // Removes a file that was never put in place.
  ~TRejectedFiles();
  TRejectedFiles(const TRejectedFiles&) = delete;
  TRejectedFiles& operator=(const TRejectedFiles&) = delete;

  // Keeps a refused line until the next Stage or Discard; makes the files at
  // the first one. Throws EInOutError naming the folder and why when they
  // cannot be made there.
  void Add(const std::string& record, std::int64_t lineNumber, const std::string& reason);
  // Writes out the lines kept so far and puts the files in place, before the
  // rows around them are committed. Throws EInOutError naming the file and
  // why when that fails; what was written since the last Commit is taken out
  // again then.
  void Stage();
  // The lines staged belong to committed rows: they stay.
  void Commit();
  // Stage and Commit in one: lines that are not in the table either way.
  void Keep() {
    Stage();
    Commit();
  }
  // The lines kept or staged since the last Commit are forgotten. Never throws.
  void Discard() noexcept;
  // A refused line was written out: the files are in place.
  bool Made() const { return m_placed; }
  std::string CsvPath() const { return m_base + ".rejected.csv"; }
  std::string LogPath() const { return m_base + ".rejected.log"; }
  // Ends the writing; throws EInOutError when a file cannot be closed.
  void Close();

 private:
  struct TFile {
    std::string path;       // where it goes
    std::string temporary;  // its name until it is in place, when it has one
    int fd = -1;
    off_t committed = 0;  // its size at the last Commit
    std::string start;    // what it starts with: the earlier file's lines, or the header
  };
  struct TLine {
    std::string record;
    std::string logLine;
  };

  void Make(TFile& file);
  void Place(TFile& file);
  void Write(TFile& file, const std::string& bytes);

  std::string m_base;
  bool m_keepEarlier;
  TFile m_csv;
  TFile m_log;
  std::vector<TLine> m_waiting;
  bool m_made = false;
  bool m_placed = false;
};

// The rejected files' base for the import of folder/fileName: the path
// without its extension (nor a compression's suffix: ".csv.gz" goes whole),
// in rejectedFolder when one is given; for standard
// input the name as it stands, in the current folder (or rejectedFolder).
std::string RejectedBase(const std::string& folder, const std::string& fileName, bool standardStream,
                         const std::string& rejectedFolder = {});
