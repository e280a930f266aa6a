#include "transfer/transfer_file.h"

#include <fcntl.h>
#include <limits.h>
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

// The file a path leads to through the symbolic links at its end, one that
// does not exist included. Links among its folders are the platform's to follow.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  // The platform's own limit (MAXSYMLINKS).
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    char to[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), to, sizeof to);
    if (length < 0) FailCreating(path, PlatformIOCode(errno), PlatformErrorText(errno));
    if (static_cast<std::size_t>(length) == sizeof to) FailCreating(path, 3, PlatformErrorText(ENAMETOOLONG));
    const std::string target(to, static_cast<std::size_t>(length));
    current = target.starts_with('/') ? target : FolderOf(current) + target;
  }
  FailCreating(path, PlatformIOCode(ELOOP), PlatformErrorText(ELOOP));
}

// Gives the new file the earlier one's owner, group and mode. The owner and
// group go first, since changing them clears the set-user-ID bit. Only root
// may give a file away; a user may still set a group of their own, and
// otherwise the file stays in the group the folder gave it.
void TakeOver(int fd, const struct stat& earlier) {
  bool owned = ::fchown(fd, earlier.st_uid, earlier.st_gid) == 0;
  if (!owned && errno == EPERM) owned = ::fchown(fd, static_cast<uid_t>(-1), earlier.st_gid) == 0;
  ::fchmod(fd, earlier.st_mode & 07777);
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

TReplacingFile::TReplacingFile(const std::string& target, bool followLinks) {
  if (target.find('\0') != std::string::npos) FailCreating(target, 3, "a file name cannot hold a zero byte");
  m_target = followLinks ? FollowLinks(target) : target;
  struct stat earlier;
  const bool replacing = ::lstat(m_target.c_str(), &earlier) == 0 && S_ISREG(earlier.st_mode);
  if (replacing) {
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

  const int fd = CreateFileBeside(m_target, m_temporary);
  if (fd < 0) {
    const int error = errno;
    if (m_targetLock >= 0) ::close(m_targetLock);
    throw EInOutError(PlatformIOCode(error), "Cannot create a file in folder '" + FolderShown(m_target) +
                                                 "' (for file '" + ShownPath(m_target) +
                                                 "'): " + PlatformErrorText(error));
  }
  if (replacing) TakeOver(fd, earlier);
  ::close(fd);
}

std::string TemporaryNameBeside(const std::string& target) {
  static thread_local std::mt19937 random{std::random_device{}()};
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::string folder = FolderOf(target);
  std::string suffix;
  for (int i = 0; i < 8; ++i) suffix += kLetters[random() % 36];
  return folder + "." + target.substr(folder.size()) + "." + suffix + ".tmp";
}

int CreateFileBeside(const std::string& target, std::string& temporary) {
  for (int attempt = 0;; ++attempt) {
    std::string candidate = TemporaryNameBeside(target);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      temporary = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST || attempt > 100) return -1;
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
