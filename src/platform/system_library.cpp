#include "system_library.h"

#include "text.h"

HMODULE load_system_library(LPCSTR name) {
  char path[MAX_PATH];
  bytes_zero(path, MAX_PATH);
  // The length without the terminator; 0 on failure, and the size needed
  // when the buffer is too small.
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  if (!text_append(path, MAX_PATH, "\\") || !text_append(path, MAX_PATH, name)) return 0;
  return LoadLibraryA(path);
}
