// What the program answers from its command line alone, before any window
// or display is needed.
#pragma once

#include <cstdio>
#include <optional>

// Writes the usage for -h/--help, or the version for -V/--version, to out and
// gives the exit status (1 when out could not take it); nullopt when neither is asked for (the arguments,
// Qt's own among them, are then the window's). Arguments after "--" are not
// options.
std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::FILE* out);

// When nothing names a display to open the window on (DISPLAY,
// WAYLAND_DISPLAY, QT_QPA_PLATFORM or Qt's -platform argument), writes so to
// err and gives the exit status 1; nullopt otherwise. (Qt would abort.)
std::optional<int> RefuseWithoutDisplay(int argc, const char* const* argv, std::FILE* err);
