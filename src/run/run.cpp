#include "run.h"

#include "cleanup/self_removal.h"
#include "command_line.h"
#include "kit/own_path.h"
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

static void update_installations(HINSTANCE instance, HeldPayload *payloads) {
  char locations[2][MAX_PATH];
  int found[2];
  for (int i = 0; i < 2; ++i) {
    bytes_zero(locations[i], MAX_PATH);
    found[i] =
        read_install_location(locations[i], INSTALLATIONS[i].key, INSTALLATIONS[i].value) && locations[i][0] != '\0';
  }
  if (!found[0] && !found[1]) {
    show_catalogue_message(instance, MSG_NOT_FOUND);
    return;
  }
  int results[2];
  for (int i = 0; i < 2; ++i)
    results[i] = found[i] ? update_product(instance, payloads, locations[i], INSTALLATIONS[i].report_missing_targets)
                          : PASS_NO_TARGET;
  UINT outcome = outcome_message(results[0], results[1]);
  if (outcome) show_catalogue_message(instance, outcome);
}

int run(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
  record_own_path(instance);
  HANDLE mutex;
  if (!claim_single_instance(&mutex)) return 0;
  int remove = has_removal_switch(tail);
  // Before the first box: a box may wait for as long as anyone likes.
  HeldPayload payloads[MAX_PAIRS];
  hold_payloads(instance, payloads);
  update_installations(instance, payloads);
  // A library set aside would be lost for good without the kit that puts
  // it back.
  if (remove && !kit_still_needed(payloads)) {
    check_unread_payloads(payloads);
    remove_self(payloads);
  }
  release_payloads(payloads);
  if (mutex) CloseHandle(mutex);
  return 0;
}
