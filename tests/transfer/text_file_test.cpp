#include "transfer/text_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "common/test_database.h"
#include "transfer/line_rules.h"

namespace fs = std::filesystem;

namespace {

std::string Repeat(std::size_t count, char c) { return std::string(count, c); }

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads every line the way the import does (raw, then its text by the line
// rules).
std::vector<std::string> ReadAllLines(const fs::path& path) {
  TTextFile file(path.string());
  file.Reset();
  std::vector<std::string> lines;
  std::string line;
  while (!file.Eof()) {
    file.ReadRawLine(line);
    std::string text;
    linerules::AppendText(text, line);
    lines.push_back(std::move(text));
  }
  file.Close();
  return lines;
}

struct TFailure {
  int code = 0;
  std::string message;
};

// The code and message of the EInOutError the action throws; 0 and "" when
// it throws none.
TFailure FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EInOutError& error) {
    return {error.Code(), error.what()};
  }
  return {};
}

class TextFileTest : public testing::Test {
 protected:
  void TearDown() override { fs::remove_all(m_dir); }
  fs::path Path(const std::string& name) const { return m_dir / name; }

  fs::path m_dir = testdb::MakeTempDir("vp-textfile");
};

// ---- Line rules -------------------------------------------------------------

struct LineCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

const std::size_t kBlock = kTextFileBufferSize;

const LineCase kLineCases[] = {
    {"CrLfLines", "ID,NAME\r\n7,Anna\r\n", {"ID,NAME", "7,Anna"}},
    {"LineFeedAlone", "a\nb\n", {"a", "b"}},
    {"LastLineWithoutLineEnd", "a\r\nb", {"a", "b"}},
    {"EmptyFile", "", {}},
    {"OnlyALineEnd", "\r\n", {""}},
    {"EmptyLinesInBetween", "a\r\n\r\n\nb\r\n", {"a", "", "", "b"}},
    {"CrCrLfReadsTextBeforeFirstCr", "a\r\r\nb\r\n", {"a", "b"}},
    {"LoneCrVanishes", "a\rb\r\n", {"ab"}},
    {"CrAtEndOfFileVanishes", "abc\r", {"abc"}},
    {"CtrlZInsideALineIsData",
     "ab\x1a"
     "cd\r\nef\r\n",
     {"ab\x1a"
      "cd",
      "ef"}},
    {"OnlyTheLastByteOfTheFileIsTheEndMark", "a\r\nb\x1a\x1a\x1a", {"a", "b\x1a\x1a"}},
    {"CtrlZAtALineStartIsData",
     "ab\r\n\x1a"
     "cd\r\nef\r\n",
     {"ab",
      "\x1a"
      "cd",
      "ef"}},
    {"CtrlZAsFirstByte",
     "\x1a"
     "abc\r\n",
     {"\x1a"
      "abc"}},
    {"CtrlZAfterLastLineEnd", "a\r\n\x1a", {"a"}},
    {"CtrlZAloneIsAnEmptyFile", "\x1a", {}},
    {"CtrlZBeforeTheLastLineFeed", "a\x1a\n", {"a\x1a"}},
    {"OtherBytesPassUnchanged",
     std::string("\xe9t\xe9\t\0\x7f\x1b\r\n", 9),
     {std::string("\xe9t\xe9\t\0\x7f\x1b", 7)}},
    {"CrLfAcrossBlockEnd", Repeat(kBlock - 1, 'x') + "\r\ny", {Repeat(kBlock - 1, 'x'), "y"}},
    {"LoneCrAtBlockEnd", Repeat(kBlock - 1, 'x') + "\ry\r\n", {Repeat(kBlock - 1, 'x') + "y"}},
    {"CrAtBlockEndThenEndOfFile", Repeat(kBlock - 1, 'x') + "\r", {Repeat(kBlock - 1, 'x')}},
    {"LineFeedAsFirstByteOfBlock", Repeat(kBlock, 'x') + "\nz", {Repeat(kBlock, 'x'), "z"}},
    {"CtrlZStartsSecondBlock",
     Repeat(kBlock - 2, 'x') + "\r\n\x1a"
                               "more\r\n",
     {Repeat(kBlock - 2, 'x'),
      "\x1a"
      "more"}},
    {"CtrlZEndsFirstBlockThenMore", Repeat(kBlock - 1, 'x') + "\x1ay", {Repeat(kBlock - 1, 'x') + "\x1ay"}},
    {"CtrlZEndsFirstBlockAndFile", Repeat(kBlock - 1, 'x') + "\x1a", {Repeat(kBlock - 1, 'x')}},
    {"CtrlZStartsSecondBlockAndEndsFile", Repeat(kBlock, 'x') + "\x1a", {Repeat(kBlock, 'x')}},
    {"CtrlZInsideLongLine",
     Repeat(kBlock - 10, 'x') + "\x1a" + Repeat(2 * kBlock, 'y') + "\r\nz",
     {Repeat(kBlock - 10, 'x') + "\x1a" + Repeat(2 * kBlock, 'y'), "z"}},
    {"LineLongerThanBlocks", Repeat(3 * kBlock + 17, 'q') + "\r\nend", {Repeat(3 * kBlock + 17, 'q'), "end"}},
};

