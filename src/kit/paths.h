// Building the paths of payloads and targets without ever cutting one.
#pragma once

#include "platform/platform.h"

enum {
  DRIVE_CAPACITY = 3,
  DIRECTORY_CAPACITY = 256,  // the own directory may hold 255 bytes
  // Room for any folder shorter than MAX_PATH joined with any name of the
  // payload table, so that a path is built once and a box can name it
  // whole when it is refused for its length.
  WHOLE_PATH_CAPACITY = 2 * MAX_PATH,
};

// The drive ("C:" or empty) and the directory (up to and including the
// last separator, or empty) of the own path, reading double-byte
// characters. 0 when the directory does not fit its capacity; both parts
// are then empty.
int split_own_path(LPCSTR own_path, LPSTR drive, LPSTR directory, int directory_capacity);

// The install directory, one "\" unless it already ends in one, and the
// name; 0 when it would not fit the capacity.
int join_target_path(LPSTR path, int capacity, LPCSTR install_directory, LPCSTR name);
