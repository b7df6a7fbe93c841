// Kernel objects and system queries: handles, mutexes, the heap, the last
// error, the module path and the system's version and directory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

HANDLE const PROCESS_HEAP = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00150000));

bool mutex_alive(const std::string &name) {
  const Machine &m = machine();
  auto own = m.own_mutexes.find(name);
  return m.foreign_mutexes.count(name) != 0 || (own != m.own_mutexes.end() && own->second > 0);
}

HANDLE new_mutex_handle(LPCSTR name) {
  uintptr_t value = new_handle();
  machine().handles[value] = Handle{HandleKind::mutex, name ? name : "", 0, 0, 0, nullptr};
  if (name) ++machine().own_mutexes[name];
  return reinterpret_cast<HANDLE>(value);
}

}  // namespace
UINT directory_answer(const std::string &path, LPSTR buffer, UINT size) {
  const UINT length = static_cast<UINT>(path.size());
  if (!buffer || size < length + 1) return length + 1;
  std::memcpy(buffer, path.c_str(), length + 1);
  return length;
}

}  // namespace detail

using namespace detail;

void hold_mutex(const std::string &name, bool refuses_us) {
  machine().foreign_mutexes.insert(name);
  if (refuses_us) machine().refusing_mutexes.insert(name);
}
bool mutex_exists(const std::string &name) { return mutex_alive(name); }
void fail_mutex_creation(DWORD error) { machine().mutex_failure = error; }
int open_handles() { return static_cast<int>(machine().handles.size()); }
int heap_blocks() { return static_cast<int>(machine().heap_blocks.size()); }
void fail_heap_allocations() { machine().heap_fails = true; }

}  // namespace sim

using namespace sim::detail;

DWORD WINAPI GetLastError(void) {
  enter("GetLastError");
  return machine().last_error;
}

void WINAPI SetLastError(DWORD code) {
  enter("SetLastError");
  set_error(code);
}

BOOL WINAPI IsDBCSLeadByte(BYTE value) {
  enter("IsDBCSLeadByte");
  return is_lead_byte(machine().code_page, value) ? TRUE : FALSE;
}

