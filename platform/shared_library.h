// Loading of plug-in libraries: the LoadLibrary / GetProcAddress / FreeLibrary
// trio over the dynamic loader. A library stays loaded until FreeLibrary.
#pragma once

using HMODULE = struct SharedLibraryHandle*;
using FARPROC = void (*)();

// A native path; a path with a '/' is taken as written (relative ones from the
// current directory), never searched for. Null when the library cannot load.
HMODULE LoadLibraryA(const char* path);
// The export's address, or null when the library has no such export.
FARPROC GetProcAddress(HMODULE module, const char* name);
// 1 when the library was unloaded.
int FreeLibrary(HMODULE module);
