#include "install_location.h"

#include "platform/text.h"

int read_install_location(LPSTR destination, LPCSTR key_path, LPCSTR value_name) {
  char value[MAX_PATH];
  bytes_zero(value, MAX_PATH);
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  int copied = 0;
  DWORD type = 0;
  DWORD size = MAX_PATH;
  // The type is not examined: any value whose bytes start with a path is
  // taken up to its first zero. A value that fills the buffer without a
  // zero would have to be cut, so it counts as no location at all.
  if (RegQueryValueExA(key, value_name, 0, &type, reinterpret_cast<LPBYTE>(value), &size) == ERROR_SUCCESS) {
    int length = text_length(value, MAX_PATH);
    if (length > 0) {
      bytes_copy(destination, value, length + 1);
      copied = 1;
    }
  }
  RegCloseKey(key);
  return copied;
}
