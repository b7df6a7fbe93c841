#include "family.h"

#include "text.h"

int platform_family(DWORD *platform_id) {
  OSVERSIONINFOA version;
  bytes_zero(&version, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return 0;
  *platform_id = version.dwPlatformId;
  return 1;
}
