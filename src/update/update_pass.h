// The update pass over one installation: the heart of the updater.
#pragma once

#include "kit/held_payloads.h"
#include "platform/platform.h"

// What one pass over an installation reports to the run.
enum PassResult {
  PASS_FAILED = 0,      // the failure has already been shown
  PASS_REPLACED = 1,    // at least one library was replaced
  PASS_UP_TO_DATE = 2,  // nothing needed replacing
  PASS_NO_TARGET = 3,   // a library is missing and the pass was quiet about it
};

// Walks the payload table in order, at most MAX_PAIRS pairs, until the
// first empty name, with the kit the run holds (payload_holds.h), in the
// installation's folder as the run first found it (folder.h):
//   0. on 9x, puts back a library that a cut exchange left set aside, and
//      removes a copy set aside whose library is in place (replacement.h);
// then for each pair:
//   1. checks that it can be opened (quiet unless report_missing_targets),
//      and shows why the payload could not be held when it was not; both
//      happen before either result is looked at;
//   2. a library that cannot be opened ends the pass: PASS_FAILED when
//      reporting, else PASS_NO_TARGET, or PASS_REPLACED when an earlier
//      pair was already replaced (so that the run does not say "No need to
//      update." over a library it changed);
//   3. a payload that is not held ends the pass with PASS_FAILED, and so
//      does a release build whose record of it cannot be read;
//   4. reads the library's FileVersion string; without it, or without the
//      payload's, message 2 and PASS_FAILED;
//   5. when the payload's string orders after the library's, replaces the
//      library with the bytes read through the hold, never leaving it torn
//      (replacement.h); a failure shows message 4 and ends the pass with
//      PASS_FAILED, or, when the payload's bytes could not be read or do not
//      have their digest, the system's reason with the payload's path.
// Libraries replaced before a failure stay replaced. After the last pair:
// PASS_REPLACED when any library was replaced, else PASS_UP_TO_DATE.
PassResult update_product(HINSTANCE instance, Kit *kit, const Folder *install, BYTE report_missing_targets);
