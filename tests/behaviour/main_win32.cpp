// The Windows runner: every check once, in the mode the machine is in.
//
//   behaviour.exe [REPORT]
//
// Writes each failure and each broken() that held, one line per check, and
// a last line "behaviour checks: ..." with the tallies, to REPORT (default:
// standard output). The exit status is 1 when a check failed.
#include "check.h"

#include <stdio.h>

namespace {

FILE *g_out = stdout;
const char *g_check = "";

const char *base_name(const char *path) {
  const char *name = path;
  for (const char *c = path; *c; ++c)
    if (*c == '\\' || *c == '/') name = c + 1;
  return name;
}

// A message on one line: line breaks inside it are shown as \r and \n.
void put_message(const char *message) {
  for (const char *c = message; *c; ++c) {
    if (*c == '\r')
      fputs("\\r", g_out);
    else if (*c == '\n' && c[1])
      fputs("\\n", g_out);
    else
      fputc(*c, g_out);
  }
}

}  // namespace

void report_failure(const char *file, int line, const char *message) {
  fprintf(g_out, "%s:%d: Test failed in %s: ", base_name(file), line, g_check);
  put_message(message);
}

void report_broken(const char *file, int line) {
  fprintf(g_out, "%s:%d: broken in %s: a known difference of Wine accepted\n", base_name(file), line, g_check);
}

void report_trace(const char *message) {
  fprintf(g_out, "%s: ", g_check);
  put_message(message);
}

int main(int argc, char **argv) {
  if (argc > 1 && !(g_out = fopen(argv[1], "w"))) return 2;
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  const int nine_x = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  const LANGID language = GetUserDefaultUILanguage();
  set_mode(nine_x, PRIMARYLANGID(language) == LANG_JAPANESE, GetACP() != 932);
  fprintf(g_out, "mode: %s %s (Windows %lu.%lu, interface language 0x%04x, ANSI code page %u)\n", nine_x ? "9x" : "nt",
          japanese() ? (western_code_page() ? "ja-ui" : "ja") : "en", version.dwMajorVersion, version.dwMinorVersion,
          language, GetACP());

  int failed_checks = 0;
  for (int i = 0; i < check_count(); ++i) {
    const Check &check = check_at(i);
    g_check = check.name;
    const int failed_before = tally().failed;
    set_current_check(check.name);
    begin_machine(check.name);
    check.run();
    end_machine();
    if (tally().failed != failed_before) ++failed_checks;
    fprintf(g_out, "%s %s\n", tally().failed != failed_before ? "FAIL" : "ok  ", check.name);
    fflush(g_out);
  }
  fprintf(g_out, "behaviour checks: %d functions, %d failed; %d checks passed, %d failed, %d through broken()\n",
          check_count(), failed_checks, tally().passed, tally().failed, tally().broken);
  fclose(g_out);
  return tally().failed ? 1 : 0;
}
