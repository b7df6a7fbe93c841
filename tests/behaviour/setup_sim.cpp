// The checks' machine on the simulated Windows: state given through its
// test API.
#include <string>

#include "check.h"
#include "simwin/machine.h"

namespace {

const char MODULE_PATH[] = "C:\\checks\\behaviour.exe";

// The version resources of tests/behaviour/wine's library_specs. windres
// counts the terminator in a string's length, and the reported length
// follows it.
sim::VersionResource resource_of(Library which) {
  sim::VersionResource resource;
  resource.length_counts_terminator = true;
  switch (which) {
    case LIBRARY_ENGLISH:
      resource.translations = {{0x0409, 0x04b0, true, "1.01.002"}};
      break;
    case LIBRARY_SECOND_TRANSLATION:
      resource.translations = {{0x0411, 0x03a4, false, ""}, {0x0409, 0x04b0, true, "3.30.010"}};
      break;
    case LIBRARY_JAPANESE_ONLY:
      resource.translations = {{0x0411, 0x04b0, true, "3.30.009"}};
      break;
    case LIBRARY_WITHOUT_VERSION:
      break;
  }
  return resource;
}

}  // namespace

void begin_machine(const char *) {
  sim::reset();
  sim::set_platform(nine_x_family() ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
  // A Japanese Windows speaks Japanese, has Japanese regional settings and
  // code page 932, as the Wine machines of the Japanese modes do; a Japanese
  // language pack on a western system speaks Japanese over code page 1252.
  sim::set_ui_language(japanese() ? 1041 : 1033);
  sim::set_regional_language(japanese() && !western_code_page() ? 1041 : 1033);
  sim::set_code_page(japanese() && !western_code_page() ? 932 : 1252);
  sim::set_module_path(MODULE_PATH);
  sim::put_file(MODULE_PATH, "MZ behaviour checks");
  sim::hold(MODULE_PATH, sim::Hold::module);
  sim::make_dir(scratch(""));
}

void end_machine() {}

void make_folder(const char *path) { sim::make_dir(path); }

void make_file(const char *path, const char *bytes, DWORD size, DWORD attributes) {
  sim::put_file(path, std::string(bytes, size), attributes);
}

void make_library(const char *path, Library which) {
  sim::put_file(path, "MZ library " + std::to_string(which));
  if (which != LIBRARY_WITHOUT_VERSION) sim::set_version(path, resource_of(which));
}

void hold_module(const char *path) { sim::hold(path, sim::Hold::module); }
void hold_exclusive(const char *path) { sim::hold(path, sim::Hold::exclusive); }
const char *own_module() { return MODULE_PATH; }
HINSTANCE own_instance() { return reinterpret_cast<HINSTANCE>(0x400000); }

DWORD file_attributes(const char *path) { return sim::attributes_of(path); }

int file_bytes(const char *path, char *bytes, int size) {
  if (!sim::exists(path) || (sim::attributes_of(path) & FILE_ATTRIBUTE_DIRECTORY)) return -1;
  std::string content = sim::bytes_of(path);
  for (int i = 0; i < size && i < static_cast<int>(content.size()); ++i) bytes[i] = content[i];
  return static_cast<int>(content.size());
}

bool pending_deletion(int index, char *path, int size) {
  const std::vector<std::string> &pending = sim::pending_deletions();
  if (index < 0 || index >= static_cast<int>(pending.size()) || size <= 0) return false;
  std::string text = pending[index].substr(0, size - 1);
  text.copy(path, text.size());
  path[text.size()] = 0;
  return true;
}

void short_name_hint(const char *long_path, const char *short_path) { sim::set_short_name(long_path, short_path); }

void set_registry_value(const char *key, const char *name, DWORD type, const void *bytes, DWORD size) {
  sim::set_value(key, name, type, std::string(static_cast<const char *>(bytes), size));
}

void hold_mutex(const char *name) { sim::hold_mutex(name); }
