// Files: sharing, attributes, copying, deleting, deletion at the next restart.
#include <string.h>

#include "check.h"
#include "kit/folder.h"

static HANDLE open_for(const char *path, DWORD access, DWORD share) {
  return CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Opens with the access and sharing given and reports the error, 0 when
// the open succeeded (the handle is closed again).
static DWORD open_error(const char *path, DWORD access, DWORD share) {
  SetLastError(0xdeadbeef);
  HANDLE handle = open_for(path, access, share);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(handle);
  return 0;
}

// The error of a delete that meets an open handle: a sharing violation on
// NT; DOS, and so Windows 9x, answers "access denied" (Wine plays 98 by
// NT's rules).
static DWORD open_file_deletion_error() {
  if (!nine_x_family()) return ERROR_SHARING_VIOLATION;
  return broken(GetLastError() == ERROR_SHARING_VIOLATION) ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
}

static int has_bytes(const char *path, const char *bytes) {
  char read[64];
  int length = file_bytes(path, read, sizeof read);
  return length == static_cast<int>(strlen(bytes)) && memcmp(read, bytes, length) == 0;
}

static void make_text_file(const char *path, const char *text, DWORD attributes) {
  make_file(path, text, static_cast<DWORD>(strlen(text)), attributes);
}

// ---- Opening ------------------------------------------------------------------

CHECK(open_names_what_is_missing) {
  make_text_file(scratch("present.dll"), "x", FILE_ATTRIBUTE_ARCHIVE);
  DWORD error = open_error(scratch("missing.dll"), 0, 0);
  ok(error == ERROR_FILE_NOT_FOUND, "missing file: error %u\n", error);
  error = open_error(scratch("missing\\file.dll"), 0, 0);
  ok(error == ERROR_PATH_NOT_FOUND, "missing folder: error %u\n", error);
  error = open_error("Q:\\checks\\file.dll", 0, 0);
  ok(error == ERROR_PATH_NOT_FOUND, "missing drive: error %u\n", error);
  error = open_error(scratch(""), 0, 0);
  ok(error == ERROR_ACCESS_DENIED, "a folder: error %u\n", error);

  // The ANSI functions convert a path in a buffer of MAX_PATH + 1
  // characters: a longer one never reaches the file system.
  char path[MAX_PATH + 2];
  const int head = static_cast<int>(strlen(scratch("")));
  memset(path, 'a', sizeof path);
  memcpy(path, scratch(""), head);
  path[head] = '\\';
  path[MAX_PATH - 1] = 0;
  error = open_error(path, 0, 0);
  ok(error == ERROR_FILE_NOT_FOUND, "missing file of MAX_PATH - 1 bytes: error %u\n", error);
  path[MAX_PATH - 1] = 'a';
  path[MAX_PATH + 1] = 0;
  error = open_error(path, 0, 0);
  ok(error == ERROR_FILENAME_EXCED_RANGE, "MAX_PATH + 1 bytes: error %u\n", error);
}

// ---- Sharing ----------------------------------------------------------------

CHECK(open_without_data_access_passes_every_hold) {
  const char *held = scratch("held.dll");
  make_text_file(held, "held", FILE_ATTRIBUTE_ARCHIVE);
  hold_exclusive(held);
  // Windows 9x opens the DOS way, where every open reads and an open that
  // shares nothing fails while anyone has the file open. Wine plays 98 by
  // NT's rules.
  DWORD error = open_error(held, 0, 0);
  if (nine_x_family())
    ok(error == ERROR_SHARING_VIOLATION || broken(error == 0),
       "9x: open without access next to an exclusive reader: error %u\n", error);
  else
    ok(error == 0, "open without access next to an exclusive reader: error %u\n", error);
  error = open_error(held, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ok(error == ERROR_SHARING_VIOLATION, "reading next to an exclusive reader: error %u\n", error);

  const char *library = scratch("loaded.dll");
  make_library(library, LIBRARY_ENGLISH);
  hold_module(library);
  error = open_error(library, 0, 0);
  if (nine_x_family())
    ok(error == ERROR_SHARING_VIOLATION || broken(error == 0),
       "9x: open without access of a loaded library: error %u\n", error);
  else
    ok(error == 0, "open without access of a loaded library: error %u\n", error);
}

CHECK(handles_of_our_own_take_part_in_the_share_check) {
  const char *path = scratch("shared.dll");
  make_text_file(path, "shared", FILE_ATTRIBUTE_ARCHIVE);
  HANDLE first = open_for(path, GENERIC_READ, FILE_SHARE_READ);
  ok(first != INVALID_HANDLE_VALUE, "first reader: error %u\n", GetLastError());
  DWORD error = open_error(path, GENERIC_READ, FILE_SHARE_READ);
  ok(error == 0, "a second reader sharing reading: error %u\n", error);
  error = open_error(path, GENERIC_WRITE, FILE_SHARE_READ);
  ok(error == ERROR_SHARING_VIOLATION, "a writer next to a reader that does not share writing: error %u\n", error);
  error = open_error(path, GENERIC_READ, 0);
  ok(error == ERROR_SHARING_VIOLATION, "a reader that does not share reading: error %u\n", error);
  SetLastError(0xdeadbeef);
  BOOL ret = DeleteFileA(path);
  ok(!ret && GetLastError() == open_file_deletion_error(), "delete of an open file: %d, error %u\n", ret,
     GetLastError());
  CloseHandle(first);
  ret = DeleteFileA(path);
  ok(ret && file_attributes(path) == INVALID_FILE_ATTRIBUTES, "delete once closed: %d, error %u\n", ret,
     GetLastError());
}

static void check_running_module(const char *path, const char *what) {
  DWORD error = open_error(path, GENERIC_READ, FILE_SHARE_READ);
  ok(error == 0, "%s: reading: error %u\n", what, error);
  error = open_error(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ok(error == 0, "%s: reading, sharing writing too: error %u\n", what, error);
  // On NT the mapped image keeps no share access of its own: even a reader
  // that refuses to share gets in. Writing is what it forbids. The 9x
  // loader keeps the file open, sharing only reads (Wine plays 98 by NT's
  // rules).
  error = open_error(path, GENERIC_READ, 0);
  if (nine_x_family())
    ok(error == ERROR_SHARING_VIOLATION || broken(error == 0), "9x: %s: reading without sharing: error %u\n", what,
       error);
  else
    ok(error == 0, "%s: reading without sharing: error %u\n", what, error);
  error = open_error(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ok(error == ERROR_SHARING_VIOLATION, "%s: writing: error %u\n", what, error);
}

CHECK(loaded_library_may_be_read_but_not_written) {
  const char *library = scratch("loaded.dll");
  const char *source = scratch("new.dll");
  make_library(library, LIBRARY_ENGLISH);
  make_library(source, LIBRARY_SECOND_TRANSLATION);
  hold_module(library);
  check_running_module(library, "loaded library");
  SetLastError(0xdeadbeef);
  BOOL ret = CopyFileA(source, library, FALSE);
  ok(!ret && GetLastError() == ERROR_SHARING_VIOLATION, "copy over it: %d, error %u\n", ret, GetLastError());
}

CHECK(running_program_may_be_read_but_not_written) { check_running_module(own_module(), "running program"); }

CHECK(exclusive_reader_blocks_readers_writers_and_deletion) {
  const char *held = scratch("held.dll");
  const char *copy = scratch("copy.dll");
  make_text_file(held, "held", FILE_ATTRIBUTE_ARCHIVE);
  hold_exclusive(held);
  SetLastError(0xdeadbeef);
  BOOL ret = CopyFileA(held, copy, FALSE);
  ok(!ret && GetLastError() == ERROR_SHARING_VIOLATION, "copy from: %d, error %u\n", ret, GetLastError());
  SetLastError(0xdeadbeef);
  ret = DeleteFileA(held);
  ok(!ret && GetLastError() == open_file_deletion_error(), "delete: %d, error %u\n", ret, GetLastError());
  // Attributes are no data: changing them needs no share.
  ret = SetFileAttributesA(held, FILE_ATTRIBUTE_READONLY);
  ok(ret, "attributes: error %u\n", GetLastError());
}

// ---- Attributes ---------------------------------------------------------------

CHECK(attributes_keep_only_what_may_be_set) {
  const char *path = scratch("file.dll");
  make_text_file(path, "x", FILE_ATTRIBUTE_ARCHIVE);
  BOOL ret = SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  DWORD attributes = file_attributes(path);
  ok(ret && attributes == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), "read-only: %d, 0x%x\n", ret, attributes);

  // Wine reports every file as ARCHIVE, whatever was set.
  ret = SetFileAttributesA(path, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  attributes = file_attributes(path);
  ok(ret && (attributes == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) ||
             broken(attributes == (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE))),
     "hidden and system: %d, 0x%x\n", ret, attributes);

  // NORMAL stands for no attribute at all.
  ret = SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  attributes = file_attributes(path);
  ok(ret && (attributes == FILE_ATTRIBUTE_NORMAL || broken(attributes == FILE_ATTRIBUTE_ARCHIVE)), "normal: %d, 0x%x\n",
     ret, attributes);
  ret = SetFileAttributesA(path, 0);
  attributes = file_attributes(path);
  ok(ret && (attributes == FILE_ATTRIBUTE_NORMAL || broken(attributes == FILE_ATTRIBUTE_ARCHIVE)), "none: %d, 0x%x\n",
     ret, attributes);
  // NORMAL beside another attribute is dropped.
  ret = SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY);
  attributes = file_attributes(path);
  ok(ret && (attributes == FILE_ATTRIBUTE_READONLY ||
             broken(attributes == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE))),
     "normal and read-only: %d, 0x%x\n", ret, attributes);
}

CHECK(attributes_of_missing_files_cannot_be_set) {
  SetLastError(0xdeadbeef);
  BOOL ret = SetFileAttributesA(scratch("missing.dll"), FILE_ATTRIBUTE_NORMAL);
  ok(!ret && GetLastError() == ERROR_FILE_NOT_FOUND, "missing file: %d, error %u\n", ret, GetLastError());
  SetLastError(0xdeadbeef);
  ret = SetFileAttributesA(scratch("missing\\file.dll"), FILE_ATTRIBUTE_NORMAL);
  ok(!ret && GetLastError() == ERROR_PATH_NOT_FOUND, "missing folder: %d, error %u\n", ret, GetLastError());
}

CHECK(read_only_file_refuses_writers_and_deletion) {
  const char *path = scratch("locked.dll");
  make_text_file(path, "locked", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  DWORD error = open_error(path, GENERIC_WRITE, FILE_SHARE_READ);
  ok(error == ERROR_ACCESS_DENIED, "writing: error %u\n", error);
  error = open_error(path, GENERIC_READ, FILE_SHARE_READ);
  ok(error == 0, "reading: error %u\n", error);
  SetLastError(0xdeadbeef);
  BOOL ret = DeleteFileA(path);
  ok(!ret && GetLastError() == ERROR_ACCESS_DENIED, "delete: %d, error %u\n", ret, GetLastError());
  ok(has_bytes(path, "locked"), "the file is still there\n");
  ok(SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) && DeleteFileA(path), "delete once writable: error %u\n",
     GetLastError());
}

// ---- Copying --------------------------------------------------------------------

CHECK(copy_replaces_the_bytes_and_carries_the_attributes) {
  const char *source = scratch("new.dll");
  const char *target = scratch("old.dll");
  make_text_file(source, "new", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  make_text_file(target, "old", FILE_ATTRIBUTE_ARCHIVE);
  BOOL ret = CopyFileA(source, target, FALSE);
  ok(ret, "copy over an older file: error %u\n", GetLastError());
  ok(has_bytes(target, "new"), "the target holds the new bytes\n");
  // Wine 8.0 leaves the copy writable: it does not carry READONLY over.
  DWORD attributes = file_attributes(target);
  ok(attributes == (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE) || broken(attributes == FILE_ATTRIBUTE_ARCHIVE),
     "attributes of the copy 0x%x\n", attributes);

  // The copied read-only attribute now stands in the way of the next copy
  // (under Wine there is none to stand in the way).
  SetLastError(0xdeadbeef);
  ret = CopyFileA(source, target, FALSE);
  ok((!ret && GetLastError() == ERROR_ACCESS_DENIED) || broken(ret && attributes == FILE_ATTRIBUTE_ARCHIVE),
     "copy over the read-only copy: %d, error %u\n", ret, GetLastError());

  const char *fresh = scratch("fresh.dll");
  ret = CopyFileA(source, fresh, TRUE);
  ok(ret && has_bytes(fresh, "new"), "copy to a new name: %d, error %u\n", ret, GetLastError());
}

CHECK(copy_that_must_not_overwrite_fails_with_file_exists) {
  const char *source = scratch("new.dll");
  const char *target = scratch("old.dll");
  make_text_file(source, "new", FILE_ATTRIBUTE_ARCHIVE);
  make_text_file(target, "old", FILE_ATTRIBUTE_ARCHIVE);
  SetLastError(0xdeadbeef);
  BOOL ret = CopyFileA(source, target, TRUE);
  ok(!ret && GetLastError() == ERROR_FILE_EXISTS, "%d, error %u\n", ret, GetLastError());
  ok(has_bytes(target, "old"), "the target is untouched\n");
}

// A file made new: refused where anything bears its name, and shared with
// nobody while open. Writing needs write access; the last-write time given
// before the close is the one that stays.
CHECK(new_file_is_made_only_where_its_name_is_free) {
  const char *present = scratch("present.tmp");
  const char *fresh = scratch("fresh.tmp");
  make_text_file(present, "theirs", FILE_ATTRIBUTE_ARCHIVE);
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (nine_x_family() ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  SetLastError(0xdeadbeef);
  HANDLE file = CreateFileA(present, GENERIC_WRITE, 0, NULL, CREATE_NEW, flags, NULL);
  ok(file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS, "over a file: error %u\n", GetLastError());
  ok(has_bytes(present, "theirs"), "the file is untouched\n");

  FILETIME kept = {0, 0}, written = {0, 0};
  HANDLE reader = open_for(present, GENERIC_READ, FILE_SHARE_READ);
  ok(GetFileTime(reader, NULL, NULL, &kept), "time of a file open for reading: error %u\n", GetLastError());
  DWORD put = 7;
  SetLastError(0xdeadbeef);
  ok(!WriteFile(reader, "x", 1, &put, NULL) && GetLastError() == ERROR_ACCESS_DENIED && put == 0,
     "write through a reading handle: error %u, count %u\n", GetLastError(), put);
  file = CreateFileA(fresh, GENERIC_WRITE, 0, NULL, CREATE_NEW, flags, NULL);
  ok(file != INVALID_HANDLE_VALUE, "a free name: error %u\n", GetLastError());
  DWORD error = open_error(fresh, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  ok(error == ERROR_SHARING_VIOLATION, "opening it meanwhile: error %u\n", error);
  ok(WriteFile(file, "new", 3, &put, NULL) && put == 3, "write: error %u, count %u\n", GetLastError(), put);
  ok(SetFileTime(file, NULL, NULL, &kept), "setting the time: error %u\n", GetLastError());
  ok(FlushFileBuffers(file), "flush: error %u\n", GetLastError());
  CloseHandle(file);
  CloseHandle(reader);
  ok(has_bytes(fresh, "new"), "the new file holds what was written\n");
  reader = open_for(fresh, GENERIC_READ, FILE_SHARE_READ);
  ok(GetFileTime(reader, NULL, NULL, &written) && written.dwLowDateTime == kept.dwLowDateTime &&
         written.dwHighDateTime == kept.dwHighDateTime,
     "the time given stays: error %u\n", GetLastError());
  CloseHandle(reader);

  SetLastError(0xdeadbeef);
  ok(GetFileAttributesA(scratch("missing.tmp")) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND,
     "attributes of a missing file: error %u\n", GetLastError());
  ok(GetFileAttributesA(scratch("")) & FILE_ATTRIBUTE_DIRECTORY, "a folder's attributes\n");
}

// The target is created over the old file with the source's attributes;
// Windows refuses that for a hidden or system file unless they match.
// Wine overwrites hidden and system files (it refuses read-only ones).
CHECK(copy_refuses_read_only_hidden_and_system_targets) {
  const char *source = scratch("new.dll");
  make_text_file(source, "new", FILE_ATTRIBUTE_ARCHIVE);
  static const DWORD refused[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM};
  for (DWORD attributes : refused) {
    const char *target = scratch(attributes == FILE_ATTRIBUTE_READONLY ? "read-only.dll"
                                 : attributes == FILE_ATTRIBUTE_HIDDEN ? "hidden.dll"
                                                                       : "system.dll");
    const int wine_overwrites = attributes != FILE_ATTRIBUTE_READONLY;
    make_text_file(target, "old", attributes | FILE_ATTRIBUTE_ARCHIVE);
    SetLastError(0xdeadbeef);
    BOOL ret = CopyFileA(source, target, FALSE);
    ok((!ret && GetLastError() == ERROR_ACCESS_DENIED) || broken(ret && wine_overwrites), "target 0x%x: %d, error %u\n",
       attributes, ret, GetLastError());
    ok(has_bytes(target, "old") || broken(wine_overwrites), "target 0x%x is untouched\n", attributes);
  }

  const char *hidden_source = scratch("hidden-new.dll");
  const char *hidden_target = scratch("hidden-old.dll");
  make_text_file(hidden_source, "new", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  make_text_file(hidden_target, "old", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  BOOL ret = CopyFileA(hidden_source, hidden_target, FALSE);
  ok(ret && has_bytes(hidden_target, "new"), "hidden onto hidden: %d, error %u\n", ret, GetLastError());
}

CHECK(copy_onto_itself_collides_with_its_own_read) {
  const char *path = scratch("self.dll");
  make_text_file(path, "self", FILE_ATTRIBUTE_ARCHIVE);
  SetLastError(0xdeadbeef);
  BOOL ret = CopyFileA(path, path, FALSE);
  ok(!ret && GetLastError() == ERROR_SHARING_VIOLATION, "same name: %d, error %u\n", ret, GetLastError());
  SetLastError(0xdeadbeef);
  ret = CopyFileA(path, scratch("SELF.DLL"), FALSE);
  ok(!ret && GetLastError() == ERROR_SHARING_VIOLATION, "other case: %d, error %u\n", ret, GetLastError());
  ok(has_bytes(path, "self"), "the file keeps its bytes\n");
}

CHECK(copy_names_what_is_missing) {
  const char *source = scratch("new.dll");
  make_text_file(source, "new", FILE_ATTRIBUTE_ARCHIVE);
  SetLastError(0xdeadbeef);
  BOOL ret = CopyFileA(scratch("missing.dll"), scratch("target.dll"), FALSE);
  ok(!ret && GetLastError() == ERROR_FILE_NOT_FOUND, "missing source: %d, error %u\n", ret, GetLastError());
  SetLastError(0xdeadbeef);
  ret = CopyFileA(scratch("missing\\new.dll"), scratch("target.dll"), FALSE);
  ok(!ret && GetLastError() == ERROR_PATH_NOT_FOUND, "source in a missing folder: %d, error %u\n", ret, GetLastError());
  SetLastError(0xdeadbeef);
  ret = CopyFileA(source, scratch("missing\\target.dll"), FALSE);
  ok(!ret && GetLastError() == ERROR_PATH_NOT_FOUND, "target in a missing folder: %d, error %u\n", ret, GetLastError());
  ok(file_attributes(scratch("target.dll")) == INVALID_FILE_ATTRIBUTES, "nothing was made\n");
}

// ---- Deleting -------------------------------------------------------------------

CHECK(delete_refuses_read_only_files_and_running_modules) {
  const char *library = scratch("loaded.dll");
  make_library(library, LIBRARY_ENGLISH);
  hold_module(library);
  SetLastError(0xdeadbeef);
  BOOL ret = DeleteFileA(library);
  ok(!ret && GetLastError() == ERROR_ACCESS_DENIED, "loaded library: %d, error %u\n", ret, GetLastError());
  ok(file_attributes(library) != INVALID_FILE_ATTRIBUTES, "the loaded library is still there\n");
  SetLastError(0xdeadbeef);
  ret = DeleteFileA(own_module());
  ok(!ret && GetLastError() == ERROR_ACCESS_DENIED, "running program: %d, error %u\n", ret, GetLastError());

  const char *plain = scratch("plain.dll");
  make_text_file(plain, "plain", FILE_ATTRIBUTE_ARCHIVE);
  ret = DeleteFileA(plain);
  ok(ret && file_attributes(plain) == INVALID_FILE_ATTRIBUTES, "plain file: %d, error %u\n", ret, GetLastError());
}

// Windows drops the blanks and dots that end the last component of a
// name, so "x " and "x." both name "x"; a folder "d " in the middle keeps
// its blank.
CHECK(names_lose_the_blanks_and_dots_that_end_them) {
  make_text_file(scratch("x"), "plain", FILE_ATTRIBUTE_ARCHIVE);
  make_text_file(scratch("x "), "blank", FILE_ATTRIBUTE_ARCHIVE);
  ok(DeleteFileA(scratch("x ")), "delete \"x \": error %u\n", GetLastError());
  ok(file_attributes(scratch("x")) == INVALID_FILE_ATTRIBUTES, "\"x\" was not the one deleted\n");
  ok(has_bytes(scratch("x "), "blank"), "\"x \" was deleted\n");

  make_text_file(scratch("y"), "plain", FILE_ATTRIBUTE_ARCHIVE);
  make_text_file(scratch("y."), "dot", FILE_ATTRIBUTE_ARCHIVE);
  ok(SetFileAttributesA(scratch("y. ."), FILE_ATTRIBUTE_READONLY), "attributes of \"y. .\": error %u\n",
     GetLastError());
  ok(file_attributes(scratch("y")) & FILE_ATTRIBUTE_READONLY, "\"y\" did not become read-only\n");
  ok(!(file_attributes(scratch("y.")) & FILE_ATTRIBUTE_READONLY), "\"y.\" became read-only\n");
  SetFileAttributesA(scratch("y"), FILE_ATTRIBUTE_NORMAL);

  make_folder(scratch("d "));
  make_text_file(scratch("d \\f"), "inner", FILE_ATTRIBUTE_ARCHIVE);
  ok(CopyFileA(scratch("x "), scratch("d \\g"), FALSE) == FALSE, "copy from a name that is gone\n");
  ok(DeleteFileA(scratch("d \\f")), "delete in \"d \": error %u\n", GetLastError());
  ok(file_attributes(scratch("d \\f")) == INVALID_FILE_ATTRIBUTES, "\"d \\f\" is still there\n");
}

CHECK(delete_names_what_is_missing) {
  SetLastError(0xdeadbeef);
  BOOL ret = DeleteFileA(scratch("missing.dll"));
  ok(!ret && GetLastError() == ERROR_FILE_NOT_FOUND, "missing file: %d, error %u\n", ret, GetLastError());
  SetLastError(0xdeadbeef);
  ret = DeleteFileA(scratch("missing\\file.dll"));
  ok(!ret && GetLastError() == ERROR_PATH_NOT_FOUND, "missing folder: %d, error %u\n", ret, GetLastError());
}

// ---- Deletion at the next restart ---------------------------------------------------

CHECK(delayed_deletion_is_recorded_and_not_done) {
  const char *library = scratch("loaded.dll");
  make_library(library, LIBRARY_ENGLISH);
  hold_module(library);
  SetLastError(0xdeadbeef);
  BOOL ret = MoveFileExA(library, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
  char recorded[MAX_PATH] = "";
  int count = 0;
  while (pending_deletion(count, recorded, sizeof recorded)) ++count;
  const int found = count > 0 && strcmp(recorded, library) == 0;
  if (nine_x_family()) {
    // Windows 9x has only the entry point. Wine schedules the deletion
    // whatever version it plays.
    ok((!ret && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) || broken(ret && found), "9x: %d, error %u\n", ret,
       GetLastError());
    ok(!found || broken(found), "9x records nothing, last of %d: %s\n", count, recorded);
  } else {
    ok(ret, "NT: error %u\n", GetLastError());
    ok(found, "NT records the path, last of %d: %s\n", count, recorded);
  }
  ok(file_attributes(library) != INVALID_FILE_ATTRIBUTES, "the file is still there\n");
}

// ---- A folder's handle (NT family) ---------------------------------------------
// Files reached through the updater's door to a folder (src/kit/folder.h),
// once the folder was renamed away and its name given to another: opens and
// creations stay where the handle was opened. A rename that replaces a file
// fails while the file is open (MS-FSCC, FileRenameInformation), whatever
// its sharing.
CHECK(files_stay_in_the_folder_first_opened) {
  if (nine_x_family()) return;  // Windows 9x reaches them by their paths
  make_folder(scratch("kit"));
  make_text_file(scratch("kit\\a.dll"), "ours", FILE_ATTRIBUTE_ARCHIVE);
  make_text_file(scratch("kit\\b.tmp"), "b", FILE_ATTRIBUTE_ARCHIVE);
  Folder folder;
  open_folder(&folder, scratch("kit\\"));
  HANDLE target = open_in(&folder, "a.dll", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
  HANDLE other = open_in(&folder, "b.tmp", DELETE, FILE_SHARE_READ, OPEN_EXISTING);
  ok(!rename_into(other, &folder, "a.dll") && GetLastError() == ERROR_ACCESS_DENIED, "renamed over an open file\n");
  CloseHandle(other);
  CloseHandle(target);
  ok(MoveFileA(scratch("kit"), scratch("away")), "folder renamed: error %u\n", GetLastError());
  make_folder(scratch("kit"));
  make_text_file(scratch("kit\\a.dll"), "theirs", FILE_ATTRIBUTE_ARCHIVE);
  target = open_in(&folder, "a.dll", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  char read[8];
  DWORD got = 0;
  ok(ReadFile(target, read, sizeof read, &got, NULL) && got == 4 && !memcmp(read, "ours", 4), "opened elsewhere\n");
  CloseHandle(target);
  HANDLE made = open_in(&folder, "new.tmp", GENERIC_WRITE | DELETE, 0, CREATE_NEW);
  ok(WriteFile(made, "new", 3, &got, NULL) && file_attributes(scratch("away\\new.tmp")) != INVALID_FILE_ATTRIBUTES,
     "made elsewhere\n");
  // Wine renames and deletes by the path the file was opened by, which the
  // folder's rename made stale: both land in the folder now of that name.
  int renamed = rename_into(made, &folder, "a.dll");
  CloseHandle(made);
  int elsewhere = renamed && has_bytes(scratch("away\\a.dll"), "new") && has_bytes(scratch("kit\\a.dll"), "theirs");
  ok(elsewhere || broken(!elsewhere), "renamed elsewhere: %d\n", renamed);
  if (elsewhere)
    ok(free_name(&folder, "a.dll") && file_attributes(scratch("away\\a.dll")) == INVALID_FILE_ATTRIBUTES &&
           has_bytes(scratch("kit\\a.dll"), "theirs"),
       "deleted elsewhere\n");
  close_folder(&folder);
}
