#include "app/command_line.h"

#include <cstdlib>
#include <string_view>

namespace {

constexpr char kHelp[] =
    "Usage: varnelo-pelmora [OPTIONS]\n"
    "\n"
    "Opens the Varnelo Pelmora window, which moves the rows of one table of a\n"
    "Firebird database into a CSV file and back. varnelo-pelmora-cli does the\n"
    "same from scripts.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text\n"
    "  -V, --version  show the version\n"
    "\n"
    "The options every Qt program takes, such as -style NAME and -platform NAME,\n"
    "are taken too.\n";

// The status says whether the text reached out (not so on a full disk).
int Written(std::FILE* out) { return std::fflush(out) == 0 && !std::ferror(out) ? 0 : 1; }

}  // namespace

std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::FILE* out) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "-h" || argument == "--help") {
      std::fputs(kHelp, out);
      return Written(out);
    }
    if (argument == "-V" || argument == "--version") {
      std::fprintf(out, "varnelo-pelmora %s\n", VP_VERSION);
      return Written(out);
    }
  }
  return std::nullopt;
}

std::optional<int> RefuseWithoutDisplay(int argc, const char* const* argv, std::FILE* err) {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return std::nullopt;
  }
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-platform" || argument == "--platform") return std::nullopt;
  }
  std::fputs(
      "varnelo-pelmora: no display to open the window on: neither DISPLAY nor WAYLAND_DISPLAY is set "
      "(varnelo-pelmora-cli needs none)\n",
      err);
  return 1;
}
