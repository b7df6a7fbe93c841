// Libraries: the system directory, VERSION.DLL with its three exports,
// USER32 with its two, the libraries USER32 and a message box bring in,
// activation contexts, and the KERNEL32 functions that some systems lack.
#include <cstring>
#include <fstream>
#include <iterator>

#include "state.h"

namespace sim {
namespace detail {
namespace {

HMODULE const VERSION_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x77C00000));
HMODULE const KERNEL32_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7B600000));
HMODULE const NTDLL_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7BC00000));
HMODULE const BOX_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x70000000));  // any of the box's
HMODULE const USER32_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x77D00000));
const DWORD DETAILED_INFORMATION = 2;  // ActivationContextDetailedInformation
const DWORD PATH_TYPE_WIN32_FILE = 2;
// The folder of the system's Common Controls 6 under WinSxS, and so under a
// .local folder.
const char COMMON_CONTROLS[] =
    "x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.7601.17514_none_41e6975e2bd6f2b2";

struct Export {
  const char *name;
  FARPROC address;
};

// The simulation's own functions, handed out as Windows hands out any
// export: under the one type FARPROC.
template <typename Function>
FARPROC as_export(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

const Export VERSION_EXPORTS[] = {
    {"GetFileVersionInfoSizeA", as_export(&GetFileVersionInfoSizeA)},
    {"GetFileVersionInfoA", as_export(&GetFileVersionInfoA)},
    {"VerQueryValueA", as_export(&VerQueryValueA)},
};

const Export KERNEL32_EXPORTS[] = {
    {"FormatMessageW", as_export(&FormatMessageW)},
    {"SetDllDirectoryA", as_export(&SetDllDirectoryA)},
    {"SetDefaultDllDirectories", as_export(&SetDefaultDllDirectories)},
    {"SetFileInformationByHandle", as_export(&SetFileInformationByHandle)},
    {"QueryActCtxW", as_export(&QueryActCtxW)},
};

const Export NTDLL_EXPORTS[] = {
    {"NtSetInformationFile", as_export(&NtSetInformationFile)},
    {"NtCreateFile", as_export(&NtCreateFile)},
    {"RtlNtStatusToDosError", as_export(&RtlNtStatusToDosError)},
};

const Export USER32_EXPORTS[] = {
    {"MessageBoxA", as_export(&MessageBoxA)},
    {"LoadStringA", as_export(&LoadStringA)},
};

std::string version_library_path() { return system_directory() + "\\VERSION.DLL"; }

bool nt_from(DWORD major, DWORD minor) {
  const Machine &m = machine();
  return m.platform == VER_PLATFORM_WIN32_NT && (m.nt_major > major || (m.nt_major == major && m.nt_minor >= minor));
}

bool kernel_exports(const std::string &name) {
  const Machine &m = machine();
  if (m.missing_exports.count(name)) return false;
  if (name == "SetDllDirectoryA" || name == "QueryActCtxW") return nt_from(5, 1);
  if (name == "SetFileInformationByHandle") return nt_from(6, 0);
  if (name == "SetDefaultDllDirectories")
    return m.default_dll_directories < 0 ? nt_from(6, 2) : m.default_dll_directories;
  return true;
}

FARPROC find_export(const Export *table, std::size_t count, LPCSTR name, bool exported) {
  for (std::size_t i = 0; i < count; ++i)
    if (name && std::strcmp(table[i].name, name) == 0 && exported) return table[i].address;
  set_error(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

std::string base_name(const std::string &path) { return path.substr(path.find_last_of("\\/") + 1); }
std::string program_folder() { return machine().module_path.substr(0, machine().module_path.find_last_of('\\') + 1); }

// The system directory's libraries that USER32 and a box bring in, from the
// version each is there, and what each imports (uxtheme.dll's msimg32.dll
// is Wine's). USER32.DLL is every system's.
bool system_library(const std::string &name, std::vector<std::string> &imports) {
  const std::string lower = lower_ascii(name);
  imports.clear();
  if (lower == "uxtheme.dll") imports = {"user32.dll", "msimg32.dll"};
  if (lower == "uxtheme.dll" && nt_from(6, 0)) imports.push_back("dwmapi.dll");
  if (lower == "lpk.dll" || lower == "usp10.dll") imports = {lower == "lpk.dll" ? "usp10.dll" : "user32.dll"};
  return (lower == "uxtheme.dll" && nt_from(5, 1)) || (lower == "dwmapi.dll" && nt_from(6, 0)) ||
         ((lower == "msimg32.dll" || lower == "lpk.dll" || lower == "usp10.dll") && nt_from(5, 0)) ||
         lower == "user32.dll";
}

// USER32 everywhere (9x keeps it loaded in every process), lpk.dll and
// usp10.dll from Windows 7 on.
bool known_library(const std::string &name) {
  const std::string lower = lower_ascii(name);
  return lower == "user32.dll" || ((lower == "lpk.dll" || lower == "usp10.dll") && nt_from(6, 1));
}

bool is_system_copy(const std::string &path, std::vector<std::string> &imports) {
  return system_library(base_name(path), imports) && same_path(path, system_directory() + "\\" + base_name(path));
}

// The manifest that XP prefers to the one inside the program, and so do
// Vista and later where PreferExternalManifest is 1.
const File *manifest_beside() {
  const Machine &m = machine();
  const bool prefers = (nt_from(5, 1) && !nt_from(5, 2)) ||
                       (nt_from(6, 0) && dword_is("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SideBySide",
                                                  "PreferExternalManifest", 1));
  return prefers ? find_file(m.module_path + ".manifest") : nullptr;
}

// A .local file or folder beside the program, on 2000 and on XP before SP2
// (from SP2 on, a program with a manifest, as every one here has, ignores
// it): a library other than a known DLL comes from the .local folder or the
// program's folder where a copy lies there, whatever path was given. The
// copy, or "".
std::string redirected(const std::string &name) {
  const Machine &m = machine();
  const std::string local = m.module_path + ".local", base = base_name(name);
  const bool honoured =
      nt_from(5, 0) && (!nt_from(5, 1) || (!nt_from(5, 2) && m.service_pack >= 0 && m.service_pack < 2));
  if (!honoured || known_library(base) || (!find_file(local) && !is_directory(local))) return "";
  for (const std::string &copy : {local + "\\" + base, program_folder() + base})
    if (find_file(copy)) return copy;
  return "";
}

void load_by_name(const std::string &name, bool altered);

// Mapped, then its imports, then started: USER32 loads lpk.dll by name.
void load_module(const std::string &path, bool altered) {
  for (const std::string &loaded : machine().modules)
    if (same_path(loaded, path)) return;
  machine().modules.push_back(path);
  std::vector<std::string> imports;
  if (!is_system_copy(path, imports)) return;
  for (const std::string &name : imports) load_by_name(name, altered);
  if (lower_ascii(base_name(path)) == "user32.dll" && nt_from(5, 0)) load_by_name("lpk.dll", false);
}

void load_by_name(const std::string &name, bool altered) {
  const Machine &m = machine();
  std::vector<std::string> imports;
  const std::string beside = program_folder() + name, system_copy = system_directory() + "\\" + name;
  const File *manifest = manifest_beside();
  if (manifest && lower_ascii(manifest->bytes).find("<file name=\"" + lower_ascii(name) + "\"") != std::string::npos)
    return load_module(beside, false);
  for (const std::string &loaded : m.modules)
    if (lower_ascii(base_name(loaded)) == lower_ascii(name)) return;
  const std::string copy = redirected(name);
  if (!copy.empty()) return load_module(copy, false);
  if (known_library(name) || (altered && system_library(name, imports))) return load_module(system_copy, altered);
  if (!m.system32_only && find_file(beside)) return load_module(beside, false);
  if (system_library(name, imports)) load_module(system_copy, altered);
}

// "C:\..." or "\\server\...": a name the loader takes as it stands. Any
// other is searched for, the program's own folder first.
bool is_full_path(const std::string &name) {
  bool drive = name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  bool unc = name.size() >= 2 && name[0] == '\\' && name[1] == '\\';
  return drive || unc;
}

bool loaded(HMODULE module) { return module == VERSION_MODULE && machine().library_references > 0; }

}  // namespace

void load_box_libraries() {
  std::ifstream shipped(MANIFEST_SOURCE);
  const Machine &m = machine();
  const std::string manifest =
      m.manifest.empty() ? std::string(std::istreambuf_iterator<char>(shipped), {}) : m.manifest;
  const std::string folder = std::string("\\") + COMMON_CONTROLS + "\\comctl32.dll",
                    local = m.module_path + ".local" + folder;
  if (manifest.find("Microsoft.Windows.Common-Controls") != std::string::npos)
    load_module(nt_from(6, 1) && find_file(local) ? local : m.windows_directory + "\\WinSxS" + folder, false);
  load_by_name("uxtheme.dll", false);
}

}  // namespace detail

using namespace detail;

std::string system_directory() {
  const Machine &m = machine();
  if (!m.system_directory.empty()) return m.system_directory;
  return m.windows_directory + (m.platform == VER_PLATFORM_WIN32_NT ? "\\system32" : "\\SYSTEM");
}
void set_system_directory(const std::string &path) { machine().system_directory = path; }
void fail_version_library(DWORD error) { machine().version_library_failure = error; }
void remove_version_export(const std::string &function) { machine().missing_exports.insert(function); }
const std::vector<std::string> &library_loads() { return machine().library_loads; }
int loaded_libraries() { return machine().library_references; }
void set_default_dll_directories(bool exported) { machine().default_dll_directories = exported; }
const std::vector<std::string> &loaded_modules() { return machine().modules; }
void set_manifest(const std::string &text) { machine().manifest = text; }
void import_user32() { load_by_name("user32.dll", false); }
std::string root_manifest() {
  const File *beside = manifest_beside(), *program = find_file(machine().module_path);
  return beside ? beside->path : program ? program->path : machine().module_path;
}

}  // namespace sim

