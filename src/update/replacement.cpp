#include "replacement.h"

#include "kit/payload_table.h"
#include "payload_digest.h"
#include "platform/family.h"
#include "platform/text.h"
#include "presence.h"

// The working files beside the library: the payload's copy, made and
// removed within one pair, and on the 9x family the old library between two
// renames, under a name of its own library's pair, so that a copy set aside
// is never taken for another library's. A run cut short by a crash or a
// power cut leaves nothing else, and never under a library's name: the next
// run puts a library left aside back, and removes a copy set aside whose
// library is in place.
//
// The directory may let other users make files in it, and the updater runs
// with administrator rights. A file already under a working name may be
// theirs: held open, a hard link to some other file, a link leading
// anywhere. So a working file is only ever made new, and what stands under
// its name is only ever deleted as a name (a link goes, never what it leads
// to; a hard link's other names keep their file). When the name cannot be
// freed, the library is left as it is.
const char FRESH_NAME[] = "TRVNEW.TMP";
static const char ASIDE_NAME[ASIDE_NAME_SIZE] = "TRVOLD?.TMP";  // "?": the pair's number, 1 on
static const int ASIDE_NUMBER_AT = 6;

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
  // Its start, 0, is never the value that tells a failure.
  if (SetFilePointer(payload, 0, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
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
//   2. the library is set aside under its pair's name, which must be free:
//      a rename never goes over an existing name;
//   3. the new file is renamed to the library's name; when that fails, the
//      old library is renamed back;
//   4. the copy set aside is deleted; when that fails (a scanner has it
//      open), it stays under its own name, and the next run removes it.
// The library's name is empty only between steps 2 and 3, two renames in one
// directory, and the old bytes lie set aside meanwhile. When even the way
// back fails, both working files stay as they are: the next run puts the old
// library back (repair_set_aside).
static Replacement exchange_by_renames(const LibraryPaths *paths) {
  if (!paths->aside[0] || !library_is_free(paths->library)) return LIBRARY_KEPT;
  if (!free_working_name(paths->aside) || !MoveFileA(paths->library, paths->aside)) return LIBRARY_KEPT;
  if (!MoveFileA(paths->fresh, paths->library))
    return MoveFileA(paths->aside, paths->library) ? LIBRARY_KEPT : LIBRARY_SET_ASIDE;
  DeleteFileA(paths->aside);
  return LIBRARY_REPLACED;
}

// On the NT family one rename replaces the library; it fails while a
// program has the library loaded.
static Replacement put_in_place(const LibraryPaths *paths, int nt) {
  if (!nt) return exchange_by_renames(paths);
  return MoveFileExA(paths->fresh, paths->library, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? LIBRARY_REPLACED
             : LIBRARY_KEPT;
}

// The library's attributes, when its name is a plain file. One that is a
// link or another reparse point is left alone: the name may lead anywhere,
// to a system file even, and an elevated run neither clears the attributes
// of nor replaces whatever that is. Windows 9x has no reparse points.
static int plain_file_attributes(LPCSTR path, DWORD *attributes) {
  *attributes = GetFileAttributesA(path);
  return *attributes != INVALID_FILE_ATTRIBUTES && !(*attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

void aside_name(LPSTR name, int index) {
  bytes_copy(name, ASIDE_NAME, sizeof ASIDE_NAME);
  name[ASIDE_NUMBER_AT] = static_cast<char>('1' + index);
}

// The library's attributes are cleared only for the renames, which a
// read-only library refuses, and come back when it keeps its old bytes. The
// new library ends plain, as the new file may not: NT marks a file it makes
// for archiving.
Replacement replace_library(HANDLE payload, const BYTE *digest, const LibraryPaths *paths, DWORD *payload_error) {
  *payload_error = 0;
  DWORD attributes;
  if (!paths->fresh[0] || !plain_file_attributes(paths->library, &attributes)) return LIBRARY_KEPT;
  const int nt = nt_family();
  if (!free_working_name(paths->fresh)) return LIBRARY_KEPT;
  HANDLE file = create_working_file(paths->fresh, nt);
  if (file == INVALID_HANDLE_VALUE) return LIBRARY_KEPT;
  int copied = write_copy(payload, digest, file, payload_error);
  CloseHandle(file);
  Replacement placed = LIBRARY_KEPT;
  if (copied) {
    SetFileAttributesA(paths->library, FILE_ATTRIBUTE_NORMAL);
    placed = put_in_place(paths, nt);
    if (placed != LIBRARY_SET_ASIDE)
      SetFileAttributesA(paths->library, placed == LIBRARY_REPLACED ? FILE_ATTRIBUTE_NORMAL : attributes);
  }
  if (placed == LIBRARY_KEPT) DeleteFileA(paths->fresh);
  return placed;
}

// Only the 9x exchange ever sets a library aside, and Windows 9x knows no
// links: a set-aside name on the NT family is not the updater's, and is
// never touched, nor where the family is not known. On 9x it can be nothing
// but a plain file, and whoever could have made it there could have made the
// library itself.
void repair_set_aside(const LibraryPaths *libraries, int pairs) {
  DWORD family;
  if (!platform_family(&family) || family == VER_PLATFORM_WIN32_NT) return;
  for (const LibraryPaths *paths = libraries; paths < libraries + pairs; ++paths) {
    // A rename never goes over an existing name: a library in place stays,
    // and its old copy goes.
    if (!paths->aside[0] || MoveFileA(paths->aside, paths->library)) continue;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) DeleteFileA(paths->aside);
  }
}

void clear_working_file(const LibraryPaths *paths) {
  if (paths->fresh[0]) DeleteFileA(paths->fresh);
}
