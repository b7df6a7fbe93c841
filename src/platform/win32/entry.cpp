// The process starts here. No C runtime is linked, so nothing else would
// gather what run() is handed, and nothing else would end the process.
#include "platform/system_library.h"
#include "run/command_line.h"
#include "run/run.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directories);
typedef BOOL(WINAPI *SetDllDirectoryFunction)(LPCSTR directory);

// Before anything else runs. A drive without its disk or a lost share
// comes back as an error code rather than a system box that no caption of
// ours explains. And later loads, the ones the system makes on the
// program's behalf too, no longer look in the program's own folder or the
// current directory, either of which may be writable by anyone. Both
// functions are looked up, since older systems lack them.
static void harden_process(void) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE kernel = GetModuleHandleA("KERNEL32");
  // Windows 8 and later, and Vista and 7 with KB2533623: the system
  // directory alone.
  FARPROC set_default = GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (set_default && as_function<SetDefaultDllDirectoriesFunction>(set_default)(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Windows XP SP1 and later: "" takes the current directory out of the
  // search; the program's folder stays in it. Windows 95 to XP RTM have
  // neither, and the program loads its one library by full path anyway.
  FARPROC set_directory = GetProcAddress(kernel, "SetDllDirectoryA");
  if (set_directory) as_function<SetDllDirectoryFunction>(set_directory)("");
}

extern "C" void entry(void) {
  harden_process();
  HINSTANCE instance = GetModuleHandleA(NULL);
  LPSTR tail = command_line_tail(GetCommandLineA());

  // GetStartupInfoA fills the whole structure and cannot fail.
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;

  ExitProcess(run(instance, NULL, tail, show));
}
