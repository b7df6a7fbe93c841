// The simulated Windows behind the host build: a machine that a test sets
// up, runs the updater on, and inspects afterwards.
//
// It models exactly the operations of win32_api.h and fails the way
// Windows fails: missing keys and files, sharing violations, read-only
// files, truncated reads. Paths and registry keys compare case-insensitively;
// "/" and "\" are the same separator in file paths.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "win32_api.h"

namespace sim {

// A fresh machine: NT family (version 5.1), ANSI code page 1252, English UI
// (1033) and regional settings (1033), with the updater's own string tables
// loaded from res/strings.rc and system message texts in English and
// Japanese; Windows directory "C:\WINDOWS", a VERSION.DLL in the system
// directory, no registry keys, no files, no mutexes, the module path
// the updater in "C:\KIT\" (EXE of machine_fixture.h; the file itself is not created); the user is an
// administrator.
void reset();

// ---- Registry (HKEY_LOCAL_MACHINE only) -----------------------------------
void set_key(const std::string &key);  // creates it, with no values
// Stores the bytes exactly as given: no terminator is added.
void set_value(const std::string &key, const std::string &name, DWORD type, const std::string &bytes);
// A REG_SZ value holding text and its terminator.
void set_string(const std::string &key, const std::string &name, const std::string &text);
int open_keys();  // key handles opened and not yet closed

// ---- Files ----------------------------------------------------------------
// Directories exist when made explicitly or when a file lies in them.
void make_dir(const std::string &path);
void put_file(const std::string &path, const std::string &bytes, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
bool exists(const std::string &path);
std::string bytes_of(const std::string &path);  // "" when missing
std::vector<std::string> file_paths();          // every file, as first named
DWORD attributes_of(const std::string &path);   // INVALID_FILE_ATTRIBUTES when missing

// A version resource. Each translation is a language and a code page; a
// translation may carry a FileVersion string or not.
struct Translation {
  WORD language;
  WORD code_page;
  bool has_file_version;
  std::string file_version;
};
struct VersionResource {
  std::vector<Translation> translations;  // empty: no "\VarFileInfo\Translation"
  // Windows 9x counts the terminator in the length VerQueryValueA reports
  // for a string, NT does not always: choose per file.
  bool length_counts_terminator = true;
  // A damaged resource: the FileVersion bytes run up to the translations
  // with no terminator, and the reported length counts only the characters.
  bool unterminated = false;
  // The resource of a 16-bit (NE) file, which Windows 9x hands back with no
  // room after it: its translations end the block.
  bool sixteen_bit = false;
};
// Attaches a version resource to an existing file; copies carry it along, and
// so does a file written with the same bytes.
void set_version(const std::string &path, const VersionResource &resource);
// Shorthand: one translation, 0409/04b0, with this FileVersion.
void set_file_version(const std::string &path, const std::string &file_version);

// Another process holds the file open. A module hold is how a running
// program holds its executable or a loaded library: others may read it,
// but writing fails with a sharing violation and deleting with access
// denied. An exclusive hold is an open with read access and no sharing:
// even reading the version resource fails with a sharing violation.
// Opening with no access at all (the presence check) succeeds on the NT
// family. The 9x family follows DOS sharing rules: every open reads, so an
// open with no sharing fails with a sharing violation while anyone, the
// loader included, has the file open.
enum class Hold { module, exclusive };
void hold(const std::string &path, Hold how);
void release(const std::string &path);

// Every name that is not a valid 8.3 name gets an alias when it is made,
// Windows' way: upper case, blanks and all dots but the last dropped,
// "+,;=[]" made "_", six characters, "~1" (or "~2" and on when the
// directory has that alias already), and three of the extension:
// "SETUPHELPER.EXE" becomes "SETUPH~1.EXE". A valid 8.3 name, in any case,
// is its own. GetShortPathNameA builds the short form from the aliases, and
// every file operation takes an alias for its long name.
// set_short_name overrides: the short form GetShortPathNameA gives for the
// path and what lies in it.
void set_short_name(const std::string &long_path, const std::string &short_path);
// A share ("\\\\SERVER\\KIT") that names a folder: paths through it are the
// folder's files, as a program started from the network finds them.
void set_share(const std::string &share, const std::string &folder);
// The alias of the last part of an existing path ("" when it has none).
std::string alias_of(const std::string &path);

// Everything the updater did to the file system and the registry, in
// order, one line each:
//   "open PATH", "create PATH", "read PATH", "write PATH", "time PATH",
//   "read-version PATH", "attributes PATH 0xNN",
//   "copy SRC > DST", "delete PATH", "move SRC > DST", "flush-buffers PATH",
//   "move-at-restart PATH", "write-section FILE [SECTION]", "flush FILE",
//   "attributes-through PATH 0xNN", "delete-through PATH" (through a handle)
// Paths appear as the updater passed them. Failed calls are recorded too,
// with " failed" appended. "read-version" stands for one read of a version
// resource: GetFileVersionInfoA records it, GetFileVersionInfoSizeA only
// when it fails. Attributes are two upper-case hex digits or more. "move"
// stands for MoveFileA and for MoveFileExA with a new name, whatever the
// flags. Calls outside the updater's own use are recorded as
// "write-string FILE [SECTION] KEY".
const std::vector<std::string> &journal();
void clear_journal();

// Deletions scheduled with MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT).
const std::vector<std::string> &pending_deletions();
// The next restart: releases every hold and mutex, carries out pending
// deletions (NT family; a read-only file stays) and the "Nul=" lines of WinInit.ini's "Rename"
// section (9x family), after which that section is removed. WININIT runs
// before Windows, under DOS: it passes over a line that names a path with
// any long name in it. After a power cut (cut_power_after) the restart
// first leaves every file written since its last flush full of zeros; a
// clean restart writes the cache out instead.
void restart();

// ---- The disk ---------------------------------------------------------------
// The directory becomes the root of a volume of its own (a small disk
// mounted there, so the directory exists) with this many bytes free. Files under it, and only those,
// share its space; elsewhere space never runs out. A copy that does not fit
// writes what fits, leaves it, and fails with ERROR_DISK_FULL; a rename
// from one volume to another fails with ERROR_NOT_SAME_DEVICE.
void set_free_space(const std::string &directory, unsigned long long bytes);

// Data written to a file stays in the system's cache until FlushFileBuffers
// or a clean shutdown, while names, sizes and attributes reach the disk at
// once and in order. Each call that changes the disk counts as one change:
// a successful attribute change, deletion, rename, scheduled deletion,
// flush or profile write; a copy counts twice, for its new (or emptied)
// destination and then for its data.
int disk_changes();  // since the reset
// The power fails right after the nth change from now (1 = the next): from
// then on every fallible call fails with ERROR_NOT_READY and changes
// nothing, and the next restart() finds the cache lost.
void cut_power_after(int nth);
bool power_is_off();

// Another process opens the file for writing, sharing everything, and
// replaces its bytes. false, with nothing changed, when the system refuses
// the open (a sharing violation while the updater holds it, a missing
// file, a read-only one).
bool tamper(const std::string &path, const std::string &bytes);

// The name comes to mean another file with these bytes, as when a junction
// above it is pointed elsewhere: handles open on the old file keep reading
// (and writing) the old one, which no name reaches any more.
void relink(const std::string &path, const std::string &bytes);
// The folder's name comes to lead elsewhere, as when another user renames
// the folder away and makes its name a mount point: to the folder target,
// or, when target is empty, to an object-manager directory (\RPC Control)
// whose links lead each name given to the path given. The folder's files,
// and every handle on it or in it, go with it to its new place, which no
// name of the test's reaches. Paths through the name follow the mount point
// whatever the flags (FILE_FLAG_OPEN_REPARSE_POINT acts on a last component
// alone), and the name itself, opened as a folder, leads to no folder when
// it leads to the object directory.
void repoint(const std::string &folder, const std::string &target,
             const std::map<std::string, std::string> &links = {});
// The file has this many names, as hard links give it
// (GetFileInformationByHandle's nNumberOfLinks).
void set_links(const std::string &path, DWORD links);
// The last-write time of a file (GetFileTime): put_file and every write
// date a file anew, later than any before; a copy keeps its source's.
unsigned long long written_time(const std::string &path);

// ---- Initialisation files -------------------------------------------------
// Initialisation files are ordinary files of the simulated file system,
// parsed on every call. Section reads drop comment lines (";") and blank
// lines; a section that does not fit comes back cut at the capacity with
// the count capacity - 2. Writing a section drops lines without "=".
// The text of the file WinInit.ini in the Windows directory, or "" when
// missing, and the lines of one of its sections.
std::string wininit_path();
std::string wininit_text();
std::vector<std::string> wininit_section(const std::string &section);

// ---- System ---------------------------------------------------------------
// The family, the language of the user interface, the regional settings
// and the ANSI code page are independent, as on Windows.
void set_platform(DWORD platform_id);  // VER_PLATFORM_WIN32_NT or _WINDOWS
// NT family only: 4.0, 5.0, 5.1 (the default), 6.x, 10.0.
void set_nt_version(DWORD major, DWORD minor);
// The service pack GetVersionExA tells, and the loader follows (0: none);
// unless set, the version's last (6 on NT 4.0, 4 on 2000, 3 on XP).
void set_service_pack(int pack);
void fail_version_query();  // GetVersionExA fails
void set_windows_directory(const std::string &path);
// The ANSI code page (GetACP): IsDBCSLeadByte follows it, and LoadStringA,
// FormatMessageA and WideCharToMultiByte convert to it, each character it
// lacks becoming "?".
void set_code_page(UINT code_page);
// The language Windows itself speaks: its message texts, and on Windows
// 2000 and later the string table LoadStringA picks. On NT 4.0 and 9x it
// is the language the system was installed in.
void set_ui_language(WORD language);
// The regional settings (the user default language): the string table
// LoadStringA picks on NT 4.0 and the 9x family.
void set_regional_language(WORD language);
// A language without a table of its own loads the US English one, as
// Windows' resource loader falls back; remove_string_tables leaves none.
void remove_string_tables();  // LoadStringA finds nothing
// Replaces the text (UTF-8) of an id in a language's string table, as
// another build of the resources would have it.
void set_table_text(WORD language, UINT id, const std::string &text);
// System message texts for FormatMessageA and FormatMessageW (with their
// trailing "\r\n"). Asked in the user's default language they are in the
// UI language; asked in a given language, only in one installed
// (set_message_languages, default English and Japanese). FormatMessageW is
// a stub on the 9x family. Common codes are known in both languages; this
// replaces or adds one, and an empty text makes the code unknown. The text
// is given in the ANSI code page and serves every language.
void set_system_message(DWORD code, const std::string &text);
void set_message_languages(const std::vector<WORD> &languages);
// A user without administrator rights on the NT family: writing under the
// Windows directory or a protected directory ("C:\Program Files" and those
// given to protect) fails with ERROR_ACCESS_DENIED, and so do opening an
// HKEY_LOCAL_MACHINE key for writing and a deletion at the next restart.
// Rights mean nothing on the 9x family.
void set_administrator(bool administrator);
void protect(const std::string &directory);
void set_module_path(const std::string &path);  // may exceed MAX_PATH
// A resource of the updater's own module (FindResourceA and the rest), for
// instance the payload digests of a release: set_resource(10, "#1", bytes)
// for RT_RCDATA id 1. Text names are found regardless of case, and "#N"
// stands for the number N, as with Windows.
void set_resource(WORD type, const std::string &name, const std::string &bytes);

// ---- Libraries -----------------------------------------------------------
// The system directory: the Windows directory's "system32" on the NT
// family, its "SYSTEM" on the 9x family, unless set.
std::string system_directory();
void set_system_directory(const std::string &path);
// LoadLibraryExA and LoadLibraryA know the system directory's VERSION.DLL,
// exporting GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA
// (declared below), USER32.DLL, exporting MessageBoxA and LoadStringA, and
// the libraries USER32 and the box bring in (loaded_modules). Any other
// full path fails with ERROR_MOD_NOT_FOUND; a name that is not a full
// path, which Windows would look for in the program's own folder first, is
// a fault.
void fail_version_library(DWORD error);                   // its load fails with this error
void remove_version_export(const std::string &function);  // GetProcAddress: ERROR_PROC_NOT_FOUND
const std::vector<std::string> &library_loads();          // every name given to LoadLibrary(Ex)A
int loaded_libraries();                                   // VERSION.DLL loads not yet freed
// KERNEL32 (GetModuleHandleA) answers GetProcAddress for FormatMessageW (a
// stub on 9x; remove_version_export takes it away, as Windows 95 may lack
// it), SetDllDirectoryA from 5.1 on, SetFileInformationByHandle from 6.0
// on, SetDefaultDllDirectories from 6.2 on or as set (Vista and 7 with
// KB2533623), and QueryActCtxW from 5.1 on (the process's default context:
// the program itself is its root manifest, but a TRV60UPDATE.EXE.manifest
// beside it on XP, and from 6.0 on where the REG_DWORD PreferExternalManifest
// of SOFTWARE\Microsoft\Windows\CurrentVersion\SideBySide is 1;
// the file named as it was first named, not as the program was started);
// NTDLL, on the NT family, for NtSetInformationFile.
void set_default_dll_directories(bool exported);
// USER32 loads lpk.dll (which imports usp10.dll) by name as it starts, on
// NT from 5.0 on; the first MessageBoxA loads uxtheme.dll by name from 5.1
// on, which imports USER32, msimg32.dll and from 6.0 on dwmapi.dll. A name
// is found as Windows finds it: first among the <file name="...">s of a
// TRV60UPDATE.EXE.manifest beside the program that the system prefers
// (above), taken from beside it; among the loaded modules; on 2000, and on
// XP before SP2 (set_service_pack), where a TRV60UPDATE.EXE.local file or
// folder lies beside the program, for any library but a known DLL, a copy
// in that folder or beside the program, whatever full path LoadLibraryExA
// was given; the known DLLs (USER32, and from 6.1 on lpk.dll
// and usp10.dll) and, for the imports of a library loaded with
// LOAD_WITH_ALTERED_SEARCH_PATH, the system directory; the program's folder
// (a file planted there is taken) unless SetDefaultDllDirectories(
// LOAD_LIBRARY_SEARCH_SYSTEM32) was called; the system directory. The
// current directory is not modelled (SetDllDirectoryA changes nothing).
// Where the program's manifest depends on Common Controls 6, the first box
// loads its comctl32.dll, from 6.1 on from the TRV60UPDATE.EXE.local folder
// beside the program where it is there (as the system's WinSxS folder:
// x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0.7601.17514_
// none_41e6975e2bd6f2b2).
const std::vector<std::string> &loaded_modules();  // their paths, in the order loaded
void set_manifest(const std::string &text);        // the program's; else res/manifest's
void import_user32();                              // as when USER32 was among the program's imports
std::string root_manifest();                       // the path QueryActCtxW names

// ---- Kernel objects ------------------------------------------------------
// Mutex names, unlike paths, are case-sensitive. A mutex that refuses us
// belongs to another user, or to an elevated process: its security lets
// us neither open it nor create it, and both fail with ERROR_ACCESS_DENIED.
void hold_mutex(const std::string &name, bool refuses_us = false);  // another process owns it
bool mutex_exists(const std::string &name);
void fail_mutex_creation(DWORD error);  // CreateMutexA returns NULL
int open_handles();                     // our handles not yet closed
int heap_blocks();                      // HeapAlloc blocks not yet freed
void fail_heap_allocations();           // HeapAlloc returns NULL
// Misuse that Windows might survive but the updater must never commit:
// closing a handle twice, freeing a block twice, writing past a buffer the
// simulated API was told about. Tests expect this to stay empty.
const std::vector<std::string> &faults();

// ---- Message boxes --------------------------------------------------------
struct Box {
  HWND owner;
  std::string text;
  std::string caption;
  UINT style;
};
const std::vector<Box> &boxes();  // every box shown, in order; each answered IDOK

// Count-down fault injection: the nth fallible call from now (1 = the
// next), or the nth call of the named function, fails with the error, at
// once and without effect, as that function reports failure (FALSE, NULL,
// INVALID_HANDLE_VALUE, 0, or the error itself for the registry). Calls
// that cannot fail as the updater makes them (GetLastError, SetLastError,
// IsDBCSLeadByte, GetProcessHeap, CloseHandle, HeapFree, RegCloseKey,
// FreeLibrary) are not counted. One failure is armed at a time; arming again replaces it.
void fail_call(int nth, DWORD error, const std::string &function = "");
int fallible_calls();              // counted since the reset
const std::string &failed_call();  // the function that failed, or ""

// Runs before the named API function does its work, every time it is
// called, e.g. on_call("MessageBoxA", ...) to start a second instance while
// a box is open.
void on_call(const std::string &function, std::function<void()> action);

// Runs once, right after the file is first opened by any call: the open has
// the file, and the action comes before any later call, as when the open
// breaks another program's oplock on the file and that program acts before
// it lets the open go.
void on_open(const std::string &path, std::function<void()> action);

// Text conversion for tests: UTF-8 to the ANSI code page 932 and back.
std::string to_cp932(const std::string &utf8);
std::string from_cp932(const std::string &ansi);

}  // namespace sim

// The exports the updater reaches only through GetProcAddress: VERSION.DLL's
// and those that some systems' KERNEL32 lacks; declared here, outside
// win32_api.h, for the tests.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle);
BOOL WINAPI GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size, LPVOID data);
BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID *buffer, PUINT length);
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPWSTR buffer, DWORD size,
                            void *arguments);
