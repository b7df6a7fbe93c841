#include "hardening.h"

#include "platform/system_library.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directories);
typedef BOOL(WINAPI *SetDllDirectoryFunction)(LPCSTR directory);

// The libraries that the first message box makes Windows load by bare name.
// None is a known DLL, so only the loaded-module list comes before the
// program's own folder. Each is loaded here by its full path in the system
// directory and kept, so that the box finds it loaded. A library loaded by
// full path has its own imports looked up by name all the same, so each
// comes after those it may import: dwmapi.dll, which uxtheme.dll brings in
// on Vista and 7, and msimg32.dll, which Wine's brings in, first. Where one
// is missing (uxtheme.dll before XP, dwmapi.dll before Vista) its load
// fails quietly.
//
// Sources: Microsoft's "Dynamic-link library search order" (the loaded-
// module list, the known DLLs, then the program's folder; imports are
// searched for by name even under a library loaded by full path); NSIS's
// exehead/Main.c since its bug 1125 (creating a window pulls in UXTHEME,
// and on 7 without KB2533623 UXTHEME pulls in DWMAPI) and 7-Zip's
// DllSecur.c, which preload both; Wine 8.0's +loaddll trace of this
// program in its XP and 7 modes, where the box loads uxtheme.dll by name
// (and in 7 mode uxtheme.dll's msimg32.dll) and comctl32.dll, which the
// manifest redirects to WinSxS before any search (Windows XP SP2 and later
// ignore a .local redirection file where there is a manifest), with its
// imports ole32.dll and rpcrt4.dll, known DLLs on XP and 7. Those
// installers preload more (USERENV, SETUPAPI, APPHELP, PROPSYS, CRYPTBASE,
// OLEACC, CLBCATQ, NTMARTA) for shell, COM, random-number and ACL calls
// that this program never makes; loading them anyway would bring their own
// imports in by name, the program's folder first.
static const char *const BOX_LIBRARIES[] = {"dwmapi.dll", "msimg32.dll", "uxtheme.dll"};

void harden_process() {
  // A drive without its disk or a lost share then comes back as an error
  // code rather than a system box that no caption of ours explains.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Windows 8 and later, and Vista and 7 with KB2533623: every later load of
  // the process, the system's own and the imports of a library loaded by
  // full path included, searches the system directory alone.
  FARPROC set_default = kernel_function("SetDefaultDllDirectories");
  if (set_default && as_function<SetDefaultDllDirectoriesFunction>(set_default)(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Windows XP SP1 and later: "" takes the current directory out of the
  // search; the program's folder stays first in it.
  FARPROC set_directory = kernel_function("SetDllDirectoryA");
  if (set_directory) as_function<SetDllDirectoryFunction>(set_directory)("");
  for (LPCSTR name : BOX_LIBRARIES) load_system_library(name);
}
