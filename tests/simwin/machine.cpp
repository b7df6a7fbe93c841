// The machine itself: its state, its reset, the journal and the hooks.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {

Machine::~Machine() {
  // A reset ends the previous test's machine: blocks its updater leaked
  // were reported by heap_blocks() and go with it.
  for (void *block : heap_blocks) std::free(block);
}

namespace {
Machine *g_machine = nullptr;
}

Machine &machine() {
  if (!g_machine) g_machine = new Machine;
  return *g_machine;
}

void replace_machine() {
  delete g_machine;
  g_machine = new Machine;
}

namespace {
// Calls that cannot fail on Windows as the updater makes them: they take
// part in hooks but not in the count-down.
const char *const INFALLIBLE[] = {"GetLastError", "SetLastError",     "IsDBCSLeadByte", "GetProcessHeap",
                                  "CloseHandle",  "HeapFree",         "RegCloseKey",    "FreeLibrary",
                                  "GetACP",       "GetModuleHandleA", "SetErrorMode"};

bool is_fallible(const char *function) {
  for (const char *name : INFALLIBLE)
    if (std::strcmp(name, function) == 0) return false;
  return true;
}

// Counts the call down against the armed failure; the error when this is
// the call that fails.
DWORD count_down(const char *function) {
  Machine &m = machine();
  if (!is_fallible(function)) return 0;
  ++m.fallible_calls;
  if (m.failing.countdown <= 0) return 0;
  if (!m.failing.function.empty() && m.failing.function != function) return 0;
  if (--m.failing.countdown > 0) return 0;
  m.failing.fired = function;
  return m.failing.error;
}
}  // namespace

DWORD enter(const char *function) {
  Machine &m = machine();
  auto found = m.hooks.find(function);
  if (found != m.hooks.end() && m.hooks_running.count(function) == 0) {
    // A hook that calls its own function again (a second instance showing a
    // box from a MessageBoxA hook) gets the plain function, not the hook.
    m.hooks_running.insert(function);
    std::vector<std::function<void()>> actions = found->second;
    for (auto &action : actions) action();
    machine().hooks_running.erase(function);
  }
  // Without power nothing happens any more: the calls that could fail do.
  if (machine().power_off && is_fallible(function)) return ERROR_NOT_READY;
  return count_down(function);
}

void set_error(DWORD code) { machine().last_error = code; }

BOOL fail(DWORD error) {
  set_error(error);
  return FALSE;
}

void record(const std::string &line, bool succeeded) {
  machine().journal.push_back(succeeded ? line : line + " failed");
}

void fault(const std::string &what) { machine().faults.push_back(what); }

std::string show(LPCSTR text) { return text ? std::string(text) : std::string("(null)"); }

std::string show(const void *handle) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", handle);
  return text;
}

uintptr_t new_handle() {
  // Multiples of four, as Windows hands them out; registry keys share the
  // sequence, so a key passed to CloseHandle is an unknown handle there.
  uintptr_t value = machine().next_handle;
  machine().next_handle += 4;
  return value;
}

}  // namespace detail

using detail::machine;

void reset() { detail::replace_machine(); }

const std::vector<std::string> &journal() { return machine().journal; }
void clear_journal() { machine().journal.clear(); }
const std::vector<std::string> &faults() { return machine().faults; }
const std::vector<Box> &boxes() { return machine().boxes; }

void fail_call(int nth, DWORD error, const std::string &function) {
  machine().failing = detail::Failing{nth, error, function, ""};
}
int fallible_calls() { return machine().fallible_calls; }
const std::string &failed_call() { return machine().failing.fired; }

void on_call(const std::string &function, std::function<void()> action) {
  machine().hooks[function].push_back(std::move(action));
}

void set_platform(DWORD platform_id) { machine().platform = platform_id; }
void set_service_pack(int pack) { machine().service_pack = pack; }
void set_nt_version(DWORD major, DWORD minor) {
  machine().nt_major = major;
  machine().nt_minor = minor;
}
void fail_version_query() { machine().version_query_fails = true; }
void set_windows_directory(const std::string &path) { machine().windows_directory = path; }
void set_code_page(UINT code_page) { machine().code_page = code_page; }
void set_ui_language(WORD language) { machine().ui_language = language; }
void set_regional_language(WORD language) { machine().regional_language = language; }
void remove_string_tables() { machine().string_tables = false; }
void set_table_text(WORD language, UINT id, const std::string &text) { machine().table_texts[{language, id}] = text; }
void set_system_message(DWORD code, const std::string &text) { machine().system_messages[code] = text; }
void set_message_languages(const std::vector<WORD> &languages) {
  machine().message_languages = std::set<WORD>(languages.begin(), languages.end());
}
void set_administrator(bool administrator) { machine().administrator = administrator; }
void protect(const std::string &directory) { machine().protected_dirs.push_back(directory); }
void set_module_path(const std::string &path) { machine().module_path = path; }

std::string wininit_path() { return machine().windows_directory + "\\WinInit.ini"; }

std::string wininit_text() {
  const detail::File *file = detail::find_file(wininit_path());
  return file ? file->bytes : std::string();
}

std::vector<std::string> wininit_section(const std::string &section) {
  std::vector<std::string> lines;
  detail::read_section(wininit_text(), section, lines);
  return lines;
}

void restart() {
  detail::settle_disk();
  detail::Machine &m = machine();
  m.holds.clear();
  m.foreign_mutexes.clear();
  m.refusing_mutexes.clear();
  // Our process is gone too: its mutexes vanish, while its handle records
  // stay so that a leak still shows in open_handles().
  m.own_mutexes.clear();
  for (auto &entry : m.handles)
    if (entry.second.kind == detail::HandleKind::mutex) entry.second.name.clear();

  // The session manager deletes each name by setting its delete
  // disposition, and leaves a read-only file where it is (ReactOS's
  // SmpProcessFileRenames; FAT and NTFS answer STATUS_CANNOT_DELETE), as
  // Wine's wineboot does with DeleteFileW.
  if (m.platform == VER_PLATFORM_WIN32_NT) {
    for (const std::string &path : m.pending_deletions) {
      const detail::File *file = detail::find_file(path);
      if (file && !(file->attributes & FILE_ATTRIBUTE_READONLY)) detail::erase_file(path);
    }
  } else {
    detail::run_wininit();
  }
  m.pending_deletions.clear();
}

}  // namespace sim
