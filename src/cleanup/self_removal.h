#pragma once

#include "kit/held_payloads.h"

// Deletes the executable and the payloads the run holds, or has them
// deleted at the next restart. 0 when the platform's version was not
// available.
int remove_self(Kit *kit);
