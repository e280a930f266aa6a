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

using linerules::kCtrlZ;

TTextFile::TTextFile() = default;

TTextFile::TTextFile(std::string path) : m_path(std::move(path)) {}

TTextFile::TTextFile(std::string path, std::string nameInMessages)
    : m_path(std::move(path)), m_nameInMessages(std::move(nameInMessages)) {}

TTextFile::~TTextFile() { CloseQuietly(); }

void TTextFile::AssignFile(std::string path) {
  CloseQuietly();
  m_path = std::move(path);
  m_nameInMessages.clear();
}

void TTextFile::Fail(int code, const char* step, const std::string& cause) const {
  throw EInOutError(code, std::string("Cannot ") + step + " file '" + NameInMessages() + "': " + cause);
}

void TTextFile::FailNotOpen(int code, const char* forWhat) const {
  throw EInOutError(code, "File '" + NameInMessages() + "' is not open" + forWhat);
}

std::string TTextFile::NameInMessages() const {
  return ShownPath(m_nameInMessages.empty() ? m_path : m_nameInMessages);
}

void TTextFile::OpenDescriptor(int flags, bool forReading) {
  if (m_mode != tfmClosed) Close();
  if (!m_buffer) m_buffer = std::make_unique_for_overwrite<char[]>(kTextFileBufferSize);
  const char* step = forReading ? "open" : "create";
  // The platform would stop at an embedded zero byte and open another name.
  if (m_path.find('\0') != std::string::npos) Fail(3, step, "a file name cannot hold a zero byte");
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
    const int error = errno;
    Fail(PlatformIOCode(error, forReading), step, PlatformErrorText(error));
  }
  auto fail = [&](int code, const std::string& cause) {
    ::close(fd);
    Fail(code, step, cause);
  };
  struct stat status;
  if (::fstat(fd, &status) != 0) fail(PlatformIOCode(errno), PlatformErrorText(errno));
  // open() lets a folder be opened for reading; it is no file to read.
  if (S_ISDIR(status.st_mode)) fail(5, PlatformErrorText(EISDIR));
  // A writer shares with nobody, readers share with each other. A file system
  // without locks is used without them. Pipes and devices are not locked: the
  // two ends of one pipe are one file to flock, and `export - | import -`
  // must not refuse itself.
  const bool lockable = S_ISREG(status.st_mode) && standard < 0;
  int lockResult = 0;
  while (lockable && (lockResult = ::flock(fd, (forReading ? LOCK_SH : LOCK_EX) | LOCK_NB)) != 0 &&
         errno == EINTR) {
  }
  if (lockResult != 0 && errno == EWOULDBLOCK)
    fail(kIOErrorSharingViolation, "it is in use by another program");
  // Emptied only once the lock is held, so that a file in use elsewhere keeps its bytes.
  if (!forReading && lockable && ::ftruncate(fd, 0) != 0)
    fail(PlatformIOCode(errno), PlatformErrorText(errno));
  if (forReading) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  m_fd = fd;
  m_characterDevice = !forReading && S_ISCHR(status.st_mode);
  m_endReached = false;
  m_position = 0;
  m_end = 0;
  m_bytesFromFile = 0;
  m_packer.reset();
  m_unpacker.reset();
  if (forReading) {
    m_unpacker =
        TUnpacker::Make(m_compression, [this](char* into, std::size_t room) { return ReadIn(into, room); });
  } else {
    m_packer = TPacker::Make(m_compression);
  }
  m_mode = forReading ? tfmInput : tfmOutput;
}

void TTextFile::Rewrite() { OpenDescriptor(O_WRONLY | O_CREAT, false); }

void TTextFile::Reset() { OpenDescriptor(O_RDONLY, true); }

void TTextFile::Flush() {
  const std::size_t size = m_end;
  // Bytes that failed are not offered again.
  m_end = 0;
  if (!m_packer) return WriteOut(m_buffer.get(), size);
  m_packed.clear();
  std::string problem;
  if (!m_packer->Pack({m_buffer.get(), size}, false, m_packed, problem)) {
    Fail(kIOErrorBadCompressedData, "write", problem);
  }
  WriteOut(m_packed.data(), m_packed.size());
}

