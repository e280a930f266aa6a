// What the tests of the command-line program share: files as bytes, shell
// quoting, and what a run left behind.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace clitest {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// text as one word of a shell command line.
inline std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

}  // namespace clitest
