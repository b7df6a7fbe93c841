// Texts for the user: the updater's string tables (res/strings.rc, linked
// into the check program too) and the system's error texts, in English and
// in Japanese (code page 932).
#include <string.h>

#include "check.h"

static const char SUCCEEDED_EN[] = "Update was succeeded.";
// "アップデートが終了しました" in code page 932.
static const char SUCCEEDED_JA[] =
    "\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5b\x83\x67\x82\xaa\x8f\x49\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd";

static const DWORD FROM_SYSTEM = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// What a Japanese text becomes in a western code page: LoadStringA and
// FormatMessageA convert from Unicode, and every character the code page
// lacks comes out as "?". The text is given in code page 932.
static void as_question_marks(const char *japanese_text, char *converted) {
  for (const char *c = japanese_text; *c; ++c) {
    if (static_cast<BYTE>(*c) >= 0x80) {
      *converted++ = '?';
      ++c;  // every non-ASCII character of these texts is double-byte
    } else {
      *converted++ = *c;
    }
  }
  *converted = 0;
}

// The text the interface language gives, as the ANSI code page carries it.
static const char *in_code_page(const char *english, const char *japanese_text, char *converted) {
  if (!japanese()) return english;
  if (!western_code_page()) return japanese_text;
  as_question_marks(japanese_text, converted);
  return converted;
}

CHECK(string_table_follows_the_interface_language) {
  char buffer[128];
  memset(buffer, '#', sizeof buffer);
  int length = LoadStringA(own_instance(), 5, buffer, sizeof buffer);
  char converted[128];
  const char *expected = in_code_page(SUCCEEDED_EN, SUCCEEDED_JA, converted);
  ok(length == static_cast<int>(strlen(expected)) && strcmp(buffer, expected) == 0, "id 5: %d, %s\n", length, buffer);
}

CHECK(string_table_empties_the_buffer_for_a_missing_id) {
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  int length = LoadStringA(own_instance(), 6, buffer, sizeof buffer);
  ok(length == 0 && buffer[0] == 0, "id 6: %d, first byte 0x%02x\n", length, static_cast<BYTE>(buffer[0]));
  ok(buffer[1] == '#', "only the first byte is written: 0x%02x\n", static_cast<BYTE>(buffer[1]));
}

CHECK(string_table_text_is_cut_whole_characters_only) {
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  int length = LoadStringA(own_instance(), 5, buffer, 4);
  if (western_code_page()) {
    ok(length == 3 && strcmp(buffer, "???") == 0, "cut Japanese in a western code page: %d, %s\n", length, buffer);
  } else if (japanese()) {
    // Three bytes of room take one double-byte character, not one and a half.
    ok(length == 2 && strcmp(buffer, "\x83\x41") == 0, "cut Japanese: %d, %s\n", length, buffer);
  } else {
    ok(length == 3 && strcmp(buffer, "Upd") == 0, "cut English: %d, %s\n", length, buffer);
  }
  ok(buffer[4] == '#', "nothing past the size\n");
}

// The system's text for an error code in the interface language, with its
// line break. Wine words some texts its own way ("Access denied." for
// "Access is denied.").
static void check_error_text(DWORD code, const char *english, const char *japanese_text) {
  char buffer[256];
  memset(buffer, '#', sizeof buffer);
  DWORD length = FormatMessageA(FROM_SYSTEM, NULL, code, LANG_USER_DEFAULT, buffer, sizeof buffer, NULL);
  char converted[256];
  const char *expected = in_code_page(english, japanese_text, converted);
  char with_break[256];
  strcpy(with_break, expected);
  strcat(with_break, "\r\n");
  const int as_windows = length == strlen(with_break) && strcmp(buffer, with_break) == 0;
  // Wine's texts are its own translations: a line of text and a line break.
  const int as_wine = length > 2 && length == strlen(buffer) && strcmp(buffer + length - 2, "\r\n") == 0;
  ok(as_windows || broken(as_wine), "code %u: %u, %s\n", code, length, buffer);
  if (!as_windows) trace("code %u reads \"%s\"\n", code, buffer);
}