void TTextFile::WriteOut(const char* data, std::size_t left) {
  while (left > 0) {
    ssize_t written = ::write(m_fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(PlatformIOCode(errno), "write", PlatformErrorText(errno));
    }
    if (written == 0) Fail(101, "write", PlatformErrorText(ENOSPC));
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

void TTextFile::Write(std::string_view text) {
  if (m_mode != tfmOutput) FailNotOpen(kIOErrorNotForWriting, " for writing");
  while (!text.empty()) {
    std::size_t count = std::min(kTextFileBufferSize - m_end, text.size());
    std::memcpy(m_buffer.get() + m_end, text.data(), count);
    m_end += count;
    text.remove_prefix(count);
    if (m_end == kTextFileBufferSize) Flush();
  }
}

void TTextFile::WriteLineEnd() {
  Write(m_lineEnd == TLineEnd::leLf ? "\n" : "\r\n");
  if (m_mode == tfmOutput && m_characterDevice) Flush();
}

void TTextFile::WriteLn(std::string_view text) {
  // Most lines fit in what is left of the buffer: one copy, no flush.
  if (m_mode == tfmOutput && !m_characterDevice && text.size() + 2 < kTextFileBufferSize - m_end) {
    char* out = m_buffer.get() + m_end;
    std::memcpy(out, text.data(), text.size());
    out += text.size();
    if (m_lineEnd == TLineEnd::leCrLf) *out++ = '\r';
    *out++ = '\n';
    m_end = static_cast<std::size_t>(out - m_buffer.get());
    return;
  }
  Write(text);
  WriteLineEnd();
}

// Reads more bytes after those not consumed yet (a held-back Ctrl-Z at
// most), which move to the start of the buffer.
bool TTextFile::Fill() {
  if (m_endReached) return false;
  const std::size_t kept = m_end - m_position;
  if (kept > 0) std::memmove(m_buffer.get(), m_buffer.get() + m_position, kept);
  m_position = 0;
  m_end = kept;
  char* into = m_buffer.get() + kept;
  const std::size_t room = kTextFileBufferSize - kept;
  const std::ptrdiff_t count = m_unpacker ? m_unpacker->Unpack(into, room) : ReadIn(into, room);
  if (count > 0) {
    m_end += static_cast<std::size_t>(count);
    return true;
  }
  if (count == TUnpacker::kDamaged) Fail(kIOErrorBadCompressedData, "read", m_unpacker->Problem());
  m_endReached = true;
  return false;
}

// The platform's bytes of the file: their count, 0 at its end.
std::ptrdiff_t TTextFile::ReadIn(char* into, std::size_t room) {
  ssize_t count;
  do {
    count = ::read(m_fd, into, room);
  } while (count < 0 && errno == EINTR);
  if (count > 0) {
    m_bytesFromFile += count;
    return count;
  }
  // A writer that went away ends the file like a read of nothing.
  if (count < 0 && errno != EPIPE) Fail(PlatformIOCode(errno), "read", PlatformErrorText(errno));
  return 0;
}

// A Ctrl-Z that ends what was read so far may be the file's last byte, the
// end mark: it counts as data only once a byte after it has been read.
bool TTextFile::DataReady() {
  for (;;) {
    const std::size_t left = m_end - m_position;
    if (left > 1 || (left == 1 && m_buffer[m_position] != kCtrlZ)) return true;
    if (!Fill()) return false;
  }
}

void TTextFile::ReadRawLine(std::string& line, std::size_t maxBytes) {
  line.clear();
  if (m_mode != tfmInput) FailNotOpen(kIOErrorNotForReading, " for reading");
  while (line.size() < maxBytes && DataReady()) {
    const char* from = m_buffer.get() + m_position;
    const std::size_t left = m_end - m_position;
    std::size_t take = std::min(left, maxBytes - line.size());
    if (const void* lf = std::memchr(from, '\n', take)) {
      take = static_cast<std::size_t>(static_cast<const char*>(lf) + 1 - from);
      line.append(from, take);
      m_position += take;
      return;
    }
    // Left for DataReady to judge; it has at least one byte before it.
    if (take == left && from[take - 1] == kCtrlZ) --take;
    line.append(from, take);
    m_position += take;
  }
}

bool TTextFile::Eof() {
  if (m_mode != tfmInput) FailNotOpen(kIOErrorNotForReading, " for reading");
  return !DataReady();
}

void TTextFile::Close() {
  if (m_mode == tfmClosed) FailNotOpen(kIOErrorNotOpen, "");
  const bool writing = m_mode == tfmOutput;
  if (writing) {
    try {
      Flush();
      // A packed file ends with its stream's trailer.
      if (m_packer) {
        m_packed.clear();
        std::string problem;
        if (!m_packer->Pack({}, true, m_packed, problem)) Fail(kIOErrorBadCompressedData, "write", problem);
        WriteOut(m_packed.data(), m_packed.size());
      }
    } catch (...) {
      Release();
      throw;
    }
  }
  if (const int error = Release(); error != 0) {
    Fail(PlatformIOCode(error), writing ? "write" : "close", PlatformErrorText(error));
  }
}

void TTextFile::CloseQuietly() noexcept {
  if (m_mode == tfmClosed) return;
  try {
    Close();
  } catch (...) {
  }
}

// Closes the descriptor; the errno of a failure close() reports, else 0.
int TTextFile::Release() noexcept {
  // On Linux the descriptor is released even when close() reports EINTR;
  // a failure reported there is of bytes written earlier.
  const int error = ::close(m_fd) != 0 && errno != EINTR ? errno : 0;
  m_fd = -1;
  m_mode = tfmClosed;
  m_position = 0;
  m_end = 0;
  m_packer.reset();
  m_unpacker.reset();
  return error;
}

std::string ShownPath(const std::string& path) {
  std::string shown;
  for (char c : path) {
    if (c == '\0') {
      shown += "\\0";
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string PlatformErrorText(int error) {
  char buffer[256];
  return ::strerror_r(error, buffer, sizeof buffer);
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
    // Its number, 32, is the code of a file held by another program.
    case EPIPE:
      return kIOErrorBrokenPipe;
    default:
      return error;
  }
}
