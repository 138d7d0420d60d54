#include "platform/shared_library.h"

#include <dlfcn.h>

HMODULE LoadLibraryA(const char* path) {
  if (!path || !*path) return nullptr;
  // RTLD_LOCAL: two plug-ins exporting the same names must not see each other.
  return static_cast<HMODULE>(dlopen(path, RTLD_NOW | RTLD_LOCAL));
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return nullptr;
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

int FreeLibrary(HMODULE module) { return module && dlclose(module) == 0 ? 1 : 0; }
