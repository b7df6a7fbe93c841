#include "sha256.h"

#include "platform/text.h"

static const DWORD INITIAL_STATE[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

static const DWORD ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

static DWORD rotate_right(DWORD x, int n) { return x >> n | x << (32 - n); }

// Three rotations of x, the last a shift instead when shift is set: each of
// SHA-256's four mixing functions is one of these.
static DWORD mix(DWORD x, int a, int b, int c, int shift) {
  return rotate_right(x, a) ^ rotate_right(x, b) ^ (shift ? x >> c : rotate_right(x, c));
}

// Round i's word of the message: the block's own 16 words, big-endian, then
// words mixed from earlier ones.
static DWORD message_word(DWORD *w, const BYTE *block, int i) {
  if (i >= 16) return w[i - 16] + mix(w[i - 15], 7, 18, 3, 1) + w[i - 7] + mix(w[i - 2], 17, 19, 10, 1);
  const BYTE *at = block + 4 * i;
  return static_cast<DWORD>(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3];
}

// One 64-byte block into the state. A round makes only two new working
// words, a and e; the other six are the a's and e's of the three rounds
// before. So each round's a and e take the next place in as and es, and no
// word moves: round i finds b, c, d at as[i + 2], as[i + 1], as[i], and f, g,
// h at the same places in es. One loop, not eight unrolled rounds: those
// would cost some 1.5 KB more, and the executable has no room for that.
static void compress(DWORD *state, const BYTE *block) {
  DWORD w[64];
  DWORD as[4 + 64], es[4 + 64];
  for (int i = 0; i < 4; ++i) {
    as[3 - i] = state[i];
    es[3 - i] = state[4 + i];
  }
  DWORD a = state[0], e = state[4];
  for (int i = 0; i < 64; ++i) {
    const DWORD *before_a = as + i, *before_e = es + i;
    w[i] = message_word(w, block, i);
    DWORD choice = before_e[1] ^ (e & (before_e[2] ^ before_e[1]));
    DWORD majority = (a & before_a[2]) | (before_a[1] & (a | before_a[2]));
    DWORD t1 = before_e[0] + mix(e, 6, 11, 25, 0) + choice + ROUND_CONSTANTS[i] + w[i];
    es[i + 4] = e = before_a[0] + t1;
    as[i + 4] = a = t1 + mix(a, 2, 13, 22, 0) + majority;
  }
  for (int i = 0; i < 4; ++i) {
    state[i] += as[67 - i];
    state[4 + i] += es[67 - i];
  }
}

// Whole blocks are compressed where they lie in the caller's bytes; only a
// block that a call starts or ends inside goes through hash->block, byte by
// byte. The length only counts modulo the block size here, so padding may
// run it past 4 GB harmlessly.
static void absorb(Sha256 *hash, const BYTE *bytes, DWORD size) {
  while (size) {
    DWORD used = hash->length % SHA256_BLOCK;
    DWORD step = 1;
    if (used == 0 && size >= SHA256_BLOCK) {
      step = SHA256_BLOCK;
      compress(hash->state, bytes);
    } else {
      hash->block[used] = *bytes;
      if (used == SHA256_BLOCK - 1) compress(hash->state, hash->block);
    }
    hash->length += step;
    bytes += step;
    size -= step;
  }
}

static void put_byte(Sha256 *hash, BYTE value) { absorb(hash, &value, 1); }

// Byte i of words read as one big-endian sequence.
static BYTE big_endian_byte(const DWORD *words, unsigned i) {
  return static_cast<BYTE>(words[i / 4] >> (24 - 8 * (i % 4)));
}

void sha256_begin(Sha256 *hash) {
  bytes_copy(hash->state, INITIAL_STATE, sizeof INITIAL_STATE);
  hash->length = 0;
}

int sha256_add(Sha256 *hash, const BYTE *bytes, DWORD size) {
  if (size > ~hash->length) return 0;
  absorb(hash, bytes, size);
  return 1;
}

void sha256_end(Sha256 *hash, BYTE *digest) {
  // The message length in bits, 64 bits big-endian.
  const DWORD bits[2] = {hash->length >> 29, hash->length << 3};
  put_byte(hash, 0x80);
  while (hash->length % SHA256_BLOCK != SHA256_BLOCK - 8) put_byte(hash, 0);
  for (int i = 0; i < 8; ++i) put_byte(hash, big_endian_byte(bits, i));
  for (int i = 0; i < SHA256_SIZE; ++i) digest[i] = big_endian_byte(hash->state, i);
}
