/* Starts one program, records every dialog box that appears while it runs
 * and answers each with OK, the way a person would, then records the exit code.
 *
 *   boxwatch.exe JOBFILE
 *
 * The job file is UTF-8, one "key=value" per line, so that non-ASCII paths
 * never travel through Wine's argv conversion:
 *   log=C:\e2e\boxes.jsonl    where the JSON-lines record goes (UTF-8)
 *   cmd="C:\dir\PROGRAM.EXE" /d
 *   cwd=C:\windows            current directory of the child (optional)
 *   pause=1                   before pressing OK on box 1, create ...
 *   flag=C:\e2e\shot.flag     ... this file and wait until it is removed
 *   timeout=60                seconds before the child is killed
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static FILE *logf;
static DWORD child_pid;

static WCHAR *widen(const char *s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, NULL, 0);
  WCHAR *w = malloc(n * sizeof(WCHAR));
  MultiByteToWideChar(CP_UTF8, 0, s, -1, w, n);
  return w;
}

static void put_json_string(const WCHAR *w) {
  char buf[8192];
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof buf, NULL, NULL);
  if (n <= 0) buf[0] = 0;
  fputc('"', logf);
  for (unsigned char *p = (unsigned char *)buf; *p; p++) {
    if (*p == '"' || *p == '\\')
      fprintf(logf, "\\%c", *p);
    else if (*p == '\n')
      fputs("\\n", logf);
    else if (*p == '\r')
      fputs("\\r", logf);
    else if (*p == '\t')
      fputs("\\t", logf);
    else if (*p < 0x20)
      fprintf(logf, "\\u%04x", *p);
    else
      fputc(*p, logf);
  }
  fputc('"', logf);
}

struct found {
  HWND hwnd;
};

static BOOL CALLBACK find_box(HWND hwnd, LPARAM lp) {
  WCHAR cls[64];
  DWORD pid = 0;
  if (!IsWindowVisible(hwnd)) return TRUE;
  if (!GetClassNameW(hwnd, cls, 64) || wcscmp(cls, L"#32770")) return TRUE;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId()) return TRUE;
  ((struct found *)lp)->hwnd = hwnd;
  return FALSE;
}

static int nbuttons;

static BOOL CALLBACK put_button(HWND child, LPARAM lp) {
  WCHAR cls[64], text[256];
  (void)lp;
  if (!GetClassNameW(child, cls, 64) || _wcsicmp(cls, L"Button")) return TRUE;
  text[0] = 0;
  GetWindowTextW(child, text, 256);
  fprintf(logf, "%s{\"id\":%d,\"visible\":%s,\"text\":", nbuttons++ ? "," : "", GetDlgCtrlID(child),
          IsWindowVisible(child) ? "true" : "false");
  put_json_string(text);
  fputc('}', logf);
  return TRUE;
}

static void record_box(int index, HWND hwnd) {
  static WCHAR caption[1024], text[4096];
  DWORD pid = 0;
  HWND label = GetDlgItem(hwnd, 0xFFFF);
  caption[0] = text[0] = 0;
  GetWindowTextW(hwnd, caption, 1024);
  if (label) GetWindowTextW(label, text, 4096);
  RECT r = {0, 0, 0, 0};
  GetWindowRect(hwnd, &r);
  GetWindowThreadProcessId(hwnd, &pid);
  fprintf(logf,
          "{\"box\":%d,\"rect\":[%ld,%ld,%ld,%ld],\"from_child\":%s,\"owner\":%s,\"style\":%lu,\"exstyle\":%lu,\"has_"
          "label\":%s,\"caption\":",
          index, r.left, r.top, r.right, r.bottom, pid == child_pid ? "true" : "false",
          GetWindow(hwnd, GW_OWNER) ? "true" : "false", (unsigned long)GetWindowLongW(hwnd, GWL_STYLE),
          (unsigned long)GetWindowLongW(hwnd, GWL_EXSTYLE), label ? "true" : "false");
  put_json_string(caption);
  fputs(",\"text\":", logf);
  put_json_string(text);
  fputs(",\"buttons\":[", logf);
  nbuttons = 0;
  EnumChildWindows(hwnd, put_button, 0);
  fputs("]}\n", logf);
  fflush(logf);
}

static void wait_for_flag_removal(const WCHAR *flag) {
  HANDLE h = CreateFileW(flag, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  for (int i = 0; i < 1200 && GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES; i++) Sleep(50);
}

int main(void) {
  int argc;
  WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) {
    fprintf(stderr, "usage: boxwatch JOBFILE\n");
    return 2;
  }

  char line[4096], logpath[4096] = "", cmd[4096] = "", cwd[4096] = "", flag[4096] = "";
  int pause_at = 0, timeout = 60;
  FILE *job = _wfopen(argv[1], L"rb");
  if (!job) {
    fprintf(stderr, "boxwatch: cannot open job file\n");
    return 2;
  }
  while (fgets(line, sizeof line, job)) {
    line[strcspn(line, "\r\n")] = 0;
    char *eq = strchr(line, '=');
    if (!eq) continue;
    *eq++ = 0;
    if (!strcmp(line, "log"))
      strcpy(logpath, eq);
    else if (!strcmp(line, "cmd"))
      strcpy(cmd, eq);
    else if (!strcmp(line, "cwd"))
      strcpy(cwd, eq);
    else if (!strcmp(line, "flag"))
      strcpy(flag, eq);
    else if (!strcmp(line, "pause"))
      pause_at = atoi(eq);
    else if (!strcmp(line, "timeout"))
      timeout = atoi(eq);
  }
  fclose(job);

  logf = _wfopen(widen(logpath), L"wb");
  if (!logf) {
    fprintf(stderr, "boxwatch: cannot open log\n");
    return 2;
  }
  /* The code pages, languages and Windows version tell a scenario whether the
   * locale and version it asked for are really in effect. */
  OSVERSIONINFOA os = {sizeof os};
  GetVersionExA(&os);
  fprintf(logf,
          "{\"acp\":%u,\"oemcp\":%u,\"ui_language\":%u,\"user_lcid\":%lu,\"system_lcid\":%lu,\"os\":[%lu,%lu,%lu]}\n",
          GetACP(), GetOEMCP(), GetUserDefaultUILanguage(), (unsigned long)GetUserDefaultLCID(),
          (unsigned long)GetSystemDefaultLCID(), (unsigned long)os.dwMajorVersion, (unsigned long)os.dwMinorVersion,
          (unsigned long)os.dwPlatformId);
  fflush(logf);

  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi;
  WCHAR *wcmd = widen(cmd);
  if (!CreateProcessW(NULL, wcmd, NULL, NULL, FALSE, 0, NULL, cwd[0] ? widen(cwd) : NULL, &si, &pi)) {
    fprintf(logf, "{\"start_error\":%lu}\n", (unsigned long)GetLastError());
    fclose(logf);
    return 1;
  }
  child_pid = pi.dwProcessId;
  BOOL wow64 = FALSE; /* a 32-bit program on a 64-bit Windows */
  IsWow64Process(pi.hProcess, &wow64);

  int boxes = 0;
  DWORD deadline = GetTickCount() + (DWORD)timeout * 1000;
  for (;;) {
    struct found f = {NULL};
    EnumWindows(find_box, (LPARAM)&f);
    if (f.hwnd) {
      ++boxes;
      record_box(boxes, f.hwnd);
      if (boxes == pause_at && flag[0]) wait_for_flag_removal(widen(flag));
      PostMessageW(f.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(f.hwnd, IDOK));
      /* A box must be gone before the next one is looked for, or one box could be counted twice. */
      for (int i = 0; i < 500 && IsWindow(f.hwnd) && IsWindowVisible(f.hwnd); i++) Sleep(10);
      if (IsWindow(f.hwnd) && IsWindowVisible(f.hwnd)) {
        fprintf(logf, "{\"stuck\":%d}\n", boxes);
        PostMessageW(f.hwnd, WM_CLOSE, 0, 0);
      }
      continue;
    }
    if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0) break;
    if ((LONG)(GetTickCount() - deadline) > 0) {
      fprintf(logf, "{\"timeout\":%d}\n", timeout);
      TerminateProcess(pi.hProcess, 259);
      WaitForSingleObject(pi.hProcess, 5000);
      break;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  fprintf(logf, "{\"exit\":%lu,\"boxes\":%d,\"pid\":%lu,\"wow64\":%s}\n", (unsigned long)code, boxes,
          (unsigned long)child_pid, wow64 ? "true" : "false");
  fclose(logf);
  return 0;
}