class LineRulesTest : public TextFileTest, public testing::WithParamInterface<LineCase> {};

TEST_P(LineRulesTest, ReadsLinesAsWritten) {
  WriteBytes(Path("in.csv"), GetParam().bytes);
  EXPECT_EQ(ReadAllLines(Path("in.csv")), GetParam().lines);
}

// Read whole or in pieces of at most a few bytes, the raw lines are the
// file's bytes but a last Ctrl-Z, then an empty text, without failure.
TEST_P(LineRulesTest, RawLinesAreTheBytesThenEmptyTextWithoutFailure) {
  std::string bytes = GetParam().bytes;
  WriteBytes(Path("in.csv"), bytes);
  if (!bytes.empty() && bytes.back() == linerules::kCtrlZ) bytes.pop_back();
  for (std::size_t maxBytes : {std::string::npos, std::size_t{7}}) {
    SCOPED_TRACE(maxBytes);
    TTextFile file(Path("in.csv").string());
    file.Reset();
    std::string read;
    std::string line;
    std::size_t lines = 0;
    while (!file.Eof()) {
      file.ReadRawLine(line, maxBytes);
      ASSERT_FALSE(line.empty());
      ASSERT_LE(line.size(), maxBytes);
      read += line;
      if (line.back() == '\n' || read.size() == bytes.size()) ++lines;
    }
    EXPECT_EQ(lines, GetParam().lines.size());
    EXPECT_TRUE(read == bytes);
    line = "stale";
    file.ReadRawLine(line, maxBytes);
    EXPECT_EQ(line, "");
    EXPECT_TRUE(file.Eof());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, LineRulesTest, testing::ValuesIn(kLineCases),
                         [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// ---- Writing ----------------------------------------------------------------

TEST_F(TextFileTest, WritesLinesEndingInCrLf) {
  TTextFile file(Path("out.csv").string());
  file.Rewrite();
  file.WriteLn("ID,NAME,NOTE");
  file.Write("7,");
  file.Write("Anna,");
  file.WriteLineEnd();
  file.WriteLn("");
  file.Close();
  EXPECT_EQ(ReadBytes(Path("out.csv")), "ID,NAME,NOTE\r\n7,Anna,\r\n\r\n");
}

TEST_F(TextFileTest, RewriteEmptiesAnExistingFile) {
  WriteBytes(Path("out.csv"), Repeat(100000, 'o'));
  TTextFile file(Path("out.csv").string());
  file.Rewrite();
  file.WriteLn("x");
  file.Close();
  EXPECT_EQ(ReadBytes(Path("out.csv")), "x\r\n");
}

TEST_F(TextFileTest, DiskFileIsWrittenInFullBlocksOnly) {
  TTextFile file(Path("out.csv").string());
  file.Rewrite();
  std::size_t written = 0;
  while (written + 12 < kBlock) {
    file.WriteLn("1234567890");
    written += 12;
  }
  EXPECT_EQ(fs::file_size(Path("out.csv")), 0u);
  file.WriteLn("1234567890");
  EXPECT_EQ(fs::file_size(Path("out.csv")), kBlock);
  file.Close();
  EXPECT_EQ(fs::file_size(Path("out.csv")), written + 12);
}

TEST_F(TextFileTest, ManyBlocksReadBackByteForByte) {
  std::vector<std::string> lines;
  std::string expected;
  unsigned seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    std::size_t length = i % 997 == 0 ? 100000 + seed % 5000 : seed % 120;
    std::string line;
    for (std::size_t j = 0; j < length; ++j) {
      char c = static_cast<char>((seed >> 8) + j * 7);
      if (c == '\r' || c == '\n' || c == 26) c = 'x';
      line += c;
    }
    expected += line + "\r\n";
    lines.push_back(std::move(line));
  }
  TTextFile file(Path("out.csv").string());
  file.Rewrite();
  for (const auto& line : lines) {
    file.Write(line);
    file.WriteLineEnd();
  }
  file.Close();
  ASSERT_GT(expected.size(), 20 * kBlock);
  EXPECT_TRUE(ReadBytes(Path("out.csv")) == expected);
  EXPECT_TRUE(ReadAllLines(Path("out.csv")) == lines);
}

TEST_F(TextFileTest, OpeningAnOpenFileClosesItFirst) {
  WriteBytes(Path("f.csv"), "old\r\n");
  TTextFile file(Path("f.csv").string());
  file.Reset();
  file.Rewrite();
  file.WriteLn("new");
  file.Reset();
  std::string line;
  file.ReadRawLine(line);
  file.Close();
  EXPECT_EQ(line, "new\r\n");
}

TEST_F(TextFileTest, DestructorClosesWithWhatWasWrittenAndReleasesTheFile) {
  {
    TTextFile file(Path("out.csv").string());
    file.Rewrite();
    file.WriteLn("a");
    file.Write("b");
  }
  EXPECT_EQ(ReadBytes(Path("out.csv")), "a\r\nb");
  TTextFile again(Path("out.csv").string());
  EXPECT_NO_THROW(again.Rewrite());
}

// The destructor runs while an earlier failure unwinds the stack: its own
// failure to write out the buffer is not thrown.
TEST_F(TextFileTest, DestructorDoesNotThrowWhenTheBufferCannotBeWritten) {
  EXPECT_EQ(FailureOf([&] {
              TTextFile full("/dev/full");
              full.Rewrite();
              full.Write("unflushed");
              TTextFile(Path("missing.csv").string()).Reset();
            }).message,
            "Cannot open file '" + Path("missing.csv").string() + "': No such file or directory");
}

// ---- Failures ---------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<void(const fs::path& dir)> run;
  int code;
  // "$D" stands for the test's folder.
  std::string message;
};

const FailureCase kFailureCases[] = {
    {"MissingFileForReading", [](const fs::path& dir) { TTextFile(dir / "missing.csv").Reset(); }, 2,
     "Cannot open file '$D/missing.csv': No such file or directory"},
    {"CreatingInMissingFolder", [](const fs::path& dir) { TTextFile(dir / "nofolder" / "x.csv").Rewrite(); },
     3, "Cannot create file '$D/nofolder/x.csv': No such file or directory"},
    {"FileUsedAsFolder",
     [](const fs::path& dir) {
       WriteBytes(dir / "plain", "x");
       TTextFile(dir / "plain" / "x.csv").Rewrite();
     },
     3, "Cannot create file '$D/plain/x.csv': Not a directory"},
    {"NameTooLong", [](const fs::path& dir) { TTextFile(dir / Repeat(300, 'n')).Rewrite(); }, 3,
     "Cannot create file '$D/" + Repeat(300, 'n') + "': File name too long"},
    {"ZeroByteInPath",
     [](const fs::path& dir) { TTextFile((dir / "a").string() + std::string(1, '\0') + "b").Rewrite(); }, 3,
     "Cannot create file '$D/a\\0b': a file name cannot hold a zero byte"},
    {"FolderOpenedForReading", [](const fs::path& dir) { TTextFile(dir).Reset(); }, 5,
     "Cannot open file '$D': Is a directory"},
    {"FolderCreatedAnew", [](const fs::path& dir) { TTextFile(dir).Rewrite(); }, 5,
     "Cannot create file '$D': Is a directory"},
    {"FullDeviceAtLineEnd",
     [](const fs::path&) {
       TTextFile file("/dev/full");
       file.Rewrite();
       file.WriteLn("a");
     },
     112, "Cannot write file '/dev/full': No space left on device"},
    {"FullDeviceAtClose",
     [](const fs::path&) {
       TTextFile file("/dev/full");
       file.Rewrite();
       file.Write("no line end");
       file.Close();
     },
     112, "Cannot write file '/dev/full': No space left on device"},
    {"WriteWhenClosed", [](const fs::path& dir) { TTextFile(dir / "x").Write("a"); }, 105,
     "File '$D/x' is not open for writing"},
    {"WriteWhenReading",
     [](const fs::path& dir) {
       WriteBytes(dir / "in", "a");
       TTextFile file(dir / "in");
       file.Reset();
       file.WriteLineEnd();
     },
     105, "File '$D/in' is not open for writing"},
    {"ReadWhenClosed",
     [](const fs::path& dir) {
       std::string line;
       TTextFile(dir / "x").ReadRawLine(line);
     },
     104, "File '$D/x' is not open for reading"},
    {"ReadWhenWriting",
     [](const fs::path& dir) {
       std::string line;
       TTextFile file(dir / "out");
       file.Rewrite();
       file.ReadRawLine(line);
     },
     104, "File '$D/out' is not open for reading"},
    {"EofWhenClosed", [](const fs::path& dir) { TTextFile(dir / "x").Eof(); }, 104,
     "File '$D/x' is not open for reading"},
    {"CloseWhenClosed", [](const fs::path& dir) { TTextFile(dir / "x").Close(); }, 103,
     "File '$D/x' is not open"},
    {"CloseAfterFailedOpen",
     [](const fs::path& dir) {
       TTextFile file(dir / "missing");
       EXPECT_EQ(FailureOf([&] { file.Reset(); }).code, 2);
       file.Close();
     },
     103, "File '$D/missing' is not open"},
};

class FailureTest : public TextFileTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ThrowsCodeAndMessage) {
  std::string message = GetParam().message;
  if (std::size_t at = message.find("$D"); at != std::string::npos) message.replace(at, 2, m_dir.string());
  const TFailure failure = FailureOf([&] { GetParam().run(m_dir); });
  EXPECT_EQ(failure.code, GetParam().code);
  EXPECT_EQ(failure.message, message);
}

