#include "hardening.h"

#include "platform/family.h"
#include "platform/system_library.h"
#include "platform/text.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directories);
typedef BOOL(WINAPI *SetDllDirectoryFunction)(LPCSTR directory);
typedef BOOL(WINAPI *QueryActCtxFunction)(DWORD flags, HANDLE context, PVOID instance, ULONG information, PVOID buffer,
                                          SIZE_T size, SIZE_T *written);

// QueryActCtxW's ActivationContextDetailedInformation: the record, then the
// texts it points to (the root manifest's path, the configuration file's,
// the program's folder), each shorter than MAX_PATH where the program runs
// at all.
static const ULONG DETAILED_INFORMATION = 2;
enum { CONTEXT_TEXT_CHARACTERS = 3 * MAX_PATH + 16 };

// The libraries that USER32 and GDI32 load by bare name as they start, on
// 2000 and later: LPK.DLL, and USP10.DLL, which LPK.DLL imports. Neither is
// a known DLL on 2000 or XP, nor on Vista as far as any source shows, so
// the program's folder comes before the system directory; Windows 7 made
// both known DLLs. They are loaded here by full path before USER32, LPK.DLL
// first: USP10.DLL imports USER32 (Wine's does), whose start would load
// LPK.DLL by bare name. While LPK.DLL loads, its imports come from the
// system directory (LOAD_WITH_ALTERED_SEARCH_PATH), and once it is in the
// loaded-module list, USER32's load by name finds it there. A known DLL
// loaded by full path is the same system copy, so wherever the search
// cannot be restricted both are loaded, whatever the version; Windows 95
// to Me and NT 4.0 have neither, and the loads fail quietly.
//
// Sources: Microsoft's "Dynamic-link library search order" (the loaded-
// module list, the known DLLs, then the program's folder) and LoadLibraryEx
// (the altered search looks in the loaded library's folder for the modules
// it brings in, since the first Win32 reference); KB102985 and KB164501 on
// the NT family's KnownDLLs key, whose documented default list (ADVAPI32,
// COMDLG32, CRTDLL, GDI32, KERNEL32, LZ32, OLECLI32, OLESVR32, RPCRT4,
// SHELL32, USER32, VERSION) has neither; nProtect's analysis of the Lpk.dll
// and Usp10.dll worms (March 2011), which dropped both into every folder
// that held a program.
static const char *const SCRIPT_LIBRARIES[] = {"lpk.dll", "usp10.dll"};

// The libraries that the first message box makes Windows load by bare name.
// None is a known DLL, so only the loaded-module list comes before the
// program's own folder. Each is loaded here by its full path in the system
// directory, after USER32, which uxtheme.dll imports, and kept, so that the
// box finds it loaded. dwmapi.dll, which uxtheme.dll brings in on Vista
// and 7, and msimg32.dll, which Wine's brings in, come first. Where one is
// missing (uxtheme.dll before XP, dwmapi.dll before Vista) its load fails
// quietly.
//
// Sources: NSIS's exehead/Main.c since its bug 1125 (creating a window
// pulls in UXTHEME, and on 7 without KB2533623 UXTHEME pulls in DWMAPI) and
// 7-Zip's DllSecur.c, which preload both; Wine 8.0's +loaddll trace of this
// program in its XP and 7 modes, where the box loads uxtheme.dll by name
// (and in 7 mode uxtheme.dll's msimg32.dll). Those installers preload more
// (USERENV, SETUPAPI, APPHELP, PROPSYS, CRYPTBASE, OLEACC, CLBCATQ,
// NTMARTA) for shell, COM, random-number and ACL calls that this program
// never makes.
static const char *const BOX_LIBRARIES[] = {"dwmapi.dll", "msimg32.dll", "uxtheme.dll"};

static int same_path(LPCSTR a, LPCSTR b) {
  for (;; ++a, ++b) {
    BYTE x = fold_ascii(static_cast<BYTE>(*a)), y = fold_ascii(static_cast<BYTE>(*b));
    if (x != y) return 0;
    if (!x) return 1;
  }
}

// Windows XP takes TRV60UPDATE.EXE.manifest beside the program in
// preference to the manifest inside it (Server 2003 and later prefer the
// one inside). A foreign manifest there may declare a private assembly
// whose files are then loaded from beside the program in place of every
// library of that name, the loaded ones included. The process's default
// activation context (QueryActCtxW with no context) names the manifest it
// was made from: the program's own path for the one inside it. 1 when it
// is that one, or where there are no activation contexts (95 to 2000, no
// QueryActCtxW).
//
// Sources: Microsoft's QueryActCtxW and ACTIVATION_CONTEXT_DETAILED_
// INFORMATION (lpRootManifestPath, "the path of the application
// manifest"); Wine's conformance tests of kernel32's activation contexts,
// passed on Windows, where a process started beside NAME.exe.manifest
// reports that file as its root manifest, and Wine's ntdll, which names the
// module for a manifest taken from its resources. Only XP is asked: no
// other version prefers a manifest beside the program, and none is then
// left without its update should it name its own manifest otherwise.
static int context_is_own() {
  FARPROC query = kernel_function("QueryActCtxW");
  if (!query || !windows_xp()) return 1;
  union {
    ACTIVATION_CONTEXT_DETAILED_INFORMATION information;
    WCHAR texts[CONTEXT_TEXT_CHARACTERS];
  } found;
  SIZE_T written;
  char manifest[MAX_PATH];
  char program[MAX_PATH];
  if (!as_function<QueryActCtxFunction>(query)(0, 0, 0, DETAILED_INFORMATION, &found, sizeof found, &written) ||
      !WideCharToMultiByte(CP_ACP, 0, found.information.lpRootManifestPath, -1, manifest, MAX_PATH, 0, 0))
    return 0;
  DWORD length = GetModuleFileNameA(0, program, MAX_PATH);
  return length != 0 && length < MAX_PATH && same_path(manifest, program);
}

// Windows 8 and later, and Vista and 7 with KB2533623: every later load of
// the process, the system's own and the imports of a library loaded by
// full path included, searches the system directory alone. 0 where the
// function is missing or fails.
static int restrict_search() {
  FARPROC set_default = kernel_function("SetDefaultDllDirectories");
  if (set_default && as_function<SetDefaultDllDirectoriesFunction>(set_default)(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1;
  // Windows XP SP1 and later: "" takes the current directory out of the
  // search; the program's folder stays first in it.
  FARPROC set_directory = kernel_function("SetDllDirectoryA");
  if (set_directory) as_function<SetDllDirectoryFunction>(set_directory)("");
  return 0;
}

int harden_process() {
  // A drive without its disk or a lost share then comes back as an error
  // code rather than a system box that no caption of ours explains.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Any box could bring in a library that a foreign manifest redirects, so
  // a run on such a manifest shows none: it ends before anything changes.
  if (!context_is_own()) return 0;
  int restricted = restrict_search();
  if (!restricted)
    for (LPCSTR name : SCRIPT_LIBRARIES) load_system_library(name);
  if (!take_user_functions()) return 0;
  if (!restricted)
    for (LPCSTR name : BOX_LIBRARIES) load_system_library(name);
  return 1;
}
