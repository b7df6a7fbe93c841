// Libraries beyond the three the program imports.
#pragma once

#include "platform.h"

// Loads the named library from the system directory, by its full path.
// A bare name would be looked for in the program's own folder first, and
// that folder (a downloads folder, say) may be writable by anyone. Null when
// the system directory cannot be had, the path would not fit MAX_PATH, or
// the load fails. A library loaded here is released with FreeLibrary.
HMODULE load_system_library(LPCSTR name);

// GetProcAddress hands out every function under one type; this gives one
// back its own. The detour through void (*)() is the cast that compilers
// accept between unrelated function types.
template <typename Function>
Function as_function(FARPROC found) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// A KERNEL32 function that some systems lack, looked up by name; null where
// this system's KERNEL32 does not export it. Imported, it would keep the
// whole program from loading there.
FARPROC kernel_function(LPCSTR name);

// The same for a library the process has loaded already (NTDLL on the NT
// family); null where it is not loaded. It is never loaded here.
FARPROC module_function(LPCSTR module, LPCSTR name);
