// Functions of a library loaded at run time, looked up by name.
#pragma once

#include <dlfcn.h>

namespace inkseal::platform {

// True when library (a dlopen handle, or RTLD_DEFAULT for every library the
// process has loaded globally) holds name; function then points to it.
template <typename Function>
bool FindSymbol(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  return function != nullptr;
}

}  // namespace inkseal::platform
