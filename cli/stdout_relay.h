// Standard output for an export to "-" when it is a regular file.
#pragma once

#include <string>
#include <thread>

// The export writes to /dev/stdout by name, and opening that name anew on a
// regular file starts at its first byte: `export T - >> all.csv` would
// overwrite what all.csv held. While a relay stands, standard output is a
// pipe, and a thread copies the pipe into the file through the shell's own
// descriptor, at its position and with its append mode. Nothing changes when
// standard output is no regular file.
class TStdoutRelay {
 public:
  TStdoutRelay();
  // Finish() when it was not called.
  ~TStdoutRelay();
  TStdoutRelay(const TStdoutRelay&) = delete;
  TStdoutRelay& operator=(const TStdoutRelay&) = delete;

  // Puts the file back as standard output, once everything written to the
  // pipe is in the file. Empty on success, else what went wrong.
  std::string Finish();

 private:
  void Copy();

  int m_file = -1;      // the shell's descriptor of the file
  int m_pipeRead = -1;  // read by the thread
  std::thread m_thread;
  int m_error = 0;  // errno of a failed write into the file
};
