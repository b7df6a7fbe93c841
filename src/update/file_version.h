#pragma once

#include "kit/payload_table.h"
#include "platform/platform.h"

// The FileVersion string of the file's first translation, read with the
// functions of the system directory's VERSION.DLL. 1 when it was copied
// with its terminator into the destination; otherwise (also when that
// library or one of its functions cannot be had) 0 and the destination is
// left as it was.
int read_file_version(LPCSTR path, LPSTR destination, int capacity);

// True when the payload's version string orders after the installed one.
int is_newer(LPCSTR payload_version, LPCSTR installed_version);
