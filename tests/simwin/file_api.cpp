// The file API: opening, attributes, copying, deleting, moving.
#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <functional>

#include "state.h"

namespace sim {
namespace detail {
namespace {

const DWORD ERROR_FILE_EXISTS_ = 80;
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Why renaming existing to target in place would fail, or 0. The source is
// opened for deletion sharing everything, so only a holder that refuses to
// share deletion stands in its way: on NT a loaded library may be renamed.
// Windows 9x renames no file that another program holds. Replacing deletes
// the old target, which a read-only or mapped file refuses.
// A rename through a handle that has DELETE access opens nothing more of the
// source (through_handle).
DWORD rename_check(const std::string &existing, const std::string &target, bool replace, bool through_handle = false) {
  // DOS, and so Windows 9x, refuses to rename a file anybody holds open
  // with "access denied".
  if (machine().platform != VER_PLATFORM_WIN32_NT && held(existing)) return ERROR_ACCESS_DENIED;
  if (DWORD error = through_handle ? 0 : open_check(existing, DELETE, SHARE_ALL)) return error;
  if (DWORD error = path_check(target)) return error;
  if (DWORD error = rights_check(existing)) return error;
  if (DWORD error = rights_check(target)) return error;
  if (volume_of(existing) != volume_of(target)) return ERROR_NOT_SAME_DEVICE;
  if (same_path(existing, target)) return 0;
  const File *old = find_file(target);
  if (!old && is_directory(target)) return replace ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS;
  if (!old) return 0;
  if (!replace) return ERROR_ALREADY_EXISTS;
  if ((old->attributes & FILE_ATTRIBUTE_READONLY) || module_held(target)) return ERROR_ACCESS_DENIED;
  // A rename that replaces fails while the target is open (MS-FSCC,
  // FileRenameInformation: STATUS_ACCESS_DENIED), whatever its share mode.
  for (const auto &entry : machine().handles)
    if (entry.second.kind == HandleKind::file && !entry.second.detached && same_path(entry.second.name, target))
      return ERROR_ACCESS_DENIED;
  return open_check(target, DELETE, SHARE_ALL);
}

// The file, its holders and our handles to it go over to the new name.
void rename_file(const std::string &existing, const std::string &target) {
  if (!same_path(existing, target)) erase_file(target);
  for (HeldFile &hold : machine().holds)
    if (same_path(hold.path, existing)) hold.path = target;
  for (auto &entry : machine().handles)
    if (entry.second.kind == HandleKind::file && same_path(entry.second.name, existing)) entry.second.name = target;
  find_file(existing)->path = target;
  name_path(target);
}

// A folder and everything in it go to the new name, and so do the holds
// and the handles on it or in it, as NT's handles follow the file objects.
void move_folder(const std::string &folder, const std::string &target) {
  Machine &m = machine();
  const std::string from = canonical(folder);
  auto move = [&](std::string &path) {
    const std::string now = canonical(path);
    if (now == from || now.compare(0, from.size() + 1, from + "\\") == 0) path = target + now.substr(from.size());
  };
  for (File &file : m.files) move(file.path);
  for (std::string &dir : m.dirs) move(dir);
  for (HeldFile &hold : m.holds) move(hold.path);
  for (auto &entry : m.handles)
    if (entry.second.kind != HandleKind::mutex) move(entry.second.name);
  m.dirs.push_back(target);
}

BOOL rename_once(const std::string &line, LPCSTR existing, LPCSTR target, bool replace) {
  // A folder goes whole, never over an existing name (a 9x folder holding
  // an open file, and a move into itself, are not modelled).
  if (existing && target && !find_file(existing) && is_directory(existing) && parse(existing).parts.size() > 1) {
    DWORD error = path_check(target);
    if (!error && (find_file(target) || is_directory(target))) error = ERROR_ALREADY_EXISTS;
    record(line, error == 0);
    if (error) return fail(error);
    move_folder(existing, target);
    disk_changed();
    return TRUE;
  }
  DWORD error = existing && target ? rename_check(existing, target, replace) : ERROR_INVALID_PARAMETER;
  record(line, error == 0);
  if (error) return fail(error);
  rename_file(existing, target);
  disk_changed();
  return TRUE;
}

}  // namespace
}  // namespace detail

using namespace detail;

// ---- Test side ----------------------------------------------------------

void make_dir(const std::string &path) {
  machine().dirs.push_back(path);
  name_path(path);
}

void put_file(const std::string &path, const std::string &bytes, DWORD attributes) {
  if (File *file = find_file(path)) {
    *file = File{file->path, bytes, attributes, false, {}};
  } else {
    machine().files.push_back(File{path, bytes, attributes, false, {}});
    name_path(path);
  }
  find_file(path)->written_at = ++machine().clock;
}

void relink(const std::string &path, const std::string &bytes) {
  for (auto &entry : machine().handles) {
    Handle &h = entry.second;
    if (h.kind == HandleKind::file && !h.detached && same_path(h.name, path))
      h.detached = std::make_shared<File>(*find_file(path));
  }
  put_file(path, bytes);
}

void repoint(const std::string &folder, const std::string &target, const std::map<std::string, std::string> &links) {
  Machine &m = machine();
  move_folder(folder, folder + ".moved" + std::to_string(++m.folders_moved));
  Mount mount{folder, target, {}};
  for (const auto &link : links) mount.links[lower_ascii(link.first)] = link.second;
  m.mounts.push_back(mount);
}

void on_open(const std::string &path, std::function<void()> action) {
  machine().open_hooks[canonical(path)] = std::move(action);
}

void set_links(const std::string &path, DWORD links) { find_file(path)->links = links; }

unsigned long long written_time(const std::string &path) {
  const File *file = find_file(path);
  return file ? file->written_at : 0;
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

// A new file: its name must be free, whatever stands there. The NT family
// takes a link under the name for the name itself when asked to open
// reparse points; Windows 9x knows neither links nor that flag.
static DWORD create_check(const std::string &name) {
  if (DWORD error = path_check(name)) return error;
  if (find_file(name)) return ERROR_FILE_EXISTS;
  if (is_directory(name)) return ERROR_ACCESS_DENIED;
  if (DWORD error = rights_check(name)) return error;
  return free_space(name) == 0 ? ERROR_DISK_FULL : 0;
}

// Opens or makes the file (or with FILE_FLAG_BACKUP_SEMANTICS the folder)
// of the name, as CreateFileA and NtCreateFile share it; the error, or 0
// with the handle.
static DWORD open_named(const std::string &line, LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                        DWORD flags, HANDLE *opened) {
  *opened = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_INVALID_PARAMETER;
  if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) && machine().platform != VER_PLATFORM_WIN32_NT)
    fault("FILE_FLAG_OPEN_REPARSE_POINT on the 9x family, which does not know it");
  const bool folder = (flags & FILE_FLAG_BACKUP_SEMANTICS) && name && disposition == OPEN_EXISTING &&
                      !find_file(name) && is_directory(name);
  // Opening what exists and making a new file are modelled; the other
  // dispositions are not something the updater does.
  if (folder) error = path_check(name);
  if (name && !folder && disposition == OPEN_EXISTING) error = open_check(name, access, share);
  // A reparse point is followed unless the flag says otherwise; where the
  // simulation's links lead, there is nothing.
  const File *found = name && !error && disposition == OPEN_EXISTING ? find_file(name) : nullptr;
  if (found && (found->attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(flags & FILE_FLAG_OPEN_REPARSE_POINT))
    error = ERROR_FILE_NOT_FOUND;
  if (name && disposition == CREATE_NEW) error = create_check(name);
  if (!error && disposition == CREATE_NEW) {
    // Only these attributes can be given to a new file; NT marks it for
    // archiving besides.
    const DWORD given = flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    machine().files.push_back(File{name, "", given | FILE_ATTRIBUTE_ARCHIVE, false, {}, false});
    machine().files.back().written_at = ++machine().clock;
    name_path(name);
    if (!disk_changed()) error = ERROR_NOT_READY;
  }
  record(line, error == 0);
  if (error) return error;
  uintptr_t value = new_handle();
  // A folder's handle keeps the folder it was opened on: its path as the
  // mount points led it then.
  machine().handles[value] = Handle{folder ? HandleKind::folder : HandleKind::file,
                                    folder ? through_mounts(name) : std::string(name), access, share, 0, nullptr};
  *opened = reinterpret_cast<HANDLE>(value);
  auto hook = machine().open_hooks.find(canonical(name));
  if (hook != machine().open_hooks.end()) {
    std::function<void()> action = hook->second;
    machine().open_hooks.erase(hook);
    action();
  }
  return 0;
}

HANDLE WINAPI CreateFileA(LPCSTR given_name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE) {
  if (DWORD injected = enter("CreateFileA")) {
    set_error(injected);
    return INVALID_HANDLE_VALUE;
  }
  std::string line = (disposition == CREATE_NEW ? "create " : "open ") + show(given_name);
  const std::string name_rules = win32_name(given_name);
  HANDLE opened;
  DWORD error = open_named(line, given_name ? name_rules.c_str() : nullptr, access, share, disposition, flags, &opened);
  set_error(error);  // 0 as XP's CreateFileA sets on every successful open
  return opened;
}

// NTSTATUS for a Win32 error, and back (RtlNtStatusToDosError): the error
// carried in a status of its own, since the updater only asks whether a
// status failed and then what it means in Win32's words. A name taken is
// STATUS_OBJECT_NAME_COLLISION, which NTDLL tells as ERROR_ALREADY_EXISTS
// (CreateFileA alone says ERROR_FILE_EXISTS).
static LONG status_of(DWORD error) {
  if (error == ERROR_FILE_EXISTS) error = ERROR_ALREADY_EXISTS;
  return error ? static_cast<LONG>(0xE0000000u | error) : 0;
}

ULONG WINAPI RtlNtStatusToDosError(LONG status) {
  return status < 0 ? static_cast<ULONG>(status & 0xFFFF) : 0;
}

static std::string child_path(const std::string &folder, const std::string &name) {
  if (folder == ".") return name;
  return folder + (!folder.empty() && (folder.back() == '\\' || folder.back() == '/') ? "" : "\\") + name;
}

static Handle *handle_of(HANDLE handle, HandleKind kind) {
  auto found = machine().handles.find(reinterpret_cast<uintptr_t>(handle));
  return found != machine().handles.end() && found->second.kind == kind ? &found->second : nullptr;
}

// The name's path in the folder the handle is open on, wherever the
// folder's name leads now; null (a fault) unless the name is one component
// in a folder handle's record.
static const Handle *folder_and_name(const char *function, HANDLE root, const WCHAR *wide, DWORD bytes,
                                     std::string *path) {
  const Handle *folder = handle_of(root, HandleKind::folder);
  std::u16string units;
  for (DWORD i = 0; wide && i < bytes / 2; ++i) units += static_cast<char16_t>(wide[i]);
  const std::string name = to_ansi(from_utf16(units), machine().code_page);
  if (!folder || name.empty() || name.find_first_of("\\/") != std::string::npos) {
    fault(std::string(function) + " of a name that is not one component in a folder handle's folder");
    return nullptr;
  }
  *path = child_path(folder->name, name);
  return folder;
}

LONG WINAPI NtCreateFile(HANDLE *file, DWORD access, void *object, void *status_block, void *, DWORD, DWORD share,
                         DWORD disposition, DWORD options, void *, DWORD) {
  if (DWORD injected = enter("NtCreateFile")) return status_of(injected);
  const auto *attributes = static_cast<const NtObjectAttributes *>(object);
  const DWORD SYNCHRONOUS = 0x20, NON_DIRECTORY = 0x40, OPEN_REPARSE_POINT = 0x00200000;
  std::string path;
  if (!file || !status_block || !attributes || attributes->length != sizeof *attributes || !attributes->name ||
      !folder_and_name("NtCreateFile", attributes->root, attributes->name->text, attributes->name->length, &path))
    return status_of(ERROR_INVALID_PARAMETER);
  if (!(access & SYNCHRONIZE) || !(options & SYNCHRONOUS) || !(options & NON_DIRECTORY) || (disposition != 1 && disposition != 2))
    fault("NtCreateFile other than a synchronous open or creation of a file");
  // NT 4.0 has no reparse points; what its NtCreateFile makes of the option
  // is not known, and the worst is taken: it is refused.
  if ((options & OPEN_REPARSE_POINT) && machine().nt_major < 5) return status_of(ERROR_INVALID_PARAMETER);
  HANDLE opened;
  const DWORD error = open_named((disposition == 2 ? "create " : "open ") + path, path.c_str(), access, share,
                                 disposition == 2 ? CREATE_NEW : OPEN_EXISTING,
                                 options & OPEN_REPARSE_POINT ? FILE_FLAG_OPEN_REPARSE_POINT : 0, &opened);
  *file = opened;
  return status_of(error);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  if (DWORD injected = enter("GetFileInformationByHandle")) return fail(injected);
  auto found = machine().handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == machine().handles.end() || found->second.kind == HandleKind::mutex || !information) {
    fault("GetFileInformationByHandle of a handle that is not an open file or folder");
    return fail(ERROR_INVALID_HANDLE);
  }
  Handle &h = found->second;
  *information = BY_HANDLE_FILE_INFORMATION{};
  information->dwVolumeSerialNumber = static_cast<DWORD>(volume_of(h.name) + 2);
  information->nNumberOfLinks = 1;
  if (h.kind == HandleKind::folder) {
    information->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    information->nFileIndexLow = static_cast<DWORD>(std::hash<std::string>()(canonical(h.name)) | 1u);
    return TRUE;
  }
  File *data = h.detached ? h.detached.get() : find_file(h.name);
  if (!data) return fail(ERROR_FILE_NOT_FOUND);
  if (!data->index) data->index = ++machine().file_indexes;
  information->dwFileAttributes = data->attributes;
  information->nFileSizeLow = static_cast<DWORD>(data->bytes.size());
  information->nNumberOfLinks = data->links;
  information->nFileIndexLow = static_cast<DWORD>(data->index);
  return TRUE;
}

