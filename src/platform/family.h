// Which family of Windows runs the updater.
#pragma once

#include "platform.h"

// The platform identifier (VER_PLATFORM_WIN32_NT for the NT family, else
// the 9x family), asked with a zero-filled ANSI record of 148 bytes, the
// one size every version knows. 0 when the system does not say.
int platform_family(DWORD *platform_id);

// The major version of an NT system (4 for NT 4.0, 5 for 2000 and XP, and
// on), or 0 on the 9x family and where the system does not say.
DWORD nt_major_version();
