// Who may open a file while others hold it: NT's share check, read-only
// files, and the holds of other processes.
#include <algorithm>

#include "state.h"

namespace sim {
namespace detail {
namespace {

// Access rights that take part in NT's share check, besides the generic ones.
const DWORD GENERIC_EXECUTE_ = 0x20000000u;
const DWORD GENERIC_ALL_ = 0x10000000u;
const DWORD FILE_READ_DATA_ = 0x1u;
const DWORD FILE_WRITE_DATA_ = 0x2u;
const DWORD FILE_APPEND_DATA_ = 0x4u;
const DWORD FILE_EXECUTE_ = 0x20u;

struct Rights {
  bool read, write, remove;
  bool any() const { return read || write || remove; }
};

Rights data_rights(DWORD access) {
  return {(access & (GENERIC_READ | GENERIC_EXECUTE_ | GENERIC_ALL_ | FILE_READ_DATA_ | FILE_EXECUTE_)) != 0,
          (access & (GENERIC_WRITE | GENERIC_ALL_ | FILE_WRITE_DATA_ | FILE_APPEND_DATA_)) != 0,
          (access & (DELETE | GENERIC_ALL_)) != 0};
}

bool conflict(Rights wanted, DWORD share, Rights held, DWORD held_share) {
  return (wanted.read && !(held_share & FILE_SHARE_READ)) || (wanted.write && !(held_share & FILE_SHARE_WRITE)) ||
         (wanted.remove && !(held_share & FILE_SHARE_DELETE)) || (held.read && !(share & FILE_SHARE_READ)) ||
         (held.write && !(share & FILE_SHARE_WRITE)) || (held.remove && !(share & FILE_SHARE_DELETE));
}

// NT's share check: an open without data access neither conflicts nor
// constrains later opens.
bool sharing_violation(const std::string &path, DWORD access, DWORD share) {
  Rights wanted = data_rights(access);
  if (!wanted.any()) return false;
  for (const auto &entry : machine().handles) {
    const Handle &h = entry.second;
    if (h.kind != HandleKind::file || !same_path(h.name, path)) continue;
    Rights held = data_rights(h.access);
    if (held.any() && conflict(wanted, share, held, h.share)) return true;
  }
  for (const HeldFile &held : machine().holds) {
    if (!same_path(held.path, path)) continue;
    // A mapped image lets others read and delete-open it; writing is what
    // the image section forbids.
    DWORD held_share = held.how == Hold::module ? FILE_SHARE_READ | FILE_SHARE_DELETE : 0;
    if (conflict(wanted, share, Rights{true, false, false}, held_share)) return true;
  }
  return false;
}

}  // namespace

bool module_held(const std::string &path) {
  for (const HeldFile &held : machine().holds)
    if (held.how == Hold::module && same_path(held.path, path)) return true;
  return false;
}

bool held(const std::string &path) {
  for (const HeldFile &hold : machine().holds)
    if (same_path(hold.path, path)) return true;
  return false;
}

bool grants_write(DWORD access) { return data_rights(access).write; }

DWORD open_check(const std::string &path, DWORD access, DWORD share) {
  if (DWORD error = path_check(path)) return error;
  File *file = find_file(path);
  if (!file) return is_directory(path) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  if (data_rights(access).write && (file->attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_ACCESS_DENIED;
  if (sharing_violation(path, access, share)) return ERROR_SHARING_VIOLATION;
  return 0;
}

DWORD write_check(const std::string &path) {
  if (find_file(path)) return open_check(path, GENERIC_WRITE, FILE_SHARE_READ);
  if (DWORD error = path_check(path)) return error;
  return is_directory(path) ? ERROR_ACCESS_DENIED : 0;
}

}  // namespace detail

using namespace detail;

void hold(const std::string &path, Hold how) {
  release(path);
  machine().holds.push_back(HeldFile{path, how});
}

void release(const std::string &path) {
  auto &holds = machine().holds;
  holds.erase(
      std::remove_if(holds.begin(), holds.end(), [&](const HeldFile &held) { return same_path(held.path, path); }),
      holds.end());
}

}  // namespace sim
