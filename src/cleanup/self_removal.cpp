#include "self_removal.h"

#include "deferred_deletion.h"
#include "handle_deletion.h"
#include "kit/own_path.h"
#include "platform/family.h"
#include "platform/text.h"

// Windows 9x knows no links, and DOS refuses to delete a file that anyone
// holds open: the holds close first, then each file goes by its name.
static void remove_by_name(HeldPayload *payloads, DWORD family) {
  release_payloads(payloads);
  remove_file(own_path(), family);
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) {
    char path[MAX_PATH];
    bytes_zero(path, MAX_PATH);
    // A path that does not fit would name some other file: skip it.
    if (payload_path(path, MAX_PATH, PAYLOAD_NAMES[i])) remove_file(path, family);
  }
}

// The NT family: no name of the kit's is resolved again now, when the boxes
// may have waited for as long as anyone liked. A payload goes through the
// hold the run began with. The running executable cannot go before the
// process ends, and is not tried by name: it, and a payload that a program
// has loaded or that is held without delete access, is deleted at the next
// restart. That resolves the name again, at boot, but only a file of that
// very name can be reached then, and the object-manager links that could
// lead a name anywhere (those under \RPC Control) are gone by then.
static void remove_held(HeldPayload *payloads) {
  delete_at_restart(own_path(), VER_PLATFORM_WIN32_NT);
  for (int i = 0; i < MAX_PAIRS; ++i) {
    HeldPayload *payload = &payloads[i];
    if (!payload->removable || (payload->deletable && delete_through_handle(payload->file))) continue;
    char path[MAX_PATH];
    bytes_zero(path, MAX_PATH);
    if (payload_path(path, MAX_PATH, PAYLOAD_NAMES[i])) delete_at_restart(path, VER_PLATFORM_WIN32_NT);
  }
}

int remove_self(HeldPayload *payloads) {
  DWORD family;
  if (!platform_family(&family)) return 0;
  if (family == VER_PLATFORM_WIN32_NT)
    remove_held(payloads);
  else
    remove_by_name(payloads, family);
  return 1;
}
