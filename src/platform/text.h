// Bounded byte-string helpers. A text that does not fit its buffer is
// refused, never cut, and nothing is written past a capacity.
#pragma once

#include "platform.h"

// Length of the terminated text within capacity bytes, or -1 when no
// terminator lies within them.
int text_length(LPCSTR text, int capacity);

// Appends source to the terminated text in buffer. 0 when the result with
// its terminator would exceed capacity; the buffer is then unchanged.
int text_append(LPSTR buffer, int capacity, LPCSTR source);

// buffer = a + b + c. 0 when it would not fit; the buffer is then unchanged.
int text_join(LPSTR buffer, int capacity, LPCSTR a, LPCSTR b, LPCSTR c);

// The first occurrence of needle in text, or null.
LPCSTR text_find(LPCSTR text, LPCSTR needle);

void bytes_zero(void *buffer, int size);
void bytes_copy(void *target, const void *source, int size);

// ASCII case folding, the only kind the updater does: "A" to "Z" become "a"
// to "z", every other byte stays.
BYTE fold_ascii(BYTE b);

// Start of the last character of a text of the given length, reading
// double-byte characters of the ANSI code page; null for an empty text.
LPCSTR last_character(LPCSTR text, int length);
