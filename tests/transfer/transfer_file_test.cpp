// How an export's new file takes the place of its target: through symbolic
// links, with the earlier file's mode and owner, and what a folder that
// refuses it says.
#include "transfer/transfer_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "common/test_database.h"

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Writes "new" in place of the target, as an export does.
void Replace(const fs::path& target) {
  TReplacingFile file(target.string());
  WriteBytes(file.TemporaryPath(), "new");
  file.Commit();
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs the action, in a child process as user and group 65534 (nobody) when
// asked and we are root, and returns "code: message" of the EInOutError it
// threw ("" for none).
std::string FailureOf(const std::function<void()>& action, bool asNobody) {
  auto run = [&]() -> std::string {
    try {
      action();
    } catch (const EInOutError& error) {
      return std::to_string(error.Code()) + ": " + error.what();
    }
    return "";
  };
  if (!asNobody || geteuid() != 0) return run();
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    const std::string failure = run();
    _exit(write(out[1], failure.data(), failure.size()) == static_cast<ssize_t>(failure.size()) ? 0 : 1);
  }
  close(out[1]);
  std::string failure;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    failure.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return failure;
}

const fs::perms kReadOnly = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;

class ReplacingFileTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(m_dir / "here");
    fs::create_directory(m_dir / "there");
  }
  void TearDown() override {
    fs::permissions(m_dir / "here", fs::perms::owner_all);
    fs::remove_all(m_dir);
  }
  fs::path m_dir = testdb::MakeTempDir("vp-replacing");
};

// The link stays a link and the file it leads to gets the new bytes; no
// new file stays behind in either folder.
TEST_F(ReplacingFileTest, ALinkIsFollowedToTheFileItLeadsTo) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // in "here": name, where it leads
    std::string written;                                     // under the test's folder
    bool earlier;
  } cases[] = {
      {"to a file beside it", {{"out.csv", "real.csv"}}, "here/real.csv", true},
      {"into another folder", {{"out.csv", "../there/real.csv"}}, "there/real.csv", true},
      {"by an absolute path", {{"out.csv", (m_dir / "there/real.csv").string()}}, "there/real.csv", true},
      {"through another link",
       {{"out.csv", "hop.csv"}, {"hop.csv", "../there/real.csv"}},
       "there/real.csv",
       true},
      {"to no file yet", {{"out.csv", "../there/new.csv"}}, "there/new.csv", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* folder : {"here", "there"}) {
      fs::remove_all(m_dir / folder);
      fs::create_directory(m_dir / folder);
    }
    if (c.earlier) WriteBytes(m_dir / c.written, "old");
    for (const auto& [name, to] : c.links) fs::create_symlink(to, m_dir / "here" / name);
    const std::vector<std::string> here = Entries(m_dir / "here");
    const std::vector<std::string> there = Entries(m_dir / "there");

    Replace(m_dir / "here" / "out.csv");
    EXPECT_EQ(ReadBytes(m_dir / c.written), "new");
    for (const auto& [name, to] : c.links) {
      ASSERT_TRUE(fs::is_symlink(m_dir / "here" / name)) << name;
      EXPECT_EQ(fs::read_symlink(m_dir / "here" / name), to);
    }
    const fs::path written = m_dir / c.written;
    std::vector<std::string> expected = written.parent_path().filename() == "here" ? here : there;
    if (!c.earlier) expected.push_back(written.filename());
    EXPECT_EQ(Entries(written.parent_path()), expected);
  }
}

TEST_F(ReplacingFileTest, TheNewFileKeepsTheEarlierFilesModeAndOwner) {
  struct Case {
    mode_t mode;
    uid_t owner;
    gid_t group;
  } cases[] = {
      {0640, 65534, 65534},
      {0666, 0, 65534},   // more than the umask leaves
      {04755, 65534, 0},  // set-user-ID, which a change of owner would clear
  };
  const fs::path target = m_dir / "here" / "out.csv";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    WriteBytes(target, "old");
    if (geteuid() == 0) {
      ASSERT_EQ(chown(target.c_str(), c.owner, c.group), 0);
    }
    ASSERT_EQ(chmod(target.c_str(), c.mode), 0);
    struct stat earlier;
    ASSERT_EQ(stat(target.c_str(), &earlier), 0);
    Replace(target);
    struct stat now;
    ASSERT_EQ(stat(target.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, c.mode);
    EXPECT_EQ(now.st_uid, earlier.st_uid);
    EXPECT_EQ(now.st_gid, earlier.st_gid);
    EXPECT_NE(now.st_ino, earlier.st_ino);
  }
}

// A user who may not give a file away still replaces one of another owner
// in a folder they may write: the new file is theirs, with the earlier mode.
TEST_F(ReplacingFileTest, AnOwnerThatCannotBeSetIsNoFailure) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  fs::permissions(m_dir, fs::perms::all);
  fs::permissions(m_dir / "here", fs::perms::all);
  const fs::path target = m_dir / "here" / "out.csv";
  WriteBytes(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0604), 0);
  EXPECT_EQ(FailureOf([&] { Replace(target); }, true), "");
  struct stat now;
  ASSERT_EQ(stat(target.c_str(), &now), 0);
  EXPECT_EQ(ReadBytes(target), "new");
  EXPECT_EQ(now.st_uid, 65534u);
  EXPECT_EQ(now.st_mode & 07777, 0604u);
}

TEST_F(ReplacingFileTest, AFolderThatRefusesTheNewFileIsNamedWithTheCause) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& dir)> prepare;
    std::string target;  // "$D" stands for the test's folder, in the message too
    bool asNobody;
    std::string failure;
  } cases[] = {
      {"missing folder", [](const fs::path&) {}, "$D/missing/out.csv", false,
       "3: Cannot create a file in folder '$D/missing' (for file '$D/missing/out.csv'): No such file or "
       "directory"},
      {"read-only folder", [](const fs::path& dir) { fs::permissions(dir / "here", kReadOnly); },
       "$D/here/out.csv", true,
       "5: Cannot create a file in folder '$D/here' (for file '$D/here/out.csv'): Permission denied"},
      {"link into a read-only folder",
       [](const fs::path& dir) {
         fs::create_symlink("../here/real.csv", dir / "there" / "out.csv");
         fs::permissions(dir / "here", kReadOnly);
       },
       "$D/there/out.csv", true,
       "5: Cannot create a file in folder '$D/there/../here' (for file '$D/there/../here/real.csv'): "
       "Permission "
       "denied"},
      {"links that loop",
       [](const fs::path& dir) { fs::create_symlink("out.csv", dir / "here" / "out.csv"); },
       "$D/here/out.csv", false,
       "40: Cannot create file '$D/here/out.csv': Too many levels of symbolic links"},
  };
  auto place = [&](std::string text) {
    for (std::size_t at; (at = text.find("$D")) != std::string::npos;) text.replace(at, 2, m_dir.string());
    return text;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.asNobody && geteuid() != 0) continue;
    fs::permissions(m_dir, fs::perms::all);
    c.prepare(m_dir);
    const std::vector<std::string> before = Entries(m_dir / "here");
    const std::string target = place(c.target);
    EXPECT_EQ(FailureOf([&] { Replace(target); }, c.asNobody), place(c.failure));
    EXPECT_EQ(Entries(m_dir / "here"), before) << "nothing made";
    fs::permissions(m_dir / "here", fs::perms::owner_all);
    for (const char* folder : {"here", "there"}) {
      fs::remove_all(m_dir / folder);
      fs::create_directory(m_dir / folder);
    }
  }
}

}  // namespace
