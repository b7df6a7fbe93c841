#include "payload_digest.h"

int payload_digest(HINSTANCE instance, int index, const BYTE **digest) {
  *digest = 0;
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(PAYLOAD_DIGESTS_ID), RT_RCDATA);
  if (!found) return 1;
  // LockResource gives null for a resource that could not be loaded.
  const BYTE *digests = static_cast<const BYTE *>(LockResource(LoadResource(instance, found)));
  if (!digests || SizeofResource(instance, found) < static_cast<DWORD>(index + 1) * SHA256_SIZE) return 0;
  *digest = digests + index * SHA256_SIZE;
  return 1;
}

int digest_matches(Sha256 *hash, const BYTE *digest) {
  BYTE actual[SHA256_SIZE];
  sha256_end(hash, actual);
  for (int i = 0; i < SHA256_SIZE; ++i)
    if (digest[i] != actual[i]) return 0;
  return 1;
}
