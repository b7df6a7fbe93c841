#pragma once

#include "platform/platform.h"

enum { VERSION_CAPACITY = 50 };

// The FileVersion string of the file's first translation. 1 when it was
// copied with its terminator into the destination; otherwise 0 and the
// destination is left as it was.
int read_file_version(LPCSTR path, LPSTR destination, int capacity);

// True when the payload's version string orders after the installed one.
int is_newer(LPCSTR payload_version, LPCSTR installed_version);
