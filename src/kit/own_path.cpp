#include "own_path.h"

#include "paths.h"
#include "platform/text.h"

static const char BUILT_IN_NAME[] = "TRV60UPDATE.EXE";

// Zero-filled until the run records the path, which writes the built-in
// name first: an initialised buffer would cost a 512-byte page of the file.
static char g_own_path[MAX_PATH];
static char g_own_folder[MAX_PATH];

// The drive and the directory, read once. The directory is kept whole even
// past its 255 bytes: every payload path built from it is then too long,
// and is refused where paths are refused, naming the whole path.
static void split_own_folder() {
  char drive[DRIVE_CAPACITY];
  char directory[MAX_PATH];
  bytes_zero(g_own_folder, MAX_PATH);
  if (split_own_path(g_own_path, drive, directory, MAX_PATH)) text_join(g_own_folder, MAX_PATH, drive, directory, "");
}

int record_own_path(HINSTANCE instance) {
  text_join(g_own_path, MAX_PATH, BUILT_IN_NAME, "", "");
  char path[MAX_PATH];
  bytes_zero(path, MAX_PATH);
  // A truncated path may come back without a terminator (Windows XP) or
  // cut short; either would name some other file, so neither is taken.
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  const int taken = length != 0 && length < MAX_PATH && text_length(path, MAX_PATH) == static_cast<int>(length);
  if (taken) bytes_copy(g_own_path, path, length + 1);
  split_own_folder();
  return taken;
}

LPCSTR own_path() { return g_own_path; }

LPCSTR own_folder() { return g_own_folder; }

// The folder is the head of the path, as split_own_path takes it.
LPCSTR own_name() { return g_own_path + text_length(g_own_folder, MAX_PATH); }

int payload_path(LPSTR path, int capacity, LPCSTR name) { return text_join(path, capacity, g_own_folder, name, ""); }
