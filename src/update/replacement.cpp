#include "replacement.h"

#include "kit/paths.h"
#include "platform/family.h"

// The working files beside the library: the payload's copy, and on the 9x
// family the old library between two renames. The names are fixed, so a run
// cut short by a crash or a power cut leaves at most these two, never under
// a library's name, and the next run that replaces a library in that
// directory clears them before it starts. They are no longer than the
// library names, so a library path that fits MAX_PATH leaves room for them.
static const char NEW_NAME[] = "TRVNEW.TMP";
static const char OLD_NAME[] = "TRVOLD.TMP";

// When the system does not say, the 9x sequence is taken: it is safe on NT
// too, since it checks first that the library is free.
static int nt_family() {
  DWORD family;
  return platform_family(&family) && family == VER_PLATFORM_WIN32_NT;
}

// A payload from read-only media carries its read-only attribute into the
// copy, and a read-only file can neither be opened for writing nor deleted.
static void remove_working_file(LPCSTR path) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
}

// Opens the file for writing with no sharing, and flushes it when asked.
// Windows refuses such an open while a program has the file loaded or open,
// so without the flush it tells whether a library is free to be replaced.
// Kept out of line: each inlined copy of the seven-argument call costs the
// executable about fifty bytes.
__attribute__((noinline)) static int open_alone(LPCSTR path, int flush) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int done = !flush || FlushFileBuffers(file);
  CloseHandle(file);
  return done;
}

// Windows 9x cannot rename over an existing file (MoveFileExA is only a stub
// there), so the new library takes the old one's place in the shortest safe
// sequence:
//   1. the library must open for writing with no sharing: Windows 9x keeps
//      a loaded library open (Wine's 9x mode would let it be renamed);
//   2. the library is renamed to OLD_NAME;
//   3. the new file is renamed to the library's name; when that fails, the
//      old library is renamed back;
//   4. OLD_NAME is deleted.
// The library's name is empty only between steps 2 and 3, two renames in one
// directory, and the old bytes lie under OLD_NAME meanwhile.
static int exchange_by_renames(LPCSTR fresh, LPCSTR target, LPCSTR install_directory) {
  char old[MAX_PATH];
  if (!join_target_path(old, MAX_PATH, install_directory, OLD_NAME) || !open_alone(target, 0)) return 0;
  remove_working_file(old);
  if (!MoveFileA(target, old)) return 0;
  if (!MoveFileA(fresh, target)) {
    MoveFileA(old, target);
    return 0;
  }
  DeleteFileA(old);
  return 1;
}

// The new library is whole on disk before any name points at it: a rename
// can reach the disk before the data, and a power cut would then leave a
// library of the right size full of zeros. On the NT family one rename
// replaces the library; it fails while a program has the library loaded.
static int put_in_place(LPCSTR payload, LPCSTR fresh, LPCSTR target, LPCSTR install_directory) {
  if (!CopyFileA(payload, fresh, FALSE)) return 0;
  SetFileAttributesA(fresh, FILE_ATTRIBUTE_NORMAL);
  if (!open_alone(fresh, 1)) return 0;
  if (nt_family()) return MoveFileExA(fresh, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  return exchange_by_renames(fresh, target, install_directory);
}

// The working paths are built whole or refused, never cut (join_target_path).
int replace_library(LPCSTR payload, LPCSTR target, LPCSTR install_directory) {
  char fresh[MAX_PATH];
  if (!join_target_path(fresh, MAX_PATH, install_directory, NEW_NAME)) return 0;
  remove_working_file(fresh);
  if (put_in_place(payload, fresh, target, install_directory)) return 1;
  remove_working_file(fresh);
  return 0;
}
