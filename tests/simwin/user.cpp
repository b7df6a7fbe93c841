// Texts the user reads: the updater's string tables, the system's message
// texts, and message boxes.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

#include "state.h"

#ifndef STRINGS_RC
#error "STRINGS_RC must name the resource script with the string tables"
#endif

namespace sim {
namespace detail {
namespace {

const DWORD ERROR_RESOURCE_LANG_NOT_FOUND_ = 1815;
const DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER_ = 0x100;
const DWORD FORMAT_MESSAGE_FROM_STRING_ = 0x400;
const DWORD FORMAT_MESSAGE_FROM_HMODULE_ = 0x800;

// Texts in UTF-8, by language and id, as the resource compiler would store
// them in Unicode.
using Tables = std::map<WORD, std::map<UINT, std::string>>;

// One `N, "text"` line of a STRINGTABLE block; false for any other line.
bool parse_entry(const std::string &line, UINT &id, std::string &text) {
  const char *at = line.c_str();
  while (*at == ' ' || *at == '\t') ++at;
  if (*at < '0' || *at > '9') return false;
  char *end;
  id = static_cast<UINT>(std::strtoul(at, &end, 0));
  at = end;
  while (*at == ' ' || *at == '\t' || *at == ',') ++at;
  if (*at != '"') return false;
  text.clear();
  for (++at; *at; ++at) {
    if (*at == '"') {
      if (at[1] != '"') return true;
      text += '"';  // "" stands for a quote in resource scripts
      ++at;
    } else if (*at == '\\' && at[1]) {
      ++at;
      switch (*at) {
        case 'n':
          text += '\n';
          break;
        case 'r':
          text += '\r';
          break;
        case 't':
          text += '\t';
          break;
        default:
          text += *at;
          break;
      }
    } else {
      text += *at;
    }
  }
  return false;
}

struct StringTables {
  bool loaded = false;
  Tables tables;
};

const StringTables &string_tables() {
  static const StringTables parsed = [] {
    StringTables result;
    std::ifstream script(STRINGS_RC);
    result.loaded = static_cast<bool>(script);
    WORD language = 0;
    std::string line;
    while (std::getline(script, line)) {
      std::string::size_type keyword = line.find("LANGUAGE");
      if (keyword != std::string::npos && line.find_first_not_of(" \t") == keyword) {
        // LANGUAGE primary, sub: the language id is MAKELANGID(primary, sub).
        char *end;
        unsigned long primary = std::strtoul(line.c_str() + keyword + 8, &end, 0);
        while (*end == ' ' || *end == ',') ++end;
        unsigned long sub = std::strtoul(end, &end, 0);
        language = static_cast<WORD>(sub << 10 | primary);
        continue;
      }
      UINT id;
      std::string text;
      if (parse_entry(line, id, text)) result.tables[language][id] = text;
    }
    return result;
  }();
  return parsed;
}

const std::map<DWORD, std::string> &english_messages() {
  static const std::map<DWORD, std::string> texts = {
      {0, "The operation completed successfully.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough storage is available to process this command.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {80, "The file exists.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {120, "This function is not supported on this system.\r\n"},
      {122, "The data area passed to a system call is too small.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {206, "The filename or extension is too long.\r\n"},
      {1392, "The file or directory is corrupted and unreadable.\r\n"},
      {1813, "The specified resource type cannot be found in the image file.\r\n"},
  };
  return texts;
}

const std::map<DWORD, std::string> &japanese_messages() {
  static const std::map<DWORD, std::string> texts = {
      {0, "この操作を正しく終了しました。\r\n"},
      {2, "指定されたファイルが見つかりません。\r\n"},
      {3, "指定されたパスが見つかりません。\r\n"},
      {5, "アクセスが拒否されました。\r\n"},
      {6, "ハンドルが無効です。\r\n"},
      {8, "このコマンドを実行するのに十分な記憶域がありません。\r\n"},
      {32, "プロセスはファイルにアクセスできません。別のプロセスが使用中です。\r\n"},
      {80, "ファイルが存在します。\r\n"},
      {87, "パラメータが間違っています。\r\n"},
      {120, "この関数はこのシステムではサポートされていません。\r\n"},
      {122, "システム コールに渡されるデータ領域が小さすぎます。\r\n"},
      {183, "既に存在するファイルを作成することはできません。\r\n"},
      {206, "ファイル名または拡張子が長すぎます。\r\n"},
      {1392, "ファイルまたはディレクトリが壊れているため、読み取ることができません。\r\n"},
      {1813, "指定されたリソースの種類がイメージ ファイルに見つかりません。\r\n"},
  };
  return texts;
}

// The languages whose string table LoadStringA tries, in order. Windows
// 2000 and later load resources in the user-interface language; NT 4.0
// and the 9x family by the regional settings, then in the system's own
// language. Both fall back on US English, and then on the first language
// of the resources, which in the updater's is US English too.
std::vector<WORD> table_languages(const Machine &m) {
  if (m.platform == VER_PLATFORM_WIN32_NT && m.nt_major >= 5) return {m.ui_language, 1033};
  return {m.regional_language, m.ui_language, 1033};
}

bool is_default_language(DWORD language) {
  return language == 0 || language == LANG_USER_DEFAULT || language == 0x800;  // neutral, user, system
}

// A system message text: in UTF-8 from the tables, or as the test gave it
// in the ANSI code page. 0, or the error FormatMessage fails with.
DWORD system_text(DWORD flags, DWORD code, DWORD language, std::string &text, bool &ansi) {
  const Machine &m = machine();
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) ||
      (flags & (FORMAT_MESSAGE_ALLOCATE_BUFFER_ | FORMAT_MESSAGE_FROM_STRING_ | FORMAT_MESSAGE_FROM_HMODULE_)))
    return ERROR_INVALID_PARAMETER;  // only system texts into a given buffer are modelled
  // The user's default language reads the texts of the UI language, which
  // are always there; another language asked by name must be installed. A
  // UI language without texts of its own here reads the English ones.
  const WORD wanted = is_default_language(language) ? m.ui_language : static_cast<WORD>(language);
  if (wanted != m.ui_language && m.message_languages.count(wanted) == 0) return ERROR_RESOURCE_LANG_NOT_FOUND_;
  auto set = m.system_messages.find(code);
  ansi = set != m.system_messages.end();
  if (ansi) {
    text = set->second;
  } else {
    const auto &texts = wanted == 1041 ? japanese_messages() : english_messages();
    auto found = texts.find(code);
    text = found != texts.end() ? found->second : std::string();
  }
  return text.empty() ? ERROR_MR_MID_NOT_FOUND : 0;
}

// The length of the longest head of the text that fits in `room` bytes
// without parting a double-byte character.
std::size_t fitting_head(const std::string &text, std::size_t room, UINT code_page) {
  std::size_t length = 0;
  while (length < text.size()) {
    std::size_t next = length + (is_lead_byte(code_page, static_cast<BYTE>(text[length])) ? 2 : 1);
    if (next > room || next > text.size()) break;
    length = next;
  }
  return length;
}

}  // namespace
}  // namespace detail
}  // namespace sim

