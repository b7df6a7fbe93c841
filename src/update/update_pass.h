#pragma once

#include "platform/platform.h"

// What one pass over an installation reports to the run.
enum PassResult {
  PASS_FAILED = 0,      // the failure has already been shown
  PASS_REPLACED = 1,    // at least one library was replaced
  PASS_UP_TO_DATE = 2,  // nothing needed replacing
  PASS_NO_TARGET = 3,   // a library is missing and the pass was quiet about it
};

int update_product(HINSTANCE instance, LPCSTR install_directory, BYTE report_missing_targets);
