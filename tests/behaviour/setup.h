// The machine state a behaviour check starts from, and what it inspects
// beyond the API under test. Two implementations: setup_sim.cpp gives the
// simulated Windows the state through its test API; setup_win32.cpp makes
// it with the real API (under Wine, run as an unprivileged user: root may
// write read-only files).
//
// Every check has a scratch folder of its own, "C:\checks\<check>", empty
// when it starts, and a registry key of its own under HKEY_LOCAL_MACHINE,
// "SOFTWARE\BehaviourChecks\<check>", missing when it starts.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
// The simulated Windows; machine.h also declares VERSION.DLL's exports,
// which the updater itself reaches only through GetProcAddress.
#include "machine.h"
#endif

// A path in the check's scratch folder, or the folder itself for "".
// The texts live in a small ring of static buffers: a few may be used at
// once, and each lives until the ring comes round.
const char *scratch(const char *name);
// The check's registry key, or a key below it ("" for the key itself).
const char *scratch_key(const char *sub_key);
// A name no other check uses, for kernel objects such as mutexes.
const char *unique_name(const char *name);

// ---- Files ----------------------------------------------------------------
// These name files exactly as spelt, also a name that ends in a blank or a
// dot (which the file API itself would drop).
void make_folder(const char *path);
void make_file(const char *path, const char *bytes, DWORD size, DWORD attributes);
// Libraries built with windres by tests/behaviour/wine (library_specs
// there); setup_sim.cpp gives the simulated files the same version
// resources.
enum Library {
  LIBRARY_ENGLISH,             // 040904b0: FileVersion "1.01.002"
  LIBRARY_SECOND_TRANSLATION,  // 041103a4 without FileVersion, then 040904b0 with "3.30.010"
  LIBRARY_JAPANESE_ONLY,       // 041104b0: FileVersion "3.30.009"
  LIBRARY_WITHOUT_VERSION,     // no version resource at all
};
void make_library(const char *path, Library which);
// Another program holds the file: loaded as a library (a running module),
// or opened for reading with no sharing. Held until the check ends.
void hold_module(const char *path);
void hold_exclusive(const char *path);
// The executable of the process running the checks (read-only access is
// enough: it is a running module).
const char *own_module();
// HINSTANCE of the program, for LoadStringA.
HINSTANCE own_instance();

DWORD file_attributes(const char *path);  // INVALID_FILE_ATTRIBUTES when missing
// The bytes of a file: their number, or -1 when it cannot be read. Up to
// `size` bytes are stored.
int file_bytes(const char *path, char *bytes, int size);
// Files named for deletion at the next restart (NT's delayed moves to no
// target), oldest first: the path as recorded, without NT's "\??\" prefix.
// False past the last.
bool pending_deletion(int index, char *path, int size);
// A file system short name: the simulated Windows knows only those a test
// gives it; on Windows the file system makes its own and this does nothing.
void short_name_hint(const char *long_path, const char *short_path);

// ---- Registry and kernel objects -------------------------------------------
// Stores the bytes exactly as given, terminator or not.
void set_registry_value(const char *key, const char *name, DWORD type, const void *bytes, DWORD size);
// A named mutex that another program owns until the check ends.
void hold_mutex(const char *name);

// ---- The runner's side -------------------------------------------------------
// A fresh machine for the named check in the current mode, and its end:
// holds let go, what the check left behind looked at.
void begin_machine(const char *check_name);
void end_machine();
