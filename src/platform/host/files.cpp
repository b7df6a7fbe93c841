// The file system: paths, opening, sharing, attributes, copying, deleting.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

const DWORD ERROR_FILE_EXISTS_ = 80;

// Access rights that take part in NT's share check, besides the generic ones.
const DWORD GENERIC_EXECUTE_ = 0x20000000u;
const DWORD GENERIC_ALL_ = 0x10000000u;
const DWORD FILE_READ_DATA_ = 0x1u;
const DWORD FILE_WRITE_DATA_ = 0x2u;
const DWORD FILE_APPEND_DATA_ = 0x4u;
const DWORD FILE_EXECUTE_ = 0x20u;

struct Parsed {
  std::string prefix;               // "\\\\" for UNC, "\\" for a rooted path
  std::vector<std::string> parts;   // as spelt
  std::vector<std::string> folded;  // compared
};

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string fold(const std::string &part, UINT code_page) {
  std::string folded = part;
  for (std::size_t i = 0; i < folded.size(); ++i) {
    if (is_lead_byte(code_page, static_cast<BYTE>(folded[i]))) {
      ++i;
    } else if (folded[i] >= 'A' && folded[i] <= 'Z') {
      folded[i] = static_cast<char>(folded[i] - 'A' + 'a');
    }
  }
  return folded;
}

Parsed parse(const std::string &path) {
  const UINT code_page = machine().code_page;
  Parsed parsed;
  std::size_t i = 0;
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    parsed.prefix = "\\\\";
    i = 2;
  } else if (!path.empty() && is_separator(path[0])) {
    parsed.prefix = "\\";
    i = 1;
  }
  std::string part;
  auto end_part = [&] {
    if (part == "..") {
      bool at_drive = parsed.parts.size() == 1 && parsed.parts[0].back() == ':';
      if (!parsed.parts.empty() && !at_drive) parsed.parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parsed.parts.push_back(part);
    }
    part.clear();
  };
  for (; i < path.size(); ++i) {
    if (is_lead_byte(code_page, static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      part += path[i];
      part += path[++i];
    } else if (is_separator(path[i])) {
      end_part();
    } else {
      part += path[i];
    }
  }
  end_part();
  for (const std::string &p : parsed.parts) parsed.folded.push_back(fold(p, code_page));
  return parsed;
}

std::string join(const std::string &prefix, const std::vector<std::string> &parts, std::size_t count) {
  std::string joined = prefix;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) joined += '\\';
    joined += parts[i];
  }
  return joined;
}

bool starts_with(const std::string &text, const std::string &head) {
  return text.size() >= head.size() && text.compare(0, head.size(), head) == 0;
}

// Whether `inner` lies inside the directory `outer` (both canonical).
bool lies_in(const std::string &inner, const std::string &outer) {
  return outer.empty() || starts_with(inner, outer + "\\");
}

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

bool module_held(const std::string &path) {
  for (const HeldFile &held : machine().holds)
    if (held.how == Hold::module && same_path(held.path, path)) return true;
  return false;
}

// The checks every ANSI path operation makes before it looks at the file:
// the path must fit the system's MAX_PATH conversion buffer and its
// directory must exist.
DWORD path_check(const std::string &path) {
  if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  if (!parent_exists(path)) return ERROR_PATH_NOT_FOUND;
  return 0;
}

BOOL fail(DWORD error) {
  set_error(error);
  return FALSE;
}

std::string canonical_as_given(const std::string &path) {
  Parsed parsed = parse(path);
  return join(parsed.prefix, parsed.folded, parsed.folded.size());
}

std::string long_form(const std::string &path) {
  std::string wanted = canonical_as_given(path);
  for (const ShortName &name : machine().short_names) {
    std::string short_form = canonical_as_given(name.short_path);
    if (short_form.empty()) continue;
    if (wanted == short_form) return name.long_path;
    if (lies_in(wanted, short_form)) return name.long_path + wanted.substr(short_form.size());
  }
  return path;
}
}  // namespace

// A short form names the same file as its long form.
std::string canonical(const std::string &path) { return canonical_as_given(long_form(path)); }

