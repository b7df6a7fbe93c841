// The full path of the running executable: the one global buffer.
#pragma once

#include "platform/platform.h"

// "TRV60UPDATE.EXE" until the run records the real path.
extern char g_own_path[MAX_PATH];

// Records the module's path; a path that does not fit with its terminator
// is not taken, and the built-in name stays.
void record_own_path(HINSTANCE instance);
