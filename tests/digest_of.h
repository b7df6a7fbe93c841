// The SHA-256 of some bytes, as a release build binds a payload: the
// updater's own digest code, for tests that bind payloads and check them.
#pragma once

#include <string>

#include "kit/payload_table.h"
#include "update/sha256.h"

inline std::string digest_of(const std::string &bytes) {
  Sha256 hash;
  sha256_begin(&hash);
  sha256_add(&hash, reinterpret_cast<const BYTE *>(bytes.data()), static_cast<DWORD>(bytes.size()));
  BYTE digest[SHA256_SIZE];
  sha256_end(&hash, digest);
  return std::string(reinterpret_cast<char *>(digest), SHA256_SIZE);
}

// A release's record of a payload: its digest, then its FileVersion text,
// zero-filled to the version capacity.
inline std::string record_of(const std::string &bytes, const std::string &version) {
  return digest_of(bytes) + version + std::string(VERSION_CAPACITY - version.size(), '\0');
}
