// What the process settles before anything of the run happens.
#pragma once

#include "platform/platform.h"

// Critical errors come back as error codes, and no library is ever loaded
// by its bare name from the program's own folder: not by the program, nor
// by the system on its behalf (the first message box loads some).
void harden_process();
