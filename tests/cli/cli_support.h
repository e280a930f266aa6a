// What the tests of the command-line program share: files as bytes, shell
// quoting, and what a run left behind.
#pragma once

#include <string>

#include "common/test_database.h"

namespace clitest {

using testdb::ReadFile;
using testdb::WriteFile;

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
