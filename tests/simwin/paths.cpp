// Paths as Windows reads them: separators, case, "." and "..", double-byte
// characters of the code page, and 8.3 aliases standing for long names.
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

// Drives, and a UNC path's server and share, have no aliases.
bool is_fixed(const Parsed &parsed, std::size_t i) {
  if (parsed.prefix == "\\\\") return i < 2;
  return i == 0 && parsed.prefix.empty() && parsed.parts[0].size() == 2 && parsed.parts[0][1] == ':';
}

// The path of a name in a directory, both canonical, as join() spells it.
std::string child(const std::string &parent, const std::string &name) {
  bool root = parent.empty() || parent == "\\" || parent == "\\\\";
  return root ? parent + name : parent + "\\" + name;
}

// The long name an alias stands for in a directory, or the name itself.
const std::string &resolve(const std::string &parent, const std::string &folded) {
  const UINT code_page = machine().code_page;
  for (const Alias &alias : machine().aliases)
    if (alias.parent == parent && fold(alias.short_name, code_page) == folded) return alias.name;
  return folded;
}

// The characters of a name: where each begins, double-byte ones whole.
std::vector<std::size_t> character_starts(const std::string &name) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < name.size(); ++i) {
    starts.push_back(i);
    if (is_lead_byte(machine().code_page, static_cast<BYTE>(name[i])) && i + 1 < name.size()) ++i;
  }
  return starts;
}

// The longest head of the text, in whole characters, of at most `room` bytes.
std::string head(const std::string &text, std::size_t room) {
  std::size_t end = 0;
  std::vector<std::size_t> starts = character_starts(text);
  starts.push_back(text.size());
  for (std::size_t i = 1; i < starts.size() && starts[i] <= room; ++i) end = starts[i];
  return text.substr(0, end);
}

// Windows' basis of an alias: leading dots, blanks and every dot but the
// extension's dropped, "+,;=[]" made "_", ASCII letters upper-cased; the
// name and the extension apart.
void alias_basis(const std::string &long_name, std::string &name, std::string &extension) {
  std::string text = long_name.substr(std::min(long_name.find_first_not_of('.'), long_name.size()));
  std::size_t dot = std::string::npos;
  for (std::size_t start : character_starts(text))
    if (text[start] == '.') dot = start;
  name.clear();
  extension.clear();
  std::vector<std::size_t> starts = character_starts(text);
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t at = starts[k], end = k + 1 < starts.size() ? starts[k + 1] : text.size();
    std::string c = text.substr(at, end - at);
    if (c == " " || c == ".") continue;
    if (c.size() == 1 && std::strchr("+,;=[]", c[0])) c = "_";
    if (c.size() == 1 && c[0] >= 'a' && c[0] <= 'z') c[0] = static_cast<char>(c[0] - 'a' + 'A');
    (dot != std::string::npos && at > dot ? extension : name) += c;
  }
}

// The alias of a long name in a directory (canonical), made when missing:
// "~1", or the next number free in the directory.
std::string alias_in(const std::string &parent, const std::string &spelt, const std::string &folded) {
  if (is_short_name(spelt)) return spelt;
  for (const Alias &alias : machine().aliases)
    if (alias.parent == parent && alias.name == folded) return alias.short_name;
  std::string name, extension;
  alias_basis(spelt, name, extension);
  const UINT code_page = machine().code_page;
  for (int number = 1;; ++number) {
    const std::string tail = "~" + std::to_string(number);
    const std::string candidate = head(name, std::min<std::size_t>(6, 8 - tail.size())) + tail +
                                  (extension.empty() ? "" : "." + head(extension, 3));
    const std::string wanted = fold(candidate, code_page);
    bool taken = find_file(child(parent, wanted)) || is_directory(child(parent, wanted));
    for (const Alias &alias : machine().aliases)
      taken |= alias.parent == parent && fold(alias.short_name, code_page) == wanted;
    if (taken) continue;
    machine().aliases.push_back(Alias{parent, folded, candidate});
    return candidate;
  }
}

