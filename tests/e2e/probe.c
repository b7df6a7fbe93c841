/* Asks the real Win32 API what a check needs to know, so that expectations
 * come from the system under test and not from guesses about Wine.
 *
 *   probe.exe REQUESTS ANSWERS
 *
 * One request per line of the UTF-8 request file, fields split by tabs; one
 * answer per line of the UTF-8 answer file (empty when the API gives none):
 *   version  PATH        FileVersion under the first listed translation
 *   short    PATH        GetShortPathNameW
 *   attrs    PATH        GetFileAttributesW, decimal
 *   setattrs PATH N      SetFileAttributesW, answers 1 or 0
 *   message  CODE [LANG] the system's text for an error code, in the user's language
 *                        or in the given language id ("0x409"); empty when it has none
 *   pending              PendingFileRenameOperations as "source => target" joined by "|"
 * Line feeds inside an answer are written as \n, carriage returns as \r.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

static void answer(FILE *out, const WCHAR *w) {
  static char buf[65536];
  if (!WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof buf, NULL, NULL)) buf[0] = 0;
  for (char *p = buf; *p; p++) {
    if (*p == '\n')
      fputs("\\n", out);
    else if (*p == '\r')
      fputs("\\r", out);
    else if (*p == '\\')
      fputs("\\\\", out);
    else
      fputc(*p, out);
  }
  fputc('\n', out);
}

static void file_version(FILE *out, const WCHAR *path) {
  DWORD handle = 0, size = GetFileVersionInfoSizeW(path, &handle);
  WORD *tr;
  UINT len;
  WCHAR *value, query[128];
  void *block = size ? malloc(size) : NULL;
  if (block && GetFileVersionInfoW(path, 0, size, block) &&
      VerQueryValueW(block, L"\\VarFileInfo\\Translation", (void **)&tr, &len) && len >= 4) {
    swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\FileVersion", tr[0], tr[1]);
    if (VerQueryValueW(block, query, (void **)&value, &len)) {
      answer(out, value);
      free(block);
      return;
    }
  }
  free(block);
  answer(out, L"");
}

static void pending(FILE *out) {
  static WCHAR data[32768], joined[32768];
  DWORD size = sizeof data - 4;
  HKEY key;
  joined[0] = 0;
  if (!RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key)) {
    memset(data, 0, sizeof data);
    if (!RegQueryValueExW(key, L"PendingFileRenameOperations", NULL, NULL, (BYTE *)data, &size)) {
      /* Entries are pairs, source then target; a deletion has an empty target. */
      WCHAR *end = data + size / sizeof(WCHAR);
      for (WCHAR *p = data; p < end && *p;) {
        WCHAR *target = p + wcslen(p) + 1;
        if (target >= end) break;
        if (joined[0]) wcscat(joined, L"|");
        wcscat(joined, p);
        wcscat(joined, L" => ");
        wcscat(joined, target);
        p = target + wcslen(target) + 1;
      }
    }
    RegCloseKey(key);
  }
  answer(out, joined);
}

int main(void) {
  int argc;
  WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 3) return 2;
  FILE *in = _wfopen(argv[1], L"rb"), *out = _wfopen(argv[2], L"wb");
  if (!in || !out) return 1;
  static char line[8192];
  static WCHAR wline[8192], result[8192];
  while (fgets(line, sizeof line, in)) {
    line[strcspn(line, "\r\n")] = 0;
    MultiByteToWideChar(CP_UTF8, 0, line, -1, wline, 8192);
    WCHAR *field[3] = {wline, NULL, NULL};
    for (int i = 1; i < 3 && field[i - 1]; i++)
      if ((field[i] = wcschr(field[i - 1], L'\t'))) *field[i]++ = 0;
    WCHAR *cmd = field[0], *arg = field[1], *arg2 = field[2];
    if (!wcscmp(cmd, L"pending"))
      pending(out);
    else if (!arg)
      answer(out, L"");
    else if (!wcscmp(cmd, L"version"))
      file_version(out, arg);
    else if (!wcscmp(cmd, L"short"))
      answer(out, GetShortPathNameW(arg, result, 8192) ? result : L"");
    else if (!wcscmp(cmd, L"attrs")) {
      DWORD a = GetFileAttributesW(arg);
      if (a == INVALID_FILE_ATTRIBUTES)
        answer(out, L"");
      else {
        swprintf(result, 64, L"%lu", (unsigned long)a);
        answer(out, result);
      }
    } else if (!wcscmp(cmd, L"setattrs") && arg2)
      answer(out, SetFileAttributesW(arg, wcstoul(arg2, NULL, 10)) ? L"1" : L"0");
    else if (!wcscmp(cmd, L"message")) {
      result[0] = 0;
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, wcstoul(arg, NULL, 10),
                     arg2 ? wcstoul(arg2, NULL, 0) : LANG_USER_DEFAULT, result, 8192, NULL);
      answer(out, result);
    } else
      answer(out, L"");
  }
  fclose(out);
  return 0;
}
