// The system around the files: short names, the program's own path, named
// mutexes and the version query.
#include <string.h>

#include "check.h"

// ---- Short names ---------------------------------------------------------------

// Whether every part of the path after the drive is an 8.3 name.
static int is_short_form(const char *path) {
  const char *part = strchr(path, '\\');
  while (part) {
    const char *end = strchr(part + 1, '\\');
    int length = end ? static_cast<int>(end - part - 1) : static_cast<int>(strlen(part + 1));
    const char *dot = static_cast<const char *>(memchr(part + 1, '.', length));
    int name = dot ? static_cast<int>(dot - part - 1) : length;
    int extension = dot ? length - name - 1 : 0;
    if (name < 1 || name > 8 || extension > 3 || memchr(part + 1, ' ', length)) return 0;
    part = end;
  }
  return 1;
}

CHECK(short_path_names_the_same_file) {
  const char *folder = scratch("Long Folder Name");
  const char *file = scratch("Long Folder Name\\Library File.dll");
  make_folder(folder);
  make_file(file, "library", 7, FILE_ATTRIBUTE_ARCHIVE);
  // The simulated Windows knows only the short names it is given; the file
  // system makes its own (Wine's are not Windows' "~1" names).
  short_name_hint(scratch(""), "C:\\checks\\SCRATCH");
  short_name_hint(folder, "C:\\checks\\SCRATCH\\LONGFO~1");
  short_name_hint(file, "C:\\checks\\SCRATCH\\LONGFO~1\\LIBRAR~1.DLL");

  char buffer[MAX_PATH];
  DWORD needed = GetShortPathNameA(file, NULL, 0);
  ok(needed > 0 && needed < MAX_PATH, "size asked without a buffer: %u\n", needed);
  if (needed == 0 || needed >= MAX_PATH) return;
  memset(buffer, '#', sizeof buffer);
  DWORD length = GetShortPathNameA(file, buffer, needed - 1);
  ok(length == needed && buffer[0] == '#', "one byte too small: %u, buffer untouched %d\n", length, buffer[0] == '#');
  length = GetShortPathNameA(file, buffer, needed);
  ok(length == needed - 1 && strlen(buffer) == length, "fitting: %u, %s\n", length, buffer);
  ok(is_short_form(buffer), "8.3 names only: %s\n", buffer);
  ok(strcmp(buffer, file) != 0, "the long names are replaced: %s\n", buffer);
  char bytes[16];
  ok(file_bytes(buffer, bytes, sizeof bytes) == 7 && memcmp(bytes, "library", 7) == 0, "the same file: %s\n", buffer);
}

CHECK(short_path_keeps_short_names_and_fails_for_missing_files) {
  const char *file = scratch("PLAIN.DLL");
  make_file(file, "plain", 5, FILE_ATTRIBUTE_ARCHIVE);
  short_name_hint(scratch(""), "C:\\checks\\SCRATCH");
  char buffer[MAX_PATH];
  DWORD length = GetShortPathNameA(file, buffer, sizeof buffer);
  const char *name = strrchr(buffer, '\\');
  ok(length > 0 && name && strcmp(name, "\\PLAIN.DLL") == 0, "an 8.3 name stays: %u, %s\n", length, buffer);
  SetLastError(0xdeadbeef);
  length = GetShortPathNameA(scratch("missing.dll"), buffer, sizeof buffer);
  ok(length == 0 && GetLastError() == ERROR_FILE_NOT_FOUND, "missing file: %u, error %u\n", length, GetLastError());
}

// ---- The program's own path --------------------------------------------------------