CHECK(error_texts_come_in_the_interface_language) {
  check_error_text(ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.",
                   "\x8e\x77\x92\xe8\x82\xb3\x82\xea\x82\xbd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x8c\xa9\x82\xc2"
                   "\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81\x42");
  check_error_text(ERROR_ACCESS_DENIED, "Access is denied.",
                   "\x83\x41\x83\x4e\x83\x5a\x83\x58\x82\xaa\x8b\x91\x94\xdb\x82\xb3\x82\xea\x82\xdc\x82\xb5\x82\xbd"
                   "\x81\x42");
  check_error_text(ERROR_SHARING_VIOLATION,
                   "The process cannot access the file because it is being used by another process.",
                   "\x83\x76\x83\x8d\x83\x5a\x83\x58\x82\xcd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xc9\x83\x41\x83\x4e"
                   "\x83\x5a\x83\x58\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42\x95\xca\x82\xcc\x83\x76\x83\x8d"
                   "\x83\x5a\x83\x58\x82\xaa\x8e\x67\x97\x70\x92\x86\x82\xc5\x82\xb7\x81\x42");
}

CHECK(error_text_of_an_unknown_code_is_not_found) {
  char buffer[32] = "Not exist.";
  SetLastError(0xdeadbeef);
  DWORD length = FormatMessageA(FROM_SYSTEM, NULL, 0x2000ffffu, LANG_USER_DEFAULT, buffer, sizeof buffer, NULL);
  ok(length == 0 && GetLastError() == ERROR_MR_MID_NOT_FOUND, "%u, error %u\n", length, GetLastError());
  ok(strcmp(buffer, "Not exist.") == 0, "the buffer is untouched: %s\n", buffer);
}

CHECK(error_text_that_does_not_fit_is_not_written) {
  char buffer[256];
  DWORD length = FormatMessageA(FROM_SYSTEM, NULL, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer, sizeof buffer, NULL);
  if (!ok(length > 0, "the text: error %u\n", GetLastError())) return;
  memset(buffer, '#', sizeof buffer);
  SetLastError(0xdeadbeef);
  DWORD cut = FormatMessageA(FROM_SYSTEM, NULL, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer, length, NULL);
  ok(cut == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "no room for the terminator: %u, error %u\n", cut,
     GetLastError());
  ok(buffer[0] == '#', "the buffer is untouched: 0x%02x\n", static_cast<BYTE>(buffer[0]));
  DWORD fitting = FormatMessageA(FROM_SYSTEM, NULL, ERROR_ACCESS_DENIED, LANG_USER_DEFAULT, buffer, length + 1, NULL);
  ok(fitting == length && buffer[length] == 0, "room for the terminator: %u\n", fitting);
}

// Only the Unicode form tells whether the code page could carry a system
// text: WideCharToMultiByte says when it had to put in its default
// character. Windows 9x has FormatMessageW only as a stub (Wine's 98 mode
// implements it).
CHECK(system_text_in_unicode_tells_what_the_code_page_loses) {
  WCHAR wide[256];
  SetLastError(0xdeadbeef);
  DWORD length = FormatMessageW(FROM_SYSTEM, NULL, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, wide, 256, NULL);
  if (nine_x_family()) {
    ok((length == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) || broken(length > 0), "9x: %u, error %u\n",
       length, GetLastError());
    return;
  }
  if (!ok(length > 2, "FormatMessageW: %u, error %u\n", length, GetLastError())) return;
  char ansi[512];
  BOOL lost = FALSE;
  int converted = WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, NULL, &lost);
  ok(converted > 0, "converted: error %u\n", GetLastError());
  ok(!lost == !western_code_page(), "default character used: %d\n", lost);
  ok(strcmp(ansi + strlen(ansi) - 2, "\r\n") == 0, "the text ends in a line break: %s\n", ansi);
}
