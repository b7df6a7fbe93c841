// The updater's own path: the one global buffer, and the folder where its
// payloads lie. The run records it; the update pass and the clean-up read
// the folder from here and never parse the path themselves.
#pragma once

#include "platform/platform.h"

// Records the module's path and splits off its folder. A path that does
// not fit with its terminator is not taken, and the built-in name
// "TRV60UPDATE.EXE" stays (its folder is then empty: the current one).
// 1 when the module's path was taken.
int record_own_path(HINSTANCE instance);

LPCSTR own_path();

// The drive and directory of the own path, ending in its separator, or
// empty. Shorter than MAX_PATH, since the own path is.
LPCSTR own_folder();

// The executable's own name: the own path after its folder.
LPCSTR own_name();

// The payload's path: the own folder and the name. 0 when it would not fit
// the capacity.
int payload_path(LPSTR path, int capacity, LPCSTR name);
