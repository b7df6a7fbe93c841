#include "self_removal.h"

#include "deferred_deletion.h"
#include "kit/own_path.h"
#include "platform/family.h"
#include "platform/text.h"

// A file left to the restart must not be read-only: the restart's deletion
// refuses such a file (Wine's wineboot deletes with DeleteFileW; ReactOS's
// session manager sets the delete disposition and leaves the attribute, and
// FAT and NTFS answer STATUS_CANNOT_DELETE). The attribute is cleared through
// the handle the run holds, and only on a plain file of the kit's own: one
// with another name beside ours shares its attributes with a file that may
// be anybody's. Where no handle of ours may clear it, it stays, and so does
// the file.
static void clear_read_only(HANDLE file) {
  DWORD attributes, links;
  if (file == INVALID_HANDLE_VALUE || !file_facts(file, &attributes, &links) || links != 1 ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_READONLY))
    return;
  attributes &= ~FILE_ATTRIBUTE_READONLY;
  set_attributes_through(file, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

// The system refuses to delete a read-only file: the hold makes it plain
// first, unless the file has another name, whose attributes are not ours.
// A failed reset is left for the deletion to report.
static int delete_through_hold(const HeldPayload *payload) {
  if (!payload->deletable) return 0;
  if (!payload->linked) set_attributes_through(payload->file, FILE_ATTRIBUTE_NORMAL);
  return delete_through(payload->file);
}

// The NT family: no name of the kit's is resolved again now, when the boxes
// may have waited for as long as anyone liked. A payload goes through the
// hold the run began with. The running executable cannot go before the
// process ends, and is not tried by name: it, and a payload that a program
// has loaded or that is held without delete access, is deleted at the next
// restart. That resolves the name again, at boot, but only a file of that
// very name can be reached then, and the object-manager links that could
// lead a name anywhere (those under \RPC Control) are gone by then.
//
// Windows 9x knows no links, and DOS refuses to delete a file that anyone
// holds open: the holds close first, then each file goes by its name.
int remove_self(Kit *kit) {
  DWORD family;
  if (!platform_family(&family)) return 0;
  const int nt = family == VER_PLATFORM_WIN32_NT;
  if (nt) {
    clear_read_only(kit->executable);
    delete_at_restart(own_path(), family);
  } else {
    release_payloads(kit->payloads);
    remove_file(own_path(), family);
  }
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) {
    const HeldPayload *payload = &kit->payloads[i];
    char path[MAX_PATH];
    bytes_zero(path, MAX_PATH);
    // A path that does not fit would name some other file: skip it.
    if (!payload_path(path, MAX_PATH, PAYLOAD_NAMES[i])) continue;
    // A release's payload goes only with its digest, on both families.
    if (!nt) {
      if (!payload->digest || payload->removable) remove_file(path, family);
    } else if (payload->removable && !delete_through_hold(payload)) {
      clear_read_only(payload->file);
      delete_at_restart(path, family);
    }
  }
  return 1;
}
