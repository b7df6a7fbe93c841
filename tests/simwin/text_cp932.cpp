// ANSI code pages: lead bytes, conversion from and to UTF-8 and UTF-16,
// and the code page functions of kernel32.
#include <iconv.h>
#include <cerrno>
#include <cstring>
#include <string>

#include "state.h"

namespace sim {
namespace detail {
namespace {

std::size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// A character that the target lacks, or a sequence that the source does
// not define, becomes "?", as WideCharToMultiByte's default character.
std::string convert(const std::string &text, const std::string &from, const std::string &to, UINT source_page,
                    bool *lost = nullptr) {
  if (lost) *lost = false;
  const UINT UTF16 = 1200;
  auto skip = [&](const char *at, std::size_t left) {
    std::size_t length = source_page == 0       ? utf8_length(static_cast<unsigned char>(*at))
                         : source_page == UTF16 ? 2
                                                : (is_lead_byte(source_page, static_cast<BYTE>(*at)) ? 2 : 1);
    return length < left ? length : left;
  };
  const std::string unknown = to == "UTF-16LE" ? std::string("?\0", 2) : std::string("?");
  std::string result;
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // A code page the C library lacks: ASCII passes, the rest is unknown.
    for (std::size_t i = 0; i < text.size(); i += skip(&text[i], text.size() - i)) {
      bool known = static_cast<unsigned char>(text[i]) < 0x80;
      result += known ? text[i] : '?';
      if (!known && lost) *lost = true;
    }
    return result;
  }
  char *in = const_cast<char *>(text.data());
  std::size_t in_left = text.size();
  while (in_left > 0) {
    char chunk[256];
    char *out = chunk;
    std::size_t out_left = sizeof chunk;
    std::size_t converted = iconv(cd, &in, &in_left, &out, &out_left);
    result.append(chunk, static_cast<std::size_t>(out - chunk));
    if (converted == static_cast<std::size_t>(-1) && errno != E2BIG) {
      result += unknown;
      if (lost) *lost = true;
      std::size_t length = skip(in, in_left);
      in += length;
      in_left -= length;
    }
  }
  iconv_close(cd);
  return result;
}

}  // namespace

bool is_lead_byte(UINT code_page, BYTE value) {
  switch (code_page) {
    case 932:
      return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC);
    case 936:
    case 949:
    case 950:
      return value >= 0x81 && value <= 0xFE;
    default:
      return false;
  }
}

std::string to_ansi(const std::string &utf8, UINT code_page, bool *lost) {
  return convert(utf8, "UTF-8", "CP" + std::to_string(code_page), 0, lost);
}

std::string from_ansi(const std::string &ansi, UINT code_page) {
  return convert(ansi, "CP" + std::to_string(code_page), "UTF-8", code_page);
}

std::u16string to_utf16(const std::string &utf8) {
  const std::string bytes = convert(utf8, "UTF-8", "UTF-16LE", 0);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units +=
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  return units;
}

std::string from_utf16(const std::u16string &utf16) {
  std::string bytes;
  for (char16_t unit : utf16) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  // A broken surrogate is skipped two bytes at a time, as one unit.
  return convert(bytes, "UTF-16LE", "UTF-8", 1200);
}

std::string lower_ascii(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace detail

std::string to_cp932(const std::string &utf8) { return detail::convert(utf8, "UTF-8", "CP932", 0); }
std::string from_cp932(const std::string &ansi) { return detail::convert(ansi, "CP932", "UTF-8", 932); }

}  // namespace sim

using namespace sim::detail;

UINT WINAPI GetACP(void) {
  enter("GetACP");
  return machine().code_page;
}

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_length, LPSTR ansi, int ansi_size,
                               LPCSTR default_char, LPBOOL used_default_char) {
  if (DWORD injected = enter("WideCharToMultiByte")) {
    set_error(injected);
    return 0;
  }
  // Only what the updater asks is modelled: the ANSI code page, no flags,
  // the code page's own default character.
  if (code_page != CP_ACP || flags != 0 || default_char || !wide || wide_length == 0 || wide_length < -1 ||
      ansi_size < 0 || (ansi_size > 0 && !ansi)) {
    set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string units;
  if (wide_length == -1) {
    for (int i = 0;; ++i) {
      units += static_cast<char16_t>(wide[i]);
      if (wide[i] == 0) break;
    }
  } else {
    units.assign(reinterpret_cast<const char16_t *>(wide), static_cast<std::size_t>(wide_length));
  }
  bool lost = false;
  const std::string text = to_ansi(from_utf16(units), machine().code_page, &lost);
  if (ansi_size > 0) {
    if (text.size() > static_cast<std::size_t>(ansi_size)) {
      set_error(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(ansi, text.data(), text.size());
  }
  if (used_default_char) *used_default_char = lost ? TRUE : FALSE;
  return static_cast<int>(text.size());
}

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR ansi, int ansi_length, LPWSTR wide, int wide_size) {
  if (DWORD injected = enter("MultiByteToWideChar")) {
    set_error(injected);
    return 0;
  }
  // Only what the updater asks: a terminated text in the ANSI code page.
  if (code_page != CP_ACP || flags != 0 || !ansi || ansi_length != -1 || wide_size < 0 || (wide_size > 0 && !wide)) {
    set_error(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string units = to_utf16(from_ansi(ansi, machine().code_page));
  units += u'\0';
  if (wide_size > 0) {
    if (units.size() > static_cast<std::size_t>(wide_size)) {
      set_error(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    for (std::size_t i = 0; i < units.size(); ++i) wide[i] = units[i];
  }
  return static_cast<int>(units.size());
}
