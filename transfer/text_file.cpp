#include "transfer/text_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/exceptions.h"
#include "transfer/line_rules.h"

namespace {

using linerules::kCtrlZ;

thread_local int tPendingIOCode = 0;

void SetIOCode(int code) { tPendingIOCode = code; }

}  // namespace

TTextFile::TTextFile() = default;

TTextFile::TTextFile(std::string path) : m_path(std::move(path)) {}

TTextFile::~TTextFile() {
  if (m_mode != tfmClosed) {
    int pending = tPendingIOCode;
    Close();
    tPendingIOCode = pending;
  }
}

void TTextFile::AssignFile(std::string path) {
  if (m_mode != tfmClosed) {
    int pending = tPendingIOCode;
    Close();
    tPendingIOCode = pending;
  }
  m_path = std::move(path);
}

bool TTextFile::OpenDescriptor(int flags, bool forReading) {
  if (m_mode != tfmClosed) Close();
  if (!m_buffer) m_buffer = std::make_unique_for_overwrite<char[]>(kTextFileBufferSize);
  // The platform would stop at an embedded zero byte and open another name.
  if (m_path.find('\0') != std::string::npos) {
    SetIOCode(3);
    return false;
  }
  // The standard streams by their names are the process's own descriptors,
  // with the position and mode the shell gave them: opened anew, a regular
  // file behind them would be written from its first byte (`>> all.csv`).
  const int standard = m_path == "/dev/stdout" ? STDOUT_FILENO : m_path == "/dev/stdin" ? STDIN_FILENO : -1;
  int fd;
  do {
    fd = standard >= 0 ? ::fcntl(standard, F_DUPFD_CLOEXEC, 0)
                       : ::open(m_path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetIOCode(PlatformIOCode(errno, forReading));
    return false;
  }
  auto fail = [fd](int code) {
    ::close(fd);
    SetIOCode(code);
    return false;
  };
  struct stat status;
  if (::fstat(fd, &status) != 0) return fail(PlatformIOCode(errno));
  // open() lets a folder be opened for reading; it is no file to read.
  if (S_ISDIR(status.st_mode)) return fail(5);
  // A writer shares with nobody, readers share with each other. A file system
  // without locks is used without them. Pipes and devices are not locked: the
  // two ends of one pipe are one file to flock, and `export - | import -`
  // must not refuse itself.
  const bool lockable = S_ISREG(status.st_mode) && standard < 0;
  int lockResult = 0;
  while (lockable &&
         (lockResult = ::flock(fd, (forReading ? LOCK_SH : LOCK_EX) | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (lockResult != 0 && errno == EWOULDBLOCK) return fail(kIOErrorSharingViolation);
  // Emptied only once the lock is held, so that a file in use elsewhere keeps its bytes.
  if (!forReading && lockable && ::ftruncate(fd, 0) != 0) return fail(PlatformIOCode(errno));
  if (forReading) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  m_fd = fd;
  m_characterDevice = !forReading && S_ISCHR(status.st_mode);
  m_endReached = false;
  m_atLineStart = true;
  m_position = 0;
  m_end = 0;
  return true;
}

void TTextFile::Rewrite() {
  if (OpenDescriptor(O_WRONLY | O_CREAT, false)) m_mode = tfmOutput;
}

void TTextFile::Reset() {
  if (OpenDescriptor(O_RDONLY, true)) m_mode = tfmInput;
}

bool TTextFile::Flush() {
  const char* data = m_buffer.get();
  std::size_t left = m_end;
  // Bytes that failed are not offered again.
  m_end = 0;
  while (left > 0) {
    ssize_t written = ::write(m_fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      SetIOCode(PlatformIOCode(errno));
      return false;
    }
    if (written == 0) {
      SetIOCode(101);
      return false;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

void TTextFile::Write(std::string_view text) {
  if (m_mode != tfmOutput) {
    SetIOCode(kIOErrorNotForWriting);
    return;
  }
  while (!text.empty()) {
    std::size_t count = std::min(kTextFileBufferSize - m_end, text.size());
    std::memcpy(m_buffer.get() + m_end, text.data(), count);
    m_end += count;
    text.remove_prefix(count);
    if (m_end == kTextFileBufferSize) Flush();
  }
}

void TTextFile::WriteLineEnd() {
  Write("\r\n");
  if (m_mode == tfmOutput && m_characterDevice) Flush();
}

void TTextFile::WriteLn(std::string_view text) {
  // Most lines fit in what is left of the buffer: one copy, no flush.
  if (m_mode == tfmOutput && !m_characterDevice && text.size() + 2 < kTextFileBufferSize - m_end) {
    char* out = m_buffer.get() + m_end;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\r';
    out[text.size() + 1] = '\n';
    m_end += text.size() + 2;
    return;
  }
  Write(text);
  WriteLineEnd();
}

bool TTextFile::Fill() {
  if (m_endReached) return false;
  m_position = 0;
  m_end = 0;
  ssize_t count;
  do {
    count = ::read(m_fd, m_buffer.get(), kTextFileBufferSize);
  } while (count < 0 && errno == EINTR);
  if (count > 0) {
    m_end = static_cast<std::size_t>(count);
    return true;
  }
  // A writer that went away ends the file like a read of nothing.
  if (count == 0 || errno == EPIPE) {
    m_endReached = true;
  } else {
    SetIOCode(PlatformIOCode(errno));
  }
  return false;
}

void TTextFile::ReadRawLine(std::string& line) {
  line.clear();
  if (m_mode != tfmInput) {
    SetIOCode(kIOErrorNotForReading);
    return;
  }
  for (;;) {
    if (m_position == m_end && !Fill()) return;
    const char* from = m_buffer.get() + m_position;
    if (const void* lf = std::memchr(from, '\n', m_end - m_position)) {
      const char* next = static_cast<const char*>(lf) + 1;
      line.append(from, next);
      m_position = static_cast<std::size_t>(next - m_buffer.get());
      m_atLineStart = true;
      return;
    }
    line.append(from, m_end - m_position);
    m_position = m_end;
    m_atLineStart = false;
  }
}

bool TTextFile::Eof() {
  if (m_mode != tfmInput) {
    SetIOCode(kIOErrorNotForReading);
    return true;
  }
  if (m_position == m_end && !Fill()) return true;
  return m_atLineStart && m_buffer[m_position] == kCtrlZ;
}

void TTextFile::Close() {
  if (m_mode == tfmClosed) {
    SetIOCode(kIOErrorNotOpen);
    return;
  }
  bool flushed = m_mode != tfmOutput || Flush();
  // On Linux the descriptor is released even when close() reports EINTR.
  if (::close(m_fd) != 0 && errno != EINTR && flushed) SetIOCode(PlatformIOCode(errno));
  m_fd = -1;
  m_mode = tfmClosed;
  m_position = 0;
  m_end = 0;
}

int PendingIOCode() { return tPendingIOCode; }

int IOResult() { return std::exchange(tPendingIOCode, 0); }

void IOCheck() {
  if (int code = IOResult()) throw EInOutError(code, IOErrorMessage(code));
}

std::string IOErrorMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    case 32:
      return "I/O error 32: the file is in use by another program";
    case 103:
      return "I/O error 103: the file is not open";
    case 104:
      return "I/O error 104: the file is not open for reading";
    case 105:
      return "I/O error 105: the file is not open for writing";
    case 112:
      return "I/O error 112: the disk is full";
    default: {
      // Other codes are the platform's error numbers; its words follow.
      std::string message = "I/O error " + std::to_string(code);
      if (code > 0 && code < 100) {
        char buffer[128];
        const char* cause = ::strerror_r(code, buffer, sizeof buffer);
        if (cause && *cause && std::strncmp(cause, "Unknown error", 13) != 0) {
          std::string words = cause;
          if (words.size() > 1 && words[0] >= 'A' && words[0] <= 'Z' && words[1] >= 'a' && words[1] <= 'z')
            words[0] = static_cast<char>(words[0] - 'A' + 'a');
          message += ": " + words;
        }
      }
      return message;
    }
  }
}

int PlatformIOCode(int error, bool missingIsFile) {
  switch (error) {
    case ENOENT:
      return missingIsFile ? 2 : 3;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return 5;
    case EMFILE:
    case ENFILE:
      return 4;
    case ENOSPC:
    case EDQUOT:
      return 112;
    default:
      return error;
  }
}
