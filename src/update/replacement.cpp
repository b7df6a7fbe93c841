#include "replacement.h"

#include "kit/folder.h"
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
static int library_is_free(const Folder *folder, LPCSTR library) {
  HANDLE file = open_in(folder, library, GENERIC_WRITE, 0, OPEN_EXISTING);
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
static Replacement exchange_by_renames(const Folder *folder, int index) {
  LPCSTR library = TARGET_NAMES[index];
  char aside[ASIDE_NAME_SIZE];
  aside_name(aside, index);
  if (!library_is_free(folder, library)) return LIBRARY_KEPT;
  if (!free_name(folder, aside) || !move_in(folder, library, aside)) return LIBRARY_KEPT;
  if (!move_in(folder, FRESH_NAME, library))
    return move_in(folder, aside, library) ? LIBRARY_KEPT : LIBRARY_SET_ASIDE;
  free_name(folder, aside);
  return LIBRARY_REPLACED;
}

// On the NT family one rename of the new file, through its handle, replaces
// the library; it fails while a program has the library loaded.
static Replacement put_in_place(const Folder *folder, int index, HANDLE fresh) {
  if (!folder->nt) return exchange_by_renames(folder, index);
  return rename_into(fresh, folder, TARGET_NAMES[index]) ? LIBRARY_REPLACED : LIBRARY_KEPT;
}

// The library as the pass finds it. Its name must be a plain file of its
// own. One that is a link or another reparse point may lead anywhere, to a
// system file even, and an elevated run neither changes nor replaces
// whatever that is. One with another name beside it (a hard link) may be
// anybody's file: it may be replaced, as a name, but its attributes are
// every name's and are never changed. On NT the library is asked through a
// handle that changes its attributes too, and is closed before the rename:
// a rename that replaces a file fails while it is open (MS-FSCC,
// FileRenameInformation). Windows 9x has neither links nor reparse points,
// and changes attributes by name.
struct Library {
  HANDLE file;  // NT: for its attributes only
  DWORD attributes;
  DWORD links;
};

static int find_library(const Folder *folder, LPCSTR name, Library *library) {
  library->file = open_attributes(folder, name);
  if (library->file == INVALID_HANDLE_VALUE) return 0;
  if (file_facts(library->file, &library->attributes, &library->links) &&
      !(library->attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return 1;
  CloseHandle(library->file);
  library->file = INVALID_HANDLE_VALUE;
  return 0;
}

static void let_go(Library *library) {
  if (library->file != INVALID_HANDLE_VALUE) CloseHandle(library->file);
  library->file = INVALID_HANDLE_VALUE;
}

static void set_library_attributes(const Folder *folder, LPCSTR name, const Library *library, DWORD attributes) {
  if (library->links != 1) return;
  if (folder->nt)
    set_attributes_through(library->file, attributes);
  else
    set_attributes_in(folder, name, attributes);
}

// A library that keeps its old bytes gets its attributes back. On NT its
// handle was closed for the rename, and what stands under the name now is
// asked afresh: it is changed only as a plain file of its own.
static void restore_attributes(const Folder *folder, LPCSTR name, DWORD attributes) {
  Library again;
  if (!find_library(folder, name, &again)) return;
  set_library_attributes(folder, name, &again, attributes);
  let_go(&again);
}

void aside_name(LPSTR name, int index) {
  bytes_copy(name, ASIDE_NAME, sizeof ASIDE_NAME);
  name[ASIDE_NUMBER_AT] = static_cast<char>('1' + index);
}

// The library's attributes are cleared only for the renames, which a
// read-only library refuses, and come back when it keeps its old bytes. The
// new library ends plain, as the new file may not: NT marks a file it makes
// for archiving. Windows 9x renames no file that is open, so there the new
// file is closed once written.
Replacement replace_library(HANDLE payload, const BYTE *digest, const Folder *folder, int index,
                            DWORD *payload_error) {
  *payload_error = 0;
  LPCSTR name = TARGET_NAMES[index];
  Library library;
  if (!find_library(folder, name, &library)) return LIBRARY_KEPT;
  HANDLE fresh = free_name(folder, FRESH_NAME)
                     ? open_in(folder, FRESH_NAME, GENERIC_WRITE | DELETE, 0, CREATE_NEW)
                     : INVALID_HANDLE_VALUE;
  if (fresh == INVALID_HANDLE_VALUE) {
    let_go(&library);
    return LIBRARY_KEPT;
  }
  int copied = write_copy(payload, digest, fresh, payload_error);
  if (!folder->nt) {
    CloseHandle(fresh);
    fresh = INVALID_HANDLE_VALUE;
  }
  Replacement placed = LIBRARY_KEPT;
  if (copied) {
    set_library_attributes(folder, name, &library, FILE_ATTRIBUTE_NORMAL);
    let_go(&library);
    placed = put_in_place(folder, index, fresh);
    Library placed_file = {fresh, 0, 1};  // the new library, under its name
    if (placed == LIBRARY_REPLACED) set_library_attributes(folder, name, &placed_file, FILE_ATTRIBUTE_NORMAL);
    if (placed == LIBRARY_KEPT) restore_attributes(folder, name, library.attributes);
  }
  let_go(&library);
  if (placed == LIBRARY_KEPT && folder->nt) delete_through(fresh);
  if (placed == LIBRARY_KEPT && !folder->nt) free_name(folder, FRESH_NAME);
  if (fresh != INVALID_HANDLE_VALUE) CloseHandle(fresh);
  return placed;
}

// Only the 9x exchange ever sets a library aside, and Windows 9x knows no
// links: a set-aside name on the NT family is not the updater's, and is
// never touched, nor where the family is not known. On 9x it can be nothing
// but a plain file, and whoever could have made it there could have made the
// library itself.
DWORD repair_set_aside(const Folder *folder, int index) {
  DWORD family;
  if (!platform_family(&family) || family == VER_PLATFORM_WIN32_NT) return 0;
  LPCSTR library = TARGET_NAMES[index];
  char aside[ASIDE_NAME_SIZE];
  aside_name(aside, index);
  // A rename never goes over an existing name: a library in place stays,
  // and its old copy goes.
  if (move_in(folder, aside, library)) return 0;
  DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) free_name(folder, aside);
  // A copy that cannot go back (a scanner holds it) while its library's
  // name is empty is the library itself, set aside: lost without the kit.
  // A set-aside path too long to name is no copy at all.
  DWORD copy = file_open_failure(folder, aside), in_place = file_open_failure(folder, library);
  int lies_aside = copy != ERROR_FILE_NOT_FOUND && copy != ERROR_PATH_NOT_FOUND && copy != ERROR_FILENAME_EXCED_RANGE;
  return lies_aside && in_place == ERROR_FILE_NOT_FOUND ? error : 0;
}

void clear_working_file(const Folder *folder) { free_name(folder, FRESH_NAME); }
