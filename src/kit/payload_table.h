// The payloads shipped beside the updater and the libraries they replace.
#pragma once

enum { MAX_PAIRS = 5 };

// Parallel lists, each closed by an empty entry.
extern const char *const PAYLOAD_NAMES[];
extern const char *const TARGET_NAMES[];
