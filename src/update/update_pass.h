// The update pass over one installation: the heart of the updater.
#pragma once

#include "platform/platform.h"

// What one pass over an installation reports to the run.
enum PassResult {
  PASS_FAILED = 0,      // the failure has already been shown
  PASS_REPLACED = 1,    // at least one library was replaced
  PASS_UP_TO_DATE = 2,  // nothing needed replacing
  PASS_NO_TARGET = 3,   // a library is missing and the pass was quiet about it
};

// Walks the payload table in order, at most MAX_PAIRS pairs, until the
// first empty name. For each pair:
//   1. builds the library's path in the installation and the payload's
//      path beside the updater, each once;
//   2. checks that both can be opened, the library first (quiet unless
//      report_missing_targets), the payload always reporting; both checks
//      run before either result is looked at;
//   3. a library that cannot be opened ends the pass: PASS_FAILED when
//      reporting, else PASS_NO_TARGET, or PASS_REPLACED when an earlier
//      pair was already replaced (so that the run does not say "No need to
//      update." over a library it changed);
//   4. a payload that cannot be opened ends the pass with PASS_FAILED, and
//      so does a release build whose digests cannot be read; otherwise the
//      payload is opened for reading and held, unwritable, until step 6 is
//      done, and its bytes are read through that hold alone;
//   5. reads both FileVersion strings, payload first; either missing shows
//      message 2 and ends the pass with PASS_FAILED;
//   6. when the payload's string orders after the library's, replaces the
//      library, never leaving it torn (replacement.h); a failure shows
//      message 4 and ends the pass with PASS_FAILED, or, when the payload's
//      bytes could not be read or do not have their digest, the system's
//      reason with the payload's path.
// Libraries replaced before a failure stay replaced. After the last pair:
// PASS_REPLACED when any library was replaced, else PASS_UP_TO_DATE.
PassResult update_product(HINSTANCE instance, LPCSTR install_directory, BYTE report_missing_targets);
