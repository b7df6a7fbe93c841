#include "handle_deletion.h"

#include "platform/system_library.h"
#include "platform/text.h"

// The same two records go by two functions: SetFileInformationByHandle on
// Vista and later, and NTDLL's NtSetInformationFile, which NT 4.0 to XP
// export and every later NT keeps; each names them by its own class
// numbers. Both are looked up: KERNEL32 of Windows 95 to XP lacks the
// first, and a program that imported it would not load there.
enum {
  BASIC_INFO = 0,            // FileBasicInfo
  DISPOSITION_INFO = 4,      // FileDispositionInfo
  NT_BASIC_INFO = 4,         // FileBasicInformation
  NT_DISPOSITION_INFO = 13,  // FileDispositionInformation
};

// FILE_BASIC_INFO: four times, where zero means "unchanged", then the
// attributes; 40 bytes with its padding, spelt out in DWORDs so that no
// compiler's alignment of 64-bit numbers can change it.
struct BasicInformation {
  DWORD times[8];
  DWORD attributes;
  DWORD padding;
};

typedef BOOL(WINAPI *SetByHandleFunction)(HANDLE file, int information_class, LPVOID data, DWORD size);
typedef LONG(WINAPI *NtSetFunction)(HANDLE file, LPVOID status_block, LPVOID data, DWORD size, int information_class);

static int set_information(HANDLE file, int by_handle_class, int nt_class, LPVOID data, DWORD size) {
  FARPROC by_handle = kernel_function("SetFileInformationByHandle");
  if (by_handle) return as_function<SetByHandleFunction>(by_handle)(file, by_handle_class, data, size);
  FARPROC native = module_function("NTDLL", "NtSetInformationFile");
  DWORD status_block[2];
  // An NTSTATUS below zero is an error.
  return native && as_function<NtSetFunction>(native)(file, status_block, data, size, nt_class) >= 0;
}

int delete_through_handle(HANDLE file) {
  // The system refuses to delete a read-only file. A failed reset is left
  // for the deletion to report.
  BasicInformation basic;
  bytes_zero(&basic, sizeof basic);
  basic.attributes = FILE_ATTRIBUTE_NORMAL;
  set_information(file, BASIC_INFO, NT_BASIC_INFO, &basic, sizeof basic);
  BYTE delete_file = 1;
  return set_information(file, DISPOSITION_INFO, NT_DISPOSITION_INFO, &delete_file, sizeof delete_file);
}
