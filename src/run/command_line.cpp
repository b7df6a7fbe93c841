#include "command_line.h"

#include "platform/text.h"

static const char *const REMOVAL_SWITCHES[] = {"/d", "/D", "-D", "-d"};

static int is_blank(BYTE b) { return b >= 1 && b <= 32; }

LPSTR command_line_tail(LPSTR command_line) {
  static char empty[1];
  if (!command_line) return empty;
  LPSTR p = command_line;
  if (*p == '"') {
    // The trail byte of a double-byte character may equal '"'.
    for (++p; *p && *p != '"'; ++p)
      if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && !is_blank(static_cast<BYTE>(*p))) ++p;
  }
  while (is_blank(static_cast<BYTE>(*p))) ++p;
  return p;
}

int has_removal_switch(LPCSTR tail) {
  if (!tail || !*tail) return 0;
  for (LPCSTR s : REMOVAL_SWITCHES)
    if (text_find(tail, s)) return 1;
  return 0;
}