// The handle's file, or null when a test erased it behind the system's back.
static File *file_of(Handle &h) { return h.detached ? h.detached.get() : find_file(h.name); }

// The open file behind a handle, or null after a fault: the updater never
// hands the file functions anything else.
static Handle *file_handle(const char *function, HANDLE file) {
  auto found = machine().handles.find(reinterpret_cast<uintptr_t>(file));
  if (found != machine().handles.end() && found->second.kind == HandleKind::file) return &found->second;
  fault(std::string(function) + " of a handle that is not an open file " + show(static_cast<const void *>(file)));
  set_error(ERROR_INVALID_HANDLE);
  return nullptr;
}

// Why a read or a write through the handle fails before it starts, or 0 with
// the file. Windows 9x demands the count; NT faults without it. Overlapped
// transfers are not something the updater does.
static DWORD transfer_check(Handle &h, const void *buffer, LPDWORD count, LPOVERLAPPED overlapped, bool writing,
                            File **data) {
  if (count) *count = 0;
  if (!buffer || !count || overlapped) return ERROR_INVALID_PARAMETER;
  if (writing ? !grants_write(h.access) : !(h.access & GENERIC_READ)) return ERROR_ACCESS_DENIED;
  *data = file_of(h);
  return *data ? 0 : ERROR_FILE_NOT_FOUND;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  if (DWORD injected = enter("ReadFile")) {
    if (read) *read = 0;
    return fail(injected);
  }
  Handle *found = file_handle("ReadFile", file);
  if (!found) return FALSE;
  Handle &h = *found;
  File *data = nullptr;
  DWORD error = transfer_check(h, buffer, read, overlapped, false, &data);
  record("read " + h.name, error == 0);
  if (error) return fail(error);
  std::size_t left = h.position < data->bytes.size() ? data->bytes.size() - h.position : 0;
  std::size_t count = size < left ? size : left;
  std::memcpy(buffer, data->bytes.data() + h.position, count);
  h.position += count;
  *read = static_cast<DWORD>(count);
  return TRUE;  // a read at the end succeeds with a count of 0
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  if (DWORD injected = enter("WriteFile")) {
    if (written) *written = 0;
    return fail(injected);
  }
  Handle *h = file_handle("WriteFile", file);
  if (!h) return FALSE;
  File *data = nullptr;
  DWORD error = transfer_check(*h, buffer, written, overlapped, true, &data);
  // A write that does not fit the volume writes nothing (NTFS, FAT and
  // Wine alike fail it whole with the count 0).
  if (!error) {
    const std::size_t end = h->position + size;
    const std::size_t grows = end > data->bytes.size() ? end - data->bytes.size() : 0;
    if (grows > free_space(data->path)) error = ERROR_DISK_FULL;
  }
  if (!error && !disk_changed()) error = ERROR_NOT_READY;
  record("write " + h->name, error == 0);
  if (error) return fail(error);
  if (data->bytes.size() < h->position + size) data->bytes.resize(h->position + size);
  data->bytes.replace(h->position, size, static_cast<const char *>(buffer), size);
  data->unflushed = true;
  data->written_at = ++machine().clock;
  auto version = machine().versions_by_bytes.find(data->bytes);
  data->has_version = version != machine().versions_by_bytes.end();
  if (data->has_version) data->version = version->second;
  h->position += size;
  *written = size;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
  if (DWORD injected = enter("SetFilePointer")) {
    set_error(injected);
    return INVALID_SET_FILE_POINTER;
  }
  Handle *h = file_handle("SetFilePointer", file);
  if (!h) return INVALID_SET_FILE_POINTER;
  // Going back to the start is all the updater does.
  if (method != FILE_BEGIN || distance != 0 || (distance_high && *distance_high != 0)) {
    fault("SetFilePointer elsewhere than to the start");
    set_error(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  h->position = 0;
  return 0;
}

// What SetFileInformationByHandle and NtSetInformationFile share: the basic
// record (40 bytes; its attributes at 32, where 0 means unchanged) needs
// FILE_WRITE_ATTRIBUTES, the disposition (a BOOLEAN) DELETE. A read-only
// file or a running image refuses its deletion (STATUS_CANNOT_DELETE), and
// the file goes when the handle closes: the file the handle was opened on,
// whatever its name has come to lead to.
static DWORD set_information(const char *function, HANDLE file, bool basic, LPVOID data, DWORD size) {
  Handle *h = file_handle(function, file);
  if (!h) return ERROR_INVALID_HANDLE;
  File *target = file_of(*h);
  DWORD attributes = 0;
  if (basic && data && size >= 40) std::memcpy(&attributes, static_cast<char *>(data) + 32, sizeof attributes);
  DWORD error = 0;
  if (!data || size < (basic ? 40u : 1u))
    error = ERROR_INVALID_PARAMETER;
  else if (!target)
    error = ERROR_FILE_NOT_FOUND;
  // GENERIC_WRITE brings FILE_WRITE_ATTRIBUTES (FILE_GENERIC_WRITE).
  else if (!(h->access & (basic ? FILE_WRITE_ATTRIBUTES | GENERIC_WRITE : DELETE)))
    error = ERROR_ACCESS_DENIED;
  else if (!basic && ((target->attributes & FILE_ATTRIBUTE_READONLY) || (!h->detached && module_held(h->name))))
    error = ERROR_ACCESS_DENIED;
  if (!error && !disk_changed()) error = ERROR_NOT_READY;
  char text[16];
  std::snprintf(text, sizeof text, " 0x%02X", attributes);
  record(basic ? "attributes-through " + h->name + text : "delete-through " + h->name, error == 0);
  if (error) return error;
  if (!basic)
    h->delete_pending = *static_cast<BYTE *>(data) != 0;
  else if (attributes)
    target->attributes =
        (attributes & ~FILE_ATTRIBUTE_NORMAL) ? attributes & ~FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_NORMAL;
  return 0;
}

BOOL WINAPI SetFileInformationByHandle(HANDLE file, int information_class, LPVOID data, DWORD size) {
  if (DWORD injected = enter("SetFileInformationByHandle")) return fail(injected);
  // FileBasicInfo is 0, FileDispositionInfo 4.
  if (information_class != 0 && information_class != 4) return fail(ERROR_INVALID_PARAMETER);
  DWORD error = set_information("SetFileInformationByHandle", file, information_class == 0, data, size);
  return error ? fail(error) : TRUE;
}

// FILE_RENAME_INFORMATION, as winternl.h has it.
struct NtRenameInformation {
  BYTE replace;
  HANDLE root;
  DWORD bytes;
  WCHAR name[1];
};

// The rename through a handle with DELETE access, to a name in the folder
// of a folder's handle (the only kind the updater asks for).
static DWORD rename_through(HANDLE file, LPVOID data, DWORD size) {
  Handle *h = file_handle("NtSetInformationFile", file);
  if (!h) return ERROR_INVALID_HANDLE;
  const auto *rename = static_cast<const NtRenameInformation *>(data);
  const DWORD header = static_cast<DWORD>(offsetof(NtRenameInformation, name));
  std::string target;
  if (!data || size < header || size < header + rename->bytes ||
      !folder_and_name("NtSetInformationFile", rename->root, rename->name, rename->bytes, &target))
    return ERROR_INVALID_PARAMETER;
  DWORD error = !(h->access & DELETE) ? ERROR_ACCESS_DENIED : h->detached ? ERROR_FILE_NOT_FOUND : 0;
  if (!error) error = rename_check(h->name, target, rename->replace != 0, true);
  const std::string source = h->name;  // rename_file renames the handle too
  record("move " + source + " > " + target, error == 0);
  if (error) return error;
  rename_file(source, target);
  disk_changed();
  return 0;
}

LONG WINAPI NtSetInformationFile(HANDLE file, LPVOID status_block, LPVOID data, DWORD size, int information_class) {
  if (DWORD injected = enter("NtSetInformationFile")) return status_of(injected);
  // FileBasicInformation is 4, FileRenameInformation 10,
  // FileDispositionInformation 13. The native call leaves the last error
  // alone.
  if (!status_block || (information_class != 4 && information_class != 10 && information_class != 13))
    return status_of(ERROR_INVALID_PARAMETER);
  const DWORD kept = machine().last_error;
  DWORD error = information_class == 10
                    ? rename_through(file, data, size)
                    : set_information("NtSetInformationFile", file, information_class == 4, data, size);
  machine().last_error = kept;
  return status_of(error);
}

static void put_time(LPFILETIME time, unsigned long long ticks) {
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME created, LPFILETIME accessed, LPFILETIME written) {
  if (DWORD injected = enter("GetFileTime")) return fail(injected);
  Handle *h = file_handle("GetFileTime", file);
  if (!h) return FALSE;
  const File *data = file_of(*h);
  // Reading times needs some access to the file: GENERIC_READ or
  // GENERIC_WRITE bring it, an open for no access does not.
  if (!data || !(h->access & (GENERIC_READ | GENERIC_WRITE)))
    return fail(data ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
  for (LPFILETIME time : {created, accessed, written})
    if (time) put_time(time, data->written_at);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE file, LPCFILETIME created, LPCFILETIME accessed, LPCFILETIME written) {
  if (DWORD injected = enter("SetFileTime")) return fail(injected);
  Handle *h = file_handle("SetFileTime", file);
  if (!h) return FALSE;
  File *data = file_of(*h);
  DWORD error = !data ? ERROR_FILE_NOT_FOUND : grants_write(h->access) ? 0 : ERROR_ACCESS_DENIED;
  if (!error && !disk_changed()) error = ERROR_NOT_READY;
  record("time " + h->name, error == 0);
  if (error) return fail(error);
  (void)created;
  (void)accessed;
  if (written)
    data->written_at = written->dwLowDateTime | static_cast<unsigned long long>(written->dwHighDateTime) << 32;
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR given_name) {
  if (DWORD injected = enter("GetFileAttributesA")) {
    set_error(injected);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string name = win32_name(given_name);
  DWORD error = given_name ? path_check(name) : ERROR_INVALID_PARAMETER;
  if (!error && !find_file(name) && !is_directory(name)) error = ERROR_FILE_NOT_FOUND;
  if (error) {
    set_error(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return sim::attributes_of(name);
}

BOOL WINAPI SetFileAttributesA(LPCSTR given_name, DWORD attributes) {
  if (DWORD injected = enter("SetFileAttributesA")) {
    return fail(injected);
  }
  char text[16];
  std::snprintf(text, sizeof text, " 0x%02X", attributes);
  std::string line = "attributes " + show(given_name) + text;
  const std::string name_rules = win32_name(given_name);
  LPCSTR name = given_name ? name_rules.c_str() : nullptr;
  DWORD error = name ? path_check(name) : ERROR_INVALID_PARAMETER;
  File *file = error ? nullptr : find_file(name);
  if (!error && !file && !is_directory(name)) error = ERROR_FILE_NOT_FOUND;
  if (!error) error = rights_check(name);
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
  disk_changed();
  return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR given_existing, LPCSTR given_target, BOOL fail_if_exists) {
  if (DWORD injected = enter("CopyFileA")) {
    return fail(injected);
  }
  std::string line = "copy " + show(given_existing) + " > " + show(given_target);
  const std::string existing_rules = win32_name(given_existing);
  LPCSTR existing = given_existing ? existing_rules.c_str() : nullptr;
  const std::string target_rules = win32_name(given_target);
  LPCSTR target = given_target ? target_rules.c_str() : nullptr;
  DWORD error = existing && target ? open_check(existing, GENERIC_READ, FILE_SHARE_READ) : ERROR_INVALID_PARAMETER;
  if (!error) error = path_check(target);
  if (!error) error = rights_check(target);
  const File *old = error ? nullptr : find_file(target);
  if (!error && !old && is_directory(target)) error = ERROR_ACCESS_DENIED;
  // The source is open for reading without write sharing while the
  // target is opened for writing: a file copied onto itself collides.
  if (!error && same_path(existing, target)) error = ERROR_SHARING_VIOLATION;
  if (!error && old && fail_if_exists) error = ERROR_FILE_EXISTS_;
  if (!error && old && (old->attributes & FILE_ATTRIBUTE_READONLY)) error = ERROR_ACCESS_DENIED;
  // The target is created over the old one with the source's attributes,
  // which Windows refuses for a hidden or system file unless they match.
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (!error && old && (old->attributes & kept & ~find_file(existing)->attributes)) error = ERROR_ACCESS_DENIED;
  if (!error && old) error = open_check(target, GENERIC_WRITE, 0);
  if (error) {
    record(line, false);
    return fail(error);
  }

  // The destination is made, or emptied, before any byte arrives; then the
  // data goes into the cache, as much as the volume has room for. A copy
  // cut short leaves what it wrote, as Wine does.
  const File source = *find_file(existing);
  if (!old) {
    machine().files.push_back(File{target, "", FILE_ATTRIBUTE_ARCHIVE, false, {}, false});
    name_path(target);
  }
  File *file = find_file(target);
  file->bytes.clear();
  file->has_version = false;
  if (!disk_changed()) {
    record(line, false);
    return fail(ERROR_NOT_READY);
  }
  const std::size_t room = static_cast<std::size_t>(std::min<unsigned long long>(free_space(target), ~std::size_t{0}));
  const bool fits = source.bytes.size() <= room;
  File copy = source;
  copy.path = file->path;
  if (!fits) copy.bytes.resize(room);  // its head still holds the version resource
  copy.unflushed = true;
  *file = copy;
  disk_changed();
  record(line, fits);
  return fits ? TRUE : fail(ERROR_DISK_FULL);
}

BOOL WINAPI DeleteFileA(LPCSTR given_name) {
  if (DWORD injected = enter("DeleteFileA")) {
    return fail(injected);
  }
  std::string line = "delete " + show(given_name);
  const std::string name_rules = win32_name(given_name);
  LPCSTR name = given_name ? name_rules.c_str() : nullptr;
  DWORD error =
      name ? open_check(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) : ERROR_INVALID_PARAMETER;
  // DOS, and so Windows 9x, answers a delete of an open file with "access
  // denied", never with a sharing violation.
  if (error == ERROR_SHARING_VIOLATION && machine().platform != VER_PLATFORM_WIN32_NT) error = ERROR_ACCESS_DENIED;
  // The open succeeded; marking the file for deletion is what fails for a
  // read-only file or a running image.
  if (!error && ((find_file(name)->attributes & FILE_ATTRIBUTE_READONLY) || module_held(name)))
    error = ERROR_ACCESS_DENIED;
  record(line, error == 0);
  if (error) return fail(error);
  erase_file(name);
  disk_changed();
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR given_existing, LPCSTR given_target) {
  if (DWORD injected = enter("MoveFileA")) {
    return fail(injected);
  }
  const std::string line = "move " + show(given_existing) + " > " + show(given_target);
  const std::string existing = win32_name(given_existing), target = win32_name(given_target);
  // A move to another volume copies the file; the updater never asks for
  // one, and it is not modelled: it fails as a plain rename would.
  return rename_once(line, given_existing ? existing.c_str() : nullptr, given_target ? target.c_str() : nullptr, false);
}

BOOL WINAPI MoveFileExA(LPCSTR given_existing, LPCSTR given_target, DWORD flags) {
  if (DWORD injected = enter("MoveFileExA")) {
    return fail(injected);
  }
  bool at_restart = !given_target && (flags & MOVEFILE_DELAY_UNTIL_REBOOT);
  std::string line = at_restart ? "move-at-restart " + show(given_existing)
                                : "move " + show(given_existing) + " > " + show(given_target);
  const std::string existing_rules = win32_name(given_existing);
  LPCSTR existing = given_existing ? existing_rules.c_str() : nullptr;
  const std::string target_rules = win32_name(given_target);
  LPCSTR target = given_target ? target_rules.c_str() : nullptr;
  DWORD error = 0;
  if (machine().platform != VER_PLATFORM_WIN32_NT) {
    error = ERROR_CALL_NOT_IMPLEMENTED;  // Windows 9x has only the entry point
  } else if (!existing) {
    error = ERROR_INVALID_PARAMETER;
  } else if (!at_restart) {
    // Renames in place only: copying moves and renames at the next restart
    // are not modelled.
    if (flags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) error = ERROR_INVALID_PARAMETER;
    if (!error) return rename_once(line, existing, target, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
  } else if (std::strlen(existing) >= MAX_PATH) {
    error = ERROR_FILENAME_EXCED_RANGE;
  } else if (limited_user()) {
    error = ERROR_ACCESS_DENIED;  // the list of deletions lives under HKEY_LOCAL_MACHINE
  }
  record(line, error == 0);
  if (error) return fail(error);
  // The system only notes the name; whether the file exists matters at
  // the restart.
  machine().pending_deletions.push_back(existing);
  disk_changed();
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  if (DWORD injected = enter("FlushFileBuffers")) {
    return fail(injected);
  }
  auto found = machine().handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == machine().handles.end() || found->second.kind != HandleKind::file) {
    record("flush-buffers " + show(static_cast<const void *>(handle)), false);
    return fail(ERROR_INVALID_HANDLE);
  }
  const std::string name = found->second.name;
  // Only a handle that may write the file may flush it.
  DWORD error = grants_write(found->second.access) ? 0 : ERROR_ACCESS_DENIED;
  record("flush-buffers " + name, error == 0);
  if (error) return fail(error);
  if (File *file = find_file(name)) file->unflushed = false;
  disk_changed();
  return TRUE;
}