bool same_path(const std::string &a, const std::string &b) { return canonical(a) == canonical(b); }

File *find_file(const std::string &path) {
  std::string wanted = canonical(path);
  for (File &file : machine().files)
    if (canonical(file.path) == wanted) return &file;
  return nullptr;
}

bool is_directory(const std::string &path) {
  std::string wanted = canonical(path);
  if (wanted.empty()) return true;  // the current directory
  auto holds_it = [&](const std::string &dir) {
    std::string made = canonical(dir);
    return made == wanted || lies_in(made, wanted);
  };
  if (holds_it(machine().windows_directory)) return true;
  for (const std::string &dir : machine().dirs)
    if (holds_it(dir)) return true;
  for (const File &file : machine().files)
    if (lies_in(canonical(file.path), wanted)) return true;
  return false;
}

bool parent_exists(const std::string &path) {
  Parsed parsed = parse(path);
  if (parsed.parts.empty()) return true;
  // A root is taken to exist, and so is a server with its share.
  if (parsed.parts.size() == 1 && !parsed.prefix.empty()) return true;
  if (parsed.prefix == "\\\\" && parsed.parts.size() <= 2) return true;
  std::string parent = join(parsed.prefix, parsed.parts, parsed.parts.size() - 1);
  return parent.empty() || is_directory(parent);
}

void erase_file(const std::string &path) {
  std::string wanted = canonical(path);
  auto &files = machine().files;
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&](const File &file) { return canonical(file.path) == wanted; }),
              files.end());
}

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

// ---- Test side ----------------------------------------------------------

void make_dir(const std::string &path) { machine().dirs.push_back(path); }

void put_file(const std::string &path, const std::string &bytes, DWORD attributes) {
  if (File *file = find_file(path)) {
    *file = File{file->path, bytes, attributes, false, {}};
  } else {
    machine().files.push_back(File{path, bytes, attributes, false, {}});
  }
}

bool exists(const std::string &path) { return find_file(path) || is_directory(path); }

std::string bytes_of(const std::string &path) {
  const File *file = find_file(path);
  return file ? file->bytes : std::string();
}

DWORD attributes_of(const std::string &path) {
  if (const File *file = find_file(path)) return file->attributes;
  return is_directory(path) ? FILE_ATTRIBUTE_DIRECTORY : INVALID_FILE_ATTRIBUTES;
}

void hold(const std::string &path, Hold how) {
  release(path);
  machine().holds.push_back(HeldFile{path, how});
}

void release(const std::string &path) {
  auto &holds = machine().holds;
  holds.erase(std::remove_if(holds.begin(), holds.end(),
                             [&](const HeldFile &held) { return same_path(held.path, path); }),
              holds.end());
}

void set_short_name(const std::string &long_path, const std::string &short_path) {
  for (ShortName &name : machine().short_names) {
    if (same_path(name.long_path, long_path)) {
      name.short_path = short_path;
      return;
    }
  }
  machine().short_names.push_back(ShortName{long_path, short_path});
}

const std::vector<std::string> &pending_deletions() { return machine().pending_deletions; }

}  // namespace sim

// ---- kernel32 -------------------------------------------------------------