using namespace sim::detail;

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (DWORD injected = enter("GetSystemDirectoryA")) {
    set_error(injected);
    return 0;
  }
  return directory_answer(sim::system_directory(), buffer, size);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE, DWORD flags) {
  if (DWORD injected = enter("LoadLibraryExA")) {
    set_error(injected);
    return nullptr;
  }
  Machine &m = machine();
  if (!name) {
    set_error(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  m.library_loads.push_back(name);
  if (!is_full_path(name)) {
    fault(std::string("LoadLibraryExA of a name that is searched for, the program's folder first: ") + name);
    set_error(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // A redirected copy is what runs; VERSION.DLL's is served by the
  // simulation's functions.
  const std::string copy = redirected(name);
  if (!copy.empty()) load_module(copy, false);
  if (!copy.empty() && !same_path(name, version_library_path())) return BOX_MODULE;
  std::vector<std::string> imports;
  if (is_system_copy(name, imports)) {
    load_module(name, (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0);
    return lower_ascii(base_name(name)) == "user32.dll" ? USER32_MODULE : BOX_MODULE;
  }
  if (!same_path(name, version_library_path())) {
    set_error(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (m.version_library_failure) {
    set_error(m.version_library_failure);
    return nullptr;
  }
  ++m.library_references;
  return VERSION_MODULE;
}

// LoadLibraryExA without flags: the imports of a library named by its full
// path are searched for as any name is, the program's folder first.
HMODULE WINAPI LoadLibraryA(LPCSTR name) { return LoadLibraryExA(name, nullptr, 0); }

// Only the detailed information of the process's default context: the
// program itself is its root manifest, but one beside it where the system
// prefers that. The file is named as it was first named, which need not be
// the spelling the program was started by (a short name, a share).
BOOL WINAPI QueryActCtxW(DWORD flags, HANDLE context, PVOID, ULONG information, PVOID buffer, SIZE_T size,
                         SIZE_T *written) {
  if (DWORD injected = enter("QueryActCtxW")) return fail(injected);
  if (flags || context || information != DETAILED_INFORMATION) return fail(ERROR_INVALID_PARAMETER);
  const std::u16string root = to_utf16(from_ansi(sim::root_manifest(), machine().code_page));
  auto *record = static_cast<ACTIVATION_CONTEXT_DETAILED_INFORMATION *>(buffer);
  if (written) *written = sizeof *record + (root.size() + 1) * 2;
  if (!buffer || size < sizeof *record + (root.size() + 1) * 2) return fail(ERROR_INSUFFICIENT_BUFFER);
  *record = ACTIVATION_CONTEXT_DETAILED_INFORMATION{};
  record->ulRootManifestPathType = PATH_TYPE_WIN32_FILE;
  record->ulRootManifestPathChars = static_cast<DWORD>(root.size());
  std::memcpy(record + 1, root.c_str(), (root.size() + 1) * 2);
  record->lpRootManifestPath = reinterpret_cast<WCHAR *>(record + 1);
  return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (DWORD injected = enter("GetProcAddress")) {
    set_error(injected);
    return nullptr;
  }
  if (module == KERNEL32_MODULE) return find_export(KERNEL32_EXPORTS, 5, name, name && kernel_exports(name));
  if (module == NTDLL_MODULE)
    return find_export(NTDLL_EXPORTS, 3, name, name && machine().missing_exports.count(name) == 0);
  if (module == USER32_MODULE) return find_export(USER32_EXPORTS, 2, name, true);
  if (!loaded(module)) {
    fault("GetProcAddress on a module that is not loaded " + show(static_cast<const void *>(module)));
    set_error(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return find_export(VERSION_EXPORTS, 3, name, name && machine().missing_exports.count(name) == 0);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  enter("GetModuleHandleA");
  const std::string lower = name ? lower_ascii(name) : "";
  if (lower == "kernel32" || lower == "kernel32.dll") return KERNEL32_MODULE;
  // Every process of the NT family has NTDLL loaded; the 9x family's
  // programs do not.
  if ((lower == "ntdll" || lower == "ntdll.dll") && machine().platform == VER_PLATFORM_WIN32_NT) return NTDLL_MODULE;
  set_error(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// The program's folder stays with LOAD_LIBRARY_SEARCH_APPLICATION_DIR and
// LOAD_LIBRARY_SEARCH_DEFAULT_DIRS.
BOOL WINAPI SetDefaultDllDirectories(DWORD directories) {
  if (DWORD injected = enter("SetDefaultDllDirectories")) return fail(injected);
  machine().system32_only = !(directories & (0x200 | 0x1000));
  return TRUE;
}

// It takes the current directory out of the search, which is not modelled.
BOOL WINAPI SetDllDirectoryA(LPCSTR) {
  if (DWORD injected = enter("SetDllDirectoryA")) return fail(injected);
  return TRUE;
}

// No critical-error box is modelled either: a fresh process's mode is 0.
UINT WINAPI SetErrorMode(UINT) {
  enter("SetErrorMode");
  return 0;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  enter("FreeLibrary");
  if (!loaded(module)) {
    fault("FreeLibrary of a module that is not loaded " + show(static_cast<const void *>(module)));
    return fail(ERROR_MOD_NOT_FOUND);
  }
  --machine().library_references;
  return TRUE;
}
