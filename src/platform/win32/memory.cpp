// GCC emits calls to these for block copies, fills and compares even in a
// program without a C runtime, so the program brings its own.
//
// The loops must not be recognised as the very functions they implement, or
// each would end up calling itself; the attribute keeps that true whatever
// flags the file is built with.
#include <stddef.h>

#define PLAIN_LOOPS __attribute__((optimize("no-tree-loop-distribute-patterns")))

extern "C" {

PLAIN_LOOPS void *memcpy(void *target, const void *source, size_t size) {
  unsigned char *to = static_cast<unsigned char *>(target);
  const unsigned char *from = static_cast<const unsigned char *>(source);
  while (size--) *to++ = *from++;
  return target;
}

PLAIN_LOOPS void *memmove(void *target, const void *source, size_t size) {
  unsigned char *to = static_cast<unsigned char *>(target);
  const unsigned char *from = static_cast<const unsigned char *>(source);
  if (to < from) {
    while (size--) *to++ = *from++;
  } else {
    // Overlap with the target above: copy from the end down.
    while (size--) to[size] = from[size];
  }
  return target;
}

PLAIN_LOOPS void *memset(void *target, int value, size_t size) {
  unsigned char *to = static_cast<unsigned char *>(target);
  while (size--) *to++ = static_cast<unsigned char>(value);
  return target;
}

PLAIN_LOOPS int memcmp(const void *a, const void *b, size_t size) {
  const unsigned char *x = static_cast<const unsigned char *>(a);
  const unsigned char *y = static_cast<const unsigned char *>(b);
  for (; size; --size, ++x, ++y) {
    if (*x != *y) return *x < *y ? -1 : 1;
  }
  return 0;
}
}
