// Version resources, handed out as self-describing blocks.
//
// A block is this simulation's own format, little-endian:
//   0  DWORD  length of the resource in bytes; its low WORD stands where
//             Windows' blocks keep theirs (VS_VERSIONINFO's wLength)
//   4  "SVER"
//   8  WORD   flags: 1 the reported length counts the terminator,
//                    2 the strings have no terminator
//   10 WORD   n, the number of translations
//   12 DWORD  how much of the resource this copy holds
//   16 n x (WORD language, WORD code page, DWORD offset, DWORD length)
//             "\StringFileInfo": the FileVersion string of each
//             translation; offset 0 when it has none
//   then padding and the strings, the first translation's last
//   then n x (WORD language, WORD code page)    "\VarFileInfo\Translation":
//             resource compilers write VarFileInfo after StringFileInfo, so
//             the translations end the resource.
// Queries read only the block, never past what the copy holds.
#include <cctype>
#include <cstring>

#include "state.h"

namespace sim {
namespace detail {
namespace {

const char MAGIC[4] = {'S', 'V', 'E', 'R'};
const DWORD HEADER = 16;
const DWORD ENTRY = 12;
const WORD COUNTS_TERMINATOR = 1;
const WORD UNTERMINATED = 2;
// The size asked for leaves room after the resource, except on 9x for a
// 16-bit one. NT keeps ANSI copies of the strings there: from Windows 2000
// on the size is twice the resource's length and 4 (NT 4: one and a half
// times), and Wine answers so in every mode. 9x answers a 32-bit resource's
// size and converts it in place to a shorter ANSI one, while it hands back
// a 16-bit resource as it is (Windows 98: 436 bytes for a wLength of 436).
// Sources: Wine's version tests, dlls/version/tests/info.c (test_32bit_win),
// and dlls/version/version.c. The spare bytes are not zeros: a reader that
// runs past a string finds no terminator for free.
const DWORD NINE_X_SPARE = 16;
const BYTE SPARE_FILL = 0xCD;

void put16(std::string &block, std::size_t at, WORD value) {
  block[at] = static_cast<char>(value & 0xFF);
  block[at + 1] = static_cast<char>(value >> 8);
}

void put32(std::string &block, std::size_t at, DWORD value) {
  put16(block, at, static_cast<WORD>(value & 0xFFFF));
  put16(block, at + 2, static_cast<WORD>(value >> 16));
}

void put32(BYTE *block, DWORD value) {
  for (int i = 0; i < 4; ++i) block[i] = static_cast<BYTE>(value >> (8 * i));
}

WORD get16(const BYTE *at) { return static_cast<WORD>(at[0] | at[1] << 8); }
DWORD get32(const BYTE *at) { return get16(at) | static_cast<DWORD>(get16(at + 2)) << 16; }

std::string serialize(const VersionResource &resource) {
  const std::vector<Translation> &translations = resource.translations;
  const std::size_t n = translations.size();
  // Windows' values are DWORD-aligned, and so are the translations here.
  std::size_t strings = 0;
  for (const Translation &translation : translations)
    if (translation.has_file_version) strings += translation.file_version.size() + (resource.unterminated ? 0 : 1);
  std::string block(HEADER + ENTRY * n + (4 - strings % 4) % 4, '\0');
  std::memcpy(&block[4], MAGIC, 4);
  put16(block, 8,
        static_cast<WORD>((resource.length_counts_terminator ? COUNTS_TERMINATOR : 0) |
                          (resource.unterminated ? UNTERMINATED : 0)));
  put16(block, 10, static_cast<WORD>(n));
  for (std::size_t i = n; i-- > 0;) {
    put16(block, HEADER + ENTRY * i, translations[i].language);
    put16(block, HEADER + ENTRY * i + 2, translations[i].code_page);
    if (!translations[i].has_file_version) continue;
    const std::string &text = translations[i].file_version;
    put32(block, HEADER + ENTRY * i + 4, static_cast<DWORD>(block.size()));
    put32(block, HEADER + ENTRY * i + 8, static_cast<DWORD>(text.size()));
    block += text;
    if (!resource.unterminated) block += '\0';
  }
  for (const Translation &translation : translations) {
    block += std::string(4, '\0');
    put16(block, block.size() - 4, translation.language);
    put16(block, block.size() - 2, translation.code_page);
  }
  put32(block, 0, static_cast<DWORD>(block.size()));
  put32(block, 12, static_cast<DWORD>(block.size()));
  return block;
}

bool same_text(const std::string &a, const char *b) { return lower_ascii(a) == b; }

bool parse_hex(const std::string &text, DWORD &value) {
  if (text.size() != 8) return false;
  value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = value << 4 |
            static_cast<DWORD>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  return true;
}

// The block of a readable file with a resource, or the error.
DWORD version_block(LPCSTR name, std::string &block) {
  if (!name) return ERROR_INVALID_PARAMETER;
  // NT maps the file as a data file, which a running image allows. Whether
  // 9x's VERSION.DLL opens a file the DOS way, in compatibility mode (as
  // 16-bit VER.DLL and Wine's version code do, through LZOpenFile), no
  // documentation says: it is taken that it does, the case that fails
  // beside a handle that denies writing. A library that is loaded reads all
  // the same on 9x (Wine's 98 mode, and the installers of the time, which
  // read the versions of loaded system libraries): as on NT, from its image.
  const bool dos_open = machine().platform != VER_PLATFORM_WIN32_NT && !module_held(name);
  const DWORD share = dos_open ? SHARE_COMPATIBILITY : FILE_SHARE_READ | FILE_SHARE_DELETE;
  if (DWORD error = open_check(name, GENERIC_READ, share)) return error;
  const File *file = find_file(name);
  if (!file->has_version) return ERROR_RESOURCE_TYPE_NOT_FOUND;
  block = serialize(file->version);
  return 0;
}

}  // namespace
}  // namespace detail

using namespace detail;

void set_version(const std::string &path, const VersionResource &resource) {
  File *file = find_file(path);
  if (!file) {
    fault("set_version: no file " + path);
    return;
  }
  file->has_version = true;
  file->version = resource;
  machine().versions_by_bytes[file->bytes] = resource;
}

void set_file_version(const std::string &path, const std::string &file_version) {
  VersionResource resource;
  resource.translations.push_back(Translation{0x0409, 0x04b0, true, file_version});
  set_version(path, resource);
}

}  // namespace sim