using namespace sim::detail;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  enter("CreateFileA");
  std::string line = "open " + show(name);
  DWORD error = ERROR_INVALID_PARAMETER;
  // Only opening what exists is modelled; creating files is not something
  // the updater does.
  if (name && disposition == OPEN_EXISTING) error = open_check(name, access, share);
  record(line, error == 0);
  if (error) {
    set_error(error);
    return INVALID_HANDLE_VALUE;
  }
  uintptr_t value = new_handle();
  machine().handles[value] = Handle{HandleKind::file, name, access, share};
  set_error(0);  // as XP's CreateFileA does on every successful open
  return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
  enter("SetFileAttributesA");
  char text[16];
  std::snprintf(text, sizeof text, " 0x%02X", attributes);
  std::string line = "attributes " + show(name) + text;
  DWORD error = name ? path_check(name) : ERROR_INVALID_PARAMETER;
  File *file = error ? nullptr : find_file(name);
  if (!error && !file && !is_directory(name)) error = ERROR_FILE_NOT_FOUND;
  record(line, error == 0);
  if (error) return fail(error);
  if (file) {
    // Only these can be set; NORMAL stands for none of them.
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | 0x100u /* temporary */ | 0x1000u /* offline */ |
                           0x2000u /* not content indexed */;
    DWORD kept = attributes & settable;
    file->attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  }
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR target, BOOL fail_if_exists) {
  enter("CopyFileA");
  std::string line = "copy " + show(existing) + " > " + show(target);
  DWORD error = existing && target ? open_check(existing, GENERIC_READ, FILE_SHARE_READ) : ERROR_INVALID_PARAMETER;
  if (!error) error = path_check(target);
  const File *old = error ? nullptr : find_file(target);
  if (!error && !old && is_directory(target)) error = ERROR_ACCESS_DENIED;
  // The source is open for reading without write sharing while the
  // target is opened for writing: a file copied onto itself collides.
  if (!error && same_path(existing, target)) error = ERROR_SHARING_VIOLATION;
  if (!error && old && fail_if_exists) error = ERROR_FILE_EXISTS_;
  if (!error && old && (old->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)))
    error = ERROR_ACCESS_DENIED;
  if (!error && old) error = open_check(target, GENERIC_WRITE, 0);
  record(line, error == 0);
  if (error) return fail(error);

  File copy = *find_file(existing);
  if (File *file = find_file(target)) {
    copy.path = file->path;
    *file = copy;
  } else {
    copy.path = target;
    machine().files.push_back(copy);
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
  enter("DeleteFileA");
  std::string line = "delete " + show(name);
  DWORD error = name ? open_check(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
                     : ERROR_INVALID_PARAMETER;
  // The open succeeded; marking the file for deletion is what fails for a
  // read-only file or a running image.
  if (!error && ((find_file(name)->attributes & FILE_ATTRIBUTE_READONLY) || module_held(name)))
    error = ERROR_ACCESS_DENIED;
  record(line, error == 0);
  if (error) return fail(error);
  erase_file(name);
  return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  enter("MoveFileExA");
  bool at_restart = !target && (flags & MOVEFILE_DELAY_UNTIL_REBOOT);
  std::string line = at_restart ? "move-at-restart " + show(existing) : "move " + show(existing) + " > " + show(target);
  DWORD error = 0;
  if (machine().platform != VER_PLATFORM_WIN32_NT) {
    error = ERROR_CALL_NOT_IMPLEMENTED;  // Windows 9x has only the entry point
  } else if (!existing || !at_restart) {
    error = ERROR_INVALID_PARAMETER;  // plain moves are not modelled
  } else if (std::strlen(existing) >= MAX_PATH) {
    error = ERROR_FILENAME_EXCED_RANGE;
  }
  record(line, error == 0);
  if (error) return fail(error);
  // The system only notes the name; whether the file exists matters at
  // the restart.
  machine().pending_deletions.push_back(existing);
  return TRUE;
}

DWORD WINAPI GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size) {
  enter("GetShortPathNameA");
  if (!long_path) return fail(ERROR_INVALID_PARAMETER);
  if (std::strlen(long_path) >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (!sim::exists(long_path)) return fail(ERROR_FILE_NOT_FOUND);

  // The longest mapped directory or file that holds the path gives its head.
  Parsed parsed = parse(long_path);
  std::string result = long_path;
  std::size_t best = 0;
  for (const ShortName &name : machine().short_names) {
    Parsed mapped = parse(name.long_path);
    std::size_t n = mapped.folded.size();
    if (n == 0 || n <= best || n > parsed.folded.size() || mapped.prefix != parsed.prefix ||
        !std::equal(mapped.folded.begin(), mapped.folded.end(), parsed.folded.begin()))
      continue;
    best = n;
    result = name.short_path;
    for (std::size_t i = n; i < parsed.parts.size(); ++i) {
      if (result.empty() || !is_separator(result.back())) result += '\\';
      result += parsed.parts[i];
    }
  }
  DWORD length = static_cast<DWORD>(result.size());
  if (!short_path || size < length + 1) return length + 1;
  std::memcpy(short_path, result.c_str(), length + 1);
  return length;
}
