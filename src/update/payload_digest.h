// The payloads bound to the executable: a release build carries the SHA-256
// of each payload, in the order of the payload table, as one RCDATA
// resource. A plain build carries none, and its payloads are taken as they
// are.
#pragma once

#include "platform/platform.h"
#include "sha256.h"

// The resource's id; the build writes it (cmake/win32.cmake, digests.rc).
enum { PAYLOAD_DIGESTS_ID = 1 };

// The digest the executable carries for the payload of pair index, into
// *digest, or null in a plain build. 0 when a release build's digests cannot
// be read or stop short of that pair: the payload then counts as corrupt.
int payload_digest(HINSTANCE instance, int index, const BYTE **digest);

// Ends the hash: 1 when the bytes added to it have the digest.
int digest_matches(Sha256 *hash, const BYTE *digest);
