// The checks' own bookkeeping, the same for both runners.
#include "check.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

enum { MAX_CHECKS = 256, MESSAGE_CAPACITY = 1024 };

Check g_checks[MAX_CHECKS];
int g_count = 0;
Tally g_tally;
int g_nine_x = 0;
int g_japanese = 0;
int g_western = 0;

}  // namespace

CheckRegistration::CheckRegistration(const char *name, CheckFunction run) {
  if (g_count < MAX_CHECKS) g_checks[g_count++] = Check{name, run};
}

int check_count() { return g_count; }
const Check &check_at(int index) { return g_checks[index]; }
Tally &tally() { return g_tally; }

void set_mode(int nine_x, int japanese, int western_code_page) {
  g_nine_x = nine_x;
  g_japanese = japanese;
  g_western = japanese && western_code_page;
}
int nine_x_family() { return g_nine_x; }
int japanese() { return g_japanese; }
int western_code_page() { return g_western; }

int check_ok(const char *file, int line, int condition, const char *format, ...) {
  if (condition) {
    ++g_tally.passed;
    return 1;
  }
  ++g_tally.failed;
  char message[MESSAGE_CAPACITY];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  report_failure(file, line, message);
  return 0;
}

int check_broken(const char *file, int line, int condition) {
#ifdef _WIN32
  // Wine's ntdll exports its version; Windows' does not.
  static const int under_wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
#else
  static const int under_wine = 0;
#endif
  if (!under_wine || !condition) return 0;
  ++g_tally.broken;
  report_broken(file, line);
  return 1;
}

void trace(const char *format, ...) {
  char message[MESSAGE_CAPACITY];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  report_trace(message);
}

// ---- Names of the check's own things (setup.h) -------------------------------

namespace {

const char *g_current = "";

// A ring of buffers, so that a few names may be used in one call.
char *next_buffer() {
  static char ring[8][2 * MAX_PATH];
  static int next = 0;
  next = (next + 1) % 8;
  return ring[next];
}

const char *joined(const char *head, const char *separator, const char *tail) {
  char *buffer = next_buffer();
  snprintf(buffer, 2 * MAX_PATH, "%s%s%s%s", head, g_current, *tail ? separator : "", tail);
  return buffer;
}

}  // namespace

void set_current_check(const char *name) { g_current = name; }

const char *scratch(const char *name) { return joined("C:\\checks\\", "\\", name); }
const char *scratch_key(const char *sub_key) { return joined("SOFTWARE\\BehaviourChecks\\", "\\", sub_key); }
const char *unique_name(const char *name) { return joined("BehaviourChecks ", " ", name); }
