#include "payload_table.h"

const char *const PAYLOAD_NAMES[] = {"UPDATE.D_2", "UPDATE.D_1", ""};
const char *const TARGET_NAMES[] = {"TrvAvc.dll", "TrvApi.dll", ""};