INSTANTIATE_TEST_SUITE_P(Operations, FailureTest, testing::ValuesIn(kFailureCases),
                         [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// A pipe whose reader went away is a broken pipe, not a file held by
// another program (errno 32 is the sharing code).
TEST_F(TextFileTest, AClosedPipeIsABrokenPipe) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string path = "/proc/self/fd/" + std::to_string(ends[1]);
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  TTextFile file(path);
  file.Rewrite();
  close(ends[0]);
  file.WriteLn("row");
  const TFailure failure = FailureOf([&] { file.Close(); });
  close(ends[1]);
  signal(SIGPIPE, previous);
  EXPECT_EQ(failure.code, kIOErrorBrokenPipe);
  EXPECT_EQ(failure.message, "Cannot write file '" + path + "': Broken pipe");
  EXPECT_EQ(file.Mode(), tfmClosed);
}

TEST_F(TextFileTest, FailedOpenLeavesTheFileClosed) {
  WriteBytes(Path("in.csv"), "a\r\n");
  TTextFile file(Path("in.csv").string());
  file.Reset();
  file.AssignFile(Path("missing.csv").string());
  EXPECT_EQ(FailureOf([&] { file.Reset(); }).code, 2);
  EXPECT_EQ(file.Mode(), tfmClosed);
}

TEST_F(TextFileTest, FailedWriteIsNotOfferedAgain) {
  TTextFile file("/dev/full");
  file.Rewrite();
  EXPECT_EQ(FailureOf([&] { file.WriteLn("a"); }).code, 112);
  EXPECT_EQ(file.Mode(), tfmOutput);
  EXPECT_NO_THROW(file.Close());
}

// ---- Other processes and limits ---------------------------------------------

// Runs the action in a child process and returns the code of its failure.
int CodeInChild(const std::function<void()>& action) {
  pid_t pid = fork();
  if (pid == 0) _exit(FailureOf(action).code & 0xff);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Drops to user and group 65534 (nobody); the kernel then checks permissions
// that it waives for root.
void BecomeNobody() {
  if (geteuid() != 0) return;
  if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(200);
}

TEST_F(TextFileTest, NoPermissionIsAccessDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  fs::permissions(m_dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  WriteBytes(Path("secret.csv"), "a\r\n");
  fs::permissions(Path("secret.csv"), fs::perms::owner_read | fs::perms::owner_write);
  WriteBytes(Path("public.csv"), "a\r\n");
  fs::permissions(Path("public.csv"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  EXPECT_EQ(CodeInChild([&] {
              BecomeNobody();
              TTextFile(Path("secret.csv").string()).Reset();
            }),
            5);
  EXPECT_EQ(CodeInChild([&] {
              BecomeNobody();
              TTextFile(Path("new.csv").string()).Rewrite();
            }),
            5);
  EXPECT_EQ(CodeInChild([&] {
              BecomeNobody();
              TTextFile(Path("public.csv").string()).Rewrite();
            }),
            5);
  EXPECT_EQ(CodeInChild([&] {
              BecomeNobody();
              TTextFile(Path("public.csv").string()).Reset();
            }),
            0);
  EXPECT_EQ(ReadBytes(Path("public.csv")), "a\r\n");
}

TEST_F(TextFileTest, NoDescriptorLeftIsTooManyOpenFiles) {
  WriteBytes(Path("in.csv"), "a\r\n");
  EXPECT_EQ(CodeInChild([&] {
              int lowestFree = dup(0);
              close(lowestFree);
              rlimit limit{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
              setrlimit(RLIMIT_NOFILE, &limit);
              TTextFile(Path("in.csv").string()).Reset();
            }),
            4);
}

// Another program holding a file open until it is destroyed.
class OtherProgram {
 public:
  OtherProgram(const fs::path& path, bool forWriting) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(m_release) != 0) throw std::runtime_error("pipe");
    m_pid = fork();
    if (m_pid == 0) {
      TTextFile file(path.string());
      char c = FailureOf([&] { forWriting ? file.Rewrite() : file.Reset(); }).code == 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(1);
      close(m_release[1]);
      // Returns when the parent closes its end.
      [[maybe_unused]] const ssize_t released = read(m_release[0], &c, 1);
      _exit(0);
    }
    close(ready[1]);
    close(m_release[0]);
    char c = 0;
    if (read(ready[0], &c, 1) != 1 || c != 'y')
      throw std::runtime_error("the other program could not open the file");
    close(ready[0]);
  }
  ~OtherProgram() {
    close(m_release[1]);
    waitpid(m_pid, nullptr, 0);
  }

 private:
  pid_t m_pid = -1;
  int m_release[2] = {-1, -1};
};

TEST_F(TextFileTest, FileBeingWrittenElsewhereIsSharingViolation) {
  OtherProgram writer(Path("busy.csv"), true);
  TTextFile file(Path("busy.csv").string());
  TFailure failure = FailureOf([&] { file.Reset(); });
  EXPECT_EQ(failure.message,
            "Cannot open file '" + Path("busy.csv").string() + "': it is in use by another program");
  EXPECT_EQ(failure.code, 32);
  failure = FailureOf([&] { file.Rewrite(); });
  EXPECT_EQ(failure.message,
            "Cannot create file '" + Path("busy.csv").string() + "': it is in use by another program");
  EXPECT_EQ(failure.code, 32);
  EXPECT_EQ(file.Mode(), tfmClosed);
}

TEST_F(TextFileTest, FileBeingReadElsewhereCanBeReadButNotReplaced) {
  WriteBytes(Path("busy.csv"), "keep\r\n");
  OtherProgram reader(Path("busy.csv"), false);
  TTextFile file(Path("busy.csv").string());
  EXPECT_EQ(FailureOf([&] { file.Rewrite(); }).code, 32);
  EXPECT_EQ(ReadBytes(Path("busy.csv")), "keep\r\n");
  EXPECT_EQ(ReadAllLines(Path("busy.csv")), std::vector<std::string>{"keep"});
}

TEST_F(TextFileTest, ClosingReleasesTheFile) {
  TTextFile writer(Path("f.csv").string());
  TTextFile reader(Path("f.csv").string());
  writer.Rewrite();
  EXPECT_EQ(FailureOf([&] { reader.Reset(); }).code, 32);
  writer.Close();
  EXPECT_NO_THROW(reader.Reset());
  EXPECT_EQ(reader.Mode(), tfmInput);
}

}  // namespace
