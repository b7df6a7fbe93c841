#include "self_removal.h"

#include "deferred_deletion.h"
#include "platform/text.h"
#include "run/own_path.h"
#include "update/paths.h"
#include "update/payload_table.h"

int remove_self() {
  OSVERSIONINFOA version;
  bytes_zero(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return 0;
  remove_file(g_own_path, version.dwPlatformId);
  char drive[DRIVE_CAPACITY];
  char directory[DIRECTORY_CAPACITY];
  if (!split_own_path(g_own_path, drive, directory, DIRECTORY_CAPACITY)) return 1;
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) {
    char path[MAX_PATH];
    bytes_zero(path, MAX_PATH);
    // A path that does not fit would name some other file: skip it.
    if (join_payload_path(path, MAX_PATH, drive, directory, PAYLOAD_NAMES[i])) remove_file(path, version.dwPlatformId);
  }
  return 1;
}
