#include "hardening.h"

#include "kit/own_path.h"
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
static const DWORD PATH_TYPE_WIN32_FILE = 2;  // ACTIVATION_CONTEXT_PATH_TYPE_WIN32_FILE
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

// TRV60UPDATE.EXE.local, a file or a folder, beside the program: on
// Windows 2000, and on XP before SP2 even for a program with a manifest,
// every later load of a library that is not a known DLL looks in the
// program's folder first, whatever full path LoadLibraryEx is given, so that
// the preloads below would bring in what lies there. 1 when there is none.
// It is asked on every Windows, since no genuine kit has one (an open for no
// access, which no import needs beyond the program's own), and anything
// but "not found" counts as one: the loader looks for the program's path as
// it was started (GetModuleFileNameA's) plus ".Local", and takes a name it
// may not read for one that exists. Nothing closes the window between this
// look and the loads: 2000 and XP have no oplocks on folders to hold the
// name.
//
// Sources: Microsoft's "Dynamic-link library redirection" and "DLL/COM
// redirection on Windows" (from XP SP2 on, "the presence of a .local file
// is ignored if a manifest is present"); ReactOS's ntdll/ldr/ldrinit.c
// (the image path plus ".Local") and sdk/lib/rtl/path.c (RtlDoesFileExists_
// UStr counts a name refused or busy as one that exists).
static int no_redirection() {
  char local[MAX_PATH];
  if (!text_join(local, MAX_PATH, own_path(), ".local", "")) return 0;
  // Opened as a folder, which opens a file too.
  HANDLE found = CreateFileA(local, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, 0);
  if (found != INVALID_HANDLE_VALUE) {
    CloseHandle(found);
    return 0;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The file at path as the file system knows it, its volume's serial number
// and its index there, whatever spelling names it (a short name, a share,
// another case). The open asks for no access, which no sharing refuses and
// a running program's own file allows. 0 when it does not open as a file.
static int identify(LPCSTR path, BY_HANDLE_FILE_INFORMATION *information) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  const int known = GetFileInformationByHandle(file, information);
  CloseHandle(file);
  return known;
}

// XP takes TRV60UPDATE.EXE.manifest beside the program in preference to the
// manifest inside it, and so do Vista and later where the value
// PreferExternalManifest of HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SideBySide is 1
// (Server 2003 prefers the one inside). A foreign manifest there may
// declare a private assembly whose files are then loaded from beside the
// program in place of every library of that name, the loaded ones included.
// The process's default activation context (QueryActCtxW with no context)
// names the manifest it was made from: the program's own file for the one
// inside it. So wherever QueryActCtxW exists, a root manifest that is a file
// ends the run unless it proves to be the program's file itself, compared
// as files, never as spellings; a failed query, or one without a path, lets
// the run go on, as 95 to 2000 do. A root that no longer opens, or a
// program that no longer does, proves nothing: either name may have been
// renamed away once the system had read it.
//
// Sources: Microsoft's QueryActCtxW and ACTIVATION_CONTEXT_DETAILED_
// INFORMATION (lpRootManifestPath, "the path of the application
// manifest"); Wine's test_app_manifest and test_manifest_in_module
// (dlls/kernel32/tests/actctx.c), passed on Windows, where the root
// manifest is the NAME.exe.manifest file when one is used and the module
// itself for one inside it; the side-by-side team's blog, "Internal
// manifest vs external manifest", and KB912949, for XP's and Server 2003's
// preferences.
static int context_is_own() {
  FARPROC query = kernel_function("QueryActCtxW");
  union {
    ACTIVATION_CONTEXT_DETAILED_INFORMATION information;
    WCHAR texts[CONTEXT_TEXT_CHARACTERS];
  } found;
  SIZE_T written;
  if (!query ||
      !as_function<QueryActCtxFunction>(query)(0, 0, 0, DETAILED_INFORMATION, &found, sizeof found, &written) ||
      found.information.ulRootManifestPathType != PATH_TYPE_WIN32_FILE || !found.information.ulRootManifestPathChars)
    return 1;
  char manifest[MAX_PATH];
  BY_HANDLE_FILE_INFORMATION own, root;
  return WideCharToMultiByte(CP_ACP, 0, found.information.lpRootManifestPath, -1, manifest, MAX_PATH, 0, 0) &&
         identify(own_path(), &own) && identify(manifest, &root) &&
         !((own.dwVolumeSerialNumber ^ root.dwVolumeSerialNumber) | (own.nFileIndexHigh ^ root.nFileIndexHigh) |
           (own.nFileIndexLow ^ root.nFileIndexLow));
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
  // Any box could bring in a library that a .local or a foreign manifest
  // redirects, so such a run shows none: it ends before anything changes.
  // Without its own path neither can be looked for.
  if (!record_own_path(0) || !no_redirection() || !context_is_own()) return 0;
  int restricted = restrict_search();
  if (!restricted)
    for (LPCSTR name : SCRIPT_LIBRARIES) load_system_library(name);
  if (!take_user_functions()) return 0;
  if (!restricted)
    for (LPCSTR name : BOX_LIBRARIES) load_system_library(name);
  return 1;
}
