// A whole run on a machine the input describes. Whatever the machine, the
// run returns 0, shows only the boxes the rules allow, and writes, copies
// over or deletes nothing but the two libraries of each installation it
// found (each only with its own, newer payload) and the working files
// beside them, the executable, its two payloads and WinInit.ini; on NT
// only through handles, in folders opened before the first box. After the
// restart that follows, even one after a power cut in the middle of the
// run, no library is torn: each holds its old bytes or its payload's; and
// nothing of a kit run with /d is left but what must stay.
//
// Input, in order: platform (NT as 5.1, 4.0 or 10.0), language settings,
// string tables, a rare event (1 another instance, 2 no mutex, 3 no
// platform version, 4 a lost race for the mutex, 5 no heap, 6 another
// instance whose mutex refuses us, 7 a lost race to such an instance, 8 no
// VERSION.DLL, 9 a VERSION.DLL without VerQueryValueA), the kit's
// directory and executable name, the executable's file, the two payloads'
// files; for each installation its registry value and its two libraries'
// files; WinInit.ini; the command-line tail; a small volume (0 none, 1 or
// 2 at an installation's directory, 3 at the kit's) and its free bytes; the
// change to the disk after which the power fails (0 never); the payload
// digests built in (0 none, as the plain build, 1 those of the payloads, 2
// with one pair's digest wrong). A file is: present flag, attributes,
// holder, version resource (see read_file); then leftovers of a cut run
// beside the libraries (a byte of flags, then each leftover's file), and
// whether a newer kit runs again after a power cut.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "digest_of.h"
#include "fuzz_input.h"
#include "kit/payload_table.h"
#include "kit_names.h"
#include "messages/catalogue.h"
#include "platform/system_library.h"
#include "run/run.h"
#include "update/sha256.h"

static const std::string PAYLOADS[2] = {AVC_PAYLOAD, API_PAYLOAD};
static const std::string LIBRARIES[2] = {AVC_LIBRARY, API_LIBRARY};
static const char *const KEYS[2] = {"SOFTWARE\\Quenvor\\PELLAXION\\ZEL", "SOFTWARE\\Quenvor\\TRAVEN-50"};
static const char *const VALUES[2] = {"InstallDir", "Path"};
static const char WINDOWS[] = "C:\\WINDOWS";
// The working files the updater keeps beside a library it replaces: the
// payload's copy, and on 9x each library's old bytes set aside.
static const char NEW_NAME[] = "TRVNEW.TMP";
static const char *const ASIDE_NAMES[2] = {"TRVOLD1.TMP", "TRVOLD2.TMP"};

// ---- The machine ----------------------------------------------------------

// Every file put gets bytes of its own, so that a copy shows whose it was.
struct Files {
  std::vector<std::string> versions;  // by file number
  std::vector<bool> readable;
  std::map<std::string, sim::Hold> holders;  // by another program

  void read_file(Input &in, const std::string &path) {
    if (!in.flag()) return;
    static const DWORD ATTRIBUTES[] = {FILE_ATTRIBUTE_ARCHIVE,  FILE_ATTRIBUTE_NORMAL,
                                       FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                                       FILE_ATTRIBUTE_SYSTEM,   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN};
    sim::put_file(path, "MZ #" + std::to_string(versions.size()), ATTRIBUTES[in.pick(6)]);
    const unsigned holder = in.pick(4);
    if (holder >= 2) sim::hold(path, holders[path] = holder == 2 ? sim::Hold::module : sim::Hold::exclusive);
    static const char *const KNOWN[] = {"1.0", "2.0", "1.01.002", "1.01.010", "9.0", "10.0", "2.0a", "1.00.A", ""};
    // 0 no resource, 1 no translation, 2 a FileVersion, 3 none under the
    // translation, 4 one without terminator, 5 one whose length leaves the
    // terminator out.
    const unsigned kind = in.pick(6);
    const std::string version = in.pick(2) ? KNOWN[in.pick(9)] : in.c_text(60);
    sim::VersionResource resource;
    if (kind >= 2) resource.translations.push_back(sim::Translation{0x0409, 0x04b0, kind != 3, version});
    resource.unterminated = kind == 4;
    resource.length_counts_terminator = kind != 5;
    if (kind != 0) sim::set_version(path, resource);
    // Only a terminated FileVersion of the first translation that fits
    // the updater's 50 bytes can be read.
    versions.push_back(version);
    readable.push_back(kind >= 2 && kind != 3 && kind != 4 && version.size() < 50);
  }
  // A payload of a kit newer than any: its FileVersion orders after every
  // other text.
  void put_newest(const std::string &path) {
    sim::put_file(path, "MZ #" + std::to_string(versions.size()));
    versions.push_back(std::string(VERSION_CAPACITY - 1, '\xff'));
    readable.push_back(true);
    sim::set_file_version(path, versions.back());
  }
  // The version the bytes of a file stand for, if it can be read.
  bool version_of(const std::string &bytes, std::string &version) const {
    if (bytes.compare(0, 4, "MZ #") != 0) return false;
    size_t number = std::stoul(bytes.substr(4));
    version = versions[number];
    return readable[number];
  }
};

