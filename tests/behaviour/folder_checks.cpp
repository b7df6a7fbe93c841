// Files reached relative to a folder's handle (NT family), through the
// updater's own door to a folder (src/kit/folder.h), once the folder's name
// has come to lead elsewhere: its handle keeps the folder it was opened on.
#include <string.h>

#include "check.h"
#include "kit/folder.h"

static int holds(const char *path, const char *bytes) {
  char read[64];
  int length = file_bytes(path, read, sizeof read);
  return length == static_cast<int>(strlen(bytes)) && memcmp(read, bytes, length) == 0;
}

static int reads(HANDLE file, const char *bytes) {
  char read[64];
  DWORD got = 0;
  int same = file != INVALID_HANDLE_VALUE && ReadFile(file, read, sizeof read, &got, NULL) && got == strlen(bytes) &&
             memcmp(read, bytes, got) == 0;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return same;
}

CHECK(files_stay_in_the_folder_first_opened) {
  if (nine_x_family()) return;  // Windows 9x reaches them by their paths
  make_folder(scratch("kit"));
  make_file(scratch("kit\\a.dll"), "ours", 4, FILE_ATTRIBUTE_ARCHIVE);
  Folder folder;
  open_folder(&folder, scratch("kit\\"));
  ok(folder.failure == 0, "the folder opened: error %u\n", folder.failure);
  // The folder is renamed away and its name given to another.
  ok(MoveFileA(scratch("kit"), scratch("away")), "folder renamed: error %u\n", GetLastError());
  make_folder(scratch("kit"));
  make_file(scratch("kit\\a.dll"), "theirs", 6, FILE_ATTRIBUTE_ARCHIVE);
  ok(reads(open_in(&folder, "a.dll", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), "ours"), "opened elsewhere\n");
  HANDLE made = open_in(&folder, "new.tmp", GENERIC_WRITE | DELETE, 0, CREATE_NEW);
  DWORD written = 0;
  ok(made != INVALID_HANDLE_VALUE && WriteFile(made, "new", 3, &written, NULL), "made: error %u\n", GetLastError());
  ok(file_attributes(scratch("away\\new.tmp")) != INVALID_FILE_ATTRIBUTES, "made elsewhere\n");
  // Renamed over the file under the name, and deleted, in the folder of
  // the handle. Wine acts there on the path the file was opened by, which
  // renaming the folder made stale: both land in the folder now of that
  // name. (A folder that is a link, repointed, keeps its real path there.)
  int renamed = rename_into(made, &folder, "a.dll");
  if (made != INVALID_HANDLE_VALUE) CloseHandle(made);
  int elsewhere = renamed && holds(scratch("away\\a.dll"), "new") && holds(scratch("kit\\a.dll"), "theirs");
  ok(elsewhere || broken(!elsewhere), "renamed elsewhere: %d\n", renamed);
  if (elsewhere) {
    ok(free_name(&folder, "a.dll") && holds(scratch("kit\\a.dll"), "theirs"), "deleted elsewhere\n");
    ok(file_attributes(scratch("away\\a.dll")) == INVALID_FILE_ATTRIBUTES, "not deleted\n");
  }
  close_folder(&folder);
}

// A rename that replaces a file fails while the file is open, whatever its
// sharing (MS-FSCC, FileRenameInformation), so the updater closes its
// handle on a library before the rename.
CHECK(replacing_rename_fails_while_the_target_is_open) {
  if (nine_x_family()) return;
  make_file(scratch("a.dll"), "old", 3, FILE_ATTRIBUTE_ARCHIVE);
  make_file(scratch("new.tmp"), "new", 3, FILE_ATTRIBUTE_ARCHIVE);
  Folder folder;
  open_folder(&folder, scratch(""));
  HANDLE target = open_in(&folder, "a.dll", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING);
  HANDLE made = open_in(&folder, "new.tmp", DELETE, FILE_SHARE_READ, OPEN_EXISTING);
  SetLastError(0xdeadbeef);
  int renamed = rename_into(made, &folder, "a.dll");
  // Wine renames over an open file as Unix does.
  ok((!renamed && GetLastError() == ERROR_ACCESS_DENIED) || broken(renamed), "renamed over an open file: %d, error %u\n",
     renamed, GetLastError());
  CloseHandle(target);
  if (!renamed) ok(rename_into(made, &folder, "a.dll"), "renamed once closed: error %u\n", GetLastError());
  CloseHandle(made);
  ok(holds(scratch("a.dll"), "new"), "replaced\n");
  close_folder(&folder);
}
