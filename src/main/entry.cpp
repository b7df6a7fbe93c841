// The process starts here. No C runtime is linked, so nothing else would
// gather what run() is handed, and nothing else would end the process.
#include "hardening.h"
#include "run/command_line.h"
#include "run/run.h"

extern "C" void entry(void) {
  if (!harden_process()) ExitProcess(0);
  HINSTANCE instance = GetModuleHandleA(NULL);
  LPSTR tail = command_line_tail(GetCommandLineA());

  // GetStartupInfoA fills the whole structure and cannot fail.
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;

  ExitProcess(run(instance, NULL, tail, show));
}
