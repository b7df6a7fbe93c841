/* Holds something the way another program would, until told to let go.
 *
 *   hold.exe dll   C:\path\Lib.dll    C:\e2e\ready.flag
 *   hold.exe mutex "TRAVEN-60 Update" C:\e2e\ready.flag
 *
 * "dll" loads the library as a module, as a running program holds a library it
 * uses: the file stays readable (its version can be read) but cannot be
 * overwritten. Opening it with no sharing instead would also hide its version.
 * Once holding, the ready file is created; removing it releases the hold.
 */
#include <stdio.h>
#include <windows.h>

int main(void) {
  int argc;
  WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 4) {
    fprintf(stderr, "usage: hold dll|mutex NAME READYFILE\n");
    return 2;
  }
  if (!wcscmp(argv[1], L"dll")) {
    if (!LoadLibraryW(argv[2])) {
      fprintf(stderr, "hold: LoadLibrary failed %lu\n", GetLastError());
      return 1;
    }
  } else if (!wcscmp(argv[1], L"mutex")) {
    if (!CreateMutexW(NULL, TRUE, argv[2])) {
      fprintf(stderr, "hold: CreateMutex failed %lu\n", GetLastError());
      return 1;
    }
  } else
    return 2;
  HANDLE h = CreateFileW(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(h);
  while (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) Sleep(50);
  return 0;
}
