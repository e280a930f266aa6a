// The file side of a transfer that the text file facility leaves open: which
// paths may be used at all, and how an export replaces its target only once
// it has succeeded.
#pragma once

#include <string>

// Refuses, before anything opens it, a path that names something other than
// a regular file: a folder, a FIFO, a device or a socket (opening a FIFO
// would wait for a writer forever; a device such as /dev/zero never ends).
// A name that does not exist passes: an export creates it, and an import's
// opening reports it missing. Throws EInOutError (code 5) naming the path and
// what it is: "Cannot use '/x/sub': it is a folder, not a regular file".
void CheckRegularFile(const std::string& path);

// A hidden name beside target that is likely not taken (".NAME.xxxxxxxx.tmp").
std::string TemporaryNameBeside(const std::string& target);

// Creates a new file beside target under a unique hidden name
// (".NAME.xxxxxxxx.tmp"), open for writing: its descriptor, with its path in
// temporary; -1 with errno set when none can be made there.
int CreateFileBeside(const std::string& target, std::string& temporary);

// A new file in the target's folder that takes the target's place only when
// Commit() is called. Until then the target stays exactly as it was, and the
// new file is removed when this object goes (failure or stop). While it
// lives, the target (when it exists) is locked as a file open for writing
// is, so another transfer of the same file is refused with code 32.
//
// A target that is a symbolic link is followed to the file it leads to: the
// new file is made beside that one and takes its place, and the link stays a
// link (one that leads to no file yet gets its file). The new file has the
// earlier file's mode, and its owner and group as far as the user may set
// them; without an earlier file, what the umask leaves.
class TReplacingFile {
 public:
  // Creates the new file. Throws EInOutError naming the folder and why when
  // it cannot be made there: code 3 when the folder is missing, 5 when it
  // may not be written ("Cannot create a file in folder '/x' (for file
  // '/x/out.csv'): Permission denied"); 32 when the target is held by
  // another program ("Cannot create file '/x/out.csv': it is in use by
  // another program").
  // followLinks false: a symbolic link at target is replaced by the new
  // file; the file it leads to is not touched.
  explicit TReplacingFile(const std::string& target, bool followLinks = true);
  ~TReplacingFile();
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  // Where to write.
  const std::string& TemporaryPath() const { return m_temporary; }
  // Puts the written file in place of the target (an atomic rename). The
  // new file must be closed. Throws EInOutError naming the target and why
  // when the rename fails; the target then stays as it was.
  void Commit();

 private:
  // The file written in the end: the target, its links followed.
  std::string m_target;
  std::string m_temporary;
  int m_targetLock = -1;
  bool m_committed = false;
};
