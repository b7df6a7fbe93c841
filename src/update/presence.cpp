#include "presence.h"

#include "messages/catalogue.h"
#include "platform/system_library.h"
#include "platform/text.h"

enum { REPORT_CAPACITY = 1024, WIDE_CAPACITY = 512 };

static const DWORD FROM_SYSTEM = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
static const DWORD US_ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

typedef DWORD(WINAPI *FormatMessageWFunction)(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPWSTR buffer,
                                              DWORD size, void *arguments);

static const char NOT_EXIST[] = "Not exist.";
static const char PATH_OPENING[] = "  \n\n[ ";
static const char PATH_CLOSING[] = "  ]";
static const char ELLIPSIS[] = "...";

// Bytes of the whole characters at the head of text that fit in room.
static int head_that_fits(LPCSTR text, int length, int room) {
  int kept = 0;
  for (int i = 0; i < length;) {
    int width = (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < length) ? 2 : 1;
    if (i + width > room) break;
    i += width;
    kept = i;
  }
  return kept;
}

// Where the whole characters at the end of text that fit in room begin.
static int tail_that_fits(LPCSTR text, int length, int room) {
  for (int i = 0; i < length;) {
    if (length - i <= room) return i;
    i += (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < length) ? 2 : 1;
  }
  return length;
}

DWORD failure_reason() {
  DWORD error = GetLastError();
  return error ? error : ERROR_FILE_CORRUPT;
}

DWORD open_failure(LPCSTR path) {
  // The one place where a path too long for MAX_PATH is refused: it is
  // never cut, and never handed to the system.
  if (text_length(path, MAX_PATH) < 0) return ERROR_FILENAME_EXCED_RANGE;
  HANDLE file = CreateFileA(path, 0, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) return failure_reason();
  CloseHandle(file);
  return 0;
}

DWORD file_open_failure(const Folder *folder, LPCSTR name) {
  HANDLE file = open_in(folder, name, 0, 0, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return failure_reason();
  CloseHandle(file);
  return 0;
}

int check_file_present(LPCSTR path, BYTE report) {
  DWORD error = open_failure(path);
  if (error && report) report_unopenable(path, error);
  return !error;
}

// The language to ask the system's reason in: the user's, unless the ANSI
// code page cannot carry that text (a Japanese interface over a western
// code page), where FormatMessageA would write "?" for every character it
// lacks; then US English, which every code page carries. Only the Unicode
// text tells: FormatMessageW works on the NT family alone, and on 9x, where
// the system's texts are in its own code page, it is a stub at best, so it
// is looked up (nothing shows that Windows 95 exports it at all).
static DWORD reason_language(DWORD error, LPSTR scratch) {
  FARPROC format_wide = kernel_function("FormatMessageW");
  WCHAR wide[WIDE_CAPACITY];
  BOOL lost = FALSE;
  if (format_wide &&
      as_function<FormatMessageWFunction>(format_wide)(FROM_SYSTEM, 0, error, LANG_USER_DEFAULT, wide, WIDE_CAPACITY,
                                                       0) > 0 &&
      WideCharToMultiByte(CP_ACP, 0, wide, -1, scratch, REPORT_CAPACITY, 0, &lost) > 0 && lost)
    return US_ENGLISH;
  return LANG_USER_DEFAULT;
}

// The system's reason, then "[ path  ]". When both do not fit, the reason
// gives way first and then the head of the path: which file it was shows
// at the path's end.
void report_unopenable(LPCSTR path, DWORD error) {
  char text[REPORT_CAPACITY];
  const DWORD language = reason_language(error, text);
  // Where the system has no text in that language, "Not exist." stays.
  bytes_zero(text, REPORT_CAPACITY);
  text_append(text, REPORT_CAPACITY, NOT_EXIST);
  FormatMessageA(FROM_SYSTEM, 0, error, language, text, REPORT_CAPACITY, 0);
  int reason = text_length(text, REPORT_CAPACITY);
  if (reason < 0) {
    bytes_zero(text, REPORT_CAPACITY);
    reason = text_join(text, REPORT_CAPACITY, NOT_EXIST, "", "") ? sizeof NOT_EXIST - 1 : 0;
  }
  int path_length = text_length(path, REPORT_CAPACITY);
  if (path_length < 0) path_length = 0;
  const int frame = sizeof PATH_OPENING - 1 + sizeof PATH_CLOSING - 1;
  const int ellipsis = sizeof ELLIPSIS - 1;
  const int room = REPORT_CAPACITY - 1;
  int path_start = 0;
  if (reason + frame + path_length > room) {
    int reason_room = room - frame - path_length - ellipsis;
    if (reason_room > 0) {
      text[head_that_fits(text, reason, reason_room)] = '\0';
      text_append(text, REPORT_CAPACITY, ELLIPSIS);
    } else {
      text[0] = '\0';
      path_start = tail_that_fits(path, path_length, room - frame - ellipsis);
    }
  }
  text_append(text, REPORT_CAPACITY, PATH_OPENING);
  if (path_start > 0) text_append(text, REPORT_CAPACITY, ELLIPSIS);
  text_append(text, REPORT_CAPACITY, path + path_start);
  text_append(text, REPORT_CAPACITY, PATH_CLOSING);
  show_box(text);
}
