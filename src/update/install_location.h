#pragma once

#include "platform/platform.h"

// Reads one string value under HKEY_LOCAL_MACHINE into a MAX_PATH buffer.
// 1 when a non-empty, terminated value was copied; otherwise 0 and the
// destination is left as it was.
int read_install_location(LPSTR destination, LPCSTR key_path, LPCSTR value_name);
