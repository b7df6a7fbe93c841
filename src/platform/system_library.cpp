#include "system_library.h"

#include "text.h"

HMODULE load_system_library(LPCSTR name) {
  // The length without the terminator, and the path terminated within the
  // buffer; 0 on failure, and the size needed when the buffer is too small.
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  if (!text_append(path, MAX_PATH, "\\") || !text_append(path, MAX_PATH, name)) return 0;
  return LoadLibraryA(path);
}

FARPROC module_function(LPCSTR module, LPCSTR name) {
  HMODULE loaded = GetModuleHandleA(module);
  return loaded ? GetProcAddress(loaded, name) : 0;
}

FARPROC kernel_function(LPCSTR name) { return module_function("KERNEL32", name); }
