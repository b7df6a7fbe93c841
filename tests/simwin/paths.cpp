// Paths as Windows reads them: separators, case, "." and "..", double-byte
// characters of the code page, and 8.3 short names standing for long ones.
#include <algorithm>
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string fold(const std::string &part, UINT code_page) {
  std::string folded = part;
  for (std::size_t i = 0; i < folded.size(); ++i) {
    if (is_lead_byte(code_page, static_cast<BYTE>(folded[i]))) {
      ++i;
    } else if (folded[i] >= 'A' && folded[i] <= 'Z') {
      folded[i] = static_cast<char>(folded[i] - 'A' + 'a');
    }
  }
  return folded;
}

std::string join(const std::string &prefix, const std::vector<std::string> &parts, std::size_t count) {
  std::string joined = prefix;
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) joined += '\\';
    joined += parts[i];
  }
  return joined;
}

bool starts_with(const std::string &text, const std::string &head) {
  return text.size() >= head.size() && text.compare(0, head.size(), head) == 0;
}

// Whether `inner` lies inside the directory `outer` (both canonical).
bool lies_in(const std::string &inner, const std::string &outer) {
  return outer.empty() || starts_with(inner, outer + "\\");
}

std::string canonical_as_given(const std::string &path) {
  Parsed parsed = parse(path);
  return join(parsed.prefix, parsed.folded, parsed.folded.size());
}

// The longest known short form that is the path or holds it stands for
// its long form: a file's own mapping wins over its folder's.
std::string long_form(const std::string &path) {
  std::string wanted = canonical_as_given(path);
  const ShortName *best = nullptr;
  std::size_t best_size = 0;
  for (const ShortName &name : machine().short_names) {
    std::string short_form = canonical_as_given(name.short_path);
    if (short_form.empty() || short_form.size() <= best_size) continue;
    if (wanted == short_form || lies_in(wanted, short_form)) {
      best = &name;
      best_size = short_form.size();
    }
  }
  return best ? best->long_path + wanted.substr(best_size) : path;
}
}  // namespace

Parsed parse(const std::string &path) {
  const UINT code_page = machine().code_page;
  Parsed parsed;
  std::size_t i = 0;
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    parsed.prefix = "\\\\";
    i = 2;
  } else if (!path.empty() && is_separator(path[0])) {
    parsed.prefix = "\\";
    i = 1;
  }
  std::string part;
  auto end_part = [&] {
    if (part == "..") {
      bool at_drive = parsed.parts.size() == 1 && parsed.parts[0].back() == ':';
      if (!parsed.parts.empty() && !at_drive) parsed.parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parsed.parts.push_back(part);
    }
    part.clear();
  };
  for (; i < path.size(); ++i) {
    if (is_lead_byte(code_page, static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      part += path[i];
      part += path[++i];
    } else if (is_separator(path[i])) {
      end_part();
    } else {
      part += path[i];
    }
  }
  end_part();
  for (const std::string &p : parsed.parts) parsed.folded.push_back(fold(p, code_page));
  return parsed;
}

std::string win32_name(LPCSTR given) {
  if (!given) return std::string();
  std::string name = given;
  std::size_t end = name.size();
  while (end > 0 && (name[end - 1] == ' ' || name[end - 1] == '.')) --end;
  // A last component of dots alone ("." or "..") is a relative step, not a
  // name to trim.
  std::size_t start = name.find_last_of("\\/", end == 0 ? 0 : end - 1);
  start = start == std::string::npos ? 0 : start + 1;
  if (end == start) return name;
  name.erase(end);
  return name;
}

DWORD path_check(const std::string &path) {
  if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  if (!parent_exists(path)) return ERROR_PATH_NOT_FOUND;
  return 0;
}

std::string canonical(const std::string &path) { return canonical_as_given(long_form(path)); }

bool same_path(const std::string &a, const std::string &b) { return canonical(a) == canonical(b); }

File *find_file(const std::string &path) {
  std::string wanted = canonical(path);
  for (File &file : machine().files)
    if (canonical(file.path) == wanted) return &file;
  return nullptr;
}

bool is_directory(const std::string &path) {
  std::string wanted = canonical(path);
  if (wanted.empty()) return true;  // the current directory
  auto holds_it = [&](const std::string &dir) {
    std::string made = canonical(dir);
    return made == wanted || lies_in(made, wanted);
  };
  if (holds_it(machine().windows_directory)) return true;
  for (const std::string &dir : machine().dirs)
    if (holds_it(dir)) return true;
  for (const File &file : machine().files)
    if (lies_in(canonical(file.path), wanted)) return true;
  return false;
}

bool parent_exists(const std::string &path) {
  Parsed parsed = parse(path);
  if (parsed.parts.empty()) return true;
  // A root is taken to exist, and so is a server with its share.
  if (parsed.parts.size() == 1 && !parsed.prefix.empty()) return true;
  if (parsed.prefix == "\\\\" && parsed.parts.size() <= 2) return true;
  std::string parent = join(parsed.prefix, parsed.parts, parsed.parts.size() - 1);
  return parent.empty() || is_directory(parent);
}

void erase_file(const std::string &path) {
  std::string wanted = canonical(path);
  auto &files = machine().files;
  files.erase(
      std::remove_if(files.begin(), files.end(), [&](const File &file) { return canonical(file.path) == wanted; }),
      files.end());
}

}  // namespace detail

using namespace detail;

void set_short_name(const std::string &long_path, const std::string &short_path) {
  for (ShortName &name : machine().short_names) {
    if (same_path(name.long_path, long_path)) {
      name.short_path = short_path;
      return;
    }
  }
  machine().short_names.push_back(ShortName{long_path, short_path});
}

}  // namespace sim

using namespace sim::detail;

DWORD WINAPI GetShortPathNameA(LPCSTR given_long_path, LPSTR short_path, DWORD size) {
  if (DWORD injected = enter("GetShortPathNameA")) {
    return fail(injected);
  }
  const std::string long_path_rules = win32_name(given_long_path);
  LPCSTR long_path = given_long_path ? long_path_rules.c_str() : nullptr;
  if (!long_path) return fail(ERROR_INVALID_PARAMETER);
  if (std::strlen(long_path) >= MAX_PATH) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (!sim::exists(long_path)) return fail(ERROR_FILE_NOT_FOUND);

  // The longest mapped directory or file that holds the path gives its head.
  Parsed parsed = parse(long_path);
  std::string result = long_path;
  std::size_t best = 0;
  for (const ShortName &name : machine().short_names) {
    Parsed mapped = parse(name.long_path);
    std::size_t n = mapped.folded.size();
    if (n == 0 || n <= best || n > parsed.folded.size() || mapped.prefix != parsed.prefix ||
        !std::equal(mapped.folded.begin(), mapped.folded.end(), parsed.folded.begin()))
      continue;
    best = n;
    result = name.short_path;
    for (std::size_t i = n; i < parsed.parts.size(); ++i) {
      if (result.empty() || !is_separator(result.back())) result += '\\';
      result += parsed.parts[i];
    }
  }
  DWORD length = static_cast<DWORD>(result.size());
  if (!short_path || size < length + 1) return length + 1;
  std::memcpy(short_path, result.c_str(), length + 1);
  return length;
}
