// Libraries: the system directory, VERSION.DLL with its three exports, the
// libraries a message box brings in, and the KERNEL32 functions that some
// systems lack.
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

HMODULE const VERSION_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x77C00000));
HMODULE const KERNEL32_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7B600000));
HMODULE const NTDLL_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7BC00000));
HMODULE const BOX_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x70000000));  // any of the box's

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
};

const Export NTDLL_EXPORTS[] = {
    {"NtSetInformationFile", as_export(&NtSetInformationFile)},
};

std::string version_library_path() { return system_directory() + "\\VERSION.DLL"; }

bool nt_from(DWORD major, DWORD minor) {
  const Machine &m = machine();
  return m.platform == VER_PLATFORM_WIN32_NT && (m.nt_major > major || (m.nt_major == major && m.nt_minor >= minor));
}

bool kernel_exports(const std::string &name) {
  const Machine &m = machine();
  if (m.missing_exports.count(name)) return false;
  if (name == "SetDllDirectoryA") return nt_from(5, 1);
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

// The system directory's libraries that a box brings in, and what each
// imports: Vista and 7's uxtheme.dll dwmapi.dll, Wine's msimg32.dll too.
bool box_library(const std::string &name, std::vector<std::string> &imports) {
  const std::string lower = lower_ascii(name);
  imports.clear();
  if (lower == "uxtheme.dll") imports = {"msimg32.dll"};
  if (lower == "uxtheme.dll" && nt_from(6, 0)) imports.push_back("dwmapi.dll");
  return (lower == "uxtheme.dll" && nt_from(5, 1)) || (lower == "dwmapi.dll" && nt_from(6, 0)) ||
         (lower == "msimg32.dll" && nt_from(5, 0));
}

bool is_system_copy(const std::string &path, std::vector<std::string> &imports) {
  return box_library(base_name(path), imports) && same_path(path, system_directory() + "\\" + base_name(path));
}

void load_by_name(const std::string &name);

void load_module(const std::string &path) {
  for (const std::string &loaded : machine().modules)
    if (same_path(loaded, path)) return;
  std::vector<std::string> imports;
  if (is_system_copy(path, imports))
    for (const std::string &name : imports) load_by_name(name);
  machine().modules.push_back(path);
}

void load_by_name(const std::string &name) {
  const Machine &m = machine();
  for (const std::string &loaded : m.modules)
    if (lower_ascii(base_name(loaded)) == lower_ascii(name)) return;
  const std::string beside = m.module_path.substr(0, m.module_path.find_last_of('\\') + 1) + name;
  std::vector<std::string> imports;
  if (!m.system32_only && find_file(beside))
    load_module(beside);
  else if (box_library(name, imports))
    load_module(system_directory() + "\\" + name);
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

void load_box_libraries() { load_by_name("uxtheme.dll"); }

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

}  // namespace sim

using namespace sim::detail;

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (DWORD injected = enter("GetSystemDirectoryA")) {
    set_error(injected);
    return 0;
  }
  return directory_answer(sim::system_directory(), buffer, size);
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (DWORD injected = enter("LoadLibraryA")) {
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
    fault(std::string("LoadLibraryA of a name that is searched for, the program's folder first: ") + name);
    set_error(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::vector<std::string> imports;
  if (is_system_copy(name, imports)) {
    load_module(name);
    return BOX_MODULE;
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

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (DWORD injected = enter("GetProcAddress")) {
    set_error(injected);
    return nullptr;
  }
  if (module == KERNEL32_MODULE) return find_export(KERNEL32_EXPORTS, 4, name, name && kernel_exports(name));
  if (module == NTDLL_MODULE)
    return find_export(NTDLL_EXPORTS, 1, name, name && machine().missing_exports.count(name) == 0);
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