static std::string kit_directory(Input &in) {
  switch (in.pick(8)) {
    case 0:
      return "C:\\KIT\\";
    case 1:
      return "\\\\server\\share\\kit\\";
    case 2:
      return "C:\\" + std::string(230 + in.pick(30), 'k') + "\\";
    case 3:
      return "C:\\\x95\x5C\\";  // ends in a character whose trail byte is '\'
    case 4:
      return "C:/kit/";
    case 5:
      return "";
    case 6:
      return "C:";
    default:
      return in.c_text(300);
  }
}

static std::string install_directory(Input &in, const std::string &kit) {
  switch (in.pick(9)) {
    case 0:
      return "C:\\Prog";
    case 1:
      return "C:\\Prog\\";
    case 2:
      return "c:/prog";
    case 3:
      return "\\\\srv\\share\\t50";
    case 4:
      return "C:\\" + std::string(235 + in.pick(30), 'i');
    case 5:
      return "C:\\\x95\x5C";
    case 6:
      return kit;
    case 7:
      return WINDOWS;
    default:
      return in.c_text(300);
  }
}

// The value's bytes: a directory, closed or not and with junk after it,
// or any bytes at all.
static std::string registry_bytes(Input &in, const std::string &directory) {
  switch (in.pick(4)) {
    case 0:
      return directory + '\0';
    case 1:
      return directory;
    case 2:
      return directory + '\0' + in.text(300);
    default:
      return in.text(400);
  }
}

static DWORD registry_type(Input &in) {
  static const DWORD TYPES[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE};
  unsigned choice = in.pick(7);
  return choice < 6 ? TYPES[choice] : in.dword();
}

// ---- What the rules allow -------------------------------------------------

// The language settings: UI language, regional settings, code page.
using Languages = std::tuple<WORD, WORD, UINT>;
static const DWORD PLATFORMS[] = {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS, VER_PLATFORM_WIN32s};
static const DWORD NT_VERSIONS[][2] = {{5, 1}, {4, 0}, {10, 0}};
static void set_languages(unsigned system, const Languages &languages, bool tables) {
  const DWORD platform = PLATFORMS[system % 3];
  sim::set_platform(platform);
  sim::set_nt_version(NT_VERSIONS[system / 3][0], NT_VERSIONS[system / 3][1]);
  sim::set_ui_language(std::get<0>(languages));
  sim::set_regional_language(std::get<1>(languages));
  // A 9x system speaks its own language in its own code page.
  const bool nine_x = platform != VER_PLATFORM_WIN32_NT;
  sim::set_code_page(nine_x ? (std::get<0>(languages) == 1041 ? 932 : 1252) : std::get<2>(languages));
  if (!tables) sim::remove_string_tables();
}

