// Libraries beyond the two the program imports, KERNEL32 and ADVAPI32.
#pragma once

#include "platform.h"

// Loads the named library from the system directory, by its full path.
// A bare name would be looked for in the program's own folder first, and
// that folder (a downloads folder, say) may be writable by anyone. The
// libraries it imports are looked for in the system directory first too
// (LOAD_WITH_ALTERED_SEARCH_PATH: the folder of the library loaded, in
// place of the program's, which every Win32 system has had since Windows
// 95). Null when the system directory cannot be had, the path would not fit
// MAX_PATH, or the load fails. A library loaded here is released with
// FreeLibrary.
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

// USER32 is not imported: Windows would load it, and on 2000 and XP the
// LPK.DLL it loads by bare name, before any code of ours could keep the
// program's folder out of the search. It is loaded from the system
// directory once, at start-up, and its two functions that the boxes need
// are taken then. 0 when USER32 or either function cannot be had; nothing
// can then be shown. Windows 95 to Me keep USER32 loaded in every process,
// and the load by full path simply finds it.
int take_user_functions();

// MessageBoxA with no owner, and LoadStringA, from USER32. Only after
// take_user_functions succeeded.
int message_box(LPCSTR text, LPCSTR caption, UINT type);
int load_string(HINSTANCE instance, UINT id, LPSTR buffer, int size);
