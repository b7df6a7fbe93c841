// The one door to the operating system.
//
// The logic is plain Win32 ANSI code: it calls the Windows API by its own
// names. The Windows build takes them from <windows.h> and the system DLLs;
// the host build takes them from a simulated Windows with the same names,
// types and failure behaviour (the test build's win32_api.h).
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "win32_api.h"
#endif
