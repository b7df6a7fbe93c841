// The payloads bound to the executable: a release build carries the SHA-256
// of each payload, in the order of the payload table, as one RCDATA
// resource. A plain build carries none, and its payloads are taken as they
// are.
#pragma once

#include "platform/platform.h"

// The resource's id; the build writes it (cmake/win32.cmake, digests.rc).
enum { PAYLOAD_DIGESTS_ID = 1 };

// Before the payload of pair index is used at all. Without digests:
// INVALID_HANDLE_VALUE at once, nothing held. With them: opens the payload
// for reading, sharing only reading, so that it can be neither written,
// deleted nor renamed while it is held, and hashes its bytes; when they
// match, the open payload. Otherwise the payload counts as one that cannot
// be opened: one box with the system's reason (ERROR_FILE_CORRUPT for a
// mismatch) and the path, and null.
HANDLE hold_verified_payload(HINSTANCE instance, LPCSTR path, int index);

// Ends the hold (if any) once the payload's copy has finished.
void release_payload(HANDLE held);
