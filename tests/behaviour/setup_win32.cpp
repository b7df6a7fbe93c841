// The checks' machine on Windows (in practice Wine): state made with the
// real API. The fixture libraries lie in "fixtures" beside the program.
#include "check.h"

#include <stdio.h>
#include <string.h>

namespace {

enum { MAX_HELD = 16, FIXTURE_CAPACITY = 1 << 20 };

const char *const LIBRARY_FILES[] = {"english.dll", "second_translation.dll", "japanese_only.dll",
                                     "without_version.dll"};
const char SESSION_MANAGER[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

HMODULE g_modules[MAX_HELD];
int g_module_count = 0;
HANDLE g_handles[MAX_HELD];
int g_handle_count = 0;

// A set-up step that did not work fails the check: what it checks would
// rest on a machine other than the one it describes.
void require(int done, const char *what, const char *path) {
  if (!done) check_ok(__FILE__, __LINE__, 0, "setup: %s %s failed, error %lu\n", what, path, GetLastError());
}

void keep_handle(HANDLE handle) {
  if (g_handle_count < MAX_HELD) g_handles[g_handle_count++] = handle;
}

}  // namespace

void begin_machine(const char *) {
  CreateDirectoryA("C:\\checks", NULL);
  require(CreateDirectoryA(scratch(""), NULL), "CreateDirectoryA", scratch(""));
}

void end_machine() {
  while (g_module_count > 0) FreeLibrary(g_modules[--g_module_count]);
  while (g_handle_count > 0) CloseHandle(g_handles[--g_handle_count]);
}

// The name exactly as spelt: a "\\?\" path skips the rules that would drop
// the blanks and dots ending a name, as files copied from other systems
// keep them.
static const char *exact(const char *path) {
  static char buffers[4][MAX_PATH + 8];
  static int next = 0;
  char *buffer = buffers[next++ % 4];
  lstrcpynA(buffer, "\\\\?\\", MAX_PATH + 8);
  lstrcpynA(buffer + 4, path, MAX_PATH + 4);
  return buffer;
}

void make_folder(const char *path) { require(CreateDirectoryA(exact(path), NULL), "CreateDirectoryA", path); }

void make_file(const char *path, const char *bytes, DWORD size, DWORD attributes) {
  HANDLE file = CreateFileA(exact(path), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  require(file != INVALID_HANDLE_VALUE, "CreateFileA", path);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  require(WriteFile(file, bytes, size, &written, NULL) && written == size, "WriteFile", path);
  CloseHandle(file);
  require(SetFileAttributesA(exact(path), attributes), "SetFileAttributesA", path);
}

void make_library(const char *path, Library which) {
  static char bytes[FIXTURE_CAPACITY];
  char fixture[MAX_PATH];
  snprintf(fixture, sizeof fixture, "%s", own_module());
  char *name = strrchr(fixture, '\\');
  snprintf(name ? name + 1 : fixture, sizeof fixture - (name ? name + 1 - fixture : 0), "fixtures\\%s",
           LIBRARY_FILES[which]);
  int size = file_bytes(fixture, bytes, sizeof bytes);
  require(size > 0 && size <= FIXTURE_CAPACITY, "reading the fixture", fixture);
  if (size > 0 && size <= FIXTURE_CAPACITY) make_file(path, bytes, size, FILE_ATTRIBUTE_ARCHIVE);
}

void hold_module(const char *path) {
  HMODULE module = LoadLibraryA(path);
  require(module != NULL, "LoadLibraryA", path);
  if (module && g_module_count < MAX_HELD) g_modules[g_module_count++] = module;
}

void hold_exclusive(const char *path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  require(file != INVALID_HANDLE_VALUE, "CreateFileA", path);
  if (file != INVALID_HANDLE_VALUE) keep_handle(file);
}

const char *own_module() {
  static char path[MAX_PATH];
  if (!path[0]) GetModuleFileNameA(NULL, path, MAX_PATH - 1);
  return path;
}

HINSTANCE own_instance() { return GetModuleHandleA(NULL); }

DWORD file_attributes(const char *path) { return GetFileAttributesA(exact(path)); }

int file_bytes(const char *path, char *bytes, int size) {
  HANDLE file = CreateFileA(exact(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD length = GetFileSize(file, NULL);
  DWORD read = 0;
  BOOL done = ReadFile(file, bytes, length < static_cast<DWORD>(size) ? length : size, &read, NULL);
  CloseHandle(file);
  return done ? static_cast<int>(length) : -1;
}

bool pending_deletion(int index, char *path, int size) {
  static char list[65536];
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD length = sizeof list - 2;
  memset(list, 0, sizeof list);
  LONG status = RegQueryValueExA(key, "PendingFileRenameOperations", NULL, NULL, (BYTE *)list, &length);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  // Pairs of a source and a target; a deletion has an empty target.
  for (const char *source = list; *source;) {
    const char *target = source + strlen(source) + 1;
    if (!*target && index-- == 0) {
      if (!strncmp(source, "\\??\\", 4)) source += 4;
      snprintf(path, size, "%s", source);
      return true;
    }
    source = target + strlen(target) + 1;
  }
  return false;
}

void short_name_hint(const char *, const char *) {}

// Texts are stored through RegSetValueExW, which keeps exactly the
// characters given: RegSetValueExA counts a terminator that follows them
// (NT) or stores the whole C string whatever the size (9x).
void set_registry_value(const char *key, const char *name, DWORD type, const void *bytes, DWORD size) {
  enum { TEXT_CAPACITY = 1024 };
  HKEY handle;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &handle, NULL);
  require(status == ERROR_SUCCESS, "RegCreateKeyExA", key);
  if (status != ERROR_SUCCESS) return;
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    WCHAR text[TEXT_CAPACITY + 1];
    WCHAR wide_name[MAX_PATH];
    int length = MultiByteToWideChar(CP_ACP, 0, static_cast<const char *>(bytes), size, text, TEXT_CAPACITY);
    require(length > 0 || size == 0, "MultiByteToWideChar", name);
    text[length] = L'#';  // not a terminator for RegSetValueExW to count
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, MAX_PATH);
    status = RegSetValueExW(handle, wide_name, 0, type, reinterpret_cast<const BYTE *>(text), length * sizeof(WCHAR));
  } else {
    status = RegSetValueExA(handle, name, 0, type, static_cast<const BYTE *>(bytes), size);
  }
  require(status == ERROR_SUCCESS, "RegSetValueExA", name);
  RegCloseKey(handle);
}

void hold_mutex(const char *name) {
  HANDLE mutex = CreateMutexA(NULL, TRUE, name);
  require(mutex != NULL, "CreateMutexA", name);
  if (mutex) keep_handle(mutex);
}
