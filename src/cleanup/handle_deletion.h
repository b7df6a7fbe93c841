#pragma once

#include "platform/platform.h"

// Deletes the file that the handle, open with delete access, was opened on:
// it goes when the handle closes, wherever its name has come to lead by
// then. A read-only file is made plain through the handle first. 0 when the
// system refuses (a program has the file loaded) or offers no way (the 9x
// family).
int delete_through_handle(HANDLE file);
