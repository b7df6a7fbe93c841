// What the updater reads from its command line.
#pragma once

#include "platform/platform.h"

// The command line without the program's name and without the bytes 1 to
// 32 that follow it. A quoted name runs to the next quote that is not the
// trail byte of a double-byte character. Never null.
LPSTR command_line_tail(LPSTR command_line);

// 1 when "/d", "/D", "-D" or "-d" stands anywhere in the tail.
int has_removal_switch(LPCSTR tail);
