#include "cli/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signalNumber) {
  if (g_stopSignal != 0) {
    // The second Ctrl-C: the user does not want to wait for the stop.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
    return;
  }
  g_stopSignal = signalNumber;
}

// "1,234,567"
std::string Grouped(std::int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

// "0:07", "12:34", "1:02:03"
std::string Duration(double seconds) {
  const long total = std::lround(seconds);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The terminal a password question runs on, kept for the signal handler.
int g_ttyFd = -1;
termios g_ttySaved;

void RestoreTerminalAndDie(int signalNumber) {
  tcsetattr(g_ttyFd, TCSAFLUSH, &g_ttySaved);
  const char lineEnd = '\n';
  [[maybe_unused]] ssize_t ignored = write(g_ttyFd, &lineEnd, 1);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

static void CatchAsStop(int signalNumber) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signalNumber, &action, nullptr);
}

void CatchStopSignals() {
  CatchAsStop(SIGINT);
  CatchAsStop(SIGTERM);
}

int StopSignal() { return g_stopSignal; }

void CatchBrokenPipe() { CatchAsStop(SIGPIPE); }

namespace {

std::string Escaped(const std::string& text, bool keepLineFeeds, bool doubleBackslashes) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char escape[8];
    if (byte == '\\' && doubleBackslashes) {
      out += "\\\\";
    } else if ((byte < 0x20 && !(keepLineFeeds && byte == '\n')) || byte == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      out += escape;
    } else if (byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // U+0080 to U+009F: the 8-bit controls, which some terminals obey.
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[++i]));
      out += escape;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string Printable(const std::string& text, bool keepLineFeeds) {
  return Escaped(text, keepLineFeeds, false);
}

std::string PrintableName(const std::string& name) { return Escaped(name, false, true); }

TTerminalProgress::TTerminalProgress(bool visible)
    : m_visible(visible), m_start(std::chrono::steady_clock::now()), m_lastDraw(m_start) {}

void TTerminalProgress::SetPosition(int position) {
  m_position = position;
  if (position >= 10 && !m_rowsStart) m_rowsStart = std::chrono::steady_clock::now();
  Draw(false);
}

void TTerminalProgress::SetRowsDone(std::int64_t rows) {
  m_rows = rows;
  Draw(false);
}

bool TTerminalProgress::StopRequested() { return g_stopSignal != 0; }

void TTerminalProgress::Draw(bool force) {
  if (!m_visible) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && m_drawn && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  m_lastDraw = now;

  constexpr int kWidth = 30;
  const int position = m_position < 0 ? 0 : (m_position > 100 ? 100 : m_position);
  const int filled = position * kWidth / 100;
  std::string line = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d%%", position);
  line += percent;
  const double elapsed = SecondsSince(m_start);
  if (m_rows) {
    line += "  " + Grouped(*m_rows) + " rows";
    if (elapsed >= 0.5) line += "  " + Grouped(std::llround(*m_rows / elapsed)) + " rows/s";
  }
  // The rows move the position from 10 to 100.
  if (m_rowsStart && position > 10 && position < 100) {
    const double done = (position - 10) / 90.0;
    const double rowSeconds = SecondsSince(*m_rowsStart);
    if (rowSeconds >= 1) line += "  " + Duration(rowSeconds * (1 - done) / done) + " left";
  } else {
    line += "  " + Duration(elapsed);
  }
  line += "\033[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  m_drawn = true;
}

void TTerminalProgress::Clear() {
  if (!m_drawn) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_drawn = false;
}

TTerminalMessages::TTerminalMessages(TTerminalProgress& progress, std::string fileShown, bool quiet)
    : m_progress(progress), m_fileShown(std::move(fileShown)), m_quiet(quiet) {}

void TTerminalMessages::ShowMessage(const std::string& text) {
  m_progress.Clear();
  std::fprintf(stderr, "%s\n", Printable(text, true).c_str());
  std::fflush(stderr);
}

void TTerminalMessages::ShowResult(const TTransferResult& result) {
  if (m_quiet && !result.stopped && !result.headerMismatch) return;
  // The reader of our output went away: we end as quietly as it did.
  if (result.stopped && StopSignal() == SIGPIPE) return;
  ShowMessage(ResultText(result));
}

TRefusalAnswer TTerminalMessages::AskRefusedLine(const TRefusedLine& line) {
  // One refusal per line of output: the server's lines joined.
  std::string reason = line.reason;
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  for (std::size_t at; (at = reason.find_first_of("\r\n")) != std::string::npos;) {
    const std::size_t end = reason.find_first_not_of("\r\n", at);
    reason.replace(at, end == std::string::npos ? std::string::npos : end - at, "; ");
  }
  m_progress.Clear();
  std::fprintf(stderr, "%s:%lld: %s\n", Printable(m_fileShown).c_str(), static_cast<long long>(line.lineNumber),
               Printable(reason).c_str());
  std::fflush(stderr);
  return TRefusalAnswer::raOk;
}

std::optional<std::string> AskPassword(const std::string& prompt) {
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    close(fd);
    return std::nullopt;
  }
  g_ttyFd = fd;
  g_ttySaved = saved;
  struct sigaction restore {}, oldInt, oldTerm;
  restore.sa_handler = RestoreTerminalAndDie;
  sigemptyset(&restore.sa_mask);
  sigaction(SIGINT, &restore, &oldInt);
  sigaction(SIGTERM, &restore, &oldTerm);

  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  [[maybe_unused]] ssize_t ignored = write(fd, prompt.data(), prompt.size());
  tcsetattr(fd, TCSAFLUSH, &quiet);

  std::string password;
  bool ended = false;
  char c;
  while (!ended) {
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') {
      ended = true;
    } else if (c != '\r') {
      password += c;
    }
  }
  tcsetattr(fd, TCSAFLUSH, &saved);
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  g_ttyFd = -1;
  close(fd);
  return password;
}
