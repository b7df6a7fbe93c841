#include "payload_digest.h"

#include "platform/text.h"

int payload_record(HINSTANCE instance, int index, const BYTE **digest, LPCSTR *version) {
  *digest = 0;
  *version = 0;
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(PAYLOAD_DIGESTS_ID), RT_RCDATA);
  if (!found) return 1;
  // LockResource gives null for a resource that could not be loaded.
  const BYTE *record = static_cast<const BYTE *>(LockResource(LoadResource(instance, found)));
  DWORD left = SizeofResource(instance, found);
  if (!record) return 0;
  for (int i = 0;; ++i) {
    if (left <= SHA256_SIZE) return 0;
    LPCSTR text = reinterpret_cast<LPCSTR>(record + SHA256_SIZE);
    const DWORD room = left - SHA256_SIZE;
    int length = text_length(text, room < VERSION_CAPACITY ? static_cast<int>(room) : VERSION_CAPACITY);
    if (length < 0) return 0;
    if (i == index) {
      *digest = record;
      *version = text;
      return 1;
    }
    const DWORD size = SHA256_SIZE + ((length + 2) & ~1u);
    if (size > left) return 0;
    record += size;
    left -= size;
  }
}

int digest_matches(Sha256 *hash, const BYTE *digest) {
  BYTE actual[SHA256_SIZE];
  sha256_end(hash, actual);
  for (int i = 0; i < SHA256_SIZE; ++i)
    if (digest[i] != actual[i]) return 0;
  return 1;
}
