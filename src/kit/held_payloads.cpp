#include "held_payloads.h"

void release_payloads(HeldPayload *payloads) {
  for (int i = 0; i < MAX_PAIRS; ++i) {
    if (payloads[i].file != INVALID_HANDLE_VALUE) CloseHandle(payloads[i].file);
    payloads[i].file = INVALID_HANDLE_VALUE;
  }
}

void release_kit(Kit *kit) {
  release_payloads(kit->payloads);
  if (kit->executable != INVALID_HANDLE_VALUE) CloseHandle(kit->executable);
  kit->executable = INVALID_HANDLE_VALUE;
  close_folder(&kit->folder);
}

int kit_still_needed(const Kit *kit) {
  for (int i = 0; i < MAX_PAIRS; ++i)
    if (kit->payloads[i].set_aside) return 1;
  return 0;
}
