// HKEY_LOCAL_MACHINE: keys with raw values, read through counted handles.
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

Key *find_key(const std::string &path) {
  std::string wanted = lower_ascii(path);
  for (Key &key : machine().keys)
    if (lower_ascii(key.path) == wanted) return &key;
  return nullptr;
}

// A key exists when it was made or when a key below it was.
bool key_exists(const std::string &path) {
  std::string wanted = lower_ascii(path);
  if (wanted.empty()) return true;
  for (const Key &key : machine().keys) {
    std::string made = lower_ascii(key.path);
    if (made == wanted || made.compare(0, wanted.size() + 1, wanted + "\\") == 0) return true;
  }
  return false;
}

// The path of an open key: "" for the root. False for a handle that is
// neither the root nor one of ours.
bool key_path(HKEY key, std::string &path) {
  if (key == HKEY_LOCAL_MACHINE) {
    path.clear();
    return true;
  }
  auto found = machine().open_keys.find(reinterpret_cast<uintptr_t>(key));
  if (found == machine().open_keys.end()) return false;
  path = found->second;
  return true;
}

}  // namespace

bool dword_is(const std::string &key, const std::string &name, DWORD wanted) {
  const Key *found = find_key(key);
  if (!found) return false;
  auto value = found->values.find(lower_ascii(name));
  return value != found->values.end() && value->second.type == REG_DWORD &&
         value->second.bytes == std::string(reinterpret_cast<const char *>(&wanted), 4);
}

}  // namespace detail

using namespace detail;

void set_key(const std::string &key) {
  if (!find_key(key)) machine().keys.push_back(Key{key, {}});
}

void set_value(const std::string &key, const std::string &name, DWORD type, const std::string &bytes) {
  set_key(key);
  find_key(key)->values[lower_ascii(name)] = Value{type, bytes};
}

void set_string(const std::string &key, const std::string &name, const std::string &text) {
  set_value(key, name, REG_SZ, text + '\0');
}

int open_keys() { return static_cast<int>(machine().open_keys.size()); }

}  // namespace sim

using namespace sim::detail;

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD, REGSAM access, PHKEY result) {
  // A failed open leaves no handle behind: the result is cleared.
  if (DWORD injected = enter("RegOpenKeyExA")) {
    if (result) *result = nullptr;
    return static_cast<LONG>(injected);
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string path;
  if (!key_path(key, path)) {
    fault("RegOpenKeyExA on an unknown key " + show(key));
    return ERROR_INVALID_HANDLE;
  }
  if (sub_key && *sub_key) path = path.empty() ? std::string(sub_key) : path + "\\" + sub_key;
  if (!key_exists(path)) return ERROR_FILE_NOT_FOUND;
  // KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE, WRITE_DAC,
  // WRITE_OWNER, GENERIC_WRITE, GENERIC_ALL: only administrators may.
  const REGSAM writing = 0x2u | 0x4u | 0x20u | 0x10000u | 0x40000u | 0x80000u | 0x40000000u | 0x10000000u;
  if ((access & writing) && limited_user()) return ERROR_ACCESS_DENIED;
  uintptr_t value = new_handle();
  machine().open_keys[value] = path;
  *result = reinterpret_cast<HKEY>(value);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (DWORD injected = enter("RegQueryValueExA")) {
    return static_cast<LONG>(injected);
  }
  std::string path;
  if (!key_path(key, path)) {
    fault("RegQueryValueExA on an unknown key " + show(key));
    return ERROR_INVALID_HANDLE;
  }
  if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
  const Key *found_key = find_key(path);
  if (!found_key) return ERROR_FILE_NOT_FOUND;
  auto found = found_key->values.find(lower_ascii(name ? name : ""));
  if (found == found_key->values.end()) return ERROR_FILE_NOT_FOUND;

  const Value &value = found->second;
  DWORD needed = static_cast<DWORD>(value.bytes.size());
  if (type) *type = value.type;
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  const bool nt = machine().platform == VER_PLATFORM_WIN32_NT;
  if (needed > *size) {
    // The buffer's content is documented as undefined. NT leaves it alone;
    // for the 9x family the caller must not find anything usable there.
    if (!nt) std::memset(data, 'X', *size);
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, value.bytes.data(), needed);
  // NT terminates a text stored without its terminator where the buffer
  // has room; the size does not count it.
  const bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
  if (nt && text && needed > 0 && needed < *size && data[needed - 1] != 0) data[needed] = 0;
  *size = needed;
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
  enter("RegCloseKey");
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;  // predefined keys are never closed
  if (machine().open_keys.erase(reinterpret_cast<uintptr_t>(key)) == 0) {
    fault("RegCloseKey of a key that is not open " + show(key));
    return ERROR_INVALID_HANDLE;
  }
  return ERROR_SUCCESS;
}
