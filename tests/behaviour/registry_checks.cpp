// The registry as the updater reads it: RegOpenKeyExA and RegQueryValueExA
// under HKEY_LOCAL_MACHINE.
#include <string.h>

#include "check.h"

static HKEY open_scratch_key() {
  HKEY key = NULL;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, scratch_key(""), 0, KEY_READ, &key);
  ok(status == ERROR_SUCCESS, "opening the key: %d\n", static_cast<int>(status));
  return status == ERROR_SUCCESS ? key : NULL;
}

static void set_text(const char *name, const char *bytes, DWORD size) {
  set_registry_value(scratch_key(""), name, REG_SZ, bytes, size);
}

CHECK(registry_names_missing_keys_and_values) {
  HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, scratch_key(""), 0, KEY_READ, &key);
  ok(status == ERROR_FILE_NOT_FOUND, "missing key: %d\n", static_cast<int>(status));
  ok(key == NULL, "the key handle is cleared: %p\n", static_cast<void *>(key));

  set_text("Path", "C:\\T50", 7);
  status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, scratch_key("Deeper"), 0, KEY_READ, &key);
  ok(status == ERROR_FILE_NOT_FOUND, "missing key below one that exists: %d\n", static_cast<int>(status));
  if (!(key = open_scratch_key())) return;
  char data[16];
  DWORD type = REG_NONE;
  DWORD size = sizeof data;
  status = RegQueryValueExA(key, "InstallDir", NULL, &type, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_FILE_NOT_FOUND, "missing value: %d\n", static_cast<int>(status));
  ok(RegCloseKey(key) == ERROR_SUCCESS, "closing the key\n");
}

CHECK(registry_names_compare_without_case) {
  set_text("Path", "C:\\T50", 7);
  char upper[MAX_PATH];
  const char *path = scratch_key("");
  int i = 0;
  for (; path[i] && i + 1 < MAX_PATH; ++i) upper[i] = path[i] >= 'a' && path[i] <= 'z' ? path[i] - 'a' + 'A' : path[i];
  upper[i] = 0;
  HKEY key = NULL;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, upper, 0, KEY_READ, &key);
  ok(status == ERROR_SUCCESS, "key in capitals: %d\n", static_cast<int>(status));
  if (status != ERROR_SUCCESS) return;
  char data[16];
  DWORD size = sizeof data;
  status = RegQueryValueExA(key, "PATH", NULL, NULL, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_SUCCESS && size == 7 && strcmp(data, "C:\\T50") == 0, "value in capitals: %d, %u\n",
     static_cast<int>(status), size);
  RegCloseKey(key);
}

CHECK(registry_value_that_does_not_fit_reports_its_size) {
  set_text("Path", "C:\\T50", 7);
  HKEY key = open_scratch_key();
  if (!key) return;
  char data[16];
  memset(data, '#', sizeof data);
  DWORD type = REG_NONE;
  DWORD size = 4;
  LONG status = RegQueryValueExA(key, "Path", NULL, &type, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_MORE_DATA, "status %d\n", static_cast<int>(status));
  ok(size == 7 && type == REG_SZ, "size %u, type %u\n", size, type);
  ok(memcmp(data + 4, "####", 4) == 0, "nothing is written past the size given: %.8s\n", data);
  // Documented as undefined; NT leaves the buffer as it was.
  if (!nine_x_family()) ok(memcmp(data, "####", 4) == 0, "NT leaves the buffer alone: %.8s\n", data);
  trace("a value that does not fit leaves \"%.4s\"\n", data);

  size = 0;
  status = RegQueryValueExA(key, "Path", NULL, &type, NULL, &size);
  ok(status == ERROR_SUCCESS && size == 7, "size query without a buffer: %d, %u\n", static_cast<int>(status), size);
  RegCloseKey(key);
}

CHECK(registry_values_come_back_as_stored) {
  set_registry_value(scratch_key(""), "Raw", REG_BINARY, "ab", 2);
  const BYTE number[4] = {0x78, 0x56, 0x34, 0x12};
  set_registry_value(scratch_key(""), "Number", REG_DWORD, number, 4);
  set_registry_value(scratch_key(""), "Expand", REG_EXPAND_SZ, "%WINDIR%\\x", 11);
  HKEY key = open_scratch_key();
  if (!key) return;
  char data[16];
  memset(data, '#', sizeof data);
  DWORD type = REG_NONE;
  DWORD size = sizeof data;
  LONG status = RegQueryValueExA(key, "Raw", NULL, &type, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_SUCCESS && type == REG_BINARY && size == 2, "binary: %d, type %u, size %u\n",
     static_cast<int>(status), type, size);
  ok(memcmp(data, "ab##", 4) == 0, "binary bytes, no terminator added: %.4s\n", data);

  size = sizeof data;
  status = RegQueryValueExA(key, "Number", NULL, &type, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_SUCCESS && type == REG_DWORD && size == 4 && memcmp(data, number, 4) == 0,
     "number: %d, type %u, size %u\n", static_cast<int>(status), type, size);

  size = sizeof data;
  status = RegQueryValueExA(key, "Expand", NULL, &type, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_SUCCESS && type == REG_EXPAND_SZ && size == 11 && strcmp(data, "%WINDIR%\\x") == 0,
     "unexpanded: %d, type %u, size %u, %s\n", static_cast<int>(status), type, size, data);
  RegCloseKey(key);
}

CHECK(registry_string_stored_without_terminator) {
  set_text("Path", "C:\\T50", 6);
  HKEY key = open_scratch_key();
  if (!key) return;
  char data[16];
  memset(data, '#', sizeof data);
  DWORD size = sizeof data;
  LONG status = RegQueryValueExA(key, "Path", NULL, NULL, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_SUCCESS && size == 6 && memcmp(data, "C:\\T50", 6) == 0, "%d, size %u\n", static_cast<int>(status),
     size);
  // NT adds a terminator that the size does not count, where there is room.
  if (!nine_x_family()) ok(data[6] == 0, "NT terminates the text: 0x%02x\n", static_cast<BYTE>(data[6]));
  ok(data[7] == '#', "nothing more is written\n");

  memset(data, '#', sizeof data);
  size = 6;
  status = RegQueryValueExA(key, "Path", NULL, NULL, reinterpret_cast<BYTE *>(data), &size);
  ok(status == ERROR_SUCCESS && size == 6 && data[6] == '#', "exactly as large: %d, size %u, 0x%02x\n",
     static_cast<int>(status), size, static_cast<BYTE>(data[6]));
  RegCloseKey(key);
}
