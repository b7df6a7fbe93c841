// Initialisation files: whole sections read and written, and the call that
// flushes the profile cache.
#include <string.h>

#include "check.h"

static void make_text_file(const char *path, const char *text) {
  make_file(path, text, static_cast<DWORD>(strlen(text)), FILE_ATTRIBUTE_ARCHIVE);
}

// The section as one line per entry, "|" between them, for messages and
// comparisons.
static const char *joined(const char *list, DWORD count) {
  static char text[512];
  DWORD i = 0;
  for (; i < count && i + 1 < sizeof text; ++i) text[i] = list[i] ? list[i] : '|';
  text[i] = 0;
  return text;
}

static const char INI_TEXT[] =
    "[other]\r\n"
    "x=y\r\n"
    "[rename]\r\n"
    "; a comment\r\n"
    "\r\n"
    "a=b\r\n"
    "no equals sign\r\n"
    "Nul=C:\\X\r\n";

CHECK(section_read_leaves_out_comments_and_blank_lines) {
  const char *ini = scratch("test.ini");
  make_text_file(ini, INI_TEXT);
  char buffer[64];
  memset(buffer, '#', sizeof buffer);
  DWORD count = GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, ini);
  static const char expected[] = "a=b\0no equals sign\0Nul=C:\\X\0";
  ok(count == sizeof expected - 1 && memcmp(buffer, expected, count) == 0, "count %u: %s\n", count,
     joined(buffer, count));
  ok(buffer[count] == 0, "the list ends with a second zero\n");
}

CHECK(section_that_does_not_fit_is_cut_with_the_count_size_minus_two) {
  const char *ini = scratch("test.ini");
  make_text_file(ini, INI_TEXT);
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  DWORD count = GetPrivateProfileSectionA("Rename", buffer, 10, ini);
  ok(count == 8, "count %u\n", count);
  ok(memcmp(buffer, "a=b\0no e\0\0#", 11) == 0, "cut list: %s\n", joined(buffer, 11));
}

CHECK(missing_section_or_file_reads_as_empty) {
  const char *ini = scratch("test.ini");
  make_text_file(ini, INI_TEXT);
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  DWORD count = GetPrivateProfileSectionA("Missing", buffer, sizeof buffer, ini);
  ok(count == 0 && buffer[0] == 0, "missing section: count %u, %s\n", count, joined(buffer, 2));
  memset(buffer, '#', sizeof buffer);
  count = GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, scratch("none.ini"));
  ok(count == 0 && buffer[0] == 0, "missing file: count %u, %s\n", count, joined(buffer, 2));
}

CHECK(section_write_creates_the_file_and_replaces_the_section) {
  const char *ini = scratch("new.ini");
  BOOL ret = WritePrivateProfileSectionA("Rename", "Nul=C:\\A\0", ini);
  ok(ret, "new file: error %u\n", GetLastError());
  ret = WritePrivateProfileSectionA("Keep", "k=v\0", ini);
  ok(ret, "second section: error %u\n", GetLastError());
  ret = WritePrivateProfileSectionA("rename", "a=b\0Nul=C:\\B\0", ini);
  ok(ret, "replacing: error %u\n", GetLastError());

  char buffer[64];
  DWORD count = GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, ini);
  ok(count == 13 && memcmp(buffer, "a=b\0Nul=C:\\B\0", 14) == 0, "replaced section: %s\n", joined(buffer, count));
  count = GetPrivateProfileSectionA("Keep", buffer, sizeof buffer, ini);
  ok(count == 4 && memcmp(buffer, "k=v\0", 5) == 0, "other section: %s\n", joined(buffer, count));
}

CHECK(section_write_drops_lines_without_equals_sign) {
  const char *ini = scratch("new.ini");
  BOOL ret = WritePrivateProfileSectionA("Rename", "a=b\0no equals sign\0Nul=C:\\A\0", ini);
  ok(ret, "error %u\n", GetLastError());
  char buffer[64];
  DWORD count = GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, ini);
  ok(count == 13 && memcmp(buffer, "a=b\0Nul=C:\\A\0", 14) == 0, "section: %s\n", joined(buffer, count));
}

CHECK(section_write_into_a_missing_folder_fails) {
  SetLastError(0xdeadbeef);
  BOOL ret = WritePrivateProfileSectionA("Rename", "a=b\0", scratch("missing\\new.ini"));
  ok(!ret && GetLastError() == ERROR_PATH_NOT_FOUND, "%d, error %u\n", ret, GetLastError());
}

CHECK(flushing_the_profile_cache_answers_false) {
  const char *ini = scratch("new.ini");
  ok(WritePrivateProfileSectionA("Rename", "Nul=C:\\A\0", ini), "write: error %u\n", GetLastError());
  BOOL ret = WritePrivateProfileStringA(NULL, NULL, NULL, ini);
  ok(!ret, "flush: %d\n", ret);
  char buffer[64];
  DWORD count = GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, ini);
  ok(count == 9, "the section is still there: %s\n", joined(buffer, count));
}
