// Replacing an installed library so that it is never torn.
#pragma once

#include "platform/platform.h"

// Replaces the library at target, which lies in install_directory, with a
// copy of the payload. At every moment the library's name holds either its
// old bytes or the payload's, whole: the copy is made beside the library
// under a working name, flushed to disk, and only then renamed over it.
// 1 when the library was replaced; 0 when it keeps its old bytes (it is in
// use, the disk is full, a step failed), with no working file left behind.
int replace_library(LPCSTR payload, LPCSTR target, LPCSTR install_directory);
