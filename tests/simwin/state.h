// The simulated machine's state, shared by the files of the host build.
// Nothing outside tests/simwin includes this.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "machine.h"

namespace sim {
namespace detail {

struct File {
  std::string path;  // as it was first named
  std::string bytes;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  bool has_version = false;
  VersionResource version;
};

struct HeldFile {
  std::string path;
  Hold how;
};

struct ShortName {
  std::string long_path;
  std::string short_path;
};

struct Value {
  DWORD type;
  std::string bytes;
};

struct Key {
  std::string path;
  std::map<std::string, Value> values;  // by lower-cased name
};

enum class HandleKind { file, mutex };

struct Handle {
  HandleKind kind;
  std::string name;  // the file's path or the mutex's name ("" when unnamed)
  DWORD access;
  DWORD share;
  std::size_t position = 0;  // of a file, for ReadFile
};

struct Resource {
  WORD type;
  std::string name;  // upper-cased, as the resource compiler stores it
  std::string bytes;
};

// A failure armed by fail_call: counts down on every fallible call (of the
// named function, when one is named) and fires once.
struct Failing {
  int countdown = 0;
  DWORD error = 0;
  std::string function;
  std::string fired;  // the function that failed, once it has
};

struct Machine {
  // File system. Lookups compare canonical forms made on every call, so a
  // change of code page between naming a file and using it is harmless.
  std::vector<File> files;
  std::vector<std::string> dirs;
  std::vector<HeldFile> holds;
  std::vector<ShortName> short_names;
  std::vector<std::string> journal;
  std::vector<std::string> pending_deletions;

  // Registry.
  std::vector<Key> keys;
  std::map<uintptr_t, std::string> open_keys;  // handle to key path

  // Kernel objects.
  uintptr_t next_handle = 0x100;
  std::map<uintptr_t, Handle> handles;
  std::set<std::string> foreign_mutexes;
  std::map<std::string, int> own_mutexes;  // name to our open handles
  DWORD mutex_failure = 0;
  std::vector<Resource> resources;  // of the updater's own module, besides its string tables
  std::set<void *> heap_blocks;
  std::set<void *> freed_blocks;
  bool heap_fails = false;
  std::vector<std::string> faults;

  // System.
  DWORD platform = VER_PLATFORM_WIN32_NT;
  bool version_query_fails = false;
  std::string windows_directory = "C:\\WINDOWS";
  UINT code_page = 1252;
  WORD ui_language = 1033;
  bool string_tables = true;
  std::map<DWORD, std::string> system_messages;  // overrides, any language
  std::string module_path = "C:\\KIT\\TRV60UPDATE.EXE";
  DWORD last_error = 0;

  std::vector<Box> boxes;
  Failing failing;
  int fallible_calls = 0;
  std::map<std::string, std::vector<std::function<void()>>> hooks;
  std::set<std::string> hooks_running;

  Machine() = default;
  Machine(const Machine &) = delete;
  Machine &operator=(const Machine &) = delete;
  ~Machine();
};

Machine &machine();
void replace_machine();  // a fresh machine in place of the current one

// Every API function calls this first with its own name: it runs the hooks
// registered for the function, then counts the call down against an armed
// failure. A non-zero result is the error the call must fail with, at
// once and without effect, the way that function reports failure.
DWORD enter(const char *function);

void set_error(DWORD code);
BOOL fail(DWORD error);  // sets the last error, returns FALSE
void record(const std::string &line, bool succeeded);
void fault(const std::string &what);
std::string show(LPCSTR text);  // "(null)" for a null pointer
std::string show(const void *handle);
uintptr_t new_handle();  // a value never handed out before

// ---- Paths (paths.cpp) ------------------------------------------------------
struct Parsed {
  std::string prefix;               // "\\\\" for UNC, "\\" for a rooted path
  std::vector<std::string> parts;   // as spelt
  std::vector<std::string> folded;  // compared
};
Parsed parse(const std::string &path);
// The checks every ANSI path operation makes before it looks at the file:
// the path must fit the system's MAX_PATH conversion buffer and its
// directory must exist.
DWORD path_check(const std::string &path);
// The canonical form compares as Windows compares: case-insensitively,
// with "/" and "\" alike, repeated separators and "." collapsed, ".."
// resolved, a short form known from set_short_name taken for its long form.
// It reads double-byte characters of the current code page, so a trail
// byte is never taken for a separator or folded.
std::string canonical(const std::string &path);
bool same_path(const std::string &a, const std::string &b);
File *find_file(const std::string &path);
bool is_directory(const std::string &path);
bool parent_exists(const std::string &path);
// Removes a file without any checks, as the system does at restart.
void erase_file(const std::string &path);

// ---- Sharing (sharing.cpp) ----------------------------------------------------
// Where a file operation fails before it touches the file: 0 when the file
// exists and the access may be granted, else the error.
DWORD open_check(const std::string &path, DWORD access, DWORD share);
// The same for writing a file that may not exist yet.
DWORD write_check(const std::string &path);
// A running image or loaded library of another process.
bool module_held(const std::string &path);

// ---- Text (text_cp932.cpp, profile.cpp) --------------------------------------
bool is_lead_byte(UINT code_page, BYTE value);
// UTF-8 to an ANSI code page as WideCharToMultiByte does it: characters the
// code page lacks become "?".
std::string to_ansi(const std::string &utf8, UINT code_page);
std::string lower_ascii(std::string text);

// Lines of a section of an initialisation file's text, comments and blank
// lines dropped; false when the section is missing.
bool read_section(const std::string &text, const std::string &section, std::vector<std::string> &lines);
// The text with the section replaced by the lines (appended when new), or
// removed when lines is null.
std::string replace_section(const std::string &text, const std::string &section, const std::vector<std::string> *lines);
// What WININIT.EXE does before Windows 9x starts: carries out the "Nul="
// lines of WinInit.ini's "Rename" section and removes the section.
void run_wininit();

}  // namespace detail
}  // namespace sim
