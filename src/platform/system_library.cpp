#include "system_library.h"

#include "text.h"

typedef int(WINAPI *MessageBoxFunction)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
typedef int(WINAPI *LoadStringFunction)(HINSTANCE instance, UINT id, LPSTR buffer, int size);

static MessageBoxFunction g_message_box;
static LoadStringFunction g_load_string;

HMODULE load_system_library(LPCSTR name) {
  // The length without the terminator, and the path terminated within the
  // buffer; 0 on failure, and the size needed when the buffer is too small.
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  if (!text_append(path, MAX_PATH, "\\") || !text_append(path, MAX_PATH, name)) return 0;
  return LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC module_function(LPCSTR module, LPCSTR name) {
  HMODULE loaded = GetModuleHandleA(module);
  return loaded ? GetProcAddress(loaded, name) : 0;
}

FARPROC kernel_function(LPCSTR name) { return module_function("KERNEL32", name); }
int take_user_functions() {
  HMODULE user = load_system_library("user32.dll");
  if (!user) return 0;
  g_message_box = as_function<MessageBoxFunction>(GetProcAddress(user, "MessageBoxA"));
  g_load_string = as_function<LoadStringFunction>(GetProcAddress(user, "LoadStringA"));
  return g_message_box && g_load_string;
}

int message_box(LPCSTR text, LPCSTR caption, UINT type) { return g_message_box(0, text, caption, type); }

int load_string(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  return g_load_string(instance, id, buffer, size);
}
