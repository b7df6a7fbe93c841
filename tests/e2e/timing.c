/* Times the replacement of a library two ways, in one process, so that the
 * two meet the same disk and the same cache:
 *   plain: CopyFileA straight over the library;
 *   safe:  CopyFileA to a working file beside it, clearing its attributes,
 *          FlushFileBuffers, MoveFileExA(REPLACE_EXISTING | WRITE_THROUGH),
 *          each step timed.
 *
 *   timing.exe PAYLOAD OLD LIBRARY ROUNDS ANSWERS
 *
 * Before each timed replacement the library is OLD again and everything
 * written so far is flushed, untimed, so that no round pays for another's
 * writes. The order alternates from round to round. One line per round:
 *   plain_ms safe_ms copy_ms flush_ms rename_ms
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static LARGE_INTEGER frequency;

static double now_ms(void) {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * (double)t.QuadPart / (double)frequency.QuadPart;
}

static int flush(const char *path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  BOOL ok = FlushFileBuffers(h);
  CloseHandle(h);
  return ok;
}

static int restore(const char *old, const char *library) { return CopyFileA(old, library, FALSE) && flush(library); }

int main(int argc, char **argv) {
  if (argc != 6) return 2;
  const char *payload = argv[1], *old = argv[2], *library = argv[3];
  int rounds = atoi(argv[4]);
  FILE *out = fopen(argv[5], "w");
  if (!out) return 1;
  char fresh[MAX_PATH];
  strcpy(fresh, library);
  strcpy(strrchr(fresh, '\\') + 1, "TRVNEW.TMP");
  QueryPerformanceFrequency(&frequency);
  for (int round = 0; round < rounds; ++round) {
    double plain = 0, copy = 0, flushed = 0, renamed = 0;
    for (int turn = 0; turn < 2; ++turn) {
      if (!restore(old, library)) return 1;
      if ((turn + round) % 2 == 0) {
        double t0 = now_ms();
        if (!CopyFileA(payload, library, FALSE)) return 1;
        plain = now_ms() - t0;
        if (!flush(library)) return 1; /* untimed: the next turn starts clean */
      } else {
        double t0 = now_ms();
        if (!CopyFileA(payload, fresh, FALSE)) return 1;
        SetFileAttributesA(fresh, FILE_ATTRIBUTE_NORMAL);
        double t1 = now_ms();
        if (!flush(fresh)) return 1;
        double t2 = now_ms();
        if (!MoveFileExA(fresh, library, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 1;
        double t3 = now_ms();
        copy = t1 - t0, flushed = t2 - t1, renamed = t3 - t2;
      }
    }
    fprintf(out, "%.1f %.1f %.1f %.1f %.1f\n", plain, copy + flushed + renamed, copy, flushed, renamed);
  }
  fclose(out);
  return 0;
}
