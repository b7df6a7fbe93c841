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

static int locate_target(LPSTR path, LPCSTR install_directory, LPCSTR name, BYTE report) {
  join_target_path(path, WHOLE_PATH_CAPACITY, install_directory, name);
  return check_file_present(path, report);
}

// 1 when the target was replaced, 0 when it was not newer, -1 on a
// failure already shown.
static int replace_if_newer(HINSTANCE instance, LPCSTR payload, LPCSTR target, LPCSTR install_directory) {
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
  // A read-only library is replaced all the same, and the copy brings the
  // payload's attributes along: leave the library plain afterwards.
  SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  if (!replace_library(payload, target, install_directory)) {
    show_catalogue_message(instance, MSG_FILES_IN_USE);
    return -1;
  }
  SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
  return 1;
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
    int target_present = locate_target(target, install_directory, TARGET_NAMES[i], report_missing_targets);
    int payload_present = locate_payload(payload, PAYLOAD_NAMES[i]);
    if (!target_present) {
      if (report_missing_targets) return PASS_FAILED;
      // A quiet pass that already replaced a library says so, rather than
      // letting the run report "No need to update." over a changed library.
      return replaced ? PASS_REPLACED : PASS_NO_TARGET;
    }
    if (!payload_present) return PASS_FAILED;
    // The payload stays held from its digest check until its copy is done.
    HANDLE held = hold_verified_payload(instance, payload, i);
    if (!held) return PASS_FAILED;
    int outcome = replace_if_newer(instance, payload, target, install_directory);
    release_payload(held);
    if (outcome < 0) return PASS_FAILED;
    replaced += outcome;
  }
  return replaced ? PASS_REPLACED : PASS_UP_TO_DATE;
}
