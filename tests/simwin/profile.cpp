// Initialisation files: plain files of the simulated file system, parsed
// on every call the way the profile functions read them.
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

std::string trim(const std::string &text) {
  std::string::size_type first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Whether the line is a section header, and for which section.
bool header(const std::string &line, std::string &name) {
  std::string text = trim(line);
  if (text.empty() || text[0] != '[') return false;
  name = trim(text.substr(1, text.find(']') == std::string::npos ? std::string::npos : text.find(']') - 1));
  return true;
}

bool is_section(const std::string &line, const std::string &section) {
  std::string name;
  return header(line, name) && lower_ascii(name) == lower_ascii(trim(section));
}

// Without a directory, a profile lives in the Windows directory.
std::string profile_path(const std::string &file) {
  if (file.find_first_of("\\/") != std::string::npos) return file;
  return machine().windows_directory + "\\" + file;
}

std::string key_of(const std::string &line) { return lower_ascii(trim(line.substr(0, line.find('=')))); }

// Replaces the file's text, creating the file when missing; the text goes
// into the system's cache. 0, or ERROR_DISK_FULL with nothing written when
// the volume has no room for it.
DWORD store(const std::string &path, const std::string &text) {
  if (text.size() > free_space(path, path)) return ERROR_DISK_FULL;
  File *file = find_file(path);
  if (!file) {
    machine().files.push_back(File{path, "", FILE_ATTRIBUTE_ARCHIVE, false, {}, false});
    file = &machine().files.back();
    name_path(path);
  }
  file->bytes = text;
  file->unflushed = true;
  disk_changed();
  return 0;
}

// The journal line and the result of a write that got past its checks.
BOOL stored(const std::string &line, DWORD error) {
  record(line, error == 0);
  return error ? fail(error) : TRUE;
}

std::string text_of(const std::string &path) {
  const File *file = find_file(path);
  return file ? file->bytes : std::string();
}

}  // namespace

bool read_section(const std::string &text, const std::string &section, std::vector<std::string> &lines) {
  bool inside = false;
  bool found = false;
  for (const std::string &raw : split_lines(text)) {
    std::string name;
    if (header(raw, name)) {
      // A repeated section is not read: the first one is the section.
      if (found) break;
      inside = found = lower_ascii(name) == lower_ascii(trim(section));
      continue;
    }
    std::string line = trim(raw);
    if (inside && !line.empty() && line[0] != ';') lines.push_back(line);
  }
  return found;
}

std::string replace_section(const std::string &text, const std::string &section,
                            const std::vector<std::string> *lines) {
  std::vector<std::string> raw = split_lines(text);
  std::size_t start = 0;
  while (start < raw.size() && !is_section(raw[start], section)) ++start;
  if (start == raw.size() && !lines) return text;

  std::vector<std::string> result(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(start));
  if (lines) {
    result.push_back(start < raw.size() ? raw[start] : "[" + section + "]");
    result.insert(result.end(), lines->begin(), lines->end());
  }
  if (start < raw.size()) {
    std::size_t end = start + 1;
    std::string name;
    while (end < raw.size() && !header(raw[end], name)) ++end;
    result.insert(result.end(), raw.begin() + static_cast<std::ptrdiff_t>(end), raw.end());
  }
  std::string joined;
  for (const std::string &line : result) joined += line + "\r\n";
  return joined;
}

void run_wininit() {
  // WININIT.EXE deletes the "Nul=" entries and renames WinInit.ini to
  // WININIT.BAK. Here the section is removed instead, which leaves the same
  // effect on the next run; a file with nothing else in it goes altogether.
  const std::string wininit = machine().windows_directory + "\\WinInit.ini";
  const File *file = find_file(wininit);
  if (!file) return;
  const std::string text = file->bytes;  // deleting files below moves this one
  std::vector<std::string> lines;
  read_section(text, "Rename", lines);
  for (const std::string &line : lines) {
    std::string::size_type equals = line.find('=');
    if (equals == std::string::npos || key_of(line) != "nul") continue;
    // DOS cannot name a file by a long name: such a line does nothing.
    const std::string path = trim(line.substr(equals + 1));
    if (is_short_path(path)) erase_file(path);
  }
  std::string rest = replace_section(text, "Rename", nullptr);
  if (rest.find_first_not_of(" \t\r\n") == std::string::npos)
    erase_file(wininit);
  else if (File *left = find_file(wininit))
    left->bytes = rest;
}

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
  if (DWORD injected = enter("GetPrivateProfileSectionA")) {
    if (buffer && size > 0) buffer[0] = 0;
    if (buffer && size > 1) buffer[1] = 0;
    set_error(injected);
    return 0;
  }
  if (!buffer || size == 0) return 0;
  std::vector<std::string> lines;
  bool readable =
      section && file && open_check(profile_path(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE) == 0;
  if (readable) read_section(text_of(profile_path(file)), section, lines);

  std::string list;  // each line with its terminator, without the closing one
  for (const std::string &line : lines) list += line + '\0';
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = 0;
    if (list.empty() && size >= 2) buffer[1] = 0;
    return static_cast<DWORD>(list.size());
  }
  // Windows' documented answer for a section that does not fit: the list
  // cut at the capacity, closed by two zeros, and the count size - 2.
  if (size < 2) {
    buffer[0] = 0;
    return 0;
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = 0;
  buffer[size - 1] = 0;
  return size - 2;
}

BOOL WINAPI WritePrivateProfileSectionA(LPCSTR section, LPCSTR data, LPCSTR file) {
  if (DWORD injected = enter("WritePrivateProfileSectionA")) {
    return fail(injected);
  }
  std::string line = "write-section " + show(file) + " [" + show(section) + "]";
  DWORD error = section && file ? write_check(profile_path(file)) : ERROR_INVALID_PARAMETER;
  if (error) return stored(line, error);
  std::vector<std::string> lines;
  for (LPCSTR entry = data; entry && *entry; entry += std::strlen(entry) + 1)
    if (std::strchr(entry, '=')) lines.push_back(entry);
  std::string path = profile_path(file);
  return stored(line, store(path, replace_section(text_of(path), section, data ? &lines : nullptr)));
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (DWORD injected = enter("WritePrivateProfileStringA")) {
    return fail(injected);
  }
  if (!section && !key && !value) {
    // Flushing the cache. NT answers FALSE here; the call is still made.
    record("flush " + show(file), true);
    return FALSE;
  }
  std::string line = "write-string " + show(file) + " [" + show(section) + "]" + (key ? " " + std::string(key) : "");
  DWORD error = section && file ? write_check(profile_path(file)) : ERROR_INVALID_PARAMETER;
  if (error) return stored(line, error);
  std::string path = profile_path(file);
  std::string text = text_of(path);
  if (!key) return stored(line, store(path, replace_section(text, section, nullptr)));
  std::vector<std::string> lines;
  if (!read_section(text, section, lines) && !value) return stored(line, 0);
  std::vector<std::string> kept;
  bool replaced = false;
  for (const std::string &entry : lines) {
    if (key_of(entry) != key_of(key)) {
      kept.push_back(entry);
    } else if (value && !replaced) {
      kept.push_back(std::string(key) + "=" + value);
      replaced = true;
    }
  }
  if (value && !replaced) kept.push_back(std::string(key) + "=" + value);
  return stored(line, store(path, replace_section(text, section, &kept)));
}
