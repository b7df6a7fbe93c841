#include "deferred_deletion.h"

#include "platform/text.h"

enum { SECTION_CAPACITY = 32768 };

static const char WININIT_NAME[] = "\\WinInit.ini";
static const char RENAME_SECTION[] = "Rename";
static const char DELETE_KEY[] = "Nul=";

static int is_separator(char c) { return c == '\\' || c == '/'; }

// Windows 95 to 11 drop the blanks and dots that end a path's last
// component before the file system sees it (and NT keeps those of the
// components before it, but nothing here relies on that): "C:\KIT\x "
// names "C:\KIT\x", somebody else's file. A name ending so in any
// component is never touched. Bytes are enough here: no trail byte of a
// double-byte code page is a blank, a dot or "/", and the byte before a
// trail byte 0x5C ("\") is a lead byte.
static int names_itself(LPCSTR path) {
  for (; *path; ++path)
    if ((*path == ' ' || *path == '.') && (path[1] == '\0' || is_separator(path[1]))) return 0;
  return 1;
}

void delete_at_restart(LPCSTR path, DWORD platform_id) {
  if (!names_itself(path)) return;
  // Windows 95, 98 and Me export MoveFileExA only as a stub that fails
  // with ERROR_CALL_NOT_IMPLEMENTED; they read WinInit.ini instead.
  if (platform_id == VER_PLATFORM_WIN32_NT)
    MoveFileExA(path, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
  else
    schedule_deletion_in_wininit(path);
}

void remove_file(LPCSTR path, DWORD platform_id) {
  if (!names_itself(path)) return;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path)) return;
  // Scheduling a file that is not there would delete whatever bears its
  // name at the next restart.
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
  delete_at_restart(path, platform_id);
}

// WININIT.EXE carries out WinInit.ini on Windows 95, 98 and Me before
// Windows starts, in real mode, and knows only 8.3 names: a long one would
// be passed over, so without its short form a file is not scheduled at
// at all (null).
static LPCSTR short_form(LPCSTR path, LPSTR buffer) {
  bytes_zero(buffer, MAX_PATH);
  DWORD length = GetShortPathNameA(path, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || text_length(buffer, MAX_PATH) != static_cast<int>(length)) return 0;
  return buffer;
}

// The profile functions, and WININIT.EXE after them, read a value without
// the blanks and tabs around it, and no file name holds a control
// character, while a line break would start lines of its own in the
// section, each able to delete any file at the next start. A line that
// would not read back as written is never written.
static int reads_back_unchanged(LPCSTR text) {
  if (*text == ' ') return 0;
  for (; *text; ++text)
    if (static_cast<BYTE>(*text) < ' ' || (*text == ' ' && text[1] == '\0')) return 0;
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
  if (!named || !reads_back_unchanged(named)) return;
  bytes_zero(section, SECTION_CAPACITY);
  DWORD used = GetPrivateProfileSectionA(RENAME_SECTION, section, SECTION_CAPACITY, file);
  // A section too large for the buffer comes back cut, as capacity - 2
  // (every version since Windows 95).
  if (used >= SECTION_CAPACITY - 2) return;
  // The new line goes where the closing terminator stood, and one zero
  // must remain after it to close the list again.
  if (section[used] != '\0' || (used > 0 && section[used - 1] != '\0')) return;
  if (!text_join(section + used, SECTION_CAPACITY - used - 1, DELETE_KEY, named, "")) return;
  WritePrivateProfileSectionA(RENAME_SECTION, section, file);
  // Windows 95, 98 and Me keep initialisation files in a cache that a call
  // with nothing but the file's name writes out; NT writes through and
  // answers this call with FALSE.
  WritePrivateProfileStringA(0, 0, 0, file);
}
