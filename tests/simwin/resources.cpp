// Resources of the updater's own module besides its string tables (which
// user.cpp reads from the resource script): found by type and name, then
// loaded and locked as Windows does.
#include <string>

#include "state.h"

namespace sim {
namespace detail {
namespace {

// HRSRC and HGLOBAL values: the index of the resource plus one, apart for each.
const uintptr_t FOUND_BASE = 0x7000000;
const uintptr_t LOADED_BASE = 0x7800000;

const Resource *resource_at(uintptr_t value, uintptr_t base) {
  const std::vector<Resource> &all = machine().resources;
  if (value <= base || value > base + all.size()) return nullptr;
  return &all[value - base - 1];
}

std::string upper_ascii(std::string text) {
  for (char &c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// A name as FindResourceA reads it: a number (MAKEINTRESOURCE) stands for
// "#number", and text is compared regardless of case.
std::string resource_key(LPCSTR name) {
  if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
  return upper_ascii(name);
}

}  // namespace
}  // namespace detail

using namespace detail;

void set_resource(WORD type, const std::string &name, const std::string &bytes) {
  std::vector<Resource> &all = machine().resources;
  for (Resource &r : all)
    if (r.type == type && r.name == upper_ascii(name)) {
      r.bytes = bytes;
      return;
    }
  all.push_back(Resource{type, upper_ascii(name), bytes});
}

}  // namespace sim

using namespace sim::detail;

HRSRC WINAPI FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
  if (DWORD injected = enter("FindResourceA")) {
    set_error(injected);
    return nullptr;
  }
  // Only resources typed by number are modelled.
  if (!name || !IS_INTRESOURCE(type)) {
    set_error(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const WORD wanted = static_cast<WORD>(reinterpret_cast<uintptr_t>(type));
  const std::vector<Resource> &all = machine().resources;
  bool type_seen = false;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i].type != wanted) continue;
    type_seen = true;
    if (all[i].name == resource_key(name)) return reinterpret_cast<HRSRC>(FOUND_BASE + i + 1);
  }
  set_error(type_seen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC found) {
  if (DWORD injected = enter("LoadResource")) {
    set_error(injected);
    return nullptr;
  }
  uintptr_t value = reinterpret_cast<uintptr_t>(found);
  if (!resource_at(value, FOUND_BASE)) {
    fault("LoadResource of a resource that was not found " + show(static_cast<const void *>(found)));
    set_error(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HGLOBAL>(value - FOUND_BASE + LOADED_BASE);
}

LPVOID WINAPI LockResource(HGLOBAL loaded) {
  if (DWORD injected = enter("LockResource")) {
    set_error(injected);
    return nullptr;
  }
  // Windows hands back what it is given: null for a resource that could not
  // be loaded.
  if (!loaded) return nullptr;
  const Resource *r = resource_at(reinterpret_cast<uintptr_t>(loaded), LOADED_BASE);
  if (!r) {
    fault("LockResource of a resource that was not loaded " + show(static_cast<const void *>(loaded)));
    return nullptr;
  }
  // Resources are read-only memory in the image.
  return const_cast<char *>(r->bytes.data());
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC found) {
  if (DWORD injected = enter("SizeofResource")) {
    set_error(injected);
    return 0;
  }
  const Resource *r = resource_at(reinterpret_cast<uintptr_t>(found), FOUND_BASE);
  if (!r) {
    fault("SizeofResource of a resource that was not found " + show(static_cast<const void *>(found)));
    set_error(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(r->bytes.size());
}
