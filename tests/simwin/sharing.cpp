// Who may open a file while others hold it: NT's share check, DOS sharing
// rules on the 9x family, read-only files, the holds of other processes,
// and what a user without administrator rights may write.
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
  Rights rights = {(access & (GENERIC_READ | GENERIC_EXECUTE_ | GENERIC_ALL_ | FILE_READ_DATA_ | FILE_EXECUTE_)) != 0,
                   (access & (GENERIC_WRITE | GENERIC_ALL_ | FILE_WRITE_DATA_ | FILE_APPEND_DATA_)) != 0,
                   (access & (DELETE | GENERIC_ALL_)) != 0};
  // Windows 9x opens files the DOS way, where every open reads: an open
  // for no access is a read there, and its share mode counts. An open
  // with no sharing then fails while anyone has the file open.
  if (!rights.any() && machine().platform != VER_PLATFORM_WIN32_NT) rights.read = true;
  return rights;
}

bool conflict(Rights wanted, DWORD share, Rights held, DWORD held_share) {
  return (wanted.read && !(held_share & FILE_SHARE_READ)) || (wanted.write && !(held_share & FILE_SHARE_WRITE)) ||
         (wanted.remove && !(held_share & FILE_SHARE_DELETE)) || (held.read && !(share & FILE_SHARE_READ)) ||
         (held.write && !(share & FILE_SHARE_WRITE)) || (held.remove && !(share & FILE_SHARE_DELETE));
}

// DOS's sharing table (Ralf Brown's Interrupt List, INT 21/AH=3Dh, the
// table "file sharing behavior"): whether a second open in compatibility
// mode for reading succeeds beside a first open, by the first open's mode
// (compatibility, deny all, deny write, deny read, deny none) and access
// (read, write, both). "Y" it does; "C" it fails with a critical error
// (a sharing violation, as the process fails critical errors); "2" it does
// only when the file is read-only. The table's other columns agree with
// NT's share check, which the 9x family's other opens follow here; only a
// compatibility-mode open reads it. 9x maps CreateFileA's share modes onto
// DOS's: none to deny all, reading to deny write, writing to deny read,
// both to deny none.
const char COMPATIBILITY_READ[] =
    "YYY"
    "CCC"
    "2CC"
    "CCC"
    "2CC";

int dos_mode(DWORD share) {
  if (share & SHARE_COMPATIBILITY) return 0;
  const DWORD both = FILE_SHARE_READ | FILE_SHARE_WRITE;
  return (share & both) == both ? 4 : (share & FILE_SHARE_READ) ? 2 : (share & FILE_SHARE_WRITE) ? 3 : 1;
}

bool compatibility_read_refused(Rights held, DWORD held_share, const File &file) {
  const int access = held.read && held.write ? 2 : held.write ? 1 : 0;
  const char rule = COMPATIBILITY_READ[dos_mode(held_share) * 3 + access];
  return rule == 'C' || (rule == '2' && !(file.attributes & FILE_ATTRIBUTE_READONLY));
}

// NT's share check: an open without data access neither conflicts nor
// constrains later opens. On 9x there is no such open (data_rights), and
// a compatibility-mode open follows DOS's table.
bool sharing_violation(const std::string &path, DWORD access, DWORD share) {
  Rights wanted = data_rights(access);
  if (!wanted.any()) return false;
  if (share & SHARE_COMPATIBILITY) {
    const File &file = *find_file(path);
    for (const auto &entry : machine().handles)
      if (entry.second.kind == HandleKind::file && same_path(entry.second.name, path) &&
          compatibility_read_refused(data_rights(entry.second.access), entry.second.share, file))
        return true;
    for (const HeldFile &held : machine().holds)
      if (same_path(held.path, path) &&
          compatibility_read_refused(Rights{true, false, false}, held.how == Hold::exclusive ? 0 : FILE_SHARE_READ,
                                     file))
        return true;
    return false;
  }
  for (const auto &entry : machine().handles) {
    const Handle &h = entry.second;
    if (h.kind != HandleKind::file || !same_path(h.name, path)) continue;
    Rights held = data_rights(h.access);
    if (held.any() && conflict(wanted, share, held, h.share)) return true;
  }
  for (const HeldFile &held : machine().holds) {
    if (!same_path(held.path, path)) continue;
    // On NT a mapped image keeps no share access of its own (the loader
    // closed its handle): readers may even refuse to share; writing is what
    // the image section forbids. The 9x loader keeps the file open the DOS
    // way, reading and sharing only reads, so an open that shares nothing
    // fails there too.
    bool violation;
    if (held.how == Hold::exclusive)
      violation = conflict(wanted, share, Rights{true, false, false}, 0);
    else if (machine().platform == VER_PLATFORM_WIN32_NT)
      violation = wanted.write;
    else
      violation = conflict(wanted, share, Rights{true, false, false}, FILE_SHARE_READ);
    if (violation) return true;
  }
  return false;
}

}  // namespace

bool module_held(const std::string &path) {
  for (const HeldFile &held : machine().holds)
    if (held.how == Hold::module && same_path(held.path, path)) return true;
  return false;
}

bool limited_user() { return !machine().administrator && machine().platform == VER_PLATFORM_WIN32_NT; }

DWORD rights_check(const std::string &path) {
  if (!limited_user()) return 0;
  const std::string wanted = canonical(path);
  std::vector<std::string> guarded = machine().protected_dirs;
  guarded.push_back(machine().windows_directory);
  for (const std::string &dir : guarded) {
    const std::string held = canonical(dir);
    if (wanted == held || wanted.compare(0, held.size() + 1, held + "\\") == 0) return ERROR_ACCESS_DENIED;
  }
  return 0;
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
  const Rights rights = data_rights(access);
  // The access check comes before the share check.
  if (rights.write || rights.remove)
    if (DWORD error = rights_check(path)) return error;
  if (rights.write && (file->attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_ACCESS_DENIED;
  if (sharing_violation(path, access, share)) return ERROR_SHARING_VIOLATION;
  return 0;
}

DWORD write_check(const std::string &path) {
  if (find_file(path)) return open_check(path, GENERIC_WRITE, FILE_SHARE_READ);
  if (DWORD error = path_check(path)) return error;
  if (is_directory(path)) return ERROR_ACCESS_DENIED;
  return rights_check(path);
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
