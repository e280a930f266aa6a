// Test databases: made fresh in a temporary folder with Firebird's own isql,
// embedded or through the loopback server named by FB_TEST_SERVER.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace testdb {

inline std::string Server() {
  const char* server = std::getenv("FB_TEST_SERVER");
  return server ? server : "";
}

// The Firebird 4 test server (scripts/fb4server.sh): "localhost/PORT", and
// the tree it runs in, where its paths lie for this program.
inline std::string Firebird4Server() {
  const char* server = std::getenv("FB4_TEST_SERVER");
  return server ? server : "";
}
inline std::string Firebird4Root() {
  const char* root = std::getenv("FB4_TEST_ROOT");
  return root ? root : "";
}

inline std::string Password() {
  const char* password = std::getenv("FB_TEST_PASSWORD");
  return password && *password ? password : "masterkey";
}

// A new empty folder under the system's temporary folder, or under base.
inline std::filesystem::path MakeTempDir(const std::string& prefix = "vp-test",
                                         const std::filesystem::path& base = {}) {
  std::string pattern =
      ((base.empty() ? std::filesystem::temp_directory_path() : base) / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// A file's bytes, and a file made of bytes.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs an isql script and returns its output; throws when isql reports an error.
inline std::string RunIsql(const std::string& script, const std::string& database = {}) {
  auto dir = MakeTempDir("vp-isql");
  auto scriptPath = dir / "script.sql";
  std::ofstream(scriptPath) << "SET NAMES NONE;\n" << script << "\n";
  std::string command =
      "isql-fb -q -b -user SYSDBA -password '" + Password() + "' -i '" + scriptPath.string() + "'";
  if (!database.empty()) command += " '" + database + "'";
  command += " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run isql-fb");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  std::filesystem::remove_all(dir);
  if (status != 0) throw std::runtime_error("isql-fb failed: " + output);
  return output;
}

enum class TServerKind { kEmbedded, kServer, kFirebird4 };

// A test's name for a server kind, and why a test on it is skipped here
// ("" when the server is there).
inline const char* KindName(TServerKind kind) {
  return kind == TServerKind::kEmbedded ? "Embedded" : kind == TServerKind::kServer ? "Server" : "Firebird4";
}
inline std::string MissingServer(TServerKind kind) {
  if (kind == TServerKind::kServer && Server().empty()) return "FB_TEST_SERVER is not set";
  if (kind == TServerKind::kFirebird4 && Firebird4Server().empty())
    return "FB4_TEST_SERVER is not set (scripts/fb4server.sh starts one)";
  return {};
}

// A database file made fresh for one test, removed again at the end.
// Connect() is what the program would be given: "host:path" through the
// server, or the path alone (embedded). On the Firebird 4 server Path() is
// the path inside its tree, and Dir() where this program sees the folder.
class TestDatabase {
 public:
  explicit TestDatabase(bool throughServer = false, const std::string& setupSql = {})
      : TestDatabase(throughServer ? TServerKind::kServer : TServerKind::kEmbedded, setupSql) {}
  TestDatabase(TServerKind kind, const std::string& setupSql, int pageSize = 8192)
      : m_dir(kind == TServerKind::kFirebird4 ? MakeTempDir("vp-db", Firebird4Root() + "/tmp")
                                              : MakeTempDir("vp-db")),
        m_path(kind == TServerKind::kFirebird4 ? (m_dir.string().substr(Firebird4Root().size()) + "/test.fdb")
                                               : (m_dir / "test.fdb").string()),
        m_server(kind == TServerKind::kServer      ? Server()
                 : kind == TServerKind::kFirebird4 ? Firebird4Server()
                                                   : std::string()) {
    // The server may run as another user: let it reach the folder.
    std::filesystem::permissions(m_dir, std::filesystem::perms::all);
    try {
      RunIsql("CREATE DATABASE '" + Connect() + "' USER 'SYSDBA' PASSWORD '" + Password() + "' PAGE_SIZE " +
              std::to_string(pageSize) + " DEFAULT CHARACTER SET NONE;\n" + setupSql + "\nCOMMIT;\n");
    } catch (...) {
      std::error_code ignored;
      std::filesystem::remove_all(m_dir, ignored);
      throw;
    }
  }
  ~TestDatabase() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& Path() const { return m_path; }
  const std::string& ServerName() const { return m_server; }
  std::string Connect() const { return m_server.empty() ? m_path : m_server + ":" + m_path; }
  const std::filesystem::path& Dir() const { return m_dir; }
  // Runs more SQL against the database (isql, committed at the end).
  std::string Execute(const std::string& sql) const { return RunIsql(sql + "\nCOMMIT;\n", Connect()); }

 private:
  std::filesystem::path m_dir;
  std::string m_path;
  std::string m_server;
};

}  // namespace testdb
