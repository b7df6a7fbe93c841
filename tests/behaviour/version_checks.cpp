// Version resources of libraries: GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA, as the updater reads FileVersion.
#include <string.h>

#include "check.h"

enum { BLOCK_CAPACITY = 8192 };

// The version block of a file, or 0 with the error of the call that failed.
static DWORD read_block(const char *path, char *block, DWORD *error) {
  DWORD handle = 0xdeadbeef;
  SetLastError(0xdeadbeef);
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  *error = size ? 0 : GetLastError();
  if (!size) return 0;
  ok(handle == 0, "the handle is set to zero: %u\n", handle);
  ok(size <= BLOCK_CAPACITY, "size %u\n", size);
  if (size > BLOCK_CAPACITY) return 0;
  if (!GetFileVersionInfoA(path, 0, size, block)) {
    *error = GetLastError();
    return 0;
  }
  return size;
}

// The FileVersion text under a translation ("040904b0"), or NULL.
static const char *file_version(const char *block, const char *translation, UINT *length) {
  char query[64] = "\\StringFileInfo\\";
  strcat(query, translation);
  strcat(query, "\\FileVersion");
  void *value = NULL;
  *length = 0xdeadbeef;
  if (!VerQueryValueA(block, query, &value, length)) return NULL;
  return static_cast<const char *>(value);
}

// The translation table: its length in bytes, its pairs in `pairs`.
static UINT translations(const char *block, WORD *pairs, int capacity) {
  void *value = NULL;
  UINT length = 0;
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &value, &length)) return 0;
  for (int i = 0; i < capacity && i < static_cast<int>(length / 2); ++i) pairs[i] = static_cast<const WORD *>(value)[i];
  return length;
}

// The text and its reported length: windres counts the terminator in the
// length of a string value, and VerQueryValueA reports that count.
static void check_file_version(const char *text, UINT length, const char *expected, const char *where) {
  ok(text && strcmp(text, expected) == 0, "%s: %s\n", where, text ? text : "(none)");
  ok(length == strlen(expected) + 1, "%s: reported length %u\n", where, length);
}

CHECK(version_comes_from_the_first_translation) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("english.dll");
  make_library(path, LIBRARY_ENGLISH);
  DWORD error;
  if (!ok(read_block(path, block, &error) != 0, "reading the block: error %u\n", error)) return;
  WORD pairs[4] = {};
  UINT length = translations(block, pairs, 4);
  ok(length == 4 && pairs[0] == 0x0409 && pairs[1] == 0x04b0, "translations: %u bytes, %04x %04x\n", length, pairs[0],
     pairs[1]);
  const char *text = file_version(block, "040904b0", &length);
  check_file_version(text, length, "1.01.002", "040904b0");
  text = file_version(block, "040904B0", &length);
  check_file_version(text, length, "1.01.002", "040904B0 in capitals");
  void *value = NULL;
  ok(!VerQueryValueA(block, "\\StringFileInfo\\040904b0\\ProductVersion", &value, &length),
     "a value the resource does not have\n");
}

CHECK(version_of_a_later_translation_is_not_the_first) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("second.dll");
  make_library(path, LIBRARY_SECOND_TRANSLATION);
  DWORD error;
  if (!ok(read_block(path, block, &error) != 0, "reading the block: error %u\n", error)) return;
  WORD pairs[4] = {};
  UINT length = translations(block, pairs, 4);
  ok(length == 8 && pairs[0] == 0x0411 && pairs[1] == 0x03a4 && pairs[2] == 0x0409 && pairs[3] == 0x04b0,
     "translations: %u bytes, %04x %04x %04x %04x\n", length, pairs[0], pairs[1], pairs[2], pairs[3]);
  const char *text = file_version(block, "041103a4", &length);
  ok(text == NULL, "the first translation has no FileVersion: %s\n", text ? text : "");
  text = file_version(block, "040904b0", &length);
  check_file_version(text, length, "3.30.010", "040904b0");
}

