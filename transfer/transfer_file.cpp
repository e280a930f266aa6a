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

[[noreturn]] void Fail(int code) { throw EInOutError(code, IOErrorMessage(code)); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void CheckRegularFile(const std::string& path) {
  struct stat status;
  // A missing name, or one that cannot be looked at, shows when it is opened.
  if (::stat(path.c_str(), &status) != 0) return;
  if (S_ISREG(status.st_mode)) return;
  throw EInOutError(5, "File access denied: '" + path + "' is " + KindOf(status.st_mode) +
                           ", not a regular file");
}

TReplacingFile::TReplacingFile(const std::string& target) : m_target(target) {
  if (target.find('\0') != std::string::npos) Fail(3);
  mode_t mode = 0666;
  struct stat status;
  if (::stat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    mode = status.st_mode & 07777;
    // Held as a file open for writing is: nobody else may write it meanwhile,
    // and a program that has it open keeps us out.
    m_targetLock = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (m_targetLock >= 0 && ::flock(m_targetLock, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(m_targetLock);
      m_targetLock = -1;
      if (error == EWOULDBLOCK) Fail(kIOErrorSharingViolation);
    }
  }

  std::random_device seed;
  std::mt19937 random(seed());
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0;; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 8; ++i) suffix += kLetters[random() % 36];
    std::string candidate = FolderOf(target) + "." + NameOf(target) + "." + suffix + ".tmp";
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      // The earlier file's permissions carry over; a new one gets what the umask leaves.
      if (mode != 0666) ::fchmod(fd, mode);
      ::close(fd);
      m_temporary = std::move(candidate);
      return;
    }
    if (errno != EEXIST || attempt > 100) {
      const int code = PlatformIOCode(errno);
      if (m_targetLock >= 0) ::close(m_targetLock);
      Fail(code);
    }
  }
}

TReplacingFile::~TReplacingFile() {
  if (!m_committed && !m_temporary.empty()) ::unlink(m_temporary.c_str());
  if (m_targetLock >= 0) ::close(m_targetLock);
}

void TReplacingFile::Commit() {
  if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) Fail(PlatformIOCode(errno));
  m_committed = true;
}
