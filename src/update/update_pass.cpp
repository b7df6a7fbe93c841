#include "update_pass.h"

#include "file_version.h"
#include "kit/own_path.h"
#include "kit/paths.h"
#include "kit/payload_table.h"
#include "messages/catalogue.h"
#include "payload_digest.h"
#include "platform/text.h"
#include "presence.h"
#include "replacement.h"

// The box for a file of a folder names its path, built whole: one that does
// not fit MAX_PATH was refused as too long without being opened.
static void report_file(const Folder *folder, LPCSTR name, DWORD error) {
  char path[WHOLE_PATH_CAPACITY];
  bytes_zero(path, WHOLE_PATH_CAPACITY);
  path_in(folder, name, path, WHOLE_PATH_CAPACITY);
  report_unopenable(path, error);
}

// A quiet pass passes over a library that is not there, and only then: the
// system must say that the file or its path does not exist (or the path is
// one no program could open), or the installation's folder could not be
// opened as a folder at the run's first look. Any other failure, a library
// in use on 9x say, is shown as the reporting pass shows it, and fails the
// pass.
enum Target { TARGET_PRESENT, TARGET_MISSING, TARGET_FAILED };

static Target check_target(const Folder *install, LPCSTR name, BYTE report) {
  DWORD error = file_open_failure(install, name);
  if (!error) return TARGET_PRESENT;
  int missing = install->failure || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                error == ERROR_FILENAME_EXCED_RANGE;
  if (!report && missing) return TARGET_MISSING;
  report_file(install, name, error);
  return TARGET_FAILED;
}

// 1 when the target was replaced, 0 when it was not newer, -1 on a
// failure already shown. The payload's bytes are read through its hold
// alone, and its version was taken when the hold was.
static int replace_if_newer(HINSTANCE instance, Kit *kit, int index, const Folder *install) {
  HeldPayload *payload = &kit->payloads[index];
  char target_version[VERSION_CAPACITY];
  bytes_zero(target_version, VERSION_CAPACITY);
  // A read that may go by name: whoever can repoint the installation's
  // folder can already replace the library itself.
  char path[MAX_PATH];
  int target_read = path_in(install, TARGET_NAMES[index], path, MAX_PATH) &&
                    read_file_version(path, target_version, VERSION_CAPACITY);
  if (!payload->has_version || !target_read) {
    show_catalogue_message(instance, MSG_NO_VERSION_INFO);
    return -1;
  }
  if (!is_newer(payload->version, target_version)) return 0;
  DWORD payload_error;
  Replacement placed = replace_library(payload->file, payload->digest, install, index, &payload_error);
  if (placed == LIBRARY_REPLACED) {
    // A release's bytes have now had their digest through the hold.
    payload->removable = 1;
    return 1;
  }
  // The kit is what puts a library set aside back, at its next run.
  if (placed == LIBRARY_SET_ASIDE) payload->set_aside = 1;
  if (payload_error)
    report_file(&kit->folder, PAYLOAD_NAMES[index], payload_error);
  else
    show_catalogue_message(instance, MSG_FILES_IN_USE);
  return -1;
}

PassResult update_product(HINSTANCE instance, Kit *kit, const Folder *install, BYTE report_missing_targets) {
  int pairs = 0;
  while (pairs < MAX_PAIRS && PAYLOAD_NAMES[pairs][0] && TARGET_NAMES[pairs][0]) ++pairs;
  // A library lost under its set-aside name fails the pass, whatever it
  // reports: no outcome may say all is well while it lies there, and the
  // kit that puts it back stays.
  for (int i = 0; i < pairs; ++i) {
    DWORD error = repair_set_aside(install, i);
    if (!error) continue;
    char aside[ASIDE_NAME_SIZE];
    aside_name(aside, i);
    report_file(install, aside, error);
    kit->payloads[i].set_aside = 1;
    return PASS_FAILED;
  }
  int replaced = 0;
  for (int i = 0; i < pairs; ++i) {
    HeldPayload *payload = &kit->payloads[i];
    // Both are looked at first, so that a missing payload is reported even
    // when its library is missing too.
    Target target_found = check_target(install, TARGET_NAMES[i], report_missing_targets);
    if (payload->failure) report_file(&kit->folder, PAYLOAD_NAMES[i], payload->failure);
    if (target_found == TARGET_FAILED) return PASS_FAILED;
    // A quiet pass that already replaced a library says so, rather than
    // letting the run report "No need to update." over a changed library.
    if (target_found == TARGET_MISSING) return replaced ? PASS_REPLACED : PASS_NO_TARGET;
    if (payload->failure) return PASS_FAILED;
    // A release build's payload must have the digest the executable carries;
    // its bytes are hashed as they are copied.
    if (!payload->bound) {
      report_file(&kit->folder, PAYLOAD_NAMES[i], ERROR_FILE_CORRUPT);
      return PASS_FAILED;
    }
    int outcome = replace_if_newer(instance, kit, i, install);
    if (outcome < 0) return PASS_FAILED;
    replaced += outcome;
  }
  // Every library is in place: a copy a run cut short left beside them goes.
  if (pairs > 0) clear_working_file(install);
  return replaced ? PASS_REPLACED : PASS_UP_TO_DATE;
}
