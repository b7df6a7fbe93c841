// NTDLL's file calls, for the files of a folder the run holds open. Every NT
// has them and every NT process has NTDLL loaded: they are taken from it at
// run time (module_function), never imported, so that the program still
// loads on Windows 95, 98 and Me, which have none.
#pragma once

#include "platform.h"

// The classes of NtSetInformationFile that the run uses.
enum {
  NT_BASIC_INFORMATION = 4,    // FILE_BASIC_INFORMATION: times, then attributes
  NT_RENAME_INFORMATION = 10,  // FILE_RENAME_INFORMATION
  NT_DISPOSITION_INFORMATION = 13,
};

// NtCreateFile's CreateOptions beyond the synchronous open of a file (not
// a folder) that every open here is.
static const DWORD NT_OPEN_REPARSE_POINT = 0x00200000;  // FILE_OPEN_REPARSE_POINT

// The name, one component, opened (OPEN_EXISTING) or made new (CREATE_NEW)
// in the folder that root is open on: the open starts from that handle and
// resolves no name above it again. Answers as CreateFileA does: the handle,
// or INVALID_HANDLE_VALUE with the reason as the last error.
HANDLE open_relative(HANDLE root, LPCSTR name, DWORD access, DWORD share, DWORD disposition, DWORD options);

// NtSetInformationFile: 1 on success, else 0 with the reason as the last
// error.
int set_file_information(HANDLE file, int information_class, LPVOID data, DWORD size);

// The name as a counted UTF-16 text, for NTDLL. 0 when it does not convert.
int wide_name(LPCSTR name, LPWSTR wide, DWORD *bytes);
