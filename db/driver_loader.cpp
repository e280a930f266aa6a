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

std::string LoaderError() {
  const char* text = dlerror();
  return text ? text : "";
}

}  // namespace

void* LoadDriverLibrary(const std::string& fileName, std::string* error) {
  if (void* library = dlopen(fileName.c_str(), RTLD_NOW)) return library;
  std::string reason = LoaderError();
  // A dlopen interposed by a sanitizer runtime searches that runtime's paths
  // instead of the program's RUNPATH, so look beside the program directly.
  const std::string folder = ProgramFolder();
  if (!fileName.empty() && fileName.find('/') == std::string::npos && !folder.empty() &&
      access((folder + fileName).c_str(), F_OK) == 0) {
    if (void* library = dlopen((folder + fileName).c_str(), RTLD_NOW)) return library;
    reason = LoaderError();
  }
  if (error) *error = std::move(reason);
  return nullptr;
}
