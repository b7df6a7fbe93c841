#pragma once

#include "kit/folder.h"

// 0 when the file can be opened (for no access, no sharing), else the reason.
// A path of MAX_PATH bytes or more (up to 1,023) is refused as too long
// (ERROR_FILENAME_EXCED_RANGE) without being opened.
DWORD open_failure(LPCSTR path);

// The same for the name in the folder, reached as folder.h reaches it.
DWORD file_open_failure(const Folder *folder, LPCSTR name);

// 1 when the file can be opened (for no access, no sharing). A path of
// MAX_PATH bytes or more (up to 1,023) is refused as too long without
// being opened. On failure with a non-zero report flag, one box tells the
// system's reason and the path.
int check_file_present(LPCSTR path, BYTE report);

// The reason the last call failed, never 0: a failure must not pass for
// success, and a call that fails without saying why counts as a corrupt file.
DWORD failure_reason();

// The box for a file that cannot be opened: the system's text for the
// error, then the path. The path may be longer than a path buffer holds
// (one that could not be built), up to 1,023 bytes.
void report_unopenable(LPCSTR path, DWORD error);