// The longest known short form that is the path or holds it stands for
// its long form: a file's own mapping wins over its folder's.
std::string long_form(const std::string &path) {
  std::string wanted = canonical_as_given(path);
  const ShortName *best = nullptr;
  std::size_t best_size = 0;
  for (const std::vector<ShortName> *names : {&machine().short_names, &machine().shares})
    for (const ShortName &name : *names) {
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

namespace {
std::string canonical_plain(const std::string &path) {
  Parsed parsed = parse(long_form(path));
  std::string joined = parsed.prefix;
  for (std::size_t i = 0; i < parsed.folded.size(); ++i) {
    const std::string &name = is_fixed(parsed, i) ? parsed.folded[i] : resolve(joined, parsed.folded[i]);
    joined = i == 0 ? joined + name : joined + "\\" + name;
  }
  return joined;
}
}  // namespace

const char OBJECT_DIRECTORY[] = "\\RPC Control";

// Every component is followed, the last one too: FILE_FLAG_OPEN_REPARSE_POINT
// acts only on a last component that is itself a reparse point, which the
// simulation keeps as a file with that attribute. An object-manager link is
// followed whatever the flags.
std::string through_mounts(const std::string &path) {
  std::string current = path;
  for (int hop = 0; hop < 8 && !machine().mounts.empty(); ++hop) {
    Parsed parsed = parse(current);
    std::string next;
    for (std::size_t i = 1; i <= parsed.parts.size() && next.empty(); ++i) {
      const std::string head = canonical_plain(join(parsed.prefix, parsed.parts, i));
      for (const Mount &mount : machine().mounts) {
        if (canonical_plain(mount.folder) != head) continue;
        std::size_t rest = i;
        next = mount.target;
        if (next.empty()) {
          next = OBJECT_DIRECTORY;
          if (i < parsed.parts.size()) {
            auto link = mount.links.find(parsed.folded[i]);
            next = link != mount.links.end() ? link->second : next + "\\" + parsed.parts[i];
            rest = i + 1;
          }
        }
        for (std::size_t k = rest; k < parsed.parts.size(); ++k) next += "\\" + parsed.parts[k];
        break;
      }
    }
    if (next.empty()) return current;
    current = next;
  }
  return current;
}

std::string canonical(const std::string &path) {
  return canonical_plain(machine().mounts.empty() ? path : through_mounts(path));
}

bool is_short_name(const std::string &name) {
  std::size_t base = 0, extension = 0, dots = 0;
  for (std::size_t start : character_starts(name)) {
    const char c = name[start];
    const bool wide = start + 1 < name.size() && is_lead_byte(machine().code_page, static_cast<BYTE>(c));
    if (!wide && (static_cast<BYTE>(c) < ' ' || std::strchr(" +,;=[]\"*/:<>?\\|", c))) return false;
    if (!wide && c == '.') {
      if (++dots > 1 || start == 0) return false;
      continue;
    }
    (dots ? extension : base) += wide ? 2 : 1;
  }
  return base >= 1 && base <= 8 && extension <= 3 && (dots == 0 || extension > 0);
}

bool is_short_path(const std::string &path) {
  Parsed parsed = parse(path);
  for (std::size_t i = 0; i < parsed.parts.size(); ++i)
    if (!is_fixed(parsed, i) && !is_short_name(parsed.parts[i])) return false;
  return !parsed.parts.empty();
}

void name_path(const std::string &path) {
  Parsed parsed = parse(long_form(path));
  std::string joined = parsed.prefix;
  for (std::size_t i = 0; i < parsed.parts.size(); ++i) {
    std::string name = parsed.folded[i];
    if (!is_fixed(parsed, i)) {
      name = resolve(joined, parsed.folded[i]);
      if (name == parsed.folded[i]) alias_in(joined, parsed.parts[i], name);
    }
    joined = i == 0 ? joined + name : joined + "\\" + name;
  }
}

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
  Parsed parsed = parse(machine().mounts.empty() ? path : through_mounts(path));
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
  // The alias goes with the name, free for the next one.
  if (is_directory(wanted)) return;
  auto &aliases = machine().aliases;
  aliases.erase(std::remove_if(aliases.begin(), aliases.end(),
                               [&](const Alias &alias) { return child(alias.parent, alias.name) == wanted; }),
                aliases.end());
}

}  // namespace detail

using namespace detail;

std::string alias_of(const std::string &path) {
  if (!exists(path)) return "";
  Parsed parsed = parse(path);
  if (parsed.parts.empty() || is_fixed(parsed, parsed.parts.size() - 1)) return "";
  std::string parent = canonical(join(parsed.prefix, parsed.parts, parsed.parts.size() - 1));
  std::string name = canonical(path).substr(child(parent, "").size());
  std::string alias = alias_in(parent, parsed.parts.back(), name);
  return is_short_name(parsed.parts.back()) ? "" : alias;
}

void set_short_name(const std::string &long_path, const std::string &short_path) {
  for (ShortName &name : machine().short_names) {
    if (same_path(name.long_path, long_path)) {
      name.short_path = short_path;
      return;
    }
  }
  machine().short_names.push_back(ShortName{long_path, short_path});
}

void set_share(const std::string &share, const std::string &folder) {
  machine().shares.push_back(ShortName{folder, share});
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

  // The longest mapped directory or file that holds the path gives its
  // head; each name after it is spelt by its alias.
  Parsed parsed = parse(long_path);
  std::string result = parsed.prefix;
  std::size_t best = 0;
  for (const ShortName &name : machine().short_names) {
    Parsed mapped = parse(name.long_path);
    std::size_t n = mapped.folded.size();
    if (n == 0 || n <= best || n > parsed.folded.size() || mapped.prefix != parsed.prefix ||
        !std::equal(mapped.folded.begin(), mapped.folded.end(), parsed.folded.begin()))
      continue;
    best = n;
    result = name.short_path;
  }
  for (std::size_t i = best; i < parsed.parts.size(); ++i) {
    std::string piece = parsed.parts[i];
    if (!is_fixed(parsed, i)) {
      const std::string parent = canonical(join(parsed.prefix, parsed.parts, i));
      const std::string name = canonical(join(parsed.prefix, parsed.parts, i + 1)).substr(child(parent, "").size());
      piece = alias_in(parent, parsed.parts[i], name);
    }
    // After a mapped head only when it does not end in a separator; a name
    // of ours may end in a trail byte that looks like one.
    if (i > best || (i > 0 && (result.empty() || !is_separator(result.back())))) result += '\\';
    result += piece;
  }
  DWORD length = static_cast<DWORD>(result.size());
  if (!short_path || size < length + 1) return length + 1;
  std::memcpy(short_path, result.c_str(), length + 1);
  return length;
}
