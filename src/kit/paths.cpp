#include "paths.h"

#include "platform/text.h"

static int is_separator(char c) { return c == '\\' || c == '/'; }

int split_own_path(LPCSTR own_path, LPSTR drive, LPSTR directory, int directory_capacity) {
  drive[0] = '\0';
  directory[0] = '\0';
  int length = text_length(own_path, MAX_PATH);
  if (length < 0) return 0;
  int start = 0;
  if (length >= 2 && own_path[1] == ':' && !IsDBCSLeadByte(static_cast<BYTE>(own_path[0]))) start = 2;
  // One past the last separator; the trail byte of a double-byte
  // character may equal '\' and is skipped with its lead byte.
  int end = start;
  for (int i = start; i < length; ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(own_path[i])) && i + 1 < length)
      ++i;
    else if (is_separator(own_path[i]))
      end = i + 1;
  }
  if (end - start >= directory_capacity) return 0;
  bytes_copy(drive, own_path, start);
  drive[start] = '\0';
  bytes_copy(directory, own_path + start, end - start);
  directory[end - start] = '\0';
  return 1;
}

int join_target_path(LPSTR path, int capacity, LPCSTR install_directory, LPCSTR name) {
  int length = text_length(install_directory, MAX_PATH);
  if (length < 0) return 0;
  // Asked of the last character, not the last byte: in a double-byte code
  // page many characters end in the byte of '\'.
  LPCSTR last = last_character(install_directory, length);
  LPCSTR separator = (last && *last == '\\') ? "" : "\\";
  return text_join(path, capacity, install_directory, separator, name);
}