CHECK(own_path_is_cut_to_the_buffer_without_terminator) {
  char full[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(NULL, full, sizeof full);
  ok(length > 4 && length < MAX_PATH && strcmp(full, own_module()) == 0, "the whole path: %u, %s\n", length, full);
  if (length <= 4 || length >= MAX_PATH) return;

  char cut[MAX_PATH + 1];
  memset(cut, '#', sizeof cut);
  SetLastError(0xdeadbeef);
  DWORD copied = GetModuleFileNameA(NULL, cut, length);
  DWORD error = GetLastError();
  ok(copied == length, "no room for the terminator: %u\n", copied);
  ok(cut[length] == '#', "nothing past the size\n");
  // Windows XP fills the buffer and does not terminate; it leaves the last
  // error as it was. Wine cuts as XP does but reports the buffer too small,
  // as Vista and later do. What the 9x family says is not known here.
  ok(memcmp(cut, full, length) == 0, "the head of the path: %.*s\n", static_cast<int>(length), cut);
  if (!nine_x_family()) ok(error == 0xdeadbeef || broken(error == ERROR_INSUFFICIENT_BUFFER), "last error %u\n", error);

  memset(cut, '#', sizeof cut);
  copied = GetModuleFileNameA(NULL, cut, length + 1);
  ok(copied == length && strcmp(cut, full) == 0, "exactly enough room: %u, %s\n", copied, cut);
}

// ---- Named mutexes ---------------------------------------------------------------------

CHECK(mutex_lives_while_a_handle_to_it_is_open) {
  const char *name = unique_name("mutex");
  SetLastError(0xdeadbeef);
  HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, name);
  ok(opened == NULL && GetLastError() == ERROR_FILE_NOT_FOUND, "before: %p, error %u\n", opened, GetLastError());

  SetLastError(0xdeadbeef);
  HANDLE first = CreateMutexA(NULL, FALSE, name);
  ok(first != NULL && GetLastError() == 0, "created: %p, error %u\n", first, GetLastError());
  SetLastError(0xdeadbeef);
  HANDLE second = CreateMutexA(NULL, FALSE, name);
  ok(second != NULL && GetLastError() == ERROR_ALREADY_EXISTS, "again: %p, error %u\n", second, GetLastError());
  opened = OpenMutexA(SYNCHRONIZE, FALSE, name);
  ok(opened != NULL, "opened while alive: error %u\n", GetLastError());

  char other_case[MAX_PATH];
  strcpy(other_case, name);
  for (char *c = other_case; *c; ++c)
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  SetLastError(0xdeadbeef);
  HANDLE upper = OpenMutexA(SYNCHRONIZE, FALSE, other_case);
  ok(upper == NULL && GetLastError() == ERROR_FILE_NOT_FOUND, "names keep their case: %p, error %u\n", upper,
     GetLastError());

  if (first) CloseHandle(first);
  if (second) CloseHandle(second);
  if (opened) CloseHandle(opened);
  if (upper) CloseHandle(upper);
  SetLastError(0xdeadbeef);
  opened = OpenMutexA(SYNCHRONIZE, FALSE, name);
  ok(opened == NULL && GetLastError() == ERROR_FILE_NOT_FOUND, "after the last handle: %p, error %u\n", opened,
     GetLastError());
  if (opened) CloseHandle(opened);
}

CHECK(mutex_of_another_program_is_found) {
  const char *name = unique_name("held");
  hold_mutex(name);
  HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, name);
  ok(opened != NULL, "open: error %u\n", GetLastError());
  SetLastError(0xdeadbeef);
  HANDLE created = CreateMutexA(NULL, FALSE, name);
  ok(created != NULL && GetLastError() == ERROR_ALREADY_EXISTS, "create: %p, error %u\n", created, GetLastError());
  if (opened) CloseHandle(opened);
  if (created) CloseHandle(created);
}

// ---- The version query ------------------------------------------------------------------

CHECK(version_query_takes_the_sizes_of_its_family) {
  union {
    OSVERSIONINFOA info;
    BYTE extended[156];  // OSVERSIONINFOEXA, which the 9x family does not know
  } version;
  memset(&version, 0, sizeof version);
  SetLastError(0xdeadbeef);
  BOOL ret = GetVersionExA(&version.info);
  ok(!ret && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "size 0: %d, error %u\n", ret, GetLastError());
  version.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA) + 1;
  SetLastError(0xdeadbeef);
  ret = GetVersionExA(&version.info);
  ok(!ret && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "size 149: %d, error %u\n", ret, GetLastError());

  version.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  ret = GetVersionExA(&version.info);
  ok(ret, "size 148: error %u\n", GetLastError());
  if (nine_x_family()) {
    ok(version.info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && version.info.dwMajorVersion == 4 &&
           version.info.dwMinorVersion == 10 && (version.info.dwBuildNumber >> 16) == 0x040a,
       "Windows 98: %u %u.%u build 0x%08x\n", version.info.dwPlatformId, version.info.dwMajorVersion,
       version.info.dwMinorVersion, version.info.dwBuildNumber);
  } else {
    ok(version.info.dwPlatformId == VER_PLATFORM_WIN32_NT && version.info.dwMajorVersion == 5 &&
           version.info.dwMinorVersion == 1 && version.info.dwBuildNumber == 2600,
       "Windows XP: %u %u.%u build %u\n", version.info.dwPlatformId, version.info.dwMajorVersion,
       version.info.dwMinorVersion, version.info.dwBuildNumber);
  }

  memset(&version, 0, sizeof version);
  version.info.dwOSVersionInfoSize = sizeof version.extended;
  SetLastError(0xdeadbeef);
  ret = GetVersionExA(&version.info);
  if (nine_x_family()) {
    // Wine takes the extended size whatever version it plays.
    ok((!ret && GetLastError() == ERROR_INSUFFICIENT_BUFFER) || broken(ret), "9x, size 156: %d, error %u\n", ret,
       GetLastError());
  } else {
    ok(ret && version.info.dwPlatformId == VER_PLATFORM_WIN32_NT, "NT, size 156: %d, error %u\n", ret, GetLastError());
  }
}
