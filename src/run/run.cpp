#include "run.h"

#include "cleanup/self_removal.h"
#include "command_line.h"
#include "kit/own_path.h"
#include "kit/paths.h"
#include "messages/catalogue.h"
#include "platform/text.h"
#include "update/install_location.h"
#include "update/payload_holds.h"
#include "update/update_pass.h"

// The single-instance mutex. It reads like the boxes' caption, but the two
// are separate names: other instances, of any build, look for this one.
static const char INSTANCE_NAME[] = "TRAVEN-60 Update";

struct Installation {
  LPCSTR key;
  LPCSTR value;
  BYTE report_missing_targets;
};

// PELLAXION-ZEL first; its pass keeps quiet about missing libraries.
static const Installation INSTALLATIONS[2] = {
    {"SOFTWARE\\Quenvor\\PELLAXION\\ZEL", "InstallDir", 0},
    {"SOFTWARE\\Quenvor\\TRAVEN-50", "Path", 1},
};

// 1 when no other instance runs; *mutex then holds ours, or null when the
// mutex could not be created and the run goes on unprotected.
//
// A mutex that exists but refuses us is another instance all the same: one
// started by another user, or elevated while we are not. Both the open and
// the create then fail with ERROR_ACCESS_DENIED.
static int claim_single_instance(HANDLE *mutex) {
  *mutex = 0;
  HANDLE other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, INSTANCE_NAME);
  if (other) {
    CloseHandle(other);
    return 0;
  }
  if (GetLastError() == ERROR_ACCESS_DENIED) return 0;
  // Two instances started together both get past the open; the one that
  // did not create the mutex steps back. The last error is cleared first,
  // since only ERROR_ALREADY_EXISTS after a handle tells the two apart and
  // a successful create need not reset an older error.
  SetLastError(0);
  HANDLE own = CreateMutexA(0, FALSE, INSTANCE_NAME);
  DWORD error = GetLastError();
  if (own && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(own);
    return 0;
  }
  if (!own && error == ERROR_ACCESS_DENIED) return 0;
  *mutex = own;
  return 1;
}

UINT outcome_message(int first_result, int second_result) {
  if (first_result == PASS_FAILED || second_result == PASS_FAILED) return 0;
  if (first_result == PASS_REPLACED || second_result == PASS_REPLACED) return MSG_UPDATED;
  if (first_result == PASS_UP_TO_DATE || second_result == PASS_UP_TO_DATE) return MSG_NEWER_EXISTS;
  return MSG_NO_NEED;
}

// Each installation found is opened as a folder right after the lookups,
// before the first box: a box may wait for as long as anyone likes, and the
// pass then works in the folder as the run first found it.
static void update_installations(HINSTANCE instance, Kit *kit) {
  Folder folders[2];
  int found[2];
  for (int i = 0; i < 2; ++i) {
    char location[MAX_PATH];
    bytes_zero(location, MAX_PATH);
    found[i] = read_install_location(location, INSTALLATIONS[i].key, INSTALLATIONS[i].value) && location[0] != '\0';
    char path[WHOLE_PATH_CAPACITY];
    bytes_zero(path, WHOLE_PATH_CAPACITY);
    join_target_path(path, WHOLE_PATH_CAPACITY, location, "");
    folders[i].handle = INVALID_HANDLE_VALUE;
    if (found[i]) open_folder(&folders[i], path);
  }
  if (!found[0] && !found[1]) {
    show_catalogue_message(instance, MSG_NOT_FOUND);
  } else {
    int results[2];
    for (int i = 0; i < 2; ++i)
      results[i] =
          found[i] ? update_product(instance, kit, &folders[i], INSTALLATIONS[i].report_missing_targets) : PASS_NO_TARGET;
    UINT outcome = outcome_message(results[0], results[1]);
    if (outcome) show_catalogue_message(instance, outcome);
  }
  for (Folder &folder : folders) close_folder(&folder);
}

int run(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
  record_own_path(instance);
  HANDLE mutex;
  if (!claim_single_instance(&mutex)) return 0;
  int remove = has_removal_switch(tail);
  // Before the first box: a box may wait for as long as anyone likes.
  Kit kit;
  take_kit(instance, &kit);
  update_installations(instance, &kit);
  // A library set aside would be lost for good without the kit that puts
  // it back.
  if (remove && !kit_still_needed(&kit)) {
    check_unread_payloads(kit.payloads);
    remove_self(&kit);
  }
  release_kit(&kit);
  if (mutex) CloseHandle(mutex);
  return 0;
}
