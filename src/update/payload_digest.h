// The payloads bound to the executable: a release build carries, for each
// payload in the order of the payload table, the SHA-256 of its bytes and
// the FileVersion text that those bytes hold, as one RCDATA resource. A
// plain build carries none: its payloads are taken as they are, and their
// versions are read from the files.
#pragma once

#include "kit/payload_table.h"
#include "platform/platform.h"
#include "sha256.h"

// The resource's id and the size of one payload's record in it: the digest,
// then the version text with its terminator, zero-filled to the capacity.
// The build writes it (cmake/win32.cmake, digests.rc).
enum { PAYLOAD_DIGESTS_ID = 1, PAYLOAD_RECORD_SIZE = SHA256_SIZE + VERSION_CAPACITY };

// The record the executable carries for the payload of pair index: its
// digest and its version, or both null in a plain build. 0 when a release
// build's records cannot be read, stop short of that pair, or hold a version
// without its terminator: the payload then counts as corrupt.
int payload_record(HINSTANCE instance, int index, const BYTE **digest, LPCSTR *version);

// Ends the hash: 1 when the bytes added to it have the digest.
int digest_matches(Sha256 *hash, const BYTE *digest);
