// The run: from the recorded own path to the exit code.
#pragma once

#include "platform/platform.h"

// Called once by the entry point (src/main). The previous instance and the
// show code are not used. Always returns 0.
int run(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show);

// The outcome message for two pass results, or 0 when a pass failed and
// its error box stands for the outcome.
UINT outcome_message(int first_result, int second_result);