using namespace sim::detail;

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR given_name, LPDWORD handle) {
  if (DWORD injected = enter("GetFileVersionInfoSizeA")) {
    set_error(injected);
    return 0;
  }
  const std::string name_rules = win32_name(given_name);
  LPCSTR name = given_name ? name_rules.c_str() : nullptr;
  if (handle) *handle = 0;
  std::string block;
  if (DWORD error = version_block(name, block)) {
    // A successful size query is half of a read; the journal has the read.
    record("read-version " + show(given_name), false);
    set_error(error);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(block.size());
  if (machine().platform == VER_PLATFORM_WIN32_NT) return 2 * length + 4;
  return find_file(name)->version.sixteen_bit ? length : length + NINE_X_SPARE;
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR given_name, DWORD, DWORD size, LPVOID data) {
  if (DWORD injected = enter("GetFileVersionInfoA")) {
    return fail(injected);
  }
  const std::string name_rules = win32_name(given_name);
  LPCSTR name = given_name ? name_rules.c_str() : nullptr;
  std::string block;
  DWORD error = data ? version_block(name, block) : ERROR_INVALID_PARAMETER;
  if (!error && size < HEADER) error = ERROR_INSUFFICIENT_BUFFER;
  record("read-version " + show(given_name), error == 0);
  if (error) {
    set_error(error);
    return FALSE;
  }
  // Windows copies what fits. The copy records how much it holds, so that
  // a cut block is read as far as it goes and no further.
  DWORD copied = size < block.size() ? size : static_cast<DWORD>(block.size());
  std::memcpy(data, block.data(), copied);
  std::memset(static_cast<BYTE *>(data) + copied, SPARE_FILL, size - copied);
  put32(static_cast<BYTE *>(data) + 12, copied);
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID *buffer, PUINT length) {
  if (DWORD injected = enter("VerQueryValueA")) {
    set_error(injected);
    return FALSE;
  }
  if (!block || !sub_block || !buffer) return FALSE;
  const BYTE *bytes = static_cast<const BYTE *>(block);
  if (std::memcmp(bytes + 4, MAGIC, 4) != 0) return FALSE;
  const DWORD total = get32(bytes);
  const WORD flags = get16(bytes + 8);
  const DWORD n = get16(bytes + 10);
  const DWORD held = get32(bytes + 12);
  if (held > total || total < HEADER + (ENTRY + 4) * n) return FALSE;
  const DWORD strings_end = total - 4 * n;

  std::vector<std::string> parts;
  std::string part;
  for (const char *c = sub_block;; ++c) {
    if (*c == '\\' || *c == 0) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*c == 0) break;
    } else {
      part += *c;
    }
  }

  if (parts.size() == 2 && same_text(parts[0], "varfileinfo") && same_text(parts[1], "translation")) {
    if (n == 0 || held < total) return FALSE;
    *buffer = const_cast<BYTE *>(bytes + strings_end);
    if (length) *length = 4 * n;
    return TRUE;
  }

  DWORD wanted;
  if (parts.size() != 3 || !same_text(parts[0], "stringfileinfo") || !parse_hex(parts[1], wanted) ||
      !same_text(parts[2], "fileversion"))
    return FALSE;
  const DWORD end = held < strings_end ? held : strings_end;
  for (DWORD i = 0; i < n && HEADER + ENTRY * (i + 1) <= held; ++i) {
    const BYTE *entry = bytes + HEADER + ENTRY * i;
    if (get16(entry) != wanted >> 16 || get16(entry + 2) != (wanted & 0xFFFF)) continue;
    const DWORD offset = get32(entry + 4);
    const DWORD chars = get32(entry + 8);
    const bool terminated = !(flags & UNTERMINATED);
    if (offset == 0) continue;
    if (offset < HEADER + ENTRY * n || offset > end || end - offset < chars + (terminated ? 1 : 0)) return FALSE;
    *buffer = const_cast<BYTE *>(bytes + offset);
    if (length) *length = chars + (terminated && (flags & COUNTS_TERMINATOR) ? 1 : 0);
    return TRUE;
  }
  return FALSE;
}
