// The simulated machine's state, shared by the files of the host build.
// Nothing outside tests/simwin includes this.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kit_names.h"
#include "machine.h"

namespace sim {
namespace detail {

struct File {
  std::string path;  // as it was first named
  std::string bytes;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  bool has_version = false;
  VersionResource version;
  // Written since its last flush: the data is still in the system's cache,
  // and a power cut leaves zeros in its place.
  bool unflushed = false;
  unsigned long long written_at = 0;  // the last-write time, in ticks of the machine's clock
  unsigned long long index = 0;       // its file index, given when first asked
  DWORD links = 1;                    // its names: more when hard links share it
};

// A folder's name made to lead elsewhere (repoint): to another folder, or
// to an object-manager directory whose links lead each name anywhere.
struct Mount {
  std::string folder;
  std::string target;                         // "" for the object directory
  std::map<std::string, std::string> links;   // by folded name
};

// A volume of its own, mounted at root; the files under it share its space.
struct Volume {
  std::string root;
  unsigned long long capacity;
};

struct HeldFile {
  std::string path;
  Hold how;
};

struct ShortName {
  std::string long_path;
  std::string short_path;
};

// The 8.3 alias of one long name in one directory. The directory's
// canonical form is the one of the code page the alias was made under.
struct Alias {
  std::string parent;      // the directory, canonical
  std::string name;        // the long name, folded
  std::string short_name;  // as Windows spells it: upper case
};

struct Value {
  DWORD type;
  std::string bytes;
};

struct Key {
  std::string path;
  std::map<std::string, Value> values;  // by lower-cased name
};

enum class HandleKind { file, mutex, folder };

struct Handle {
  HandleKind kind;
  std::string name;  // the file's or folder's path, or the mutex's name ("" when unnamed)
  DWORD access;
  DWORD share;
  std::size_t position = 0;  // of a file, for ReadFile and WriteFile
  // The file as it was opened, once its name has come to mean another
  // (relink): the handle keeps the file it opened.
  std::shared_ptr<File> detached;
  // Its file goes when the handle closes (the disposition set through it).
  bool delete_pending = false;
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
  std::vector<ShortName> shares;  // set_share: the folder, and the share's path that names it
  std::vector<Alias> aliases;  // in the order they were made
  std::vector<std::string> journal;
  std::vector<std::string> pending_deletions;
  std::vector<Volume> volumes;
  std::vector<Mount> mounts;
  unsigned long long file_indexes = 0;
  int folders_moved = 0;
  int disk_changes = 0;
  unsigned long long clock = 0;  // ticks once for every file written
  // A version resource lies in a file's bytes: a file written whole with the
  // bytes of a file given a resource (set_version) carries that resource.
  std::map<std::string, VersionResource> versions_by_bytes;
  int power_countdown = 0;  // changes left until the power fails; 0: not armed
  bool power_off = false;

  // Registry.
  std::vector<Key> keys;
  std::map<uintptr_t, std::string> open_keys;  // handle to key path

  // Kernel objects.
  uintptr_t next_handle = 0x100;
  std::map<uintptr_t, Handle> handles;
  std::set<std::string> foreign_mutexes;
  std::set<std::string> refusing_mutexes;  // foreign ones whose security refuses us
  std::map<std::string, int> own_mutexes;  // name to our open handles
  DWORD mutex_failure = 0;
  std::vector<Resource> resources;  // of the updater's own module, besides its string tables
  std::set<void *> heap_blocks;
  std::set<void *> freed_blocks;
  bool heap_fails = false;
  std::vector<std::string> faults;

  // System.
  DWORD platform = VER_PLATFORM_WIN32_NT;
  DWORD nt_major = 5, nt_minor = 1;
  int service_pack = -1;  // set_service_pack; -1: the version's last
  bool version_query_fails = false;
  std::string windows_directory = "C:\\WINDOWS";
  UINT code_page = 1252;
  WORD ui_language = 1033;
  WORD regional_language = 1033;
  bool string_tables = true;
  // Replacements of string table texts, by language and id.
  std::map<std::pair<WORD, UINT>, std::string> table_texts;
  std::map<DWORD, std::string> system_messages;  // overrides, any language
  std::set<WORD> message_languages = {1033, 1041};
  bool administrator = true;
  std::vector<std::string> protected_dirs = {"C:\\Program Files"};
  std::string module_path = "C:\\KIT\\" + UPDATER;
  DWORD last_error = 0;

