// Hashes one file with the updater's SHA-256, read in the chunks the
// updater copies a payload in, and prints the digest as sha256sum does.
// Built and timed by tools/bench-sha256.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "update/sha256.h"

enum { CHUNK = 65536 };  // COPY_CHUNK in src/update/replacement.cpp

static BYTE g_chunk[CHUNK];

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  int file = open(argv[1], O_RDONLY);
  if (file < 0) return perror(argv[1]), 1;
  Sha256 hash;
  sha256_begin(&hash);
  ssize_t got;
  while ((got = read(file, g_chunk, CHUNK)) > 0) {
    if (!sha256_add(&hash, g_chunk, static_cast<DWORD>(got))) return fputs("4 GB or more\n", stderr), 1;
  }
  if (got < 0) return perror(argv[1]), 1;
  BYTE digest[SHA256_SIZE];
  sha256_end(&hash, digest);
  for (int i = 0; i < SHA256_SIZE; ++i) printf("%02x", digest[i]);
  printf("  %s\n", argv[1]);
  return 0;
}
