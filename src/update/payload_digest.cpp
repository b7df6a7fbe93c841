#include "payload_digest.h"

#include "presence.h"
#include "sha256.h"

enum { READ_CHUNK = 65536 };

// The file is read through this buffer a chunk at a time. It is static
// rather than on the stack: a frame over 4 KB needs stack probes, and a
// zero-filled static costs the file nothing.
static BYTE g_chunk[READ_CHUNK];

// The reason a call failed, never 0: a failure must not pass for success.
static DWORD failure() {
  DWORD error = GetLastError();
  return error ? error : ERROR_FILE_CORRUPT;
}

// 0 when the bytes of the file, from its start, have the digest the
// executable carries for pair index; otherwise the error to report.
// Digests that are there but unusable count as a mismatch.
static DWORD check_digest(HINSTANCE instance, HRSRC found, int index, HANDLE file) {
  Sha256 hash;
  sha256_begin(&hash);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, g_chunk, READ_CHUNK, &got, 0)) return failure();
    if (got == 0) break;
    // A file of 4 GB is refused rather than hashed in part; no library is
    // that large.
    if (!sha256_add(&hash, g_chunk, got)) return ERROR_FILE_CORRUPT;
  }
  BYTE actual[SHA256_SIZE];
  sha256_end(&hash, actual);
  // LockResource gives null for a resource that could not be loaded.
  const BYTE *digests = static_cast<const BYTE *>(LockResource(LoadResource(instance, found)));
  if (!digests || SizeofResource(instance, found) < static_cast<DWORD>(index + 1) * SHA256_SIZE)
    return ERROR_FILE_CORRUPT;
  for (int i = 0; i < SHA256_SIZE; ++i)
    if (digests[index * SHA256_SIZE + i] != actual[i]) return ERROR_FILE_CORRUPT;
  return 0;
}

HANDLE hold_verified_payload(HINSTANCE instance, LPCSTR path, int index) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(PAYLOAD_DIGESTS_ID), RT_RCDATA);
  if (!found) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  DWORD error = file == INVALID_HANDLE_VALUE ? failure() : check_digest(instance, found, index, file);
  if (!error) return file;
  release_payload(file);
  report_unopenable(path, error);
  return 0;
}

void release_payload(HANDLE held) {
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
}
