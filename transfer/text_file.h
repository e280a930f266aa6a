// Text files written and read a line at a time. Every failing operation
// throws EInOutError naming the file and the step, with the platform's
// words for the cause:
//
//   TTextFile file(path);
//   file.Rewrite();
//   file.WriteLn(line);
//   file.Close();
//
//   file.Reset();
//   while (!file.Eof()) file.ReadRawLine(line);
//
// Reading gives each line's bytes as they stand, its line feed included;
// how those bytes make a line's text is the matter of transfer/line_rules.h.
// The facility itself keeps one rule: a Ctrl-Z (26) that is the file's very
// last byte is the old end-of-file mark and no data; anywhere else it is data
// like any other byte. Lines are written with a carriage return and line
// feed, or a line feed alone (SetLineEnd). Bytes pass unchanged in both
// directions.
//
// A message names the file and the step, and says the cause in the
// platform's words: "Cannot open file '/x/in.csv': No such file or
// directory" (Reset), "Cannot create file 'P': ..." (Rewrite), "Cannot read
// file 'P': ...", "Cannot write file 'P': No space left on device" (a write,
// or a close that reports one), and "File 'P' is not open for reading" for a
// step the file's mode does not allow.
//
// Compression (SetCompression): the bytes go into the file packed as gzip or
// zstd and come out of it unpacked; everything above stays the same. Packed
// bytes that are damaged, cut short or of no such stream fail the read with
// code 106, "Cannot read file 'P': the file ends inside its compressed data
// (it is cut short)".
//
// Sharing: a file open for writing is locked against every other opening, one
// open for reading only against writers (flock, so also between two variables
// of one program); a conflict is code 32, "Cannot open file 'P': it is in use
// by another program".
//
// Code() of the error is the code below or a platform code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/compression.h"

// Codes of the facility itself; the others are platform codes (2 missing file,
// 3 bad path or missing folder, 4 too many open files, 5 access denied,
// 32 file held by another program, 109 the reader of a pipe went away,
// 112 disk full, or the errno value).
constexpr int kIOErrorNotOpen = 103;
constexpr int kIOErrorNotForReading = 104;
constexpr int kIOErrorNotForWriting = 105;
constexpr int kIOErrorSharingViolation = 32;
constexpr int kIOErrorBrokenPipe = 109;
constexpr int kIOErrorBadCompressedData = 106;

// Bytes read or written per platform call.
constexpr std::size_t kTextFileBufferSize = 64 * 1024;

enum TTextFileMode { tfmClosed, tfmInput, tfmOutput };

// What ends each line the file writes.
enum class TLineEnd { leCrLf, leLf };

class TTextFile {
 public:
  TTextFile();
  // Binds to the path; touches no file.
  explicit TTextFile(std::string path);
  // Binds to the path; messages name the file by nameInMessages instead (the
  // file a new file is written for, while it is written beside it).
  TTextFile(std::string path, std::string nameInMessages);
  // Closes a file that is still open as CloseQuietly does.
  ~TTextFile();
  TTextFile(const TTextFile&) = delete;
  TTextFile& operator=(const TTextFile&) = delete;

  // Binds to a path; never fails and touches no file other than closing one
  // that is still open, as CloseQuietly does.
  void AssignFile(std::string path);

  // Creates the file anew for writing: a missing file is created, an existing
  // one emptied; the folder must exist. Closes the file first when open. A
  // file that another program has open (for reading or writing) is left
  // untouched and the code is 32.
  void Rewrite();
  // Opens an existing file for reading. Closes the file first when open.
  // Codes: 2 missing, 5 a folder or no permission, 32 open for writing elsewhere.
  void Reset();

  // Appends the bytes to the buffer, which goes to the file each time it fills.
  // 105 when not open for writing.
  void Write(std::string_view text);
  // The line end (carriage return and line feed unless SetLineEnd said
  // otherwise); on a character device the buffer goes out now.
  void WriteLineEnd();
  // Write then WriteLineEnd.
  void WriteLn(std::string_view text);

  // The bytes of the next line exactly as they stand, its line feed
  // included (none after the last line when it lacks one): carriage returns
  // and Ctrl-Z bytes are kept, so a reader that knows quoting can decide.
  // At most maxBytes of them: the rest of a longer line comes with the next
  // call. An empty text at the end of the file. 104 when not open for reading.
  void ReadRawLine(std::string& line, std::size_t maxBytes = std::string::npos);
  // True when no byte of data remains (a last Ctrl-Z is none). Consumes
  // nothing, but may wait for a pipe's writer. 104 when not open for
  // reading.
  bool Eof();

  // Writes out what is buffered, then closes; throws for a write failure.
  // The file is closed afterwards in every case. 103 when not open.
  void Close();
  // Close for a file whose work has already failed or stopped: a failure is
  // not reported, and a file that is not open is left as it is.
  void CloseQuietly() noexcept;

  // The line end of the lines written from now on; never fails.
  void SetLineEnd(TLineEnd lineEnd) { m_lineEnd = lineEnd; }
  // How the files opened from now on are packed (none by default); never fails.
  void SetCompression(TCompression compression) { m_compression = compression; }
  // Bytes read from the platform so far, packed ones where the file is packed.
  std::int64_t BytesFromFile() const { return m_bytesFromFile; }

  TTextFileMode Mode() const { return m_mode; }
  const std::string& Path() const { return m_path; }

 private:
  [[noreturn]] void Fail(int code, const char* step, const std::string& cause) const;
  [[noreturn]] void FailNotOpen(int code, const char* forWhat) const;
  std::string NameInMessages() const;
  void OpenDescriptor(int flags, bool forReading);
  bool Fill();
  bool DataReady();
  void Flush();
  void WriteOut(const char* data, std::size_t size);
  std::ptrdiff_t ReadIn(char* into, std::size_t room);
  int Release() noexcept;

  std::string m_path;
  std::string m_nameInMessages;
  TTextFileMode m_mode = tfmClosed;
  TLineEnd m_lineEnd = TLineEnd::leCrLf;
  int m_fd = -1;
  bool m_characterDevice = false;
  // Reading: the platform reported the end; nothing more is asked of it.
  bool m_endReached = false;
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_position = 0;  // next byte to read
  std::size_t m_end = 0;       // end of the valid (reading) or buffered (writing) bytes
  TCompression m_compression = TCompression::cNone;
  std::unique_ptr<TPacker> m_packer;      // writing a packed file
  std::unique_ptr<TUnpacker> m_unpacker;  // reading one
  std::vector<char> m_packed;
  std::int64_t m_bytesFromFile = 0;
};

// errno as the codes of EInOutError. A missing entry is a missing file
// when opening for reading (2) and a missing folder when creating (3).
int PlatformIOCode(int error, bool missingIsFile = false);
// The platform's words for an errno value ("No such file or directory").
std::string PlatformErrorText(int error);
// A path as messages show it: a zero byte, which no path can hold, as "\0".
std::string ShownPath(const std::string& path);