CHECK(version_of_a_japanese_only_library) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("japanese.dll");
  make_library(path, LIBRARY_JAPANESE_ONLY);
  DWORD error;
  if (!ok(read_block(path, block, &error) != 0, "reading the block: error %u\n", error)) return;
  WORD pairs[2] = {};
  UINT length = translations(block, pairs, 2);
  ok(length == 4 && pairs[0] == 0x0411 && pairs[1] == 0x04b0, "translations: %u bytes, %04x %04x\n", length, pairs[0],
     pairs[1]);
  const char *text = file_version(block, "041104b0", &length);
  check_file_version(text, length, "3.30.009", "041104b0");
  ok(file_version(block, "040904b0", &length) == NULL, "no English FileVersion\n");
}

CHECK(version_is_missing_without_resource_or_file) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("bare.dll");
  make_library(path, LIBRARY_WITHOUT_VERSION);
  DWORD error;
  DWORD size = read_block(path, block, &error);
  ok(size == 0, "library without a version: %u\n", size);
  // NT finds the library's resources but no version among them. Wine says
  // ERROR_RESOURCE_DATA_NOT_FOUND for any file without a version resource.
  if (!nine_x_family())
    ok(error == ERROR_RESOURCE_TYPE_NOT_FOUND || broken(error == ERROR_RESOURCE_DATA_NOT_FOUND),
       "library without a version: error %u\n", error);
  size = read_block(scratch("missing.dll"), block, &error);
  ok(size == 0 && error == ERROR_FILE_NOT_FOUND, "missing file: %u, error %u\n", size, error);
}

CHECK(version_of_a_loaded_library_can_be_read) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("loaded.dll");
  make_library(path, LIBRARY_ENGLISH);
  hold_module(path);
  DWORD error;
  ok(read_block(path, block, &error) != 0, "loaded library: error %u\n", error);
  UINT length;
  const char *text = file_version(block, "040904b0", &length);
  ok(text && strcmp(text, "1.01.002") == 0, "FileVersion %s\n", text ? text : "(none)");
}

CHECK(version_of_an_exclusively_held_file_cannot_be_read) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("held.dll");
  make_library(path, LIBRARY_ENGLISH);
  hold_exclusive(path);
  DWORD error;
  DWORD size = read_block(path, block, &error);
  ok(size == 0 && error == ERROR_SHARING_VIOLATION, "%u, error %u\n", size, error);
}

CHECK(version_travels_with_a_copy) {
  static char block[BLOCK_CAPACITY];
  const char *source = scratch("english.dll");
  const char *target = scratch("copy.dll");
  make_library(source, LIBRARY_ENGLISH);
  ok(CopyFileA(source, target, FALSE), "copy: error %u\n", GetLastError());
  DWORD error;
  ok(read_block(target, block, &error) != 0, "reading the copy: error %u\n", error);
  UINT length;
  const char *text = file_version(block, "040904b0", &length);
  check_file_version(text, length, "1.01.002", "copy");
}

// Resource compilers write VarFileInfo after StringFileInfo: the
// translations end the resource, whose length the block's first WORD holds
// (VS_VERSIONINFO's wLength). After it NT leaves room for ANSI copies of
// the strings: twice the length and 4 from Windows 2000 on, as Wine gives in
// every mode. Windows 98 asks the size of a 32-bit resource and converts it
// in place to a shorter one (Wine's version tests, test_32bit_win).
CHECK(version_translations_end_the_resource) {
  static char block[BLOCK_CAPACITY];
  const char *path = scratch("english.dll");
  make_library(path, LIBRARY_ENGLISH);
  DWORD error;
  DWORD size = read_block(path, block, &error);
  if (!ok(size != 0, "reading the block: error %u\n", error)) return;
  void *value = NULL;
  UINT length = 0;
  if (!ok(VerQueryValueA(block, "\\VarFileInfo\\Translation", &value, &length), "no translations\n")) return;
  const DWORD resource = *reinterpret_cast<const WORD *>(block);
  const long end = static_cast<long>(static_cast<const char *>(value) + length - block);
  ok(end == static_cast<long>(resource), "the translations end at %ld of %u\n", end, resource);
  ok(nine_x_family() ? size > resource : size == 2 * resource + 4, "size %u for %u\n", size, resource);
}
