// The file side of a transfer that the text file facility leaves open: which
// paths may be used at all, and how an export replaces its target only once
// it has succeeded.
#pragma once

#include <string>

// Refuses, before anything opens it, a path that names something other than
// a regular file: a folder, a FIFO, a device or a socket (opening a FIFO
// would wait for a writer forever; a device such as /dev/zero never ends).
// A name that does not exist passes: an export creates it, and an import's
// opening reports it missing. Throws EInOutError (code 5) with a message
// naming the path and what it is.
void CheckRegularFile(const std::string& path);

// A temporary file in the target's folder that takes the target's place only
// when Commit() is called. Until then the target stays exactly as it was, and
// the temporary file is removed when this object goes (failure or stop).
// While it lives, the target (when it exists) is locked as a file open for
// writing is, so another transfer of the same file is refused with code 32.
class TReplacingFile {
 public:
  // Creates the temporary file (mode as the target's, or as a new file
  // would get). Throws EInOutError as creating the target would: 3 when the
  // folder is missing, 5 when it may not be written, 32 when the target is
  // held by another program.
  explicit TReplacingFile(const std::string& target);
  ~TReplacingFile();
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  // Where to write.
  const std::string& TemporaryPath() const { return m_temporary; }
  // Puts the written file in place of the target (an atomic rename). The
  // temporary file must be closed. Throws EInOutError when the rename fails;
  // the target then stays as it was.
  void Commit();

 private:
  std::string m_target;
  std::string m_temporary;
  int m_targetLock = -1;
  bool m_committed = false;
};
