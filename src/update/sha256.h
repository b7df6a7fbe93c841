// SHA-256 (FIPS 180-2) over messages shorter than 4 GB: the digests that
// bind the payloads to the executable that ships them.
#pragma once

#include "platform/platform.h"

enum { SHA256_SIZE = 32, SHA256_BLOCK = 64 };

struct Sha256 {
  DWORD state[8];
  DWORD length;  // message bytes so far
  BYTE block[SHA256_BLOCK];
};

void sha256_begin(Sha256 *hash);

// Adds size bytes to the message. 0 when the message would reach 4 GB;
// nothing is added then.
int sha256_add(Sha256 *hash, const BYTE *bytes, DWORD size);

// The digest of the message so far; the hash must begin again before reuse.
void sha256_end(Sha256 *hash, BYTE *digest);
