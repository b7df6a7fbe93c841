// Libraries: the system directory and the one library there is to load
// from it, VERSION.DLL, with its three exports.
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

HMODULE const VERSION_MODULE = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x77C00000));

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

std::string version_library_path() { return system_directory() + "\\VERSION.DLL"; }

// "C:\..." or "\\server\...": a name the loader takes as it stands. Any
// other is searched for, the program's own folder first.
bool is_full_path(const std::string &name) {
  bool drive = name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  bool unc = name.size() >= 2 && name[0] == '\\' && name[1] == '\\';
  return drive || unc;
}

bool loaded(HMODULE module) { return module == VERSION_MODULE && machine().library_references > 0; }

}  // namespace
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
  if (!loaded(module)) {
    fault("GetProcAddress on a module that is not loaded " + show(static_cast<const void *>(module)));
    set_error(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  for (const Export &entry : VERSION_EXPORTS) {
    if (name && std::strcmp(entry.name, name) == 0 && machine().missing_exports.count(name) == 0) return entry.address;
  }
  set_error(ERROR_PROC_NOT_FOUND);
  return nullptr;
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