  // Libraries (loader.cpp).
  std::string system_directory;  // "" when it follows the Windows directory
  DWORD version_library_failure = 0;
  std::set<std::string> missing_exports;
  std::vector<std::string> library_loads;
  int library_references = 0;
  std::vector<std::string> modules;  // loaded_modules()
  int default_dll_directories = -1;  // SetDefaultDllDirectories exported: 1, 0, -1 from 6.2 on
  bool system32_only = false;        // since SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
  std::string manifest;              // set_manifest; "" for the shipped one

  std::vector<Box> boxes;
  Failing failing;
  int fallible_calls = 0;
  std::map<std::string, std::vector<std::function<void()>>> hooks;
  std::map<std::string, std::function<void()>> open_hooks;  // by canonical path
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
// What GetWindowsDirectoryA and GetSystemDirectoryA answer: the length
// without the terminator, or the size needed when the buffer is too small.
UINT directory_answer(const std::string &path, LPSTR buffer, UINT size);
void record(const std::string &line, bool succeeded);
void fault(const std::string &what);
std::string show(LPCSTR text);  // "(null)" for a null pointer
std::string show(const void *handle);
uintptr_t new_handle();  // a value never handed out before

// What the first message box loads by name (loader.cpp).
void load_box_libraries();
// Whether the registry value is a REG_DWORD of that number, as the system
// itself reads it (registry.cpp).
bool dword_is(const std::string &key, const std::string &name, DWORD wanted);

// ---- Paths (paths.cpp) ------------------------------------------------------
struct Parsed {
  std::string prefix;               // "\\\\" for UNC, "\\" for a rooted path
  std::vector<std::string> parts;   // as spelt
  std::vector<std::string> folded;  // compared
};
Parsed parse(const std::string &path);
// The name a file API function acts on: Windows (9x and NT alike, and Wine)
// drops the blanks and dots that end the last component, so "x " and "x."
// both name "x". Components before it keep theirs. A null name gives "".
std::string win32_name(LPCSTR given);
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
// The path as the mount points on its way lead it (repoint), spelt as given
// where none does; an object-manager directory's name that no link serves
// is left under OBJECT_DIRECTORY, where nothing is.
std::string through_mounts(const std::string &path);
extern const char OBJECT_DIRECTORY[];
File *find_file(const std::string &path);
bool is_directory(const std::string &path);
bool parent_exists(const std::string &path);
// Removes a file without any checks, as the system does at restart.
void erase_file(const std::string &path);
// Gives each long name of a path that is being made its 8.3 alias.
void name_path(const std::string &path);
// Whether a name is a valid 8.3 name, and whether every name of a path is
// (a drive aside): what DOS programs can name.
bool is_short_name(const std::string &name);
bool is_short_path(const std::string &path);

// ---- The disk (disk.cpp) ------------------------------------------------------
// The innermost volume set up with set_free_space that holds the path, or
// -1 for the system volume, whose space never runs out.
int volume_of(const std::string &path);
// Bytes free on the path's volume, with the bytes of the file at except
// (if any) counted as free: what a write that replaces that file may use.
unsigned long long free_space(const std::string &path, const std::string &except = "");
// Counts one change that reached the disk; false when the power failed
// right after it, and the caller must change nothing more.
bool disk_changed();
// What happens to the disk at a restart: after a power cut every file
// written since its last flush reads as zeros; a clean shutdown writes the
// cache out.
void settle_disk();

// ---- Sharing (sharing.cpp) ----------------------------------------------------
// Where a file operation fails before it touches the file: 0 when the file
// exists and the access may be granted, else the error.
DWORD open_check(const std::string &path, DWORD access, DWORD share);
// The share mode of DOS's compatibility mode, which 9x's OpenFile and
// LZOpenFile open in; never a Win32 share flag.
const DWORD SHARE_COMPATIBILITY = 0x80000000u;
// The same for writing a file that may not exist yet.
DWORD write_check(const std::string &path);
// A running image or loaded library of another process.
bool module_held(const std::string &path);
// ERROR_ACCESS_DENIED when the user may not write the path: a user without
// administrator rights on the NT family, under a protected directory.
DWORD rights_check(const std::string &path);
bool limited_user();
// Another process holds the file in any way.
bool held(const std::string &path);
// Whether the access rights allow writing the file's data.
bool grants_write(DWORD access);

// ---- Text (text_cp932.cpp, profile.cpp) --------------------------------------
bool is_lead_byte(UINT code_page, BYTE value);
// UTF-8 to an ANSI code page as WideCharToMultiByte does it: characters the
// code page lacks become "?", and lost tells whether any did.
std::string to_ansi(const std::string &utf8, UINT code_page, bool *lost = nullptr);
std::string from_ansi(const std::string &ansi, UINT code_page);  // to UTF-8
std::u16string to_utf16(const std::string &utf8);
std::string from_utf16(const std::u16string &utf16);
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
