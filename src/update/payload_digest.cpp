#include "payload_digest.h"

#include "platform/text.h"

int payload_record(HINSTANCE instance, int index, const BYTE **digest, LPCSTR *version) {
  *digest = 0;
  *version = 0;
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(PAYLOAD_DIGESTS_ID), RT_RCDATA);
  if (!found) return 1;
  // LockResource gives null for a resource that could not be loaded.
  const BYTE *records = static_cast<const BYTE *>(LockResource(LoadResource(instance, found)));
  if (!records || SizeofResource(instance, found) < static_cast<DWORD>(index + 1) * PAYLOAD_RECORD_SIZE) return 0;
  const BYTE *record = records + index * PAYLOAD_RECORD_SIZE;
  LPCSTR text = reinterpret_cast<LPCSTR>(record + SHA256_SIZE);
  if (text_length(text, VERSION_CAPACITY) < 0) return 0;
  *digest = record;
  *version = text;
  return 1;
}

int digest_matches(Sha256 *hash, const BYTE *digest) {
  BYTE actual[SHA256_SIZE];
  sha256_end(hash, actual);
  for (int i = 0; i < SHA256_SIZE; ++i)
    if (digest[i] != actual[i]) return 0;
  return 1;
}
