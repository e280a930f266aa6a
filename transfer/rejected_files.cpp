#include "transfer/rejected_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/exceptions.h"
#include "transfer/check_entries.h"
#include "transfer/compression.h"
#include "transfer/transfer_file.h"

namespace {

// The folder part of a path with its slash ("" for none), and the folder
// as a message names it.
std::string FolderPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FolderShown(const std::string& path) {
  const std::string part = FolderPart(path);
  if (part.empty()) return ".";
  return part.size() == 1 ? part : part.substr(0, part.size() - 1);
}

[[noreturn]] void Fail(int error, const std::string& what) {
  throw EInOutError(error, what + ": " + std::strerror(error));
}

// The bytes of an earlier file at path, when it is a regular file of its own
// (a symbolic link is not followed).
std::string EarlierContent(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  std::string content;
  struct stat status;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
      content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

}  // namespace

TRejectedFiles::TRejectedFiles(std::string base, std::string header, bool keepEarlier)
    : m_base(std::move(base)), m_keepEarlier(keepEarlier) {
  m_csv.path = CsvPath();
  m_log.path = LogPath();
  if (!header.empty() && header.back() != '\n') header += "\r\n";
  m_csv.start = std::move(header);
}

TRejectedFiles::~TRejectedFiles() {
  for (TFile* file : {&m_csv, &m_log}) {
    if (file->fd >= 0) ::close(file->fd);
    if (!m_placed && !file->temporary.empty()) ::unlink(file->temporary.c_str());
  }
}

// A file without a name where the platform makes one, so that nothing is
// left behind when the import is killed before it is in place; else one
// under a hidden temporary name.
void TRejectedFiles::Make(TFile& file) {
  const std::string folder = FolderPart(file.path).empty() ? std::string(".") : FolderPart(file.path);
  file.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (file.fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
    file.fd = CreateFileBeside(file.path, file.temporary);
  if (file.fd < 0) {
    Fail(errno, "The refused lines cannot be kept in folder '" + FolderShown(file.path) + "' (for file '" +
                    file.path + "')");
  }
  const std::string earlier = m_keepEarlier ? EarlierContent(file.path) : std::string();
  Write(file, earlier.empty() ? file.start : earlier);
  file.committed = ::lseek(file.fd, 0, SEEK_CUR);
}

void TRejectedFiles::Place(TFile& file) {
  if (file.temporary.empty()) {
    // A name for the file made without one, beside its place.
    const std::string self = "/proc/self/fd/" + std::to_string(file.fd);
    for (int attempt = 0; file.temporary.empty(); ++attempt) {
      std::string candidate = TemporaryNameBeside(file.path);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        file.temporary = std::move(candidate);
      } else if (errno != EEXIST || attempt > 100) {
        Fail(errno, "Cannot put the refused lines into file '" + file.path + "'");
      }
    }
  }
  if (::rename(file.temporary.c_str(), file.path.c_str()) != 0) {
    const int error = errno;
    ::unlink(file.temporary.c_str());
    file.temporary.clear();
    Fail(error, "Cannot put the refused lines into file '" + file.path + "'");
  }
  file.temporary.clear();
}

void TRejectedFiles::Write(TFile& file, const std::string& bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(file.fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(errno, "Cannot write the refused lines into file '" + file.path + "'");
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

void TRejectedFiles::Add(const std::string& record, std::int64_t lineNumber, const std::string& reason) {
  if (!m_made) {
    Make(m_csv);
    Make(m_log);
    m_made = true;
  }
  std::string text = reason;
  std::replace(text.begin(), text.end(), '\n', ' ');
  m_waiting.push_back({record, "Line " + std::to_string(lineNumber) + ": " + text + "\r\n"});
}

void TRejectedFiles::Stage() {
  if (m_waiting.empty()) return;
  std::string csv;
  std::string log;
  for (const TLine& line : m_waiting) {
    csv += line.record;
    log += line.logLine;
  }
  try {
    // A stage tried again starts where the last commit left the files.
    for (TFile* file : {&m_csv, &m_log}) {
      if (::ftruncate(file->fd, file->committed) != 0 || ::lseek(file->fd, file->committed, SEEK_SET) < 0)
        Fail(errno, "Cannot write the refused lines into file '" + file->path + "'");
    }
    Write(m_csv, csv);
    Write(m_log, log);
    if (!m_placed) {
      Place(m_csv);
      Place(m_log);
      m_placed = true;
    }
  } catch (...) {
    for (TFile* file : {&m_csv, &m_log}) {
      if (::ftruncate(file->fd, file->committed) == 0) ::lseek(file->fd, file->committed, SEEK_SET);
    }
    throw;
  }
}

void TRejectedFiles::Commit() {
  if (m_waiting.empty()) return;
  m_waiting.clear();
  for (TFile* file : {&m_csv, &m_log}) file->committed = ::lseek(file->fd, 0, SEEK_CUR);
}

void TRejectedFiles::Discard() noexcept {
  m_waiting.clear();
  if (!m_made) return;
  for (TFile* file : {&m_csv, &m_log}) {
    if (file->fd >= 0 && ::ftruncate(file->fd, file->committed) == 0)
      ::lseek(file->fd, file->committed, SEEK_SET);
  }
}

void TRejectedFiles::Close() {
  for (TFile* file : {&m_csv, &m_log}) {
    if (file->fd < 0) continue;
    const int fd = file->fd;
    file->fd = -1;
    if (::close(fd) != 0) Fail(errno, "Cannot write the refused lines into file '" + file->path + "'");
  }
}

std::string RejectedBase(const std::string& folder, const std::string& fileName, bool standardStream,
                         const std::string& rejectedFolder) {
  std::string name = fileName;
  if (!standardStream) {
    // orders.csv.gz keeps its refused lines in orders.rejected.csv, unpacked.
    name.resize(name.size() - CompressionSuffix(CompressionOfName(name)).size());
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
  }
  if (!rejectedFolder.empty()) return TransferPath(rejectedFolder, name);
  return standardStream ? name : TransferPath(folder, name);
}
