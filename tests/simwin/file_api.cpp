// The file API: opening, attributes, copying, deleting, moving.
#include <cstdio>
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

const DWORD ERROR_FILE_EXISTS_ = 80;

}  // namespace
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

std::vector<std::string> file_paths() {
  std::vector<std::string> paths;
  for (const File &file : machine().files) paths.push_back(file.path);
  return paths;
}

DWORD attributes_of(const std::string &path) {
  if (const File *file = find_file(path)) return file->attributes;
  return is_directory(path) ? FILE_ATTRIBUTE_DIRECTORY : INVALID_FILE_ATTRIBUTES;
}

const std::vector<std::string> &pending_deletions() { return machine().pending_deletions; }

bool tamper(const std::string &path, const std::string &bytes) {
  if (open_check(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) return false;
  find_file(path)->bytes = bytes;
  return true;
}

}  // namespace sim

// ---- kernel32 -------------------------------------------------------------

using namespace sim::detail;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  if (DWORD injected = enter("CreateFileA")) {
    set_error(injected);
    return INVALID_HANDLE_VALUE;
  }
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

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  if (DWORD injected = enter("ReadFile")) {
    if (read) *read = 0;
    return fail(injected);
  }
  Machine &m = machine();
  auto found = m.handles.find(reinterpret_cast<uintptr_t>(file));
  if (found == m.handles.end() || found->second.kind != HandleKind::file) {
    fault("ReadFile of a handle that is not an open file " + show(static_cast<const void *>(file)));
    return fail(ERROR_INVALID_HANDLE);
  }
  Handle &h = found->second;
  std::string line = "read " + h.name;
  // Windows 9x demands the count; NT faults without it. Overlapped reads
  // are not something the updater does.
  DWORD error = 0;
  if (!buffer || !read || overlapped) error = ERROR_INVALID_PARAMETER;
  if (!error && !(h.access & GENERIC_READ)) error = ERROR_ACCESS_DENIED;
  const File *data = error ? nullptr : find_file(h.name);
  if (!error && !data) error = ERROR_FILE_NOT_FOUND;  // erased behind the system's back by a test
  record(line, error == 0);
  if (error) {
    if (read) *read = 0;
    return fail(error);
  }
  std::size_t left = h.position < data->bytes.size() ? data->bytes.size() - h.position : 0;
  std::size_t count = size < left ? size : left;
  std::memcpy(buffer, data->bytes.data() + h.position, count);
  h.position += count;
  *read = static_cast<DWORD>(count);
  return TRUE;  // a read at the end succeeds with a count of 0
}

BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
  if (DWORD injected = enter("SetFileAttributesA")) {
    return fail(injected);
  }
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
  if (DWORD injected = enter("CopyFileA")) {
    return fail(injected);
  }
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
  if (DWORD injected = enter("DeleteFileA")) {
    return fail(injected);
  }
  std::string line = "delete " + show(name);
  DWORD error =
      name ? open_check(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) : ERROR_INVALID_PARAMETER;
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
  if (DWORD injected = enter("MoveFileExA")) {
    return fail(injected);
  }
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
