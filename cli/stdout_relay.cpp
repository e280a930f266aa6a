#include "cli/stdout_relay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TStdoutRelay::TStdoutRelay() {
  struct stat status;
  if (fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  m_file = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (m_file < 0 || dup2(fds[1], STDOUT_FILENO) < 0) {
    if (m_file >= 0) close(m_file);
    m_file = -1;
    close(fds[0]);
    close(fds[1]);
    return;
  }
  close(fds[1]);
  m_pipeRead = fds[0];
  m_thread = std::thread([this] { Copy(); });
}

TStdoutRelay::~TStdoutRelay() { Finish(); }

void TStdoutRelay::Copy() {
  static char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(m_pipeRead, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    // After a failed write the rest is read and dropped, so that the writer
    // never blocks on a full pipe.
    for (ssize_t done = 0; done < got && m_error == 0;) {
      const ssize_t put = write(m_file, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        m_error = put < 0 ? errno : EIO;
        break;
      }
      done += put;
    }
  }
}

std::string TStdoutRelay::Finish() {
  if (m_file < 0) return {};
  // The pipe's last writer goes away: the thread reads to its end.
  dup2(m_file, STDOUT_FILENO);
  m_thread.join();
  close(m_pipeRead);
  close(m_file);
  m_file = m_pipeRead = -1;
  return m_error == 0 ? std::string() : std::string("cannot write to standard output: ") + std::strerror(m_error);
}
