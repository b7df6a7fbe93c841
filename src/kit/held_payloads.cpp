#include "held_payloads.h"

void release_payloads(HeldPayload *payloads) {
  for (int i = 0; i < MAX_PAIRS; ++i) {
    if (payloads[i].file != INVALID_HANDLE_VALUE) CloseHandle(payloads[i].file);
    payloads[i].file = INVALID_HANDLE_VALUE;
  }
}

int kit_still_needed(const HeldPayload *payloads) {
  for (int i = 0; i < MAX_PAIRS; ++i)
    if (payloads[i].set_aside) return 1;
  return 0;
}
