// ANSI code pages: lead bytes and conversion from and to UTF-8.
#include <iconv.h>
#include <cerrno>
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
std::string convert(const std::string &text, const std::string &from, const std::string &to, UINT source_page) {
  auto skip = [&](const char *at, std::size_t left) {
    std::size_t length = source_page == 0 ? utf8_length(static_cast<unsigned char>(*at))
                                          : (is_lead_byte(source_page, static_cast<BYTE>(*at)) ? 2 : 1);
    return length < left ? length : left;
  };
  std::string result;
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // A code page the C library lacks: ASCII passes, the rest is unknown.
    for (std::size_t i = 0; i < text.size(); i += skip(&text[i], text.size() - i))
      result += static_cast<unsigned char>(text[i]) < 0x80 ? text[i] : '?';
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
      result += '?';
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

std::string to_ansi(const std::string &utf8, UINT code_page) {
  return convert(utf8, "UTF-8", "CP" + std::to_string(code_page), 0);
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
