#include "held_payloads.h"

void release_payloads(HeldPayload *payloads) {
  for (int i = 0; i < MAX_PAIRS; ++i) {
    if (payloads[i].file != INVALID_HANDLE_VALUE) CloseHandle(payloads[i].file);
    payloads[i].file = INVALID_HANDLE_VALUE;
  }
}
