#include "native_files.h"

#include "system_library.h"

// The records NtCreateFile reads, as winternl.h spells them.
struct UnicodeText {
  WORD length;  // in bytes, without a terminator
  WORD capacity;
  LPWSTR text;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE root;
  UnicodeText *name;
  ULONG attributes;
  PVOID security;
  PVOID quality_of_service;
};

// IO_STATUS_BLOCK: the status, or a pointer, then the information.
struct StatusBlock {
  ULONG_PTR status;
  ULONG_PTR information;
};

static const ULONG CASE_INSENSITIVE = 0x40;  // OBJ_CASE_INSENSITIVE: names compare as Win32's do
static const DWORD NT_OPEN = 1, NT_CREATE = 2;  // FILE_OPEN, FILE_CREATE
// FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT: a file, read and
// written in order through its own position, as CreateFileA's handles are.
static const DWORD FILE_OPTIONS = 0x40 | 0x20;

typedef LONG(WINAPI *NtCreateFileFunction)(HANDLE *file, DWORD access, PVOID attributes, PVOID status_block,
                                           PVOID allocation, DWORD file_attributes, DWORD share, DWORD disposition,
                                           DWORD options, PVOID ea, DWORD ea_length);
typedef LONG(WINAPI *NtSetInformationFileFunction)(HANDLE file, PVOID status_block, LPVOID data, DWORD size,
                                                   int information_class);
typedef ULONG(WINAPI *StatusToErrorFunction)(LONG status);

static FARPROC native(LPCSTR name) { return module_function("NTDLL", name); }

// An NTSTATUS below zero is an error; the last error then tells it in the
// Win32 words that the boxes show.
static int succeeded(LONG status) {
  if (status >= 0) return 1;
  FARPROC to_error = native("RtlNtStatusToDosError");
  SetLastError(to_error ? as_function<StatusToErrorFunction>(to_error)(status) : ERROR_INVALID_FUNCTION);
  return 0;
}

int wide_name(LPCSTR name, LPWSTR wide, DWORD *bytes) {
  int characters = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH);
  *bytes = characters > 1 ? static_cast<DWORD>(characters - 1) * sizeof *wide : 0;
  return *bytes != 0;
}

HANDLE open_relative(HANDLE root, LPCSTR name, DWORD access, DWORD share, DWORD disposition, DWORD options) {
  FARPROC create = native("NtCreateFile");
  WCHAR wide[MAX_PATH];
  DWORD bytes;
  if (!create || !wide_name(name, wide, &bytes)) {
    if (!create) SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  UnicodeText text = {static_cast<WORD>(bytes), static_cast<WORD>(bytes), wide};
  ObjectAttributes attributes = {sizeof attributes, root, &text, CASE_INSENSITIVE, 0, 0};
  StatusBlock status_block;
  HANDLE file = INVALID_HANDLE_VALUE;
  // CreateFileA asks as much of every open: the attributes, and waiting
  // on the handle, which synchronous transfers need.
  LONG status = as_function<NtCreateFileFunction>(create)(
      &file, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status_block, 0, FILE_ATTRIBUTE_NORMAL, share,
      disposition == CREATE_NEW ? NT_CREATE : NT_OPEN, FILE_OPTIONS | options, 0, 0);
  return succeeded(status) ? file : INVALID_HANDLE_VALUE;
}

int set_file_information(HANDLE file, int information_class, LPVOID data, DWORD size) {
  FARPROC set = native("NtSetInformationFile");
  StatusBlock status_block;
  if (!set) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return succeeded(as_function<NtSetInformationFileFunction>(set)(file, &status_block, data, size, information_class));
}
