#include "family.h"

#include "text.h"

static int query_version(OSVERSIONINFOA *version) {
  bytes_zero(version, sizeof *version);
  version->dwOSVersionInfoSize = sizeof *version;
  return GetVersionExA(version);
}

int platform_family(DWORD *platform_id) {
  OSVERSIONINFOA version;
  if (!query_version(&version)) return 0;
  *platform_id = version.dwPlatformId;
  return 1;
}

DWORD nt_major_version() {
  OSVERSIONINFOA version;
  return query_version(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT ? version.dwMajorVersion : 0;
}
