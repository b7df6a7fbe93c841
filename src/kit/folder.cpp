#include "folder.h"

#include "platform/family.h"
#include "platform/native_files.h"
#include "platform/text.h"

static const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opens a folder rather than a file; a file opens too, and is refused.
static const DWORD AS_FOLDER = 0x02000000;  // FILE_FLAG_BACKUP_SEMANTICS

// FILE_BASIC_INFORMATION: four times, where zero means "unchanged", then the
// attributes; 40 bytes with its padding, spelt out in DWORDs so that no
// compiler's alignment of 64-bit numbers can change it.
struct BasicInformation {
  DWORD times[8];
  DWORD attributes;
  DWORD padding;
};

struct RenameInformation {
  BYTE replace;  // ReplaceIfExists
  HANDLE root;   // the folder the name is in
  DWORD bytes;
  WCHAR name[MAX_PATH];
};

void open_folder(Folder *folder, LPCSTR path) {
  bytes_zero(folder, sizeof *folder);
  folder->handle = INVALID_HANDLE_VALUE;
  text_join(folder->path, WHOLE_PATH_CAPACITY, path, "", "");
  const DWORD version = nt_major_version();
  folder->nt = version != 0;
  if (!folder->nt) return;
  // NT 4.0 has no reparse points, and nothing shows what its NtCreateFile
  // makes of the option: it is not asked for there (from 2000 on it is).
  folder->options = version >= 5 ? NT_OPEN_REPARSE_POINT : 0;
  // The folder's own name is followed, as the user meant it; only what it
  // led to at this first look is used from now on.
  HANDLE handle = CreateFileA(path[0] ? path : ".", 0, SHARE_ALL, 0, OPEN_EXISTING, AS_FOLDER, 0);
  DWORD attributes, links;
  // A folder that is not there is a path that is not: its files fail as
  // they would by their paths.
  if (handle == INVALID_HANDLE_VALUE) {
    folder->failure = GetLastError();
    if (!folder->failure || folder->failure == ERROR_FILE_NOT_FOUND) folder->failure = ERROR_PATH_NOT_FOUND;
  } else if (!file_facts(handle, &attributes, &links) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    folder->failure = ERROR_DIRECTORY;
  } else {
    folder->handle = handle;
  }
}

void close_folder(Folder *folder) {
  if (folder->handle != INVALID_HANDLE_VALUE) CloseHandle(folder->handle);
  folder->handle = INVALID_HANDLE_VALUE;
}

int path_in(const Folder *folder, LPCSTR name, LPSTR path, int capacity) {
  return text_join(path, capacity, folder->path, name, "");
}

// The joined path, for the 9x family's calls; where it does not fit, the
// call fails as a path too long, as the system's own would, so that no
// older error is taken for its reason.
static int joined(const Folder *folder, LPCSTR name, LPSTR path) {
  if (path_in(folder, name, path, MAX_PATH)) return 1;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return 0;
}

HANDLE open_in(const Folder *folder, LPCSTR name, DWORD access, DWORD share, DWORD disposition) {
  char path[MAX_PATH];
  if (!joined(folder, name, path)) return INVALID_HANDLE_VALUE;
  if (!folder->nt) return CreateFileA(path, access, share, 0, disposition, FILE_ATTRIBUTE_NORMAL, 0);
  if (folder->failure) {
    SetLastError(folder->failure);
    return INVALID_HANDLE_VALUE;
  }
  return open_relative(folder->handle, name, access, share, disposition, folder->options);
}

HANDLE open_attributes(const Folder *folder, LPCSTR name) {
  HANDLE file = folder->nt ? open_in(folder, name, FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_EXISTING) : INVALID_HANDLE_VALUE;
  return file != INVALID_HANDLE_VALUE || (folder->nt && GetLastError() != ERROR_ACCESS_DENIED)
             ? file
             : open_in(folder, name, 0, SHARE_ALL, OPEN_EXISTING);
}

int free_name(const Folder *folder, LPCSTR name) {
  char path[MAX_PATH];
  if (!folder->nt) return joined(folder, name, path) && (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND);
  HANDLE file = open_in(folder, name, DELETE, SHARE_ALL, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  int freed = delete_through(file);
  CloseHandle(file);
  return freed;
}

int move_in(const Folder *folder, LPCSTR from, LPCSTR to) {
  char from_path[MAX_PATH];
  char to_path[MAX_PATH];
  return joined(folder, from, from_path) && joined(folder, to, to_path) && MoveFileA(from_path, to_path);
}

int set_attributes_in(const Folder *folder, LPCSTR name, DWORD attributes) {
  char path[MAX_PATH];
  return joined(folder, name, path) && SetFileAttributesA(path, attributes);
}

int file_facts(HANDLE file, DWORD *attributes, DWORD *links) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return 0;
  *attributes = information.dwFileAttributes;
  *links = information.nNumberOfLinks;
  return 1;
}

int set_attributes_through(HANDLE file, DWORD attributes) {
  BasicInformation basic;
  bytes_zero(&basic, sizeof basic);
  basic.attributes = attributes;
  return set_file_information(file, NT_BASIC_INFORMATION, &basic, sizeof basic);
}

int delete_through(HANDLE file) {
  BYTE delete_file = 1;
  return set_file_information(file, NT_DISPOSITION_INFORMATION, &delete_file, sizeof delete_file);
}

int rename_into(HANDLE file, const Folder *folder, LPCSTR name) {
  RenameInformation rename;
  bytes_zero(&rename, sizeof rename);
  rename.replace = 1;
  rename.root = folder->handle;
  if (!wide_name(name, rename.name, &rename.bytes)) return 0;
  const DWORD size = static_cast<DWORD>(reinterpret_cast<BYTE *>(rename.name) - reinterpret_cast<BYTE *>(&rename)) + rename.bytes;
  return set_file_information(file, NT_RENAME_INFORMATION, &rename, size);
}
