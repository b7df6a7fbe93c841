#include "payload_holds.h"

#include "file_version.h"
#include "kit/own_path.h"
#include "kit/paths.h"
#include "payload_digest.h"
#include "platform/family.h"
#include "platform/text.h"
#include "presence.h"
#include "replacement.h"

// Nobody else may write, delete or rename a held payload. On the NT family
// the hold may delete the file and clear its read-only attribute itself.
static const DWORD SHARED_WITH_OTHERS = FILE_SHARE_READ;
static const DWORD NT_HOLD_ACCESS = GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES;
static const DWORD NT_HOLD_FLAGS = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

static HANDLE open_hold(LPCSTR path, DWORD access, DWORD flags) {
  return CreateFileA(path, access, SHARED_WITH_OTHERS, 0, OPEN_EXISTING, flags, 0);
}

// A release's version comes with its digest: the release kit wrote it from
// the very bytes the digest covers, so it decides only for the bytes that
// are then installed. Reading it from the copy once made and checked would
// cost a copy of every payload in every installation, newer or not. A plain
// build has no digests and trusts its folder: it reads the version by name.
static void read_version(HeldPayload *payload, LPCSTR path, LPCSTR recorded) {
  if (recorded)
    payload->has_version = text_join(payload->version, VERSION_CAPACITY, recorded, "", "");
  else if (!payload->digest)
    payload->has_version = read_file_version(path, payload->version, VERSION_CAPACITY);
}

// Where the delete access is refused (another program reads the payload
// without sharing its deletion, a user without the right), the payload is
// held for reading only, as the update pass needs, and the clean-up leaves
// it to the restart.
static void hold_payload(HINSTANCE instance, int index, HeldPayload *payload, int nt) {
  char path[WHOLE_PATH_CAPACITY];
  bytes_zero(path, WHOLE_PATH_CAPACITY);
  payload_path(path, WHOLE_PATH_CAPACITY, PAYLOAD_NAMES[index]);
  LPCSTR recorded;
  payload->bound = static_cast<BYTE>(payload_record(instance, index, &payload->digest, &recorded));
  payload->failure = open_failure(path);
  if (payload->failure) return;
  read_version(payload, path, recorded);
  if (nt) payload->file = open_hold(path, NT_HOLD_ACCESS, NT_HOLD_FLAGS);
  payload->deletable = payload->file != INVALID_HANDLE_VALUE;
  if (!payload->deletable) payload->file = open_hold(path, GENERIC_READ, nt ? NT_HOLD_FLAGS : FILE_ATTRIBUTE_NORMAL);
  if (payload->file == INVALID_HANDLE_VALUE)
    payload->failure = failure_reason();
  else
    payload->removable = payload->bound && !payload->digest;
}

void hold_payloads(HINSTANCE instance, HeldPayload *payloads) {
  DWORD family;
  const int nt = platform_family(&family) && family == VER_PLATFORM_WIN32_NT;
  bytes_zero(payloads, MAX_PAIRS * sizeof *payloads);
  for (int i = 0; i < MAX_PAIRS; ++i) payloads[i].file = INVALID_HANDLE_VALUE;
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0]; ++i) hold_payload(instance, i, &payloads[i], nt);
}

void check_unread_payloads(HeldPayload *payloads) {
  for (int i = 0; i < MAX_PAIRS; ++i) {
    HeldPayload *payload = &payloads[i];
    if (payload->file != INVALID_HANDLE_VALUE && payload->digest && !payload->removable)
      payload->removable = static_cast<BYTE>(payload_has_digest(payload->file, payload->digest));
  }
}
