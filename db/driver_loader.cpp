#include "db/driver_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace {

// The folder of the running program, with a trailing "/", or "".
std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

}  // namespace

void* LoadDriverLibrary(const std::string& fileName) {
  if (void* library = dlopen(fileName.c_str(), RTLD_NOW)) return library;
  // A dlopen interposed by a sanitizer runtime searches that runtime's paths
  // instead of the program's RUNPATH, so look beside the program directly.
  if (fileName.empty() || fileName.find('/') != std::string::npos) return nullptr;
  const std::string folder = ProgramFolder();
  if (folder.empty()) return nullptr;
  return dlopen((folder + fileName).c_str(), RTLD_NOW);
}
