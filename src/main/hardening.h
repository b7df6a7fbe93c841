// What the process settles before anything of the run happens.
#pragma once

#include "platform/platform.h"

// Critical errors come back as error codes, and no library is ever loaded
// by its bare name from the program's own folder: not by the program, nor
// by the system on its behalf (USER32 and the first message box load some).
// 0 when the run must not start: the program's own path cannot be had, a
// TRV60UPDATE.EXE.local lies beside it, the process runs on a manifest
// other than its own, or USER32's functions cannot be had. Nothing can then
// be shown safely, so nothing is, and nothing changes.
int harden_process();
