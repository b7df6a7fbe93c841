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

// The payload beside the executable and the library in the installation.
// Each path is built once, whole; the presence check refuses one that does
// not fit MAX_PATH (a cut path names another file) and names it whole.
static int locate_payload(LPSTR path, LPCSTR name) {
  payload_path(path, WHOLE_PATH_CAPACITY, name);
  return check_file_present(path, 1);
}

// A quiet pass passes over a library that is not there, and only then: the
// system must say that the file or its path does not exist (or the path is
// one no program could open). Any other failure, a library in use on 9x
// say, is shown as the reporting pass shows it, and fails the pass.
enum Target { TARGET_PRESENT, TARGET_MISSING, TARGET_FAILED };

static Target locate_target(LPSTR path, LPCSTR install_directory, LPCSTR name, BYTE report) {
  join_target_path(path, WHOLE_PATH_CAPACITY, install_directory, name);
  restore_cut_exchange(path, install_directory);
  DWORD error = open_failure(path);
  if (!error) return TARGET_PRESENT;
  int missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_FILENAME_EXCED_RANGE;
  if (!report && missing) return TARGET_MISSING;
  report_unopenable(path, error);
  return TARGET_FAILED;
}

// The payload is opened once, for reading and sharing only reading: while it
// is held nobody can write, delete or rename it, and the bytes installed are
// read through this handle alone. A name swapped afterwards, say by a
// junction above the kit's folder, can change the version text read by
// name, never the bytes that become the library.
static HANDLE hold_payload(LPCSTR path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) report_unopenable(path, failure_reason());
  return file;
}

// 1 when the target was replaced, 0 when it was not newer, -1 on a
// failure already shown.
static int replace_if_newer(HINSTANCE instance, HANDLE held, const BYTE *digest, LPCSTR payload, LPCSTR target,
                            LPCSTR install_directory) {
  char payload_version[VERSION_CAPACITY];
  char target_version[VERSION_CAPACITY];
  bytes_zero(payload_version, VERSION_CAPACITY);
  bytes_zero(target_version, VERSION_CAPACITY);
  int payload_read = read_file_version(payload, payload_version, VERSION_CAPACITY);
  int target_read = read_file_version(target, target_version, VERSION_CAPACITY);
  if (!payload_read || !target_read) {
    show_catalogue_message(instance, MSG_NO_VERSION_INFO);
    return -1;
  }
  if (!is_newer(payload_version, target_version)) return 0;
  DWORD payload_error;
  if (replace_library(held, digest, target, install_directory, &payload_error)) return 1;
  if (payload_error)
    report_unopenable(payload, payload_error);
  else
    show_catalogue_message(instance, MSG_FILES_IN_USE);
  return -1;
}

PassResult update_product(HINSTANCE instance, LPCSTR install_directory, BYTE report_missing_targets) {
  int replaced = 0;
  for (int i = 0; i < MAX_PAIRS && PAYLOAD_NAMES[i][0] && TARGET_NAMES[i][0]; ++i) {
    char payload[WHOLE_PATH_CAPACITY];
    char target[WHOLE_PATH_CAPACITY];
    bytes_zero(payload, WHOLE_PATH_CAPACITY);
    bytes_zero(target, WHOLE_PATH_CAPACITY);
    // Both checks run first, so that a missing payload is reported even
    // when its library is missing too.
    Target target_found = locate_target(target, install_directory, TARGET_NAMES[i], report_missing_targets);
    int payload_present = locate_payload(payload, PAYLOAD_NAMES[i]);
    if (target_found == TARGET_FAILED) return PASS_FAILED;
    // A quiet pass that already replaced a library says so, rather than
    // letting the run report "No need to update." over a changed library.
    if (target_found == TARGET_MISSING) return replaced ? PASS_REPLACED : PASS_NO_TARGET;
    if (!payload_present) return PASS_FAILED;
    // A release build's payload must have the digest the executable carries;
    // its bytes are hashed as they are copied.
    const BYTE *digest;
    if (!payload_digest(instance, i, &digest)) {
      report_unopenable(payload, ERROR_FILE_CORRUPT);
      return PASS_FAILED;
    }
    HANDLE held = hold_payload(payload);
    if (held == INVALID_HANDLE_VALUE) return PASS_FAILED;
    int outcome = replace_if_newer(instance, held, digest, payload, target, install_directory);
    CloseHandle(held);
    if (outcome < 0) return PASS_FAILED;
    replaced += outcome;
  }
  // Every library is in place: what a run cut short left beside them goes.
  clear_working_files(install_directory);
  return replaced ? PASS_REPLACED : PASS_UP_TO_DATE;
}
