// Loading the driver library by file name.
#pragma once

#include <string>

// dlopen (RTLD_NOW) of fileName as the loader finds it (the program's RUNPATH
// puts its own folder first); a bare name that the loader does not find is
// also tried in the folder of the running program, where the build and the
// installation put the driver. Null when neither loads; error, when given,
// then holds the loader's reason (dlerror), from the attempt beside the
// program when a file of that name is there.
void* LoadDriverLibrary(const std::string& fileName, std::string* error = nullptr);
