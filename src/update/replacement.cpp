#include "replacement.h"

#include "kit/paths.h"
#include "payload_digest.h"
#include "platform/family.h"
#include "platform/text.h"
#include "presence.h"

// The working files beside the library: the payload's copy, and on the 9x
// family the old library between two renames. The names are fixed, so a run
// cut short by a crash or a power cut leaves at most these two, never under
// a library's name; the next run puts a library left aside back and clears
// them once every library is in place. They are no longer than the
// library names, so a library path that fits MAX_PATH leaves room for them.
//
// The directory may let other users make files in it, and the updater runs
// with administrator rights. A file already under a working name may be
// theirs: held open, a hard link to some other file, a link leading
// anywhere. So a working file is only ever made new, and what stands under
// its name is only ever deleted as a name (a link goes, never what it leads
// to; a hard link's other names keep their file). When the name cannot be
// freed, the library is left as it is.
static const char NEW_NAME[] = "TRVNEW.TMP";
static const char OLD_NAME[] = "TRVOLD.TMP";

enum { COPY_CHUNK = 65536 };

// The payload passes through this buffer a chunk at a time. Static rather
// than on the stack: a frame over 4 KB needs stack probes, and a zero-filled
// static costs the file nothing.
static BYTE g_chunk[COPY_CHUNK];

// When the system does not say, the 9x sequence is taken: it is safe on NT
// too, since it checks first that the library is free.
static int nt_family() {
  DWORD family;
  return platform_family(&family) && family == VER_PLATFORM_WIN32_NT;
}

// 1 when nothing stands under the working name any more.
static int free_working_name(LPCSTR path) { return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND; }

// The new working file: made now or not at all, and shared with nobody while
// it is written and flushed. On the NT family a link planted under the name
// after it was freed would otherwise be followed, and the copy made wherever
// it leads; opened as a reparse point, the link itself is the name, which
// exists, and the creation fails. Windows 9x knows no links, nor the flag.
static HANDLE create_working_file(LPCSTR path, int nt) {
  DWORD flags = nt ? FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL;
  return CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_NEW, flags, 0);
}

// The payload's bytes from its start, hashed on the way when a digest is
// given, into the working file when one is given. The hold serves every
// installation and the clean-up, so each read begins by going back to the
// start.
static int read_payload(HANDLE payload, const BYTE *digest, HANDLE file, DWORD *payload_error) {
  Sha256 hash;
  sha256_begin(&hash);
  SetLastError(0);
  if (SetFilePointer(payload, 0, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError()) {
    *payload_error = failure_reason();
    return 0;
  }
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(payload, g_chunk, COPY_CHUNK, &got, 0)) {
      *payload_error = failure_reason();
      return 0;
    }
    if (got == 0) break;
    // A file of 4 GB is refused rather than hashed in part; no library is
    // that large.
    if (digest && !sha256_add(&hash, g_chunk, got)) {
      *payload_error = ERROR_FILE_CORRUPT;
      return 0;
    }
    DWORD put = 0;
    if (file && (!WriteFile(file, g_chunk, got, &put, 0) || put != got)) return 0;
  }
  if (digest && !digest_matches(&hash, digest)) {
    *payload_error = ERROR_FILE_CORRUPT;
    return 0;
  }
  return 1;
}

int payload_has_digest(HANDLE payload, const BYTE *digest) {
  DWORD error = 0;
  return read_payload(payload, digest, 0, &error);
}

// The payload's bytes into the working file, then the payload's last-write
// time, as a copy keeps it, and the flush: a rename can reach the disk before
// the data, and a power cut would then leave a library of the right size full
// of zeros. The time goes on before the flush, so that the flush does not
// date the file anew.
static int write_copy(HANDLE payload, const BYTE *digest, HANDLE file, DWORD *payload_error) {
  if (!read_payload(payload, digest, file, payload_error)) return 0;
  FILETIME written;
  return GetFileTime(payload, 0, 0, &written) && SetFileTime(file, 0, 0, &written) && FlushFileBuffers(file);
}

// Opens the library for writing with no sharing. Windows refuses such an
// open while a program has the library loaded or open.
static int library_is_free(LPCSTR path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(file);
  return 1;
}

