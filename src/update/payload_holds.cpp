#include "payload_holds.h"

#include "file_version.h"
#include "kit/own_path.h"
#include "kit/paths.h"
#include "payload_digest.h"
#include "platform/text.h"
#include "presence.h"
#include "replacement.h"

// Nobody else may write, delete or rename a held payload.
static const DWORD SHARED_WITH_OTHERS = FILE_SHARE_READ;

// A release's version comes with its digest: the release kit wrote it from
// the very bytes the digest covers, so it decides only for the bytes that
// are then installed. Reading it from the copy once made and checked would
// cost a copy of every payload in every installation, newer or not. A plain
// build has no digests and trusts its folder for versions: this read may go
// by name, since what it installs is only ever the bytes read through the
// hold, in the folder it started in.
static void read_version(HeldPayload *payload, const Folder *kit, LPCSTR name, LPCSTR recorded) {
  char path[MAX_PATH];
  if (recorded)
    payload->has_version = text_join(payload->version, VERSION_CAPACITY, recorded, "", "");
  else if (!payload->digest)
    payload->has_version =
        path_in(kit, name, path, MAX_PATH) && read_file_version(path, payload->version, VERSION_CAPACITY);
}

// NT: what the hold opened must be the payload itself, a file of the kit's
// own. A name that is a link would lead elsewhere: it is a payload that
// cannot be opened, for the system's reason "The file cannot be accessed by
// the system.", which is what it says of a name it will not follow. A file
// with another name beside ours (a hard link, which Windows long let a user
// make to a file they cannot write) may be someone else's: its attributes,
// which are every name's, are never changed through the hold, and a plain
// build, with no digest to tell its bytes from that other file's, never
// installs from it; "Access is denied." is nearest to that refusal. A
// release may, since its bytes must have their digest.
static DWORD refusal(HeldPayload *payload) {
  DWORD attributes, links;
  if (!file_facts(payload->file, &attributes, &links)) return failure_reason();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
  payload->linked = links > 1;
  return payload->linked && !payload->digest ? ERROR_ACCESS_DENIED : 0;
}

// The holds, most access first. On the NT family the first may delete the
// payload and clear its read-only attribute itself. Where the delete access
// is refused (another program reads the payload without sharing its
// deletion, a user without the right), the second may still clear the
// attribute, so that the payload can go at the restart, whose deletion
// refuses a read-only file; where even that is refused (Wine, run as a user,
// asks for Unix write access, which a read-only file denies), it is held for
// reading only, as the update pass needs, and a read-only payload then stays.
// Windows 9x knows only reading here.
static const DWORD HOLD_ACCESS[] = {GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                    GENERIC_READ};

static void hold_payload(HINSTANCE instance, const Folder *kit, int index, HeldPayload *payload) {
  LPCSTR name = PAYLOAD_NAMES[index];
  LPCSTR recorded;
  payload->bound = static_cast<BYTE>(payload_record(instance, index, &payload->digest, &recorded));
  payload->failure = file_open_failure(kit, name);
  if (payload->failure) return;
  read_version(payload, kit, name, recorded);
  for (int level = kit->nt ? 0 : 2; level < 3 && payload->file == INVALID_HANDLE_VALUE; ++level) {
    payload->file = open_in(kit, name, HOLD_ACCESS[level], SHARED_WITH_OTHERS, OPEN_EXISTING);
    payload->deletable = level == 0;
  }
  if (payload->file == INVALID_HANDLE_VALUE) {
    payload->failure = failure_reason();
    return;
  }
  if (kit->nt) payload->failure = refusal(payload);
  if (payload->failure) {
    CloseHandle(payload->file);
    payload->file = INVALID_HANDLE_VALUE;
    payload->deletable = 0;
    return;
  }
  payload->removable = payload->bound && !payload->digest;
}

void take_kit(HINSTANCE instance, Kit *kit) {
  bytes_zero(kit, sizeof *kit);
  open_folder(&kit->folder, own_folder());
  kit->executable = INVALID_HANDLE_VALUE;
  // Only for its read-only attribute at the clean-up: a running image
  // lets its attributes be written.
  if (kit->folder.nt) kit->executable = open_attributes(&kit->folder, own_name());
  for (int i = 0; i < MAX_PAIRS; ++i) kit->payloads[i].file = INVALID_HANDLE_VALUE;
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) hold_payload(instance, &kit->folder, i, &kit->payloads[i]);
}

void check_unread_payloads(HeldPayload *payloads) {
  for (int i = 0; i < MAX_PAIRS; ++i) {
    HeldPayload *payload = &payloads[i];
    if (payload->file != INVALID_HANDLE_VALUE && payload->digest && !payload->removable)
      payload->removable = static_cast<BYTE>(payload_has_digest(payload->file, payload->digest));
  }
}