BOOL WINAPI SetDllDirectoryA(LPCSTR directory);
BOOL WINAPI SetDefaultDllDirectories(DWORD directories);
// SetFileInformationByHandle (KERNEL32, 6.0 on) and NtSetInformationFile
// (NTDLL, every NT): the basic record's attributes and the disposition.
BOOL WINAPI SetFileInformationByHandle(HANDLE file, int information_class, LPVOID data, DWORD size);
LONG WINAPI NtSetInformationFile(HANDLE file, LPVOID status_block, LPVOID data, DWORD size, int information_class);
// NtCreateFile (NTDLL, every NT): a file opened or made relative to a
// folder's handle, and RtlNtStatusToDosError, which tells its status in
// Win32's words. The records as winternl.h has them.
struct NtUnicodeText {
  WORD length;  // in bytes
  WORD capacity;
  WCHAR *text;
};
struct NtObjectAttributes {
  ULONG length;
  HANDLE root;
  NtUnicodeText *name;
  ULONG attributes;
  void *security;
  void *quality_of_service;
};
LONG WINAPI NtCreateFile(HANDLE *file, DWORD access, void *attributes, void *status_block, void *allocation,
                         DWORD file_attributes, DWORD share, DWORD disposition, DWORD options, void *ea,
                         DWORD ea_length);
ULONG WINAPI RtlNtStatusToDosError(LONG status);
BOOL WINAPI QueryActCtxW(DWORD flags, HANDLE context, PVOID instance, ULONG information, PVOID buffer, SIZE_T size,
                         SIZE_T *written);
