// The simulated Windows behind the host build: a machine that a test sets
// up, runs the updater on, and inspects afterwards.
//
// It models exactly the operations of win32_api.h and fails the way
// Windows fails: missing keys and files, sharing violations, read-only
// files, truncated reads. Paths and registry keys compare case-insensitively;
// "/" and "\" are the same separator in file paths.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "win32_api.h"

namespace sim {

// A fresh machine: NT family (version 5.1), ANSI code page 1252, English UI
// (1033) with the updater's own string tables loaded from res/strings.rc,
// Windows directory "C:\WINDOWS", no registry keys, no files, no mutexes,
// the module path "C:\KIT\TRV60UPDATE.EXE" (the file itself is not created).
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
  // A damaged resource: the FileVersion bytes run to the end of the block
  // with no terminator, and the reported length counts only the characters.
  bool unterminated = false;
};
// Attaches a version resource to an existing file; copies carry it along.
void set_version(const std::string &path, const VersionResource &resource);
// Shorthand: one translation, 0409/04b0, with this FileVersion.
void set_file_version(const std::string &path, const std::string &file_version);

// Another process holds the file open. A module hold is how a running
// program holds its executable or a loaded library: others may read it,
// but writing fails with a sharing violation and deleting with access
// denied. An exclusive hold is an open with read access and no sharing:
// even reading the version resource fails with a sharing violation.
// Opening with no access at all (the presence check) always succeeds.
enum class Hold { module, exclusive };
void hold(const std::string &path, Hold how);
void release(const std::string &path);

// The short (8.3) form GetShortPathNameA gives for a path. Without a
// mapping an existing path is its own short form. Every file operation
// takes the short form for the long one, as Windows does.
void set_short_name(const std::string &long_path, const std::string &short_path);

// Everything the updater did to the file system and the registry, in
// order, one line each:
//   "open PATH", "read PATH", "read-version PATH", "attributes PATH 0xNN", "copy SRC > DST",
//   "delete PATH", "move-at-restart PATH", "write-section FILE [SECTION]",
//   "flush FILE"
// Paths appear as the updater passed them. Failed calls are recorded too,
// with " failed" appended. "read-version" stands for one read of a version
// resource: GetFileVersionInfoA records it, GetFileVersionInfoSizeA only
// when it fails. Attributes are two upper-case hex digits or more. Calls
// outside the updater's own use are recorded as "move SRC > DST" and
// "write-string FILE [SECTION] KEY".
const std::vector<std::string> &journal();
void clear_journal();

// Deletions scheduled with MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT).
const std::vector<std::string> &pending_deletions();
// The next restart: releases every hold and mutex, carries out pending
// deletions (NT family) and the "Nul=" lines of WinInit.ini's "Rename"
// section (9x family), after which that section is removed.
void restart();

// Another process opens the file for writing, sharing everything, and
// replaces its bytes. false, with nothing changed, when the system refuses
// the open (a sharing violation while the updater holds it, a missing
// file, a read-only one).
bool tamper(const std::string &path, const std::string &bytes);

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
void set_platform(DWORD platform_id);  // VER_PLATFORM_WIN32_NT or _WINDOWS
void fail_version_query();             // GetVersionExA fails
void set_windows_directory(const std::string &path);
void set_code_page(UINT code_page);  // 1252 or 932: IsDBCSLeadByte follows it
// The UI language picks the string table (1033 or 1041; any other has none)
// and the language of system message texts. 1041 also sets code page 932.
void set_ui_language(WORD language);
void remove_string_tables();  // LoadStringA finds nothing
// System message texts for FormatMessageA (with their trailing "\r\n").
// Common codes are known in both languages; this replaces or adds one,
// and an empty text makes the code unknown. The text is given in the ANSI
// code page and serves every language.
void set_system_message(DWORD code, const std::string &text);
void set_module_path(const std::string &path);  // may exceed MAX_PATH
// A resource of the updater's own module (FindResourceA and the rest), for
// instance the payload digests of a release: set_resource(10, "#1", bytes)
// for RT_RCDATA id 1. Text names are found regardless of case, and "#N"
// stands for the number N, as with Windows.
void set_resource(WORD type, const std::string &name, const std::string &bytes);

// ---- Kernel objects ------------------------------------------------------
// Mutex names, unlike paths, are case-sensitive.
void hold_mutex(const std::string &name);  // another process owns it
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
// IsDBCSLeadByte, GetProcessHeap, CloseHandle, HeapFree, RegCloseKey) are
// not counted. One failure is armed at a time; arming again replaces it.
void fail_call(int nth, DWORD error, const std::string &function = "");
int fallible_calls();              // counted since the reset
const std::string &failed_call();  // the function that failed, or ""

// Runs before the named API function does its work, every time it is
// called, e.g. on_call("MessageBoxA", ...) to start a second instance while
// a box is open.
void on_call(const std::string &function, std::function<void()> action);

// Text conversion for tests: UTF-8 to the ANSI code page 932 and back.
std::string to_cp932(const std::string &utf8);
std::string from_cp932(const std::string &ansi);

}  // namespace sim
