#include "platform/shared_library.h"

#include <dlfcn.h>

#include <string>

namespace {
thread_local std::string t_lastError;
}

HMODULE LoadLibraryA(const char* path) {
  t_lastError.clear();
  if (!path || !*path) {
    t_lastError = "no library path";
    return nullptr;
  }
  // RTLD_LOCAL: two plug-ins exporting the same names must not see each other.
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    t_lastError = why ? why : "cannot load";
  }
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) return nullptr;
  void* symbol = dlsym(module, name);
  return reinterpret_cast<FARPROC>(symbol);
}

int FreeLibrary(HMODULE module) { return module && dlclose(module) == 0 ? 1 : 0; }

const char* LastLibraryError() { return t_lastError.c_str(); }
