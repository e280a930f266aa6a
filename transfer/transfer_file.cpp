#include "transfer/transfer_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "base/exceptions.h"
#include "transfer/text_file.h"

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The folder part of a path with its slash ("" for none), and the folder as
// a message names it.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FolderShown(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (folder.empty()) return ".";
  return ShownPath(folder.size() == 1 ? folder : folder.substr(0, folder.size() - 1));
}

[[noreturn]] void FailCreating(const std::string& path, int code, const std::string& cause) {
  throw EInOutError(code, "Cannot create file '" + ShownPath(path) + "': " + cause);
}

}  // namespace

void CheckRegularFile(const std::string& path) {
  struct stat status;
  // A missing name, or one that cannot be looked at, shows when it is opened.
  if (::stat(path.c_str(), &status) != 0) return;
  if (S_ISREG(status.st_mode)) return;
  throw EInOutError(
      5, "Cannot use '" + ShownPath(path) + "': it is " + KindOf(status.st_mode) + ", not a regular file");
}

TReplacingFile::TReplacingFile(const std::string& target) {
  if (target.find('\0') != std::string::npos) FailCreating(target, 3, "a file name cannot hold a zero byte");
  m_target = target;
  mode_t mode = 0666;
  struct stat earlier;
  if (::stat(m_target.c_str(), &earlier) == 0 && S_ISREG(earlier.st_mode)) {
    mode = earlier.st_mode & 07777;
    // Held as a file open for writing is: nobody else may write it meanwhile,
    // and a program that has it open keeps us out.
    m_targetLock = ::open(m_target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (m_targetLock >= 0 && ::flock(m_targetLock, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(m_targetLock);
      m_targetLock = -1;
      if (error == EWOULDBLOCK)
        FailCreating(m_target, kIOErrorSharingViolation, "it is in use by another program");
    }
  }

  std::random_device seed;
  std::mt19937 random(seed());
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::string folder = FolderOf(m_target);
  const std::string name = m_target.substr(folder.size());
  for (int attempt = 0;; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 8; ++i) suffix += kLetters[random() % 36];
    std::string candidate = folder + "." + name + "." + suffix + ".tmp";
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      // The earlier file's permissions carry over; a new one gets what the umask leaves.
      if (mode != 0666) ::fchmod(fd, mode);
      ::close(fd);
      m_temporary = std::move(candidate);
      return;
    }
    if (errno != EEXIST || attempt > 100) {
      const int error = errno;
      if (m_targetLock >= 0) ::close(m_targetLock);
      throw EInOutError(PlatformIOCode(error), "Cannot create a file in folder '" + FolderShown(m_target) +
                                                   "' (for file '" + ShownPath(m_target) +
                                                   "'): " + PlatformErrorText(error));
    }
  }
}

TReplacingFile::~TReplacingFile() {
  if (!m_committed && !m_temporary.empty()) ::unlink(m_temporary.c_str());
  if (m_targetLock >= 0) ::close(m_targetLock);
}

void TReplacingFile::Commit() {
  if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
    const int error = errno;
    throw EInOutError(PlatformIOCode(error), "Cannot put the new file in place of '" + ShownPath(m_target) +
                                                 "': " + PlatformErrorText(error));
  }
  m_committed = true;
}