// Windows 9x cannot rename over an existing file (MoveFileExA is only a stub
// there), so the new library takes the old one's place in the shortest safe
// sequence:
//   1. the library must open for writing with no sharing: Windows 9x keeps
//      a loaded library open (Wine's 9x mode would let it be renamed);
//   2. the library is renamed to OLD_NAME, which must be free: a rename
//      never goes over an existing name;
//   3. the new file is renamed to the library's name; when that fails, the
//      old library is renamed back;
//   4. OLD_NAME is deleted.
// The library's name is empty only between steps 2 and 3, two renames in one
// directory, and the old bytes lie under OLD_NAME meanwhile. When even the
// way back fails, both working files stay as they are: the next run puts
// the old library back (restore_cut_exchange).
enum Placed { LIBRARY_KEPT = 0, LIBRARY_REPLACED = 1, LIBRARY_ASIDE = 2 };

static Placed exchange_by_renames(LPCSTR fresh, LPCSTR target, LPCSTR install_directory) {
  char old[MAX_PATH];
  if (!join_target_path(old, MAX_PATH, install_directory, OLD_NAME) || !library_is_free(target)) return LIBRARY_KEPT;
  if (!free_working_name(old) || !MoveFileA(target, old)) return LIBRARY_KEPT;
  if (!MoveFileA(fresh, target)) return MoveFileA(old, target) ? LIBRARY_KEPT : LIBRARY_ASIDE;
  DeleteFileA(old);
  return LIBRARY_REPLACED;
}

// On the NT family one rename replaces the library; it fails while a
// program has the library loaded.
static Placed put_in_place(LPCSTR fresh, LPCSTR target, LPCSTR install_directory, int nt) {
  if (!nt) return exchange_by_renames(fresh, target, install_directory);
  return MoveFileExA(fresh, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? LIBRARY_REPLACED
                                                                                        : LIBRARY_KEPT;
}

// A library whose name is a link or another reparse point is left alone:
// the name may lead anywhere, to a system file even, and an elevated run
// neither clears the attributes of nor replaces whatever that is. Windows
// 9x has no reparse points.
static int is_plain_file(LPCSTR path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The working paths are built whole or refused, never cut (join_target_path).
// A read-only library is replaced all the same, and it ends plain, as the
// new file may not: NT marks a file it makes for archiving.
int replace_library(HANDLE payload, const BYTE *digest, LPCSTR target, LPCSTR install_directory, DWORD *payload_error) {
  *payload_error = 0;
  char fresh[MAX_PATH];
  if (!join_target_path(fresh, MAX_PATH, install_directory, NEW_NAME) || !is_plain_file(target)) return 0;
  SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  const int nt = nt_family();
  if (!free_working_name(fresh)) return 0;
  HANDLE file = create_working_file(fresh, nt);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int copied = write_copy(payload, digest, file, payload_error);
  CloseHandle(file);
  const Placed placed = copied ? put_in_place(fresh, target, install_directory, nt) : LIBRARY_KEPT;
  if (placed == LIBRARY_REPLACED) {
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    return 1;
  }
  if (placed == LIBRARY_KEPT) DeleteFileA(fresh);
  return 0;
}

// Only the 9x exchange ever puts a library aside, and Windows 9x knows no
// links: a TRVOLD.TMP on the NT family is not the updater's, and on 9x it
// can be nothing but a plain file. Whoever could have made it there could
// have made the library itself.
void restore_cut_exchange(LPCSTR target, LPCSTR install_directory) {
  char old[MAX_PATH];
  char fresh[MAX_PATH];
  if (nt_family() || text_length(target, MAX_PATH) < 0 ||
      !join_target_path(old, MAX_PATH, install_directory, OLD_NAME) ||
      !join_target_path(fresh, MAX_PATH, install_directory, NEW_NAME))
    return;
  // A rename never goes over an existing name: a library in place stays.
  if (MoveFileA(old, target)) DeleteFileA(fresh);
}

void clear_working_files(LPCSTR install_directory) {
  static const LPCSTR WORKING_NAMES[] = {NEW_NAME, OLD_NAME};
  for (LPCSTR name : WORKING_NAMES) {
    char path[MAX_PATH];
    if (join_target_path(path, MAX_PATH, install_directory, name)) DeleteFileA(path);
  }
}
