#include "own_path.h"

#include "platform/text.h"

static const char BUILT_IN_NAME[] = "TRV60UPDATE.EXE";

char g_own_path[MAX_PATH] = "TRV60UPDATE.EXE";

void record_own_path(HINSTANCE instance) {
  text_join(g_own_path, MAX_PATH, BUILT_IN_NAME, "", "");
  char path[MAX_PATH];
  bytes_zero(path, MAX_PATH);
  // A truncated path may come back without a terminator (Windows XP) or
  // cut short; either would name some other file, so neither is taken.
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  if (text_length(path, MAX_PATH) != static_cast<int>(length)) return;
  bytes_copy(g_own_path, path, length + 1);
}