// The catalogue's texts for a language setting, as the updater shows them.
struct Catalogue {
  std::string text[8];
};
static Catalogue catalogue(unsigned system, const Languages &languages, bool tables) {
  static std::map<std::tuple<unsigned, Languages, bool>, Catalogue> known;
  auto found = known.find(std::make_tuple(system, languages, tables));
  if (found != known.end()) return found->second;
  sim::reset();
  set_languages(system, languages, tables);
  Catalogue texts;
  for (UINT id : {MSG_NOT_FOUND, MSG_NO_VERSION_INFO, MSG_NEWER_EXISTS, MSG_FILES_IN_USE, MSG_UPDATED, MSG_NO_NEED}) {
    show_catalogue_message(FUZZ_INSTANCE, id);
    texts.text[id] = sim::boxes().back().text;
    // No text holds a "?" but one the code page made up for a character
    // it lacks.
    FUZZ_CHECK(texts.text[id].find('?') == std::string::npos);
  }
  return known[std::make_tuple(system, languages, tables)] = texts;
}

// A path as Windows might compare it, near enough to tell when two could
// name one file: ASCII case and the separators folded.
static std::string loosely(std::string path) {
  for (char &c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return path;
}

static bool starts_with(const std::string &text, const char *head) {
  return text.compare(0, std::strlen(head), head) == 0;
}

// A path that names its file at the restart: whole (from a drive's root or
// a server), shorter than MAX_PATH, of characters a file name may hold, no
// part of it ending in a blank or a dot, which Windows would cut.
static bool nameable(const std::string &path) {
  if (!(path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) && !starts_with(path, "\\\\"))
    return false;
  const std::vector<bool> starts = character_starts(path);
  for (size_t at = 0; at < path.size(); ++at) {
    const char c = path[at], next = at + 1 < path.size() ? path[at + 1] : '\\';
    if (starts[at] && (static_cast<unsigned char>(c) < ' ' || std::strchr("<>\"|?*", c) || (c == ':' && at != 1) ||
                       ((c == ' ' || c == '.') && (next == '\\' || next == '/'))))
      return false;
  }
  return path.size() < MAX_PATH;
}

// The journal lines that may appear: each as it succeeded and as it failed.
struct Allowed {
  std::set<std::string> lines;
  void add(const std::string &line) {
    lines.insert(line);
    lines.insert(line + " failed");
  }
};

static void check_boxes(const Catalogue &texts, bool found[2]) {
  const std::vector<sim::Box> &boxes = sim::boxes();
  for (const sim::Box &box : boxes) {
    check_box(box);
    // Nor does the system's reason before a path.
    const size_t path = box.text.find("  \n\n[ ");
    if (path != std::string::npos) FUZZ_CHECK(box.text.rfind('?', path) == std::string::npos);
  }
  if (!found[0] && !found[1]) {
    FUZZ_CHECK(boxes.size() == 1 && boxes[0].text == texts.text[MSG_NOT_FOUND]);
    return;
  }
  size_t outcomes = 0, errors = 0, catalogue_errors = 0;
  for (const sim::Box &box : boxes) {
    FUZZ_CHECK(box.text != texts.text[MSG_NOT_FOUND]);
    if (box.text == texts.text[MSG_UPDATED] || box.text == texts.text[MSG_NEWER_EXISTS] ||
        box.text == texts.text[MSG_NO_NEED]) {
      ++outcomes;
      FUZZ_CHECK(&box == &boxes.back());
    } else {
      ++errors;
      catalogue_errors += box.text == texts.text[MSG_NO_VERSION_INFO] || box.text == texts.text[MSG_FILES_IN_USE];
    }
  }
  // A failed pass has shown one error box, or two when it could not open a
  // library and its payload was missing too; it withholds the
  // outcome, and a pass that shows nothing has not failed.
  FUZZ_CHECK(outcomes <= 1);
  FUZZ_CHECK(catalogue_errors <= static_cast<size_t>(found[0] + found[1]));
  FUZZ_CHECK(errors <= static_cast<size_t>(2 * found[0] + 2 * found[1]));
  FUZZ_CHECK(errors > 0 || outcomes == 1);
  // Only the quiet pass goes on after a missing payload, when its library
  // is missing too.
  if (outcomes == 1) FUZZ_CHECK(errors == 0 || (errors == 1 && catalogue_errors == 0 && found[0]));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // USER32's functions, taken once as the updater takes them at start-up.
  static const int user_functions = take_user_functions();
  (void)user_functions;
  Input in(data, size);
  // Nine choices, so that a byte picks the family it picked among three.
  const unsigned system = in.pick(9);
  const DWORD platform = PLATFORMS[system % 3];
  static const Languages LANGUAGES[] = {{1033, 1033, 1252}, {1041, 1041, 932},  {1033, 1041, 932},
                                        {1031, 1031, 1252}, {1041, 1033, 1252}, {1033, 1041, 1252}};
  const Languages languages = LANGUAGES[in.pick(6)];
  const bool tables = in.pick(8) != 0;
  const Catalogue texts = catalogue(system, languages, tables);

  sim::reset();
  set_languages(system, languages, tables);
  const unsigned rare = in.byte();
  // Another instance runs already (1, 6), or starts between our open and
  // create (4, 7); its mutex may refuse us (6, 7).
  const bool other_instance = rare == 1 || rare == 4 || rare == 6 || rare == 7;
  if (rare == 1 || rare == 6) sim::hold_mutex("TRAVEN-60 Update", rare == 6);
  if (rare == 2) sim::fail_mutex_creation(ERROR_INVALID_HANDLE);
  if (rare == 3) sim::fail_version_query();
  if (rare == 4 || rare == 7) sim::on_call("CreateMutexA", [rare] { sim::hold_mutex("TRAVEN-60 Update", rare == 7); });
  if (rare == 5) sim::fail_heap_allocations();
  if (rare == 8) sim::fail_version_library(ERROR_MOD_NOT_FOUND);
  if (rare == 9) sim::remove_version_export("VerQueryValueA");

  const std::string kit = kit_directory(in);
  std::string module = kit + (in.pick(4) ? UPDATER : in.c_text(40));
  if (reference_split(module).directory_end == module.size()) module += UPDATER;  // a module's path ends in its name
  sim::set_module_path(module);
  Files files;
  files.read_file(in, module);
  for (const std::string &payload : PAYLOADS) files.read_file(in, kit + payload);

  std::string directories[2];
  bool found[2];
  for (int i = 0; i < 2; ++i) {
    const unsigned registry = in.pick(4);
    const std::string directory = install_directory(in, kit);
    const DWORD type = registry_type(in);
    const std::string bytes = registry_bytes(in, directory);
    if (registry == 1) sim::set_key(KEYS[i]);
    if (registry >= 2) sim::set_value(KEYS[i], VALUES[i], type, bytes);
    // Found: a value that fits 260 bytes, is closed within them and does
    // not start with its terminator.
    directories[i] = bytes.c_str();
    found[i] = registry >= 2 && bytes.size() <= MAX_PATH && !directories[i].empty() &&
               (bytes.size() < MAX_PATH || directories[i].size() < bytes.size());
    if (!directories[i].empty())
      for (const std::string &library : LIBRARIES) files.read_file(in, reference_target_path(directories[i], library));
  }
  const std::string wininit = std::string(WINDOWS) + "\\WinInit.ini";
  if (in.flag()) sim::put_file(wininit, in.file_text(1500));
  const std::vector<std::string> rename_before = sim::wininit_section("Rename");
  const std::string wininit_before = sim::wininit_text();
  std::string tail;
  switch (in.pick(4)) {
    case 0:
      break;
    case 1:
      tail = "/d";
      break;
    case 2:
      tail = "-D x";
      break;
    default:
      tail = in.c_text(200);
  }
  const unsigned volume = in.pick(4);
  const DWORD free_bytes = in.dword() % 4096;
  if (volume == 3) sim::set_free_space(kit.empty() ? "C:\\" : kit, free_bytes);
  if ((volume == 1 || volume == 2) && !directories[volume - 1].empty())
    sim::set_free_space(directories[volume - 1], free_bytes);
  const unsigned power_cut = in.byte();
  if (power_cut) sim::cut_power_after(static_cast<int>(power_cut));

  // The digests a release build carries, in payload table order.
  const unsigned binding = in.pick(3);
  std::string digests[2];
  if (binding) {
    for (int pair = 0; pair < 2; ++pair) digests[pair] = digest_of(sim::bytes_of(kit + PAYLOADS[pair]));
    if (binding == 2) digests[in.pick(2)][in.pick(SHA256_SIZE)] ^= 1;
    std::string records;
    for (int pair = 0; pair < 2; ++pair) {
      std::string version;
      // The release kit reads it from the payload, and refuses one it
      // cannot read.
      if (!files.version_of(sim::bytes_of(kit + PAYLOADS[pair]), version) || version.size() >= VERSION_CAPACITY ||
          version.find('\0') != std::string::npos)
        version.clear();
      records += digests[pair] + version + std::string(version.size() % 2 ? 1 : 2, '\0');
    }
    sim::set_resource(10, "#1", records);
  }
  // What a cut run may have left beside the libraries.
  const unsigned leftovers = in.byte();
  for (int i = 0; i < 2; ++i) {
    if (directories[i].empty()) continue;
    const std::string names[3] = {NEW_NAME, ASIDE_NAMES[0], ASIDE_NAMES[1]};
    for (int n = 0; n < 3; ++n)
      if (leftovers & (1u << (3 * i + n))) files.read_file(in, reference_target_path(directories[i], names[n]));
  }

  // What the updater may name: its own path as recorded (the built-in
  // name when the module's does not fit), the payloads beside it, and the
  // libraries of the installations found.
  const std::string own = !module.empty() && module.size() < MAX_PATH ? module : UPDATER;
  const std::string beside = own.substr(0, reference_split(own).directory_end);
  // Where the family is known the switch removes the kit, but for a
  // release's payload without its digest, which stays.
  const bool removal = reference_holds_switch(tail) && rare != 3;
  Allowed allowed;
  std::vector<std::string> removable = {own};
  for (const std::string &payload : PAYLOADS) removable.push_back(beside + payload);
  std::vector<std::string> watched = removable;
  bool without_digest[3] = {false};
  for (int pair = 0; pair < 2; ++pair)
    without_digest[1 + pair] = binding && digest_of(sim::bytes_of(removable[1 + pair])) != digests[pair];
  // The NT family reaches every file through a handle (on its folder) and
  // changes and deletes through handles; the 9x ways go by the joined
  // paths, as where the family is not known.
  const bool by_name = platform != VER_PLATFORM_WIN32_NT || rare == 3;
  const std::string through = by_name ? " " : "-through ";
  auto attributes_line = [&](const std::string &path, DWORD attributes) {
    char text[16];
    std::snprintf(text, sizeof text, " 0x%02X", attributes);
    return "attributes" + through + path + text;
  };
  // WinInit.ini names them by their short forms, as they are now.
  std::vector<std::string> short_forms;
  for (int k = 0; k < 3; ++k) {
    const std::string &path = removable[k];
    if (without_digest[k]) continue;
    char buffer[MAX_PATH] = "";
    const DWORD length = path.size() < MAX_PATH ? GetShortPathNameA(path.c_str(), buffer, MAX_PATH) : 0;
    if (length > 0 && length < MAX_PATH) short_forms.push_back(buffer);
  }
  std::map<std::string, std::string> aside;     // library to where its old bytes wait on 9x
  std::map<std::string, int> pair_of;           // library to the pair that replaces it
  std::map<std::string, std::string> fresh_of;  // library to the working file beside it
  for (int i = 0; i < 2; ++i) {
    if (!found[i]) continue;
    const std::string fresh = reference_target_path(directories[i], NEW_NAME);
    allowed.add("delete" + through + fresh);
    allowed.add("create " + fresh);
    allowed.add("write " + fresh);
    allowed.add("time " + fresh);
    for (int pair = 0; pair < 2; ++pair) {
      const std::string library = reference_target_path(directories[i], LIBRARIES[pair]);
      // A copy set aside is the updater's on 9x alone, and where the
      // family is not known the 9x exchange is taken.
      const std::string old = reference_target_path(directories[i], ASIDE_NAMES[pair]);
      watched.push_back(library);
      watched.push_back(old);
      aside[library] = old;
      pair_of[library] = pair;
      fresh_of[library] = fresh;
      // A library that keeps its old bytes gets its attributes back: on 9x
      // those of its copy set aside, when the repair brought it back.
      allowed.add(attributes_line(library, FILE_ATTRIBUTE_NORMAL));
      allowed.add(attributes_line(library, sim::attributes_of(library)));
      allowed.add("move " + fresh + " > " + library);
      if (!by_name) continue;
      allowed.add(attributes_line(library, sim::attributes_of(old)));
      allowed.add("delete " + old);
      allowed.add("move " + library + " > " + old);
      allowed.add("move " + old + " > " + library);
    }
  }
  // The 9x family deletes by name, or schedules in WinInit.ini; NT deletes
  // a payload through its hold, and schedules what cannot go now after
  // clearing its read-only attribute through the handle.
  for (int k = 0; removal && k < 3; ++k) {
    const std::string &path = removable[k];
    const DWORD attributes = sim::attributes_of(path);
    if (without_digest[k]) continue;
    if (by_name) {
      allowed.add(attributes_line(path, FILE_ATTRIBUTE_NORMAL));
      allowed.add("delete " + path);
      continue;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      allowed.add(attributes_line(
          path, attributes == FILE_ATTRIBUTE_READONLY ? FILE_ATTRIBUTE_NORMAL : attributes & ~FILE_ATTRIBUTE_READONLY));
    allowed.add("move-at-restart " + path);
    if (k == 0) continue;
    allowed.add(attributes_line(path, FILE_ATTRIBUTE_NORMAL));
    allowed.add("delete-through " + path);
  }
  if (removal && by_name) allowed.add("write-section " + wininit + " [Rename]");

  std::map<std::string, std::string> before_run;
  std::map<std::string, bool> existed;
  for (const std::string &path : watched) {
    before_run[path] = sim::bytes_of(path);
    existed[path] = sim::exists(path);
  }
  // The bytes of every file a copy may read or write, before each creation
  // and rename, by the journal line that call writes.
  std::map<size_t, std::map<std::string, std::string>> before_call;
  for (const auto &working : fresh_of) watched.push_back(working.second);
  for (const char *function : {"CreateFileA", "MoveFileA", "MoveFileExA", "NtCreateFile", "NtSetInformationFile"})
    sim::on_call(function, [&] {
      std::map<std::string, std::string> &bytes = before_call[sim::journal().size()];
      for (const std::string &path : watched) bytes[path] = sim::bytes_of(path);
    });
  // On NT only the kit's folder and each installation's are opened by path,
  // before the first box; every file in them is reached through those.
  std::set<std::string> folders = {beside.empty() ? "." : beside};
  for (int i = 0; i < 2; ++i)
    if (found[i]) folders.insert(reference_target_path(directories[i], ""));
  std::set<size_t> by_path;
  size_t first_box = SIZE_MAX;
  sim::on_call("CreateFileA", [&] { by_path.insert(sim::journal().size()); });
  sim::on_call("MessageBoxA", [&] { first_box = std::min(first_box, sim::journal().size()); });
  sim::clear_journal();

  Exact tail_buffer = Exact::of(tail);
  FUZZ_CHECK(run(FUZZ_INSTANCE, 0, tail_buffer.get(), SW_SHOWDEFAULT) == 0);

  check_machine_clean();
  // A run the power cut short shows what it had shown by then.
  const bool cut = sim::power_is_off();
  if (other_instance) {
    FUZZ_CHECK(sim::boxes().empty());
    allowed.lines.clear();
  } else if (!cut) {
    check_boxes(texts, found);
  }
  std::string library;                          // the one the pass looks at: the last opened
  std::map<std::string, std::string> found_as;  // a library as the pass found it, when it made its copy
  for (size_t at = 0; at < sim::journal().size(); ++at) {
    const std::string &line = sim::journal()[at];
    const bool failed = ends_with(line, " failed");
    // The presence check refuses a path of MAX_PATH bytes or more before any
    // open; on NT a folder is opened by its name and a separator.
    const bool folder = !by_name && by_path.count(at);
    if (starts_with(line, "open ")) FUZZ_CHECK(line.size() - (failed ? 7 : 0) < 5 + MAX_PATH + folder);
    if (starts_with(line, "open ") && pair_of.count(line.substr(5))) library = line.substr(5);
    if (folder)
      FUZZ_CHECK(at < first_box && starts_with(line, "open ") &&
                 folders.count(line.substr(5, line.size() - 5 - (failed ? 7 : 0))));
    if (!starts_with(line, "create ") && !starts_with(line, "write ") && !starts_with(line, "time ") &&
        !starts_with(line, "delete") && !starts_with(line, "attributes") && !starts_with(line, "move") &&
        !starts_with(line, "write-section "))
      continue;
    if (!allowed.lines.count(line)) fuzz_fail(line.c_str(), __FILE__, __LINE__);
    const bool made = starts_with(line, "create ");
    const bool installed = !library.empty() && line == "move " + fresh_of[library] + " > " + library;
    if (!made && !installed) continue;
    // A payload is copied only to replace its own library, and only when
    // it is newer than the library as the pass found it (on 9x perhaps
    // brought back by the repair); what takes the library's name is its own
    // payload's bytes, and with digests only those that match.
    const std::map<std::string, std::string> &bytes = before_call.at(at);
    const int pair = pair_of.at(library);
    const std::string payload = before_run.at(removable[1 + pair]);
    if (made) found_as[library] = bytes.at(library);
    FUZZ_CHECK(found_as.count(library));
    std::string payload_version, library_version;
    FUZZ_CHECK(files.version_of(payload, payload_version));
    FUZZ_CHECK(files.version_of(found_as[library], library_version));
    FUZZ_CHECK(reference_newer(payload_version, library_version));
    if (installed) FUZZ_CHECK(bytes.at(fresh_of[library]) == payload);
    if (installed && binding) FUZZ_CHECK(digest_of(payload) == digests[pair]);
  }

  // Earlier lines of the Rename section stay, in order; only the
  // updater's own files are added after them.
  if (sim::wininit_text() != wininit_before) {
    FUZZ_CHECK(removal && by_name);
    const std::vector<std::string> after = sim::wininit_section("Rename");
    size_t kept = 0;
    for (const std::string &line : rename_before) {
      if (line.find('=') == std::string::npos) continue;
      FUZZ_CHECK(kept < after.size() && after[kept] == line);
      ++kept;
    }
    for (; kept < after.size(); ++kept) {
      bool own_file = false;
      for (const std::string &path : short_forms) own_file |= after[kept] == "Nul=" + path;
      FUZZ_CHECK(own_file);
    }
  }

  // On 9x a library that lies aside under its set-aside name with none of
  // its name, whichever run set it aside, is lost without the kit: the kit
  // stays whole and no outcome says all is well. A copy that lay so before
  // the run and could not come back is named, after the system's reason,
  // and no other.
  const bool judged = !cut && !other_instance;
  bool lies_aside = false;
  for (int i = 0; judged && by_name && rare != 3 && i < 2; ++i) {
    bool lost = false, named = false;
    for (int pair = 0; found[i] && pair < 2; ++pair) {
      const std::string library = reference_target_path(directories[i], LIBRARIES[pair]);
      const std::string &old = aside.at(library);
      bool shown = false;
      for (const sim::Box &box : sim::boxes()) shown |= ends_with(box.text, "  \n\n[ " + old + "  ]");
      const bool lies = old.size() < MAX_PATH && sim::exists(old) && !sim::exists(library);
      const bool lay = lies && existed.at(old) && !existed.at(library);
      FUZZ_CHECK(lay || !shown);
      lies_aside |= lies;
      lost |= lay;
      named |= shown;
    }
    FUZZ_CHECK(named || !lost);
  }
  // A file of the kit that bears the name of a file the pass works on is
  // judged as that.
  auto passes_file = [&](const std::string &path) {
    for (const auto &entry : aside)
      for (const std::string &name : {entry.first, entry.second, fresh_of.at(entry.first)})
        if (loosely(name) == loosely(path)) return true;
    return false;
  };
  if (lies_aside) {
    FUZZ_CHECK(sim::wininit_text() == wininit_before);
    for (const std::string &path : removable)
      FUZZ_CHECK(passes_file(path) ||
                 (sim::exists(path) == existed.at(path) && sim::bytes_of(path) == before_run.at(path)));
    for (UINT outcome : {MSG_UPDATED, MSG_NEWER_EXISTS, MSG_NO_NEED})
      FUZZ_CHECK(sim::boxes().empty() || sim::boxes().back().text != texts.text[outcome]);
  }

  // Never torn, never lost, never made up: after the restart each library
  // holds its old bytes, its own copy set aside or its own payload's, whole;
  // on 9x, cut between its two renames, its old bytes wait under its own
  // name set aside. A library that had neither its name nor a copy set
  // aside does not appear. After a power cut a newer kit runs again, and
  // the same holds, the newer payload's bytes allowed too.
  const std::vector<std::string> &journal = sim::journal();
  const bool no_room = std::count(journal.begin(), journal.end(), "write-section " + wininit + " [Rename] failed");
  sim::restart();
  const bool again = cut && in.flag();
  std::string newer[2];
  if (again) {
    for (int pair = 0; pair < 2; ++pair) {
      files.put_newest(kit + PAYLOADS[pair]);
      newer[pair] = sim::bytes_of(kit + PAYLOADS[pair]);
    }
    Exact second_tail = Exact::of(tail);
    FUZZ_CHECK(run(FUZZ_INSTANCE, 0, second_tail.get(), SW_SHOWDEFAULT) == 0);
    check_machine_clean();
    sim::restart();
  }
  // After /d and the restart nothing of the kit is left, read-only or not,
  // but a release's payload without its digest, a payload that another
  // program held so that the run could not (on 9x a plain build deletes it
  // by name all the same), a file whose path does not name it at the
  // restart, and on 9x one that WinInit.ini had no room to name.
  for (int k = 0; k < 3; ++k) {
    const std::string &path = removable[k];
    if (without_digest[k] && existed.at(path) && loosely(path) != loosely(own)) FUZZ_CHECK(sim::exists(path));
    const auto holder = files.holders.find(path);
    const bool unheld = k > 0 && holder != files.holders.end() && (by_name || holder->second == sim::Hold::exclusive);
    if (removal && judged && !lies_aside && existed.at(path) && !without_digest[k] &&
        !(unheld && (binding || !by_name)) && nameable(path) && !no_room && !passes_file(path) &&
        (k > 0 || own == module))
      FUZZ_CHECK(!sim::exists(path));
  }
  for (int i = 0; i < 2; ++i) {
    if (!found[i]) continue;
    for (int pair = 0; pair < 2; ++pair) {
      const std::string library = reference_target_path(directories[i], LIBRARIES[pair]);
      // The executable may bear a library's name; the switch removes it.
      bool removed = false;
      for (const std::string &path : removable) removed |= removal && loosely(path) == loosely(library);
      if (removed) continue;
      const std::string &old = before_run.at(library);
      const std::string &set_aside = before_run.at(aside.at(library));
      const bool had = existed.at(library) || (by_name && existed.at(aside.at(library)));
      if (sim::exists(library)) {
        const std::string bytes = sim::bytes_of(library);
        FUZZ_CHECK(had);
        FUZZ_CHECK(bytes == old || (by_name && bytes == set_aside) || bytes == before_run.at(removable[1 + pair]) ||
                   (again && bytes == newer[pair]));
      } else if (existed.at(library)) {
        FUZZ_CHECK(cut && by_name && sim::bytes_of(aside.at(library)) == old);
      }
    }
  }
  return 0;
}
