// The subset of the Win32 ANSI API that the updater uses, declared for the
// host build. Types keep their Windows widths (DWORD is 32 bits); the
// functions are implemented by the simulated Windows in this directory.
//
// The functions stand in groups, each headed by a comment naming the DLL
// that exports them. The exe check (tests/platform/check_exe.py) lets the
// program import exactly these, each from its own DLL, besides the few that
// only the entry point in src/main calls.
#pragma once

#include <stdint.h>

#define WINAPI
#define CONST const

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int DWORD;
typedef unsigned int UINT;
typedef int LONG;
typedef LONG *PLONG;
typedef char CHAR;
typedef uint16_t WCHAR;  // UTF-16, as on Windows
typedef BOOL *LPBOOL;
typedef DWORD *LPDWORD;
typedef BYTE *LPBYTE;
typedef UINT *PUINT;
typedef void *LPVOID;
typedef void *PVOID;
typedef unsigned int ULONG;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef void *HANDLE;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t SIZE_T;
typedef DWORD REGSAM;
typedef intptr_t(WINAPI *FARPROC)();

struct HKEY__;
typedef HKEY__ *HKEY;
typedef HKEY *PHKEY;
struct HINSTANCE__;
typedef HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
struct HWND__;
typedef HWND__ *HWND;
struct HRSRC__;
typedef HRSRC__ *HRSRC;
typedef void *HGLOBAL;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define KEY_READ 0x20019u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NOT_READY 21L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILE_EXISTS 80L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_FILE_CORRUPT 1392L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_DIRECTORY 267L
#define ERROR_CANT_ACCESS_FILE 1920L

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define CREATE_NEW 1u
#define OPEN_EXISTING 3u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define DELETE 0x00010000u
#define FILE_WRITE_ATTRIBUTES 0x100u
#define FILE_READ_ATTRIBUTES 0x80u
#define FILE_SHARE_READ 1u
#define FILE_SHARE_WRITE 2u
#define FILE_SHARE_DELETE 4u
#define FILE_ATTRIBUTE_READONLY 0x01u
#define FILE_ATTRIBUTE_HIDDEN 0x02u
#define FILE_ATTRIBUTE_SYSTEM 0x04u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MOVEFILE_REPLACE_EXISTING 1u
#define MOVEFILE_COPY_ALLOWED 2u
#define MOVEFILE_DELAY_UNTIL_REBOOT 4u
#define MOVEFILE_WRITE_THROUGH 8u

#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define IS_INTRESOURCE(p) (((ULONG_PTR)(p) >> 16) == 0)
#define RT_RCDATA MAKEINTRESOURCEA(10)

#define SYNCHRONIZE 0x00100000u
#define MUTEX_ALL_ACCESS 0x1F0001u

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u
#define LANG_USER_DEFAULT 0x400u
#define MAKELANGID(primary, sub) ((WORD)((WORD)(sub) << 10 | (WORD)(primary)))
#define LANG_ENGLISH 0x09u
#define SUBLANG_ENGLISH_US 0x01u

#define CP_ACP 0u

#define MB_OK 0u
#define MB_SYSTEMMODAL 0x1000u
#define IDOK 1

#define SW_SHOWDEFAULT 10

#define SEM_FAILCRITICALERRORS 0x0001u
#define SEM_NOOPENFILEERRORBOX 0x8000u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x8u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800u

#define HEAP_ZERO_MEMORY 0x8u

#define VER_PLATFORM_WIN32s 0u
#define VER_PLATFORM_WIN32_WINDOWS 1u
#define VER_PLATFORM_WIN32_NT 2u

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _ACTIVATION_CONTEXT_DETAILED_INFORMATION {
  DWORD dwFlags, ulFormatVersion, ulAssemblyCount, ulRootManifestPathType, ulRootManifestPathChars,
      ulRootConfigurationPathType, ulRootConfigurationPathChars, ulAppDirPathType, ulAppDirPathChars;
  LPCWSTR lpRootManifestPath, lpRootConfigurationPath, lpAppDirPath;
} ACTIVATION_CONTEXT_DETAILED_INFORMATION;

typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED *LPOVERLAPPED;
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;
typedef const FILETIME *LPCFILETIME;
typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh, nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh, nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

// kernel32
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size);
HANDLE WINAPI OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL owner, LPCSTR name);
BOOL WINAPI CloseHandle(HANDLE handle);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD code);
BOOL WINAPI IsDBCSLeadByte(BYTE value);
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                          DWORD flags, HANDLE templ);
#define FILE_BEGIN 0u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME created, LPFILETIME accessed, LPFILETIME written);
BOOL WINAPI SetFileTime(HANDLE file, LPCFILETIME created, LPCFILETIME accessed, LPCFILETIME written);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPSTR buffer, DWORD size,
                            void *arguments);
UINT WINAPI GetACP(void);
int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR ansi, int ansi_length, LPWSTR wide, int wide_size);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_length, LPSTR ansi, int ansi_size,
                               LPCSTR default_char, LPBOOL used_default_char);
DWORD WINAPI GetFileAttributesA(LPCSTR name);
BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes);
BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR target, BOOL fail_if_exists);
BOOL WINAPI DeleteFileA(LPCSTR name);
BOOL WINAPI MoveFileA(LPCSTR existing, LPCSTR target);
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
BOOL WINAPI FlushFileBuffers(HANDLE file);
DWORD WINAPI GetShortPathNameA(LPCSTR long_path, LPSTR short_path, DWORD size);
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file);
BOOL WINAPI WritePrivateProfileSectionA(LPCSTR section, LPCSTR data, LPCSTR file);
BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);
HANDLE WINAPI GetProcessHeap(void);
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
HMODULE WINAPI LoadLibraryA(LPCSTR name);
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
UINT WINAPI SetErrorMode(UINT mode);
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL data);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

// advapi32
LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG WINAPI RegCloseKey(HKEY key);

// version: never imported, and so not declared here. The logic takes
// GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA from the
// system directory's VERSION.DLL through LoadLibraryA and GetProcAddress,
// and FormatMessageW, SetDllDirectoryA, SetDefaultDllDirectories and
// QueryActCtxW, which some systems' KERNEL32 lacks, and NTDLL's file calls
// (NtCreateFile, NtSetInformationFile, RtlNtStatusToDosError), through
// GetProcAddress.

// user32: never imported. The logic takes these two from the system
// directory's USER32.DLL at start-up, through LoadLibraryExA and
// GetProcAddress.
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
