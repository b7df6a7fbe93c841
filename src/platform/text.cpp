#include "text.h"

int text_length(LPCSTR text, int capacity) {
  for (int i = 0; i < capacity; ++i)
    if (text[i] == '\0') return i;
  return -1;
}

int text_append(LPSTR buffer, int capacity, LPCSTR source) {
  int used = text_length(buffer, capacity);
  if (used < 0) return 0;
  int added = text_length(source, capacity - used);
  if (added < 0) return 0;
  bytes_copy(buffer + used, source, added + 1);
  return 1;
}

int text_join(LPSTR buffer, int capacity, LPCSTR a, LPCSTR b, LPCSTR c) {
  int la = text_length(a, capacity);
  if (la < 0) return 0;
  int lb = text_length(b, capacity - la);
  if (lb < 0) return 0;
  int lc = text_length(c, capacity - la - lb);
  if (lc < 0) return 0;
  bytes_copy(buffer, a, la);
  bytes_copy(buffer + la, b, lb);
  bytes_copy(buffer + la + lb, c, lc + 1);
  return 1;
}

LPCSTR text_find(LPCSTR text, LPCSTR needle) {
  for (; *text; ++text) {
    int i = 0;
    while (needle[i] && text[i] == needle[i]) ++i;
    if (!needle[i]) return text;
  }
  return 0;
}

void bytes_zero(void *buffer, int size) {
  char *p = static_cast<char *>(buffer);
  for (int i = 0; i < size; ++i) p[i] = 0;
}

void bytes_copy(void *target, const void *source, int size) {
  char *t = static_cast<char *>(target);
  const char *s = static_cast<const char *>(source);
  for (int i = 0; i < size; ++i) t[i] = s[i];
}

BYTE fold_ascii(BYTE b) { return (b >= 'A' && b <= 'Z') ? static_cast<BYTE>(b + ('a' - 'A')) : b; }

LPCSTR last_character(LPCSTR text, int length) {
  LPCSTR last = 0;
  for (int i = 0; i < length; ++i) {
    last = text + i;
    if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < length) ++i;
  }
  return last;
}
