#include "deferred_deletion.h"

#include "platform/text.h"

enum { SECTION_CAPACITY = 32768 };

static const char WININIT_NAME[] = "\\WinInit.ini";
static const char RENAME_SECTION[] = "Rename";
static const char DELETE_KEY[] = "Nul=";

void remove_file(LPCSTR path, DWORD platform_id) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path)) return;
  // Scheduling a file that is not there would delete whatever bears its
  // name at the next restart.
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
  if (platform_id == VER_PLATFORM_WIN32_NT)
    MoveFileExA(path, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
  else
    schedule_deletion_in_wininit(path);
}

// The program that carries out WinInit.ini before Windows starts knows
// only short names and passes over a long one: without its short form a
// file is not scheduled at all (null).
static LPCSTR short_form(LPCSTR path, LPSTR buffer) {
  bytes_zero(buffer, MAX_PATH);
  DWORD length = GetShortPathNameA(path, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || text_length(buffer, MAX_PATH) != static_cast<int>(length)) return 0;
  return buffer;
}

// No file name holds a control character, and a line break would start
// lines of its own in the section, each able to delete any file at the
// next start.
static int is_one_line(LPCSTR text) {
  for (; *text; ++text)
    if (static_cast<BYTE>(*text) < ' ') return 0;
  return 1;
}

static int wininit_path(LPSTR file) {
  bytes_zero(file, MAX_PATH);
  UINT length = GetWindowsDirectoryA(file, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  return text_append(file, MAX_PATH, WININIT_NAME);
}

void schedule_deletion_in_wininit(LPCSTR path) {
  static char section[SECTION_CAPACITY];
  char file[MAX_PATH];
  char short_path[MAX_PATH];
  if (!wininit_path(file)) return;
  LPCSTR named = short_form(path, short_path);
  if (!named || !is_one_line(named)) return;
  bytes_zero(section, SECTION_CAPACITY);
  DWORD used = GetPrivateProfileSectionA(RENAME_SECTION, section, SECTION_CAPACITY, file);
  // A section too large for the buffer comes back as capacity - 2.
  if (used >= SECTION_CAPACITY - 2) return;
  // The new line goes where the closing terminator stood, and one zero
  // must remain after it to close the list again.
  if (section[used] != '\0' || (used > 0 && section[used - 1] != '\0')) return;
  if (!text_join(section + used, SECTION_CAPACITY - used - 1, DELETE_KEY, named, "")) return;
  WritePrivateProfileSectionA(RENAME_SECTION, section, file);
  WritePrivateProfileStringA(0, 0, 0, file);
}