using namespace sim::detail;

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  if (DWORD injected = enter("LoadStringA")) {
    if (buffer && size > 0) buffer[0] = 0;
    set_error(injected);
    return 0;
  }
  if (!buffer || size <= 0) return 0;
  const Machine &m = machine();
  const StringTables &scripts = string_tables();
  if (!scripts.loaded) fault("the string tables could not be read from " STRINGS_RC);

  const std::string *text = nullptr;
  DWORD error = ERROR_RESOURCE_TYPE_NOT_FOUND;
  if (m.string_tables && !scripts.tables.empty()) {
    error = ERROR_RESOURCE_LANG_NOT_FOUND_;
    for (WORD language : table_languages(m)) {
      auto table = scripts.tables.find(language);
      if (table == scripts.tables.end()) continue;
      error = ERROR_RESOURCE_NAME_NOT_FOUND;
      auto found = table->second.find(id);
      auto replaced = m.table_texts.find({language, id});
      if (replaced != m.table_texts.end())
        text = &replaced->second;
      else if (found != table->second.end())
        text = &found->second;
      break;
    }
  }
  if (!text) {
    // Windows writes an empty string before it reports that there is none.
    buffer[0] = 0;
    set_error(error);
    return 0;
  }
  // Windows converts the table's Unicode text to the ANSI code page.
  std::string ansi = to_ansi(*text, m.code_page);
  std::size_t length = fitting_head(ansi, static_cast<std::size_t>(size) - 1, m.code_page);
  std::memcpy(buffer, ansi.data(), length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD code, DWORD language, LPSTR buffer, DWORD size, void *) {
  if (DWORD injected = enter("FormatMessageA")) {
    set_error(injected);
    return 0;
  }
  std::string text;
  bool ansi = false;
  if (DWORD error = system_text(flags, code, language, text, ansi)) {
    set_error(error);
    return 0;
  }
  if (!ansi) text = to_ansi(text, machine().code_page);
  if (!buffer || text.size() + 1 > size) {
    set_error(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID, DWORD code, DWORD language, LPWSTR buffer, DWORD size, void *) {
  if (DWORD injected = enter("FormatMessageW")) {
    set_error(injected);
    return 0;
  }
  if (machine().platform != VER_PLATFORM_WIN32_NT) {
    set_error(ERROR_CALL_NOT_IMPLEMENTED);  // Windows 9x has only the entry point
    return 0;
  }
  std::string text;
  bool ansi = false;
  if (DWORD error = system_text(flags, code, language, text, ansi)) {
    set_error(error);
    return 0;
  }
  const std::u16string wide = to_utf16(ansi ? from_ansi(text, machine().code_page) : text);
  if (!buffer || wide.size() + 1 > size) {
    set_error(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(wide.size());
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (DWORD injected = enter("MessageBoxA")) {
    set_error(injected);
    return 0;
  }
  if (machine().boxes.empty()) load_box_libraries();
  machine().boxes.push_back(sim::Box{owner, text ? text : "", caption ? caption : "", type});
  return IDOK;
}
