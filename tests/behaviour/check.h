// Behaviour checks of the Win32 API the updater relies on, written once as
// plain Win32 ANSI code. The same checks build twice: on the host against
// the simulated Windows (tests/simwin), and with mingw-w64 as a Windows
// program that runs under Wine (tests/behaviour/wine). The simulated
// Windows must answer as Windows does; where Wine does not, the check says
// so with broken().
//
// A check is one function:
//
//   CHECK(copy_fails_if_exists) {
//     make_file(scratch("a.dll"), "a", 1, FILE_ATTRIBUTE_ARCHIVE);
//     ...
//     ok(!ret && GetLastError() == ERROR_FILE_EXISTS, "got %d, error %u\n", ret, GetLastError());
//   }
//
// It runs on a machine of its own in each mode (the NT and the 9x family,
// English and Japanese), starting from what setup.h describes.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "win32_api.h"
#endif

#include "setup.h"

#if defined(__GNUC__)
#define CHECK_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define CHECK_PRINTF(f, a)
#endif

// ok(condition, format, ...): one check of one behaviour; the message
// (printf style) says what was seen when the condition fails. DWORDs print
// with %u and %x: the host's DWORD is an unsigned int, and on 32-bit
// Windows an unsigned long is as wide.
#define ok(condition, ...) check_ok(__FILE__, __LINE__, (condition) ? 1 : 0, __VA_ARGS__)

// broken(condition): a known difference of Wine from Windows. Under Wine it
// is the condition; on the simulated Windows, and on Windows itself, it is
// false, so that these give the right answer. Every use names the platform
// and the reason in a comment.
#define broken(condition) check_broken(__FILE__, __LINE__, (condition) ? 1 : 0)

// trace(format, ...): a note in the output, e.g. what Windows left in a
// buffer it documents as undefined.
void trace(const char *format, ...) CHECK_PRINTF(1, 2);

int check_ok(const char *file, int line, int condition, const char *format, ...) CHECK_PRINTF(4, 5);
int check_broken(const char *file, int line, int condition);

// The mode a check runs in.
int nine_x_family();  // 1 on Windows 95, 98 and Me
int japanese();       // 1 when the user interface language is Japanese
// 1 for a Japanese interface over a western code page (1252): a Japanese
// language pack on a western system.
int western_code_page();

// ---- Registration ------------------------------------------------------------
typedef void (*CheckFunction)(void);
struct Check {
  const char *name;
  CheckFunction run;
};
struct CheckRegistration {
  CheckRegistration(const char *name, CheckFunction run);
};
#define CHECK(name)                                                        \
  static void check_##name(void);                                          \
  static const CheckRegistration registration_##name(#name, check_##name); \
  static void check_##name(void)

int check_count();
const Check &check_at(int index);

// ---- The runner's side ---------------------------------------------------------
// Tallies of one run; each runner resets them, runs checks and reports.
struct Tally {
  int passed;
  int failed;
  int broken;  // passed through a broken() that held
};
Tally &tally();
void set_mode(int nine_x, int japanese, int western_code_page);
void set_current_check(const char *name);  // names the scratch folder and key
// The runner shows failures and notes in its own way.
void report_failure(const char *file, int line, const char *message);
void report_broken(const char *file, int line);
void report_trace(const char *message);

// Constants the checks use that the host's Win32 subset does not declare.
#ifndef ERROR_FILE_EXISTS
#define ERROR_FILE_EXISTS 80L
#endif
