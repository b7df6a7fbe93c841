/* Holds something the way another program would, until told to let go.
 *
 *   hold.exe dll   C:\path\Lib.dll    C:\e2e\ready.flag
 *   hold.exe mutex "TRAVEN-60 Update" C:\e2e\ready.flag
 *   hold.exe refusing-mutex "TRAVEN-60 Update" C:\e2e\ready.flag
 *   hold.exe file  C:\path\TRVNEW.TMP  C:\e2e\ready.flag
 *
 * "dll" loads the library as a module, as a running program holds a library it
 * uses: the file stays readable (its version can be read) but cannot be
 * overwritten. Opening it with no sharing instead would also hide its version.
 * "refusing-mutex" creates the mutex with an empty access list, as another
 * user's or an elevated instance's would refuse us: opening it fails with
 * ERROR_ACCESS_DENIED, which the helper checks for itself before it is ready.
 * "file" opens the file for reading and writing, sharing both but not deletion,
 * as another user's program that planted it would.
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
  } else if (!wcscmp(argv[1], L"refusing-mutex")) {
    static SECURITY_DESCRIPTOR sd;
    static DWORD acl[64];
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    if (!InitializeAcl((PACL)acl, sizeof acl, ACL_REVISION) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, (PACL)acl, FALSE) || !CreateMutexW(&sa, TRUE, argv[2])) {
      fprintf(stderr, "hold: refusing CreateMutex failed %lu\n", GetLastError());
      return 1;
    }
    if (OpenMutexW(MUTEX_ALL_ACCESS, FALSE, argv[2]) || GetLastError() != ERROR_ACCESS_DENIED) {
      fprintf(stderr, "hold: the mutex does not refuse access (%lu)\n", GetLastError());
      return 1;
    }
  } else if (!wcscmp(argv[1], L"file")) {
    if (CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, NULL) == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "hold: CreateFile failed %lu\n", GetLastError());
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