HANDLE WINAPI OpenMutexA(DWORD, BOOL, LPCSTR name) {
  if (DWORD injected = enter("OpenMutexA")) {
    set_error(injected);
    return nullptr;
  }
  if (!name) {
    set_error(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!mutex_alive(name)) {
    set_error(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (machine().refusing_mutexes.count(name)) {
    set_error(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return new_mutex_handle(name);
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name) {
  if (DWORD injected = enter("CreateMutexA")) {
    set_error(injected);
    return nullptr;
  }
  if (DWORD error = machine().mutex_failure) {
    set_error(error);
    return nullptr;
  }
  bool existed = name && mutex_alive(name);
  // Creating an existing mutex opens it, with all access.
  if (existed && machine().refusing_mutexes.count(name)) {
    set_error(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE handle = new_mutex_handle(name);
  set_error(existed ? ERROR_ALREADY_EXISTS : 0);
  return handle;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  enter("CloseHandle");
  Machine &m = machine();
  auto found = m.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == m.handles.end()) {
    fault("CloseHandle of a handle that is not open " + show(static_cast<const void *>(handle)));
    set_error(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const Handle &h = found->second;
  if (h.kind == HandleKind::mutex && !h.name.empty()) {
    auto own = m.own_mutexes.find(h.name);
    // A mutex of ours goes with the last handle to it.
    if (own != m.own_mutexes.end() && --own->second <= 0) m.own_mutexes.erase(own);
  }
  // A file whose disposition was set goes with the last handle to it.
  const bool disposes = h.kind == HandleKind::file && h.delete_pending && !h.detached;
  const std::string name = h.name;
  m.handles.erase(found);
  if (disposes && find_file(name)) {
    for (const auto &entry : m.handles)
      if (entry.second.kind == HandleKind::file && !entry.second.detached && same_path(entry.second.name, name))
        return TRUE;
    erase_file(name);
    disk_changed();
  }
  return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR name, DWORD size) {
  if (DWORD injected = enter("GetModuleFileNameA")) {
    set_error(injected);
    return 0;
  }
  const std::string &path = machine().module_path;
  const DWORD length = static_cast<DWORD>(path.size());
  if (!name) {
    set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (length >= size) {
    // Windows XP fills the buffer, leaves it without a terminator and the
    // last error as it was.
    std::memcpy(name, path.data(), size);
    return size;
  }
  std::memcpy(name, path.c_str(), length + 1);
  return length;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (DWORD injected = enter("GetVersionExA")) {
    return fail(injected);
  }
  const Machine &m = machine();
  const bool nt = m.platform == VER_PLATFORM_WIN32_NT;
  // 156 is OSVERSIONINFOEXA, which the 9x family does not know.
  if (!info || (info->dwOSVersionInfoSize != 148 && !(nt && info->dwOSVersionInfoSize == 156))) {
    set_error(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (m.version_query_fails) {
    set_error(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->dwPlatformId = m.platform;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  if (nt) {
    // The last build of each version, with its last service pack.
    info->dwMajorVersion = m.nt_major;
    info->dwMinorVersion = m.nt_minor;
    info->dwBuildNumber = m.nt_major == 4 ? 1381 : m.nt_major == 5 ? (m.nt_minor == 0 ? 2195 : 2600) : 0;
    const int last = m.nt_major == 4 ? 6 : m.nt_major != 5 ? 0 : m.nt_minor == 0 ? 4 : 3;
    const int pack = m.service_pack < 0 ? last : m.service_pack;
    if (pack) std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "Service Pack %d", pack);
    if (info->dwOSVersionInfoSize == 156) {
      // The service pack, no suite, a workstation.
      const BYTE extended[8] = {static_cast<BYTE>(pack), 0, 0, 0, 0, 0, 1, 0};
      std::memcpy(reinterpret_cast<BYTE *>(info) + 148, extended, sizeof extended);
    }
  } else {
    // Windows 98 SE: the build number's high word repeats the version.
    info->dwMajorVersion = 4;
    info->dwMinorVersion = 10;
    info->dwBuildNumber = 0x040A0000u | 2222u;
    std::strcpy(info->szCSDVersion, " A ");
  }
  return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  if (DWORD injected = enter("GetWindowsDirectoryA")) {
    set_error(injected);
    return 0;
  }
  return directory_answer(machine().windows_directory, buffer, size);
}

HANDLE WINAPI GetProcessHeap(void) {
  enter("GetProcessHeap");
  return PROCESS_HEAP;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  if (enter("HeapAlloc")) return nullptr;  // no last error without HEAP_GENERATE_EXCEPTIONS
  Machine &m = machine();
  if (heap != PROCESS_HEAP) {
    fault("HeapAlloc on a heap that is not the process heap " + show(static_cast<const void *>(heap)));
    return nullptr;
  }
  if (m.heap_fails) return nullptr;
  void *block = std::malloc(size ? size : 1);
  if (!block) return nullptr;
  // Fresh heap memory is often zero on Windows, but nothing promises it:
  // fill it so that code which forgot HEAP_ZERO_MEMORY shows.
  std::memset(block, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xCD, size);
  m.heap_blocks.insert(block);
  m.freed_blocks.erase(block);
  return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  enter("HeapFree");
  Machine &m = machine();
  if (!block) return TRUE;
  if (heap != PROCESS_HEAP || m.heap_blocks.erase(block) == 0) {
    fault(std::string(m.freed_blocks.count(block) ? "HeapFree of a block freed before "
                                                  : "HeapFree of an unknown block ") +
          show(static_cast<const void *>(block)));
    set_error(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m.freed_blocks.insert(block);
  std::free(block);
  return TRUE;
}
